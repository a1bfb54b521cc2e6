// Text helpers of the token scorers: UTF-8 views of byte strings, code points, and
// tokenisation on Unicode White_Space, built on the shared UTF-8 helpers (text/utf8.hpp).
// Free of Python; safe on any thread.
#pragma once

#include "text/utf8.hpp"
#include "types.hpp"

#include <array>
#include <bit>
#include <cstring>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick::fuzz::text {

using tarnwick::text::decode;
using tarnwick::text::decode_at;
using tarnwick::text::decode_into;
using tarnwick::text::decode_well_formed_into;
using tarnwick::text::is_ascii;
using tarnwick::text::is_valid_utf8;
using tarnwick::text::is_white_space;

/// For pure-ASCII `s`: whether it holds a byte of 0x20 or below (a space or a control
/// character); without one it is a single token or empty.
bool has_ascii_space_or_control(std::string_view s) noexcept;

/// Whether `s` (UTF-8) holds a byte of 0x20 or below or a White_Space character; without
/// one it is a single token or empty.
bool has_space_or_control(std::string_view s) noexcept;

/// UTF-8 text that is either a view of bytes the caller keeps alive or an owned string.
class Utf8Text {
public:
    Utf8Text() = default;
    /// A view of `s`; the owner of `s` must outlive this object.
    static Utf8Text view(std::string_view s) noexcept {
        Utf8Text t;
        t.view_ = s;
        return t;
    }
    /// Takes ownership of `s`.
    static Utf8Text owned(std::string s) noexcept {
        Utf8Text t;
        t.own_ = std::move(s);
        t.owned_ = true;
        return t;
    }
    std::string_view str() const noexcept { return owned_ ? std::string_view(own_) : view_; }

private:
    std::string_view view_;
    std::string own_;
    bool owned_ = false;
};

/// Bytes read as UTF-8 text: a view when well-formed, else the lossy decoding (one U+FFFD
/// per maximal invalid subpart), so that no later read leaves the bytes.
Utf8Text from_bytes(std::span<const uint8_t> b);

/// `s` read as UTF-8: a view when well-formed, else its lossy decoding. Every entry that
/// takes text as a string_view reads it through this, so raw byte strings score as their
/// decoded text on every route.
inline Utf8Text well_formed(std::string_view s) {
    return from_bytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
}

/// The text of a sequence, as Seq::to_string_lossy gives it, without a copy for
/// well-formed bytes.
Utf8Text from_seq(const types::Seq& s);

/// The code points of a well-formed UTF-8 text, held inline for short texts (words and
/// short phrases).
class CodePoints {
public:
    explicit CodePoints(std::string_view s) {
        uint32_t* out = inline_;
        if (s.size() > kInline) {
            heap_.resize(s.size());
            out = heap_.data();
        }
        data_ = out;
        size_ = decode_well_formed_into(s, out);
    }
    CodePoints(const CodePoints&) = delete;
    CodePoints& operator=(const CodePoints&) = delete;

    std::span<const uint32_t> span() const noexcept { return {data_, size_}; }

private:
    static constexpr std::size_t kInline = 128;
    uint32_t inline_[kInline];
    std::vector<uint32_t> heap_;
    const uint32_t* data_;
    std::size_t size_;
};

/// A span of code points viewed as the 32-bit elements the kernels take (char32_t and
/// uint32_t have the same size and representation).
inline std::span<const uint32_t> code_units(std::u32string_view s) noexcept {
    static_assert(sizeof(char32_t) == sizeof(uint32_t));
    return {reinterpret_cast<const uint32_t*>(s.data()), s.size()};
}

/// Whether every code point of `s` is below 0x80.
inline bool is_ascii(std::u32string_view s) noexcept {
    char32_t any = 0;
    for (const char32_t c : s) any |= c;
    return any < 0x80;
}

/// Storage for up to `N` elements inline (words and short phrases), else on the heap.
/// Not copyable.
template <class Ch, std::size_t N>
class InlineBuffer {
public:
    /// Elements held without an allocation.
    static constexpr std::size_t kInline = N;

