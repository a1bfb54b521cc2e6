// Read-only views of whole files: a shared memory mapping that lives as long as its owner,
// and a file read whole into memory with one read request.
//
// A MemoryMap maps the file as it is when it is opened: an empty file gives an empty view
// (nothing is mapped), and the file descriptor is closed before open() returns, so the
// owner holds no open file. Whatever fails, nothing stays open or mapped. The view stays
// valid while the file's name is replaced by a rename (the mapping keeps the old file);
// truncating the file in place would make reads past its new end fault, which is why the
// index directory writer never rewrites a file in place (index_dir_files.hpp).
//
// Only regular files are opened, without blocking: a directory is refused as the system's
// EISDIR, any other file that is not regular (a FIFO, a socket, a device) with an
// IndexDirError naming it (index_dir_files.hpp).
//
// Failures of the operating system are thrown as std::system_error with the errno value.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace tarnwick::search {

class MemoryMap {
public:
    MemoryMap() = default;
    /// Maps the whole file at `path` read-only and shared.
    static MemoryMap open(const std::string& path);

    MemoryMap(MemoryMap&& other) noexcept : data_(other.data_), size_(other.size_) {
        other.data_ = nullptr;
        other.size_ = 0;
    }
    MemoryMap& operator=(MemoryMap&& other) noexcept;
    MemoryMap(const MemoryMap&) = delete;
    MemoryMap& operator=(const MemoryMap&) = delete;
    ~MemoryMap();

    /// The file's bytes (page aligned when not empty).
    std::span<const char> bytes() const noexcept { return {data_, size_}; }

private:
    const char* data_ = nullptr;
    std::size_t size_ = 0;
};

/// The content of a file in memory, followed by a number of zero bytes. The buffer is its
/// own anonymous mapping, faulted in by the system in one pass when it is created rather
/// than page by page as the read fills it.
class FileBytes {
public:
    FileBytes() = default;
    FileBytes(FileBytes&& other) noexcept
        : data_(other.data_), size_(other.size_), mapped_(other.mapped_) {
        other.data_ = nullptr;
        other.size_ = other.mapped_ = 0;
    }
    FileBytes& operator=(FileBytes&&) = delete;
    FileBytes(const FileBytes&) = delete;
    ~FileBytes();

    const char* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    std::string_view view() const noexcept { return {data_, size_}; }

private:
    friend FileBytes read_file(const std::string& path, std::size_t padding, std::size_t max_size);
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t mapped_ = 0;
};

/// The content of the file at `path`, read with one request for the whole size (repeated
/// only when the system returns less), followed by `padding` zero bytes. A file larger than
/// `max_size` bytes is refused before anything is read, with an IndexDirError naming it.
FileBytes read_file(const std::string& path, std::size_t padding = 0,
                    std::size_t max_size = static_cast<std::size_t>(-1));

}  // namespace tarnwick::search
