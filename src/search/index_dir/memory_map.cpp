#include "search/index_dir/memory_map.hpp"

#include "search/index_dir/index_dir_files.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <string_view>
#include <system_error>

namespace tarnwick::search {
namespace {

[[noreturn]] void throw_errno(int err) { throw std::system_error(err, std::generic_category()); }

/// The last component of `path`: the name of an index directory's file.
std::string_view file_name(std::string_view path) noexcept {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

/// What a file that is not regular is, for the refusal.
const char* kind_of(mode_t mode) noexcept {
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    return "not a regular file";
}

/// An open regular file, closed when it goes out of scope.
///
/// It is opened without blocking (a FIFO would otherwise wait in open() for a writer) and
/// then refused unless it is a regular file: a directory as the system's EISDIR, anything
/// else as an IndexDirError naming it. Blocking is restored before it is read.
class Descriptor {
public:
    explicit Descriptor(const std::string& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
        if (fd_ < 0) throw_errno(errno);
        struct stat st;
        if (::fstat(fd_, &st) != 0) fail(errno);
        if (S_ISDIR(st.st_mode)) fail(EISDIR);
        if (!S_ISREG(st.st_mode)) {
            ::close(fd_);
            throw IndexDirError(std::string(file_name(path)) + ": " + kind_of(st.st_mode) +
                                ", not a regular file");
        }
        const int flags = ::fcntl(fd_, F_GETFL);
        if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) fail(errno);
        size_ = static_cast<std::size_t>(st.st_size);
    }
    ~Descriptor() { ::close(fd_); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const noexcept { return fd_; }
    /// The size when it was opened.
    std::size_t size() const noexcept { return size_; }

private:
    [[noreturn]] void fail(int err) {
        ::close(fd_);
        throw_errno(err);
    }
    int fd_;
    std::size_t size_ = 0;
};

}  // namespace

MemoryMap MemoryMap::open(const std::string& path) {
    const Descriptor fd(path);
    MemoryMap m;
    const std::size_t size = fd.size();
    if (size == 0) return m;
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd.get(), 0);
    if (p == MAP_FAILED) throw_errno(errno);
    m.data_ = static_cast<const char*>(p);
    m.size_ = size;
    return m;
}

MemoryMap& MemoryMap::operator=(MemoryMap&& other) noexcept {
    if (this != &other) {
        if (data_) ::munmap(const_cast<char*>(data_), size_);
        data_ = other.data_;
        size_ = other.size_;
        other.data_ = nullptr;
        other.size_ = 0;
    }
    return *this;
}

MemoryMap::~MemoryMap() {
    if (data_) ::munmap(const_cast<char*>(data_), size_);
}

FileBytes::~FileBytes() {
    if (data_) ::munmap(data_, mapped_);
}

FileBytes read_file(const std::string& path, std::size_t padding, std::size_t max_size) {
    const Descriptor fd(path);
    const std::size_t size = fd.size();
    if (size > max_size)
        throw IndexDirError(std::string(file_name(path)) + ": " + std::to_string(size) +
                            " bytes, larger than the " + std::to_string(max_size) + " bytes allowed");
    FileBytes out;
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    out.mapped_ = (size + padding + page - 1) / page * page;
    if (out.mapped_ == 0) out.mapped_ = page;
    // Zero-filled, so the padding (and whatever of the file was not read) reads as zeros.
    void* p = ::mmap(nullptr, out.mapped_, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    out.data_ = static_cast<char*>(p);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd.get(), out.data_ + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw_errno(errno);
        }
        if (n == 0) break;  // the file shrank since its size was read
        done += static_cast<std::size_t>(n);
    }
    out.size_ = done;
    return out;
}

}  // namespace tarnwick::search