    InlineBuffer() = default;
    InlineBuffer(const InlineBuffer&) = delete;
    InlineBuffer& operator=(const InlineBuffer&) = delete;

    /// Room for `n` elements, valid while this object lives and until the next call; the
    /// previous content is not kept.
    Ch* reserve(std::size_t n) {
        if (n <= N) return inline_;
        heap_.resize(n);
        return heap_.data();
    }

private:
    Ch inline_[N];
    std::vector<Ch> heap_;
};

/// A buffer of code points, inline for short texts.
class WideBuffer : public InlineBuffer<char32_t, 128> {
public:
    /// The code points of pure-ASCII `s`, widened.
    std::u32string_view widen(std::string_view s) {
        char32_t* out = reserve(s.size());
        for (std::size_t i = 0; i < s.size(); ++i) out[i] = static_cast<unsigned char>(s[i]);
        return {out, s.size()};
    }
};

/// Byte classes of the tokeniser: 1 ASCII White_Space; 2 the lead byte of a multi-byte
/// sequence that may encode White_Space (C2, E1, E2, E3: decoded to decide); 0 any other
/// byte, which never starts a separator. A continuation byte is never one of those lead
/// bytes, and a lead byte of class 0 starts no White_Space character, so reading the bytes
/// of a multi-byte character one by one finds the same tokens as decoding it, for
/// malformed text as well.
inline constexpr auto kByteClass = [] {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 0x80; ++c) t[c] = is_white_space(static_cast<uint32_t>(c)) ? 1 : 0;
    for (const int lead : {0xC2, 0xE1, 0xE2, 0xE3}) t[lead] = 2;
    return t;
}();

/// Whether `s` holds a byte that may start a separator: one of 0x20 or below, or a lead
/// byte of class 2 (see kByteClass). Without one, a non-empty `s` is one token. Reads
/// sixteen bytes at a time.
bool may_hold_separator(std::string_view s) noexcept;

#if defined(__SSE2__)
/// Bit k set when byte k of the `len` bytes at `p` (at most 16 are read) may start a
/// separator: one of 0x20 or below, or a lead byte of class 2.
inline uint32_t separator_candidates(const uint8_t* p, std::size_t len) noexcept {
    __m128i v;
    if (len >= 16) {
        v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    } else {
        uint8_t last[16];
        std::memset(last, 'a', sizeof last);  // padding that never starts a separator
        std::memcpy(last, p, len);
        v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(last));
    }
    // v <= 0x20 unsigned: min(v, 0x20) == v.
    __m128i hit = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x20)), v);
    for (const int lead : {0xC2, 0xE1, 0xE2, 0xE3})
        hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(lead))));
    return static_cast<uint32_t>(_mm_movemask_epi8(hit));
}
#endif

/// Calls f(token) for each token of `s`, in text order: the maximal runs of characters
/// without White_Space, as views into `s`. (Inlined into its caller: the scan is most of
/// the cost of tokenising a word.)
template <class F>
[[gnu::always_inline]] inline void for_each_token(std::string_view s, F&& f) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const std::size_t n = s.size();
#if defined(__SSE2__)
    // Only the bytes that may start a separator are looked at, found sixteen at a time.
    // A continuation byte is never one of them, so a separator's later bytes are not.
    std::size_t start = 0;  // where the current token starts
    for (std::size_t base = 0; base < n; base += 16) {
        uint32_t hits = separator_candidates(p + base, n - base);
        while (hits != 0) {
            const std::size_t j = base + static_cast<std::size_t>(std::countr_zero(hits));
            hits &= hits - 1;
            std::size_t len = 1;
            const uint8_t k = kByteClass[p[j]];
            if (k == 0 || (k == 2 && !is_white_space(decode_at(p, n, j, len)))) continue;
            if (j > start) f(s.substr(start, j - start));
            start = j + len;
        }
    }
    if (start < n) f(s.substr(start));
