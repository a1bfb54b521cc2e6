#include "search/memory_map.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string read_file(const std::string& path, std::size_t spare) {
    const Descriptor fd(path);
    const std::size_t size = fd.size();
    std::string out;
    out.reserve(size + spare);
    out.resize(size);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd.get(), out.data() + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw_errno(errno);
        }
        if (n == 0) break;  // the file shrank since its size was read
        done += static_cast<std::size_t>(n);
    }
    out.resize(done);
    return out;
}

}  // namespace tarnwick::search
