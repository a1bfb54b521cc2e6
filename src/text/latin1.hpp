// Decoding UTF-8 whose code points are all below 256 (Latin-1 text: ASCII and the two-byte
// sequences of lead bytes C2 and C3) into one byte per code point, for the conversions that
// hand such text to the byte kernels. Free of Python; safe on any thread.
//
// The decoder works on 16 bytes at a time without branching on the text: a lead byte and
// the byte after it give the code point (((lead & 3) << 6) | (next & 0x3F)), a continuation
// byte gives nothing, and the bytes kept are packed 8 positions at a time by one shuffle
// chosen by the positions' continuation bits. A text with any byte above C3 (a code point
// of 256 or more) is refused at the first block that holds one.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE4_1__)
#include <smmintrin.h>
#endif

namespace tarnwick::text {

/// The result of decode_latin1 for text with a code point of 256 or more.
inline constexpr std::size_t kNotLatin1 = ~std::size_t{0};

/// Room decode_latin1 needs beyond the code points it writes.
inline constexpr std::size_t kLatin1Slack = 16;

namespace detail {

/// For each 8-bit mask of continuation positions, the shuffle that packs the other
/// positions of 8 bytes to the front, in order.
inline constexpr auto kPackLatin1 = [] {
    std::array<std::array<uint8_t, 8>, 256> t{};
    for (unsigned m = 0; m < 256; ++m) {
        unsigned k = 0;
        for (unsigned j = 0; j < 8; ++j)
            if (!(m >> j & 1)) t[m][k++] = static_cast<uint8_t>(j);
        for (; k < 8; ++k) t[m][k] = 0x80;  // a zero byte, written past the end
    }
    return t;
}();

#if defined(__SSE4_1__)
/// The `r` (< 16) bytes at `p` followed by zero bytes, read without passing p[r - 1]: two
/// loads that may overlap, as is_ascii reads a word.
inline __m128i load_partial(const uint8_t* p, std::size_t r) noexcept {
    uint64_t lo = 0, hi = 0;
    if (r >= 8) {
        uint64_t y;
        std::memcpy(&lo, p, 8);
        std::memcpy(&y, p + r - 8, 8);
        if (r > 8) hi = y >> (8 * (16 - r));
    } else if (r >= 4) {
        uint32_t u, v;
        std::memcpy(&u, p, 4);
        std::memcpy(&v, p + r - 4, 4);
        lo = u | ((uint64_t{v} >> (8 * (8 - r))) << 32);
    } else if (r != 0) {
        lo = p[0] | (uint64_t{p[r / 2]} << (8 * (r / 2))) | (uint64_t{p[r - 1]} << (8 * (r - 1)));
    }
    return _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo));
}

/// Decodes one block: `b` holds `r` (at most 16) text bytes and zero bytes after them,
/// `next` the byte after each. Writes the code points begun in the block at `out` (16
/// bytes of room) and returns how many; kNotLatin1 when a byte is above C3.
inline std::size_t decode_latin1_block(__m128i b, __m128i next, std::size_t r, uint8_t* out) noexcept {
    const __m128i high = _mm_subs_epu8(b, _mm_set1_epi8(static_cast<char>(0xC3)));
    if (!_mm_testz_si128(high, high)) return kNotLatin1;
    // A byte of 80 and above is a lead (C2, C3) or a continuation byte (80 to BF); only
    // the lead's value is kept. (b << 6) holds the lead's two low bits as the top two bits
    // of its byte: a 16-bit shift moves bits across bytes, but the mask drops them.
    const __m128i pair =
        _mm_or_si128(_mm_and_si128(_mm_slli_epi16(b, 6), _mm_set1_epi8(static_cast<char>(0xC0))),
                     _mm_and_si128(next, _mm_set1_epi8(0x3F)));
    const __m128i v = _mm_blendv_epi8(b, pair, b);  // by the top bit of each byte of b
    const __m128i cont = _mm_cmpeq_epi8(_mm_and_si128(b, _mm_set1_epi8(static_cast<char>(0xC0))),
                                        _mm_set1_epi8(static_cast<char>(0x80)));
    // Continuation bytes and the positions past the text give nothing.
    const unsigned drop = static_cast<unsigned>(_mm_movemask_epi8(cont)) | (0xFFFFu << r & 0xFFFFu);
    const auto shuffle = [](unsigned m) {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackLatin1[m].data()));
    };
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, shuffle(drop & 0xFF)));
    const std::size_t k = 8 - static_cast<std::size_t>(std::popcount(drop & 0xFF));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k),
                     _mm_shuffle_epi8(_mm_srli_si128(v, 8), shuffle(drop >> 8)));
    return k + 8 - static_cast<std::size_t>(std::popcount(drop >> 8));
}
#endif

}  // namespace detail

/// Writes the code points of `utf8` as one byte each to `out`, which has room for
/// utf8.size() + kLatin1Slack bytes, and returns their number; kNotLatin1 (with `out`
/// clobbered) when a code point is 256 or more. `utf8` must be well-formed UTF-8 followed
/// by one readable byte (a str's UTF-8 form ends with a NUL).
inline std::size_t decode_latin1(std::string_view utf8, uint8_t* out) noexcept {
    const auto* p = reinterpret_cast<const uint8_t*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t k = 0;
#if defined(__SSE4_1__)
    std::size_t i = 0;
    // Whole blocks: the byte after the last one is at most p[n], the readable end.
    for (; i + 16 <= n; i += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
        const std::size_t w = detail::decode_latin1_block(b, next, 16, out + k);
        if (w == kNotLatin1) return kNotLatin1;
        k += w;
    }
    if (i < n) {
        // The last block, zero past the end; the byte after its last byte is zero too.
        const __m128i b = detail::load_partial(p + i, n - i);
        const std::size_t w = detail::decode_latin1_block(b, _mm_srli_si128(b, 1), n - i, out + k);
        if (w == kNotLatin1) return kNotLatin1;
        k += w;
    }
#else
    for (std::size_t i = 0; i < n; ++k) {
        const uint32_t lead = p[i];
        if (lead > 0xC3) return kNotLatin1;
        const uint32_t two = lead >> 7;  // C2 or C3 starts a two-byte sequence
        out[k] = static_cast<uint8_t>(two != 0 ? (lead << 6) | (p[i + 1] & 0x3Fu) : lead);
        i += 1 + two;
    }
#endif
    return k;
}

}  // namespace tarnwick::text
