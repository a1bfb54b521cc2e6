// Input sequences: every scorer and metric compares two inputs as sequences of unsigned
// integer elements in one of three widths.
//
//   Bytes  8-bit   a view into a bytes object or the UTF-8 of a pure-ASCII str (no copy),
//                  or the one-byte codes of a str of one block of code points (see
//                  Seq::byte_block)
//   Chars  32-bit  the code points of any other str (owned)
//   Items  64-bit  one element per item of any other iterable (owned)
//
// Free of Python: the conversions from Python objects are in types_py.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <type_traits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick::types {

/// Element width of a sequence, narrowest first.
enum class SeqKind : uint8_t { Bytes = 0, Chars = 1, Items = 2 };

/// An input sequence of one element width. The elements are either viewed (Bytes, and
/// Chars decoded into a caller's buffer) or owned by the Seq; copies and moves keep
/// owned elements owned.
class Seq {
public:
    Seq() = default;
    Seq(const Seq& o)
        : kind_(o.kind_), owned_(o.owned_), block_(o.block_), data_(o.data_), size_(o.size_),
          text_(o.text_), chars_(o.chars_), items_(o.items_) {
        repoint();
    }
    Seq(Seq&& o) noexcept
        : kind_(o.kind_), owned_(o.owned_), block_(o.block_), data_(o.data_), size_(o.size_),
          text_(o.text_), chars_(std::move(o.chars_)), items_(std::move(o.items_)) {
        repoint();
    }
    Seq& operator=(const Seq& o) {
        if (this != &o) {
            Seq t(o);
            *this = std::move(t);
        }
        return *this;
    }
    Seq& operator=(Seq&& o) noexcept {
        if (this != &o) {
            kind_ = o.kind_;
            owned_ = o.owned_;
            data_ = o.data_;
            size_ = o.size_;
            block_ = o.block_;
            text_ = o.text_;
            chars_ = std::move(o.chars_);
            items_ = std::move(o.items_);
            repoint();
        }
        return *this;
    }

    /// A view of `n` bytes at `p`; the owner must outlive the Seq.
    static Seq bytes(const uint8_t* p, std::size_t n) noexcept {
        Seq s;
        s.kind_ = SeqKind::Bytes;
        s.data_ = p;
        s.size_ = n;
        return s;
    }
    /// A view of code points; the buffer must outlive the Seq.
    static Seq chars_view(std::span<const uint32_t> v) noexcept {
        Seq s;
        s.kind_ = SeqKind::Chars;
        s.data_ = v.data();
        s.size_ = v.size();
        return s;
    }
    static Seq chars(std::vector<uint32_t> v) noexcept {
        Seq s;
        s.kind_ = SeqKind::Chars;
        s.chars_ = std::move(v);
        s.owned_ = true;
        s.data_ = s.chars_.data();
        s.size_ = s.chars_.size();
        return s;
    }
    static Seq items(std::vector<uint64_t> v) noexcept {
        Seq s;
        s.kind_ = SeqKind::Items;
        s.items_ = std::move(v);
        s.owned_ = true;
        s.data_ = s.items_.data();
        s.size_ = s.items_.size();
        return s;
    }

    // In-place forms of bytes() and chars_view(), for conversions that fill a sequence
    // many times: no temporary is built and moved.
    /// Makes this sequence a view of `n` bytes at `p`, whose bytes of 0x80 and above stand
    /// for the code points of block `block` (see byte_block).
    void view_bytes(const uint8_t* p, std::size_t n, uint32_t block = kIdentityBlock) noexcept {
        set_view(SeqKind::Bytes, p, n);
        block_ = block;
    }
    /// Makes this sequence a view of `n` code points at `p`.
    void view_chars(const uint32_t* p, std::size_t n) noexcept { set_view(SeqKind::Chars, p, n); }

    /// Records `utf8` as the text of this sequence of code points: the UTF-8 form of the
    /// str it was made from, which to_string_lossy() would rebuild. The owner of `utf8`
    /// must outlive the Seq.
    void set_text(std::string_view utf8) noexcept { text_ = utf8; }
    /// The recorded text (see set_text), or null.
    const std::string_view* text() const noexcept { return text_.data() ? &text_ : nullptr; }

