#include "search/index_dir/index_dir_files.hpp"

#include "cancel.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <system_error>

namespace tarnwick::search {
namespace {

[[noreturn]] void throw_errno() { throw std::system_error(errno, std::generic_category()); }

bool is_directory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

/// The parent of `path`: its last component and the slashes before it removed (after
/// trailing slashes); empty for a single relative component, "/" for a child of the root.
std::string parent_of(std::string_view path) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    const std::size_t slash = path.substr(0, end).rfind('/');
    if (slash == std::string_view::npos) return {};
    std::size_t cut = slash;
    while (cut > 0 && path[cut - 1] == '/') --cut;
    return std::string(cut == 0 ? path.substr(0, 1) : path.substr(0, cut));
}

/// fsync, repeated when a signal interrupts it.
int sync(int fd) noexcept {
    int r;
    do r = ::fsync(fd);
    while (r != 0 && errno == EINTR);
    return r;
}

/// Flushes the entries of directory `dir` to disk. A file system that cannot sync a
/// directory (EINVAL) is not an error.
void sync_directory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw_errno();
    if (sync(fd) != 0 && errno != EINVAL) {
        const int err = errno;
        ::close(fd);
        throw std::system_error(err, std::generic_category());
    }
    ::close(fd);
}

/// A process-wide counter that makes temporary names unique within the process.
std::atomic<uint64_t> temp_counter{0};

}  // namespace

std::string index_file(std::string_view dir, std::string_view name) {
    std::string out;
    out.reserve(dir.size() + 1 + name.size());
    out.append(dir);
    out.push_back('/');
    out.append(name);
    return out;
}

void create_directories(const std::string& path) {
    if (path.empty()) return;
    if (::mkdir(path.c_str(), 0777) == 0) return;
    if (errno != ENOENT) {
        const int err = errno;
        if (is_directory(path)) return;
        throw std::system_error(err, std::generic_category());
    }
    const std::string parent = parent_of(path);
    if (parent == path) throw std::system_error(ENOENT, std::generic_category());
    create_directories(parent);
    if (::mkdir(path.c_str(), 0777) == 0) return;
    const int err = errno;
    if (is_directory(path)) return;
    throw std::system_error(err, std::generic_category());
}

// ---- DirectoryWrite ----

void DirectoryWrite::File::flush() {
    const char* p = buffer_.data();
    std::size_t left = buffer_.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw_errno();
        }
        if (n == 0) throw IndexDirError("failed to write whole buffer");
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    buffer_.clear();
}

void DirectoryWrite::File::write(const void* data, std::size_t size) {
    if (buffer_.size() + size > kBufferBytes) {
        flush();
        if (size > kBufferBytes) {
            buffer_.assign(static_cast<const char*>(data), size);
            flush();
            return;
        }
    }
    buffer_.append(static_cast<const char*>(data), size);
}

char* DirectoryWrite::File::reserve(std::size_t size) {
    if (buffer_.size() + size > kBufferBytes) flush();
    const std::size_t at = buffer_.size();
    buffer_.resize(at + size);
    return buffer_.data() + at;
}

DirectoryWrite::File& DirectoryWrite::open(std::string_view name) {
    Entry& e = files_.emplace_back();
    e.final = index_file(dir_, name);
    // Each attempt takes a new name; a run of clashes this long means the names do not
    // reach the file system as made.
    for (int attempt = 0;; ++attempt) {
        if (attempt == 1000) throw std::system_error(EEXIST, std::generic_category());
        std::string temp_name(".");
        temp_name.append(name);
        temp_name.append(".tmp-");
        temp_name.append(std::to_string(::getpid()));
        temp_name.push_back('-');
        temp_name.append(std::to_string(temp_counter.fetch_add(1)));
        e.temp = index_file(dir_, temp_name);
        e.file.fd_ = ::open(e.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (e.file.fd_ >= 0) break;
        if (errno != EEXIST) {
            const int err = errno;
            e.temp.clear();  // nothing was created
            throw std::system_error(err, std::generic_category());
        }
    }
    e.file.buffer_.reserve(File::kBufferBytes);
    return e.file;
}

void DirectoryWrite::commit() {
    // Every file reaches the disk before any is renamed, and the renames reach it before
    // commit returns: a crash leaves the old names with the old files or the new ones.
    for (Entry& e : files_) {
        cancel::cancellation_point();
        e.file.flush();
        const int fd = e.file.fd_;
        if (sync(fd) != 0) throw_errno();
        e.file.fd_ = -1;
        if (::close(fd) != 0 && errno != EINTR) throw_errno();
    }
    for (; renamed_ < files_.size(); ++renamed_) {
        Entry& e = files_[renamed_];
        if (::rename(e.temp.c_str(), e.final.c_str()) != 0) throw_errno();
    }
    sync_directory(dir_);
}

DirectoryWrite::~DirectoryWrite() {
    for (std::size_t i = renamed_; i < files_.size(); ++i) {
        Entry& e = files_[i];
        if (e.file.fd_ >= 0) ::close(e.file.fd_);
        if (!e.temp.empty()) ::unlink(e.temp.c_str());
    }
}

}  // namespace tarnwick::search
