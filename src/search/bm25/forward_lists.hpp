// Every document's term ids in document order (the forward lists), each document's ids
// stored at one width: the fewest bytes (1 to 4, little-endian) that hold its largest id.
// Ids are numbered by first appearance, so a document of common words takes one or two
// bytes an id instead of four. A document costs its 8-byte offset and a byte for its width;
// its id count is its byte length over its width. A document's ids are read in order
// (DocTerms), each by one 4-byte load masked to the width, at a fixed stride: no step
// depends on the value before it, and there is no branch on the width inside a document.
// The buffer therefore keeps kPad readable bytes beyond the last id; what they hold is
// never used.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

namespace tarnwick::search {

/// The term ids of one document, in order.
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
        iterator(const uint8_t* p, std::size_t width, uint32_t mask) noexcept
            : p_(p), width_(width), mask_(mask) {}
        uint32_t operator*() const noexcept {
            uint32_t x;
            std::memcpy(&x, p_, 4);
            if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap32(x);
            return x & mask_;
        }
        iterator& operator++() noexcept {
            p_ += width_;
            return *this;
        }
        void operator++(int) noexcept { ++*this; }
        bool operator==(const iterator& o) const noexcept { return p_ == o.p_; }

    private:
        const uint8_t* p_ = nullptr;
        std::size_t width_ = 1;
        uint32_t mask_ = 0;
    };

    /// The `size` ids of `width` bytes each from `begin`.
    DocTerms(const uint8_t* begin, std::size_t size, std::size_t width) noexcept
        : begin_(begin), size_(size), width_(width),
          mask_(width >= 4 ? UINT32_MAX : (uint32_t{1} << (8 * width)) - 1) {}
    iterator begin() const noexcept { return {begin_, width_, mask_}; }
    iterator end() const noexcept { return {begin_ + size_ * width_, width_, mask_}; }
    /// The number of term ids.
    std::size_t size() const noexcept { return size_; }

private:
    const uint8_t* begin_;
    std::size_t size_;
    std::size_t width_;
    uint32_t mask_;
};

class ForwardLists {
public:
    /// Readable bytes kept beyond the last id (an id is read by a 4-byte load).
    static constexpr std::size_t kPad = 3;
    /// Bytes the buffer's size is grown by beyond what a document needs.
    static constexpr std::size_t kAhead = 64 * 1024;

    /// Appends id to the document being added (the one after the last finished).
    void push(uint32_t id) { pending_.push_back(id); }
    /// Ids appended to the document being added.
    std::size_t pending() const noexcept { return pending_.size(); }
    /// Drops the ids of the document being added.
    void discard() noexcept { pending_.clear(); }
    /// Ends the document being added: stores its ids at its width.
    void finish() {
        uint32_t largest = 0;
        for (const uint32_t id : pending_) largest = id > largest ? id : largest;
        const std::size_t width = largest < 0x100 ? 1 : largest < 0x10000 ? 2 : largest < 0x1000000 ? 3 : 4;
        const std::size_t used = byte_offsets_.back(), end = used + pending_.size() * width;
        // The size runs at most kAhead bytes ahead of the ids (the bytes it takes are
        // written, so memory reserved but not yet needed stays untouched).
        if (end + kPad > bytes_.size()) bytes_.resize(end + kPad + kAhead);
        uint8_t* out = bytes_.data() + used;
        for (uint32_t id : pending_) {
            if constexpr (std::endian::native == std::endian::big) id = __builtin_bswap32(id);
            std::memcpy(out, &id, 4);  // the bytes past the width are overwritten next
            out += width;
        }
        byte_offsets_.push_back(end);
        widths_.push_back(static_cast<uint8_t>(width));
        num_terms_ += pending_.size();
        discard();
    }

    /// Room for `docs` more documents and `bytes` more bytes of ids.
    void reserve(std::size_t docs, std::size_t bytes) {
        byte_offsets_.reserve(byte_offsets_.size() + docs);
        widths_.reserve(widths_.size() + docs);
        bytes_.reserve(byte_offsets_.back() + bytes + kPad);
    }
    /// Releases the room reserved beyond the ids held (and the padding), and the scratch
    /// of the document being added.
    void shrink_to_fit() {
        bytes_.resize(byte_offsets_.back() + kPad);
        bytes_.shrink_to_fit();
        pending_ = std::vector<uint32_t>();
    }

    std::size_t num_docs() const noexcept { return byte_offsets_.size() - 1; }
    /// The number of ids of every finished document.
    std::size_t num_terms() const noexcept { return num_terms_; }
    /// The number of ids of document d.
    uint64_t length(std::size_t d) const noexcept {
        return (byte_offsets_[d + 1] - byte_offsets_[d]) / widths_[d];
    }
    DocTerms doc(std::size_t d) const noexcept {
        return {bytes_.data() + byte_offsets_[d], length(d), widths_[d]};
    }

    /// Approximate heap bytes held.
    std::size_t memory_bytes() const noexcept {
        return bytes_.capacity() + byte_offsets_.capacity() * 8 + widths_.capacity() +
               pending_.capacity() * 4;
    }

private:
    std::vector<uint8_t> bytes_ = std::vector<uint8_t>(kPad);  // the ids, then at least kPad bytes
    std::vector<uint64_t> byte_offsets_{0};  // N + 1 offsets into bytes_
    std::vector<uint8_t> widths_;            // bytes an id, by document
    std::size_t num_terms_ = 0;              // ids of every finished document
    std::vector<uint32_t> pending_;          // the ids of the document being added
};

}  // namespace tarnwick::search