    /// Bytes: the elements are their own values (a bytes object, or a str whose code
    /// points are all below 256).
    static constexpr uint32_t kIdentityBlock = 1;
    /// Bytes: every byte is below 0x80 (a pure-ASCII str).
    static constexpr uint32_t kNoHighBytes = 0;
    /// For Bytes, what the bytes of 0x80 and above stand for: byte v is code point
    /// (block << 7) | (v & 0x7F) of a str whose code points all lie below 128 or in that
    /// block of 128 (text::decode_block_bytes). Such codes keep equality only against
    /// bytes of the same block or of none: a pair of sequences with different blocks is
    /// to be converted again (PreparedPair does). kIdentityBlock or kNoHighBytes for
    /// every sequence whose bytes are its values, and kIdentityBlock for Chars and Items.
    uint32_t byte_block() const noexcept { return block_; }

    SeqKind kind() const noexcept { return kind_; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }

    std::span<const uint8_t> as_bytes() const noexcept {
        return kind_ == SeqKind::Bytes ? std::span(static_cast<const uint8_t*>(data_), size_)
                                       : std::span<const uint8_t>();
    }
    std::span<const uint32_t> as_chars() const noexcept {
        return kind_ == SeqKind::Chars ? std::span(static_cast<const uint32_t*>(data_), size_)
                                       : std::span<const uint32_t>();
    }
    std::span<const uint64_t> as_items() const noexcept {
        return kind_ == SeqKind::Items ? std::span(static_cast<const uint64_t*>(data_), size_)
                                       : std::span<const uint64_t>();
    }

    /// Calls f(std::span<const T>) with the elements in their own width.
    template <class F>
    decltype(auto) visit(F&& f) const {
        switch (kind_) {
            case SeqKind::Bytes: return f(as_bytes());
            case SeqKind::Chars: return f(as_chars());
            default: return f(as_items());
        }
    }

    /// The elements zero-extended to 64 bits.
    std::vector<uint64_t> to_u64() const;

    /// The sequence as UTF-8 text: bytes decoded lossily (one U+FFFD per maximal invalid
    /// subpart), code points that are scalar values encoded, Items give "".
    std::string to_string_lossy() const;

private:
    void set_view(SeqKind kind, const void* p, std::size_t n) noexcept {
        kind_ = kind;
        owned_ = false;
        data_ = p;
        size_ = n;
        block_ = kIdentityBlock;
        text_ = {};
    }
    /// After a copy or move: owned elements are read from this object's own storage.
    void repoint() noexcept {
        if (owned_) data_ = kind_ == SeqKind::Chars ? static_cast<const void*>(chars_.data())
                                                    : static_cast<const void*>(items_.data());
    }

    SeqKind kind_ = SeqKind::Bytes;
    bool owned_ = false;           // elements live in chars_ or items_
    uint32_t block_ = kIdentityBlock;  // Bytes: see byte_block()
    const void* data_ = nullptr;
    std::size_t size_ = 0;
    std::string_view text_;        // the UTF-8 text of Chars, when recorded
    std::vector<uint32_t> chars_;  // owned code points (Chars not viewed)
    std::vector<uint64_t> items_;  // owned items
};

/// Zero-extends `in` to the wider element type `To`.
template <class To, class From>
std::vector<To> widen(std::span<const From> in) {
    return std::vector<To>(in.begin(), in.end());
}

/// Whether every element of `in` fits the narrower type `To`.
template <class To, class From>
bool fits(std::span<const From> in) noexcept {
    From acc = 0;
    for (const From v : in) acc |= v;
    return acc <= From{std::numeric_limits<To>::max()};
}

/// Calls f(std::span<const T>, std::span<const T>) with both sequences in one width, for
/// computations that compare elements only for equality: the narrower width of the two
/// when the elements of the wider sequence all fit it (text whose code points are all
/// below 256 against bytes), else the wider one. Only one side is copied.
template <class F>
decltype(auto) visit_pair(const Seq& a, const Seq& b, F&& f) {
    return a.visit([&](auto sa) -> decltype(auto) {
        return b.visit([&](auto sb) -> decltype(auto) {
            using A = typename std::remove_cvref_t<decltype(sa)>::value_type;
            using B = typename std::remove_cvref_t<decltype(sb)>::value_type;
            if constexpr (std::is_same_v<A, B>) {
                return f(sa, sb);
            } else if constexpr (sizeof(A) > sizeof(B)) {
                if (fits<B>(sa)) {
                    const std::vector<B> na(sa.begin(), sa.end());
                    return f(std::span<const B>(na), sb);
                }
                const std::vector<A> wb = widen<A>(sb);
                return f(sa, std::span<const A>(wb));
            } else {
                if (fits<A>(sb)) {
                    const std::vector<A> nb(sb.begin(), sb.end());
                    return f(sa, std::span<const A>(nb));
                }
                const std::vector<B> wa = widen<B>(sa);
                return f(std::span<const B>(wa), sb);
            }
        });
    });
}

}  // namespace tarnwick::types
