// The on-disk index directory: its files, the binary records in them, and how a set of them
// is replaced.
//
// A directory holds "meta.json" (the metadata, MmapMeta, as compact JSON), "postings.bin"
// (12-byte posting records, no header), "positions.bin" (32-bit token positions, no header)
// and, for a hybrid index, "embeddings.bin" (32-bit floats, row after row) and
// "emb_dim.txt" (the embedding dimension in decimal). Every number in the binary files is
// little-endian. The path of a file is "{dir}/{name}" with `dir` exactly as given.
//
// Replacing files: every new file is written completely under a temporary name in the
// directory and flushed to disk (fsync), and only when all of them are written are they
// renamed over their final names, in the order given; the directory is then flushed too,
// so that a crash or power loss leaves the old files or the new ones. A failure or a
// cancellation (cancel.hpp) before the renames removes the temporaries and leaves every
// final name as it was; a process that has the old files mapped keeps reading the old
// contents, since a rename never changes the file it replaces. The renames are one at a
// time: a reader opening the directory between two of them finds some files new and others
// old.
//
// Failures of the operating system are thrown as std::system_error with the errno value
// (std::generic_category); a file whose content is wrong is reported as IndexDirError.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::search {

inline constexpr std::string_view kMetaFile = "meta.json";
inline constexpr std::string_view kPostingsFile = "postings.bin";
inline constexpr std::string_view kPositionsFile = "positions.bin";
inline constexpr std::string_view kEmbeddingsFile = "embeddings.bin";
inline constexpr std::string_view kEmbDimFile = "emb_dim.txt";

/// "{dir}/{name}".
std::string index_file(std::string_view dir, std::string_view name);

/// A file of the directory whose content is wrong (malformed or inconsistent); its message
/// names the file and the fault.
struct IndexDirError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// Records met by a query that break the directory's invariants (checked lazily, when a
/// full check at opening would cost more than reading the metadata); its message names the
/// file, the term and the fault.
struct CorruptIndexError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// One record of "postings.bin".
struct MmapPosting {
    uint32_t doc_id;       // document number
    float weight;          // the term's weight in the document, without idf
    uint32_t n_positions;  // positions of the term in the document in "positions.bin"
};
/// The record's layout: its three fields at these byte offsets.
inline constexpr std::size_t kPostingBytes = 12;
inline constexpr std::size_t kPostingDocAt = 0;
inline constexpr std::size_t kPostingWeightAt = 4;
inline constexpr std::size_t kPostingPositionsAt = 8;

namespace detail {
inline uint32_t little_endian(uint32_t v) noexcept {
    if constexpr (std::endian::native == std::endian::big) return __builtin_bswap32(v);
    return v;
}
}  // namespace detail

/// Reads the 32-bit little-endian value at `p`.
inline uint32_t load_u32(const char* p) noexcept {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return detail::little_endian(v);
}
/// Writes `v` as 4 little-endian bytes at `p`.
inline void store_u32(char* p, uint32_t v) noexcept {
    v = detail::little_endian(v);
    std::memcpy(p, &v, 4);
}
inline float load_f32(const char* p) noexcept { return std::bit_cast<float>(load_u32(p)); }
inline void store_f32(char* p, float v) noexcept { store_u32(p, std::bit_cast<uint32_t>(v)); }

/// The record at `p` (kPostingBytes bytes).
inline MmapPosting load_posting(const char* p) noexcept {
    return {load_u32(p + kPostingDocAt), load_f32(p + kPostingWeightAt), load_u32(p + kPostingPositionsAt)};
}
inline void store_posting(char* p, const MmapPosting& r) noexcept {
    store_u32(p + kPostingDocAt, r.doc_id);
    store_f32(p + kPostingWeightAt, r.weight);
    store_u32(p + kPostingPositionsAt, r.n_positions);
}

/// A run of consecutive records in place (a term's records in a mapped "postings.bin"),
/// read field by field. Each read goes to the bytes again: a reader of a mapping that
/// another process may rewrite checks every value it uses as an index where it uses it.
class PostingRecords {
public:
    PostingRecords() = default;
    PostingRecords(const char* data, std::size_t count) noexcept : data_(data), count_(count) {}

    std::size_t size() const noexcept { return count_; }
    uint32_t doc(std::size_t i) const noexcept { return load_u32(at(i) + kPostingDocAt); }
    float weight(std::size_t i) const noexcept { return load_f32(at(i) + kPostingWeightAt); }
    uint32_t n_positions(std::size_t i) const noexcept { return load_u32(at(i) + kPostingPositionsAt); }
    MmapPosting operator[](std::size_t i) const noexcept { return load_posting(at(i)); }

private:
    const char* at(std::size_t i) const noexcept { return data_ + i * kPostingBytes; }
    const char* data_ = nullptr;
    std::size_t count_ = 0;
};

/// Creates `path` and every missing parent (mode 0777 before the umask); an existing
/// directory is accepted, and so is the empty path.
void create_directories(const std::string& path);

/// A set of files replacing the same-named files of one directory (see the file comment).
class DirectoryWrite {
public:
    /// `dir` names an existing directory; it must not be empty.
    explicit DirectoryWrite(std::string dir) : dir_(std::move(dir)) {}
    ~DirectoryWrite();
    DirectoryWrite(const DirectoryWrite&) = delete;
    DirectoryWrite& operator=(const DirectoryWrite&) = delete;

    /// A file being written under a temporary name, through a buffer.
    class File {
    public:
        void write(const void* data, std::size_t size);
        void write(std::string_view s) { write(s.data(), s.size()); }
        /// Room for `size` bytes (at most kBufferBytes) at the end of the buffer, to be filled
        /// before the next call.
        char* reserve(std::size_t size);
        static constexpr std::size_t kBufferBytes = 1 << 20;

    private:
        friend class DirectoryWrite;
        void flush();
        int fd_ = -1;
        std::string buffer_;
    };

    /// Starts the file that will replace "{dir}/{name}" (mode 0666 before the umask).
    File& open(std::string_view name);
    /// Writes out and syncs every file, then renames each over its final name, in the order
    /// opened, and syncs the directory. Before the first rename it is a cancellation point.
    void commit();

private:
    struct Entry {
        std::string temp;
        std::string final;
        File file;
    };
    std::string dir_;
    std::deque<Entry> files_;  // a deque: the File& handed out stays valid
    std::size_t renamed_ = 0;  // files already under their final names
};

}  // namespace tarnwick::search