#else
    std::size_t i = 0;
    while (i < n) {
        while (i < n) {  // separators
            const uint8_t k = kByteClass[p[i]];
            if (k == 1) {
                ++i;
                continue;
            }
            if (k == 0) break;
            std::size_t len = 1;
            if (!is_white_space(decode_at(p, n, i, len))) break;
            i += len;
        }
        if (i == n) return;
        const std::size_t start = i;
        while (i < n) {  // the token
            const uint8_t k = kByteClass[p[i]];
            if (k == 0) {
                ++i;
                continue;
            }
            if (k == 1) break;
            std::size_t len = 1;
            if (is_white_space(decode_at(p, n, i, len))) break;
            i += len;
        }
        f(s.substr(start, i - start));
    }
#endif
}

#if defined(__SSE2__)
/// Bit k set when code point k of the `len` at `p` (at most 8 are read) may be White_Space:
/// U+0020 and below, U+0085, U+00A0, U+1680, U+2000 to U+207F or U+3000.
inline uint32_t wide_separator_candidates(const char32_t* p, std::size_t len) noexcept {
    __m128i lo, hi;
    if (len >= 8) {
        lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4));
    } else {
        char32_t last[8];
        for (std::size_t k = 0; k < 8; ++k) last[k] = k < len ? p[k] : U'a';  // 'a' is no separator
        lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(last));
        hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(last + 4));
    }
    auto hits = [](__m128i v) {
        // Code points are below 2^31, so the signed comparison is the unsigned one.
        __m128i h = _mm_cmplt_epi32(v, _mm_set1_epi32(0x21));
        h = _mm_or_si128(h, _mm_cmpeq_epi32(v, _mm_set1_epi32(0x85)));
        h = _mm_or_si128(h, _mm_cmpeq_epi32(v, _mm_set1_epi32(0xA0)));
        h = _mm_or_si128(h, _mm_cmpeq_epi32(v, _mm_set1_epi32(0x1680)));
        h = _mm_or_si128(h, _mm_cmpeq_epi32(v, _mm_set1_epi32(0x3000)));
        h = _mm_or_si128(h, _mm_cmpeq_epi32(_mm_srli_epi32(v, 7), _mm_set1_epi32(0x2000 >> 7)));
        return static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(h)));
    };
    return hits(lo) | (hits(hi) << 4);
}
#endif

/// Whether the code points `s` hold one of U+0020 or below or a White_Space character;
/// without one, `s` is a single token or empty.
inline bool has_space_or_control(std::u32string_view s) noexcept {
    const std::size_t n = s.size();
#if defined(__SSE2__)
    for (std::size_t base = 0; base < n; base += 8) {
        uint32_t hits = wide_separator_candidates(s.data() + base, n - base);
        while (hits != 0) {
            const char32_t c = s[base + static_cast<std::size_t>(std::countr_zero(hits))];
            hits &= hits - 1;
            if (c <= 0x20 || is_white_space(c)) return true;
        }
    }
#else
    for (const char32_t c : s)
        if (c <= 0x20 || is_white_space(c)) return true;
#endif
    return false;
}

/// Calls f(token) for each token of the code points `s`, in text order: the maximal runs
/// of characters without White_Space, as views into `s`.
template <class F>
[[gnu::always_inline]] inline void for_each_token(std::u32string_view s, F&& f) {
    const std::size_t n = s.size();
    std::size_t start = 0;  // where the current token starts
#if defined(__SSE2__)
    // Only the code points that may be White_Space are looked at, found eight at a time.
    for (std::size_t base = 0; base < n; base += 8) {
        uint32_t hits = wide_separator_candidates(s.data() + base, n - base);
        while (hits != 0) {
            const std::size_t i = base + static_cast<std::size_t>(std::countr_zero(hits));
            hits &= hits - 1;
            if (!is_white_space(s[i])) continue;
            if (i > start) f(s.substr(start, i - start));
            start = i + 1;
        }
    }
#else
    for (std::size_t i = 0; i < n; ++i) {
        const char32_t c = s[i];
        // White_Space lies at U+0020 and below, and at U+0085 and above.
        if ((c > 0x20 && c < 0x85) || !is_white_space(c)) continue;
        if (i > start) f(s.substr(start, i - start));
        start = i + 1;
    }
#endif
    if (start < n) f(s.substr(start));
}

}  // namespace tarnwick::fuzz::text
