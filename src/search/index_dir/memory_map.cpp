#include "search/index_dir/memory_map.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <system_error>

namespace tarnwick::search {
namespace {

[[noreturn]] void throw_errno(int err) { throw std::system_error(err, std::generic_category()); }

/// An open file descriptor, closed when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ < 0) throw_errno(errno);
    }
    ~Descriptor() { ::close(fd_); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const noexcept { return fd_; }
    std::size_t size() const {
        struct stat st;
        if (::fstat(fd_, &st) != 0) throw_errno(errno);
        return static_cast<std::size_t>(st.st_size);
    }

private:
    int fd_;
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

FileBytes read_file(const std::string& path, std::size_t padding) {
    const Descriptor fd(path);
    const std::size_t size = fd.size();
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
