// Every document's term ids in document order (the forward lists), stored as one byte
// stream: each id in the little-endian base-128 code (7 bits a byte, the high bit set on
// every byte but an id's last), so an id below 128 takes one byte and any 32-bit id at most
// five. Ids are numbered by first appearance, so the common words of a corpus, which come
// early, mostly take one or two bytes instead of four. A document's ids are decoded as
// they are read (DocTerms), front to back; positions are the indexes in that order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

namespace tarnwick::search {

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
            uint32_t v = 0;
            std::size_t i = 0;
            unsigned shift = 0;
            uint8_t b;
            do {
                b = p_[i++];
                v |= static_cast<uint32_t>(b & 0x7f) << shift;
                shift += 7;
            } while (b & 0x80);
            value_ = v;
            bytes_ = i;
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
    /// Appends id to the document being added (the one after the last finished).
    void push(uint32_t id) {
        while (id >= 0x80) {
            bytes_.push_back(static_cast<uint8_t>(id | 0x80));
            id >>= 7;
        }
        bytes_.push_back(static_cast<uint8_t>(id));
        ++pending_;
    }
    /// Ids appended to the document being added.
    std::size_t pending() const noexcept { return pending_; }
    /// Drops the ids of the document being added.
    void discard() noexcept {
        bytes_.resize(byte_offsets_.back());
        pending_ = 0;
    }
    /// Ends the document being added.
    void finish() {
        byte_offsets_.push_back(bytes_.size());
        term_offsets_.push_back(term_offsets_.back() + pending_);
        pending_ = 0;
    }

    /// Room for `docs` more documents and `bytes` more bytes of ids.
    void reserve(std::size_t docs, std::size_t bytes) {
        byte_offsets_.reserve(byte_offsets_.size() + docs);
        term_offsets_.reserve(term_offsets_.size() + docs);
        bytes_.reserve(bytes_.size() + bytes);
    }
    /// Releases the room reserved beyond the ids held.
    void shrink_to_fit() { bytes_.shrink_to_fit(); }

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
    std::vector<uint8_t> bytes_;
    std::vector<uint64_t> byte_offsets_{0};  // N + 1 offsets into bytes_
    std::vector<uint64_t> term_offsets_{0};  // N + 1: ids before each document
    std::size_t pending_ = 0;
};

}  // namespace tarnwick::search
