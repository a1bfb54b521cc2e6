// Every document's term ids in document order (the forward lists), stored as one byte
// stream: each id in the little-endian base-128 code (7 bits a byte, the high bit set on
// every byte but an id's last), so an id below 128 takes one byte and any 32-bit id at most
// five. Ids are numbered by first appearance, so the common words of a corpus, which come
// early, mostly take one or two bytes instead of four. A document's ids are decoded as
// they are read (DocTerms), front to back; positions are the indexes in that order.
//
// The decoder reads 8 bytes at once and takes an id's length from the first byte whose high
// bit is clear, so it has no branch that depends on the length (ids of one, two and three
// bytes mix in every document, and a branch per byte would be mispredicted often). The
// buffer therefore keeps kPad readable bytes beyond the last id; what they hold is never
// used.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

namespace tarnwick::search {

/// A little-endian load's value on any host.
inline uint64_t le64(uint64_t x) noexcept {
    if constexpr (std::endian::native == std::endian::big) return __builtin_bswap64(x);
    return x;
}

/// The term ids of one document, decoded in order as the range is walked.
class DocTerms {
public:
    class iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = uint32_t;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = uint32_t;

        iterator() = default;
        iterator(const uint8_t* p, const uint8_t* end) noexcept : p_(p), end_(end) { read(); }
        uint32_t operator*() const noexcept { return value_; }
        iterator& operator++() noexcept {
            p_ += bytes_;
            read();
            return *this;
        }
        void operator++(int) noexcept { ++*this; }
        bool operator==(const iterator& o) const noexcept { return p_ == o.p_; }

    private:
        void read() noexcept {
            if (p_ == end_) return;
            uint64_t x;
            std::memcpy(&x, p_, 8);
            x = le64(x);
            // One bit at the high bit of each byte that ends an id; the first is this id's end.
            const uint64_t stops = ~x & 0x0000008080808080ULL;
            const unsigned len = static_cast<unsigned>(std::countr_zero(stops)) / 8 + 1;
            const uint64_t v = (x & 0x7f) | ((x >> 1) & 0x3f80) | ((x >> 2) & 0x1fc000) |
                               ((x >> 3) & 0xfe00000) | ((x >> 4) & 0x7f0000000ULL);
            value_ = static_cast<uint32_t>(v & ((uint64_t{1} << (7 * len)) - 1));
            bytes_ = len;
        }

        const uint8_t* p_ = nullptr;
        const uint8_t* end_ = nullptr;
        uint32_t value_ = 0;
        std::size_t bytes_ = 0;
    };

    DocTerms(const uint8_t* begin, const uint8_t* end, std::size_t size) noexcept
        : begin_(begin), end_(end), size_(size) {}
    iterator begin() const noexcept { return {begin_, end_}; }
    iterator end() const noexcept { return {end_, end_}; }
    /// The number of term ids.
    std::size_t size() const noexcept { return size_; }

private:
    const uint8_t* begin_;
    const uint8_t* end_;
    std::size_t size_;
};

class ForwardLists {
public:
    /// Readable bytes kept beyond the last id (the decoder reads 8 bytes from an id's first).
    static constexpr std::size_t kPad = 7;

    /// Appends id to the document being added (the one after the last finished).
    void push(uint32_t id) {
        // Takes the whole capacity at once (the vector doubles it when it runs out), so that
        // the next thousands of ids need no call.
        if (used_ + 5 + kPad > bytes_.size()) bytes_.resize(std::max(bytes_.capacity(), used_ + 5 + kPad));
        uint8_t* out = bytes_.data() + used_;
        while (id >= 0x80) {
            *out++ = static_cast<uint8_t>(id | 0x80);
            id >>= 7;
        }
        *out++ = static_cast<uint8_t>(id);
        used_ = static_cast<std::size_t>(out - bytes_.data());
        ++pending_;
    }
    /// Ids appended to the document being added.
    std::size_t pending() const noexcept { return pending_; }
    /// Drops the ids of the document being added.
    void discard() noexcept {
        used_ = byte_offsets_.back();
        pending_ = 0;
    }
    /// Ends the document being added.
    void finish() {
        byte_offsets_.push_back(used_);
        term_offsets_.push_back(term_offsets_.back() + pending_);
        pending_ = 0;
    }

    /// Room for `docs` more documents and `bytes` more bytes of ids.
    void reserve(std::size_t docs, std::size_t bytes) {
        byte_offsets_.reserve(byte_offsets_.size() + docs);
        term_offsets_.reserve(term_offsets_.size() + docs);
        bytes_.reserve(used_ + bytes + kPad);
    }
    /// Releases the room reserved beyond the ids held (and the padding).
    void shrink_to_fit() {
        bytes_.resize(used_ + kPad);
        bytes_.shrink_to_fit();
    }

    std::size_t num_docs() const noexcept { return byte_offsets_.size() - 1; }
    /// The number of ids of every finished document.
    std::size_t num_terms() const noexcept { return term_offsets_.back(); }
    /// The number of ids of document d.
    uint64_t length(std::size_t d) const noexcept { return term_offsets_[d + 1] - term_offsets_[d]; }
    DocTerms doc(std::size_t d) const noexcept {
        return {bytes_.data() + byte_offsets_[d], bytes_.data() + byte_offsets_[d + 1], length(d)};
    }

    /// Approximate heap bytes held.
    std::size_t memory_bytes() const noexcept {
        return bytes_.capacity() + (byte_offsets_.capacity() + term_offsets_.capacity()) * 8;
    }

private:
    std::vector<uint8_t> bytes_ = std::vector<uint8_t>(kPad);  // the ids, then at least kPad bytes
    std::size_t used_ = 0;                                     // bytes of ids
    std::vector<uint64_t> byte_offsets_{0};  // N + 1 offsets into bytes_
    std::vector<uint64_t> term_offsets_{0};  // N + 1: ids before each document
    std::size_t pending_ = 0;
};

}  // namespace tarnwick::search
