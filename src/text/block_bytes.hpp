// Decoding UTF-8 whose code points all lie below 128 or in one block of 128 code points
// among those of two-byte sequences (U+0080 to U+07FF: Latin-1, Greek, Cyrillic, Armenian,
// Hebrew, Arabic, ...) into one byte per code point, for the conversions that hand such
// text to the byte kernels. A code point c of the block is written as 0x80 | (c & 0x7F):
// the bytes of Latin-1 text (block 1, U+0080 to U+00FF) are its code points, those of any
// other block are codes that keep equality only among texts of the same block. Free of
// Python; safe on any thread.
//
// Latin-1 (leads C2 and C3) is tried first; otherwise the block is set by the first lead
// byte: it and its partner (the lead with the other low bit, e.g. CE and CF for Greek, D0
// and D1 for Cyrillic) are the only lead bytes the text may hold. The decoder works on 16
// bytes at a time without branching on the text: a lead byte and the byte after it give
// the code (0x80 | ((lead & 1) << 6) | (next & 0x3F)), a continuation byte gives nothing,
// and the bytes kept are packed 8 positions at a time by one shuffle chosen by the
// positions' continuation bits. A text with any other lead byte is refused at the first
// 16 bytes that hold one; a lead of three or four bytes refuses it at once.
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

/// The result of decode_block_bytes for text that is not in one block.
inline constexpr std::size_t kNotOneBlock = ~std::size_t{0};

/// Room decode_block_bytes needs beyond the code points it writes.
inline constexpr std::size_t kBlockBytesSlack = 16;

/// The block of Latin-1 text (code points 128 to 255): its bytes are its code points.
inline constexpr uint32_t kLatin1Block = 1;

namespace detail {

/// For each 8-bit mask of continuation positions, the shuffle that packs the other
/// positions of 8 bytes to the front, in order.
inline constexpr auto kPackBlockBytes = [] {
    std::array<std::array<uint8_t, 8>, 256> t{};
    for (unsigned m = 0; m < 256; ++m) {
        unsigned k = 0;
        for (unsigned j = 0; j < 8; ++j)
            if (!(m >> j & 1)) t[m][k++] = static_cast<uint8_t>(j);
        for (; k < 8; ++k) t[m][k] = 0x80;  // a zero byte, written past the end
    }
    return t;
}();

/// Whether `lead` (0x80 or above, the first non-ASCII byte of well-formed text) begins a
/// two-byte sequence; its block's pair of leads is then (lead & 0xFE, lead | 1).
constexpr bool two_byte_lead(uint32_t lead) noexcept { return lead >= 0xC2 && lead < 0xE0; }

/// What the Latin-1 decoding gives for text with a lead of three or four bytes, which no
/// block holds (besides kNotOneBlock for text of another block, or of several).
inline constexpr std::size_t kNoBlock = kNotOneBlock - 1;

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

/// Decodes one block of text whose leads are `pair` (all bytes equal to the even lead of
/// the pair; with `Latin1`, C2): `b` holds `r` (at most 16) text bytes and zero bytes
/// after them, `next` the byte after each. Writes the codes begun in the block at `out`
/// (16 bytes of room) and returns how many; kNotOneBlock when a lead byte is not of the
/// pair (kNoBlock, with `Latin1`, when one begins three or four bytes).
template <bool Latin1>
inline std::size_t decode_block(__m128i b, __m128i next, __m128i pair, std::size_t r,
                                uint8_t* out) noexcept {
    if constexpr (Latin1) {
        // Any byte above C3 is refused (C0 and C1 occur in no well-formed text); a lead of
        // three or four bytes (E0 and above) also rules out every other block.
        const __m128i high = _mm_subs_epu8(b, _mm_set1_epi8(static_cast<char>(0xC3)));
        if (!_mm_testz_si128(high, high)) {
            const __m128i wide = _mm_subs_epu8(b, _mm_set1_epi8(static_cast<char>(0xDF)));
            return _mm_testz_si128(wide, wide) ? kNotOneBlock : kNoBlock;
        }
    } else {
        // b ^ pair is 0 or 1 for the pair's leads, 0x40 and above for continuation and
        // ASCII bytes, and 2 to 0x3F for any other lead: adding 0xC0 (modulo 256) makes
        // those the only values above 0xC1, which are refused.
        const __m128i z = _mm_add_epi8(_mm_xor_si128(b, pair), _mm_set1_epi8(static_cast<char>(0xC0)));
        const __m128i other = _mm_subs_epu8(z, _mm_set1_epi8(static_cast<char>(0xC1)));
        if (!_mm_testz_si128(other, other)) return kNotOneBlock;
    }
    // A byte of 80 and above is a lead or a continuation byte (80 to BF); only the lead's
    // value is kept. (b << 6) holds the lead's low bit as bit 6 of its byte: a 16-bit shift
    // moves bits across bytes, but the mask drops them. The byte after a lead is a
    // continuation byte (10xxxxxx), which gives the code's top bit and its low six bits.
    const __m128i code = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(b, 6), _mm_set1_epi8(0x40)),
                                      _mm_and_si128(next, _mm_set1_epi8(static_cast<char>(0xBF))));
    const __m128i v = _mm_blendv_epi8(b, code, b);  // by the top bit of each byte of b
    // Continuation bytes (80 to BF) are exactly the bytes below -64 as signed bytes.
    const __m128i cont = _mm_cmpgt_epi8(_mm_set1_epi8(-64), b);
    // Continuation bytes and the positions past the text give nothing.
    const unsigned drop = static_cast<unsigned>(_mm_movemask_epi8(cont)) | (0xFFFFu << r & 0xFFFFu);
    const auto shuffle = [](unsigned m) {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackBlockBytes[m].data()));
    };
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, shuffle(drop & 0xFF)));
    const std::size_t k = 8 - static_cast<std::size_t>(std::popcount(drop & 0xFF));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k),
                     _mm_shuffle_epi8(_mm_srli_si128(v, 8), shuffle(drop >> 8)));
    return k + 8 - static_cast<std::size_t>(std::popcount(drop >> 8));
}

/// The first byte of 0x80 and above among the `n` bytes at `p`, or -1 when there is none.
inline int first_high_byte(const uint8_t* p, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        if (const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(b)))
            return p[i + static_cast<std::size_t>(std::countr_zero(high))];
    }
    if (i < n) {
        if (const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(load_partial(p + i, n - i))))
            return p[i + static_cast<std::size_t>(std::countr_zero(high))];
    }
    return -1;
}

/// Decodes the `n` bytes at `p` (followed by one readable byte) whose leads are `pair`
/// into `out` (room for n + 16 bytes); returns the number of codes, or kNotOneBlock (or,
/// with `Latin1`, kNoBlock) at the first 16 bytes that hold another lead.
template <bool Latin1>
[[gnu::always_inline]] inline std::size_t decode_run(const uint8_t* p, std::size_t n, uint8_t* out,
                                                     __m128i pair) noexcept {
    std::size_t k = 0, i = 0;
    // Whole blocks: the byte after the last one is at most p[n], the readable end.
    for (; i + 16 <= n; i += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
        const std::size_t w = decode_block<Latin1>(b, next, pair, 16, out + k);
        if (w >= kNoBlock) return w;
        k += w;
    }
    if (i < n) {
        // The last block, zero past the end; the byte after its last byte is zero too.
        const __m128i b = load_partial(p + i, n - i);
        const std::size_t w = decode_block<Latin1>(b, _mm_srli_si128(b, 1), pair, n - i, out + k);
        if (w >= kNoBlock) return w;
        k += w;
    }
    return k;
}

/// The second try of decode_block_bytes, after Latin-1: the block of the first lead.
[[gnu::noinline]] inline std::size_t decode_other_block(const uint8_t* p, std::size_t n, uint8_t* out,
                                                        uint32_t& block) noexcept {
    // The first lead byte sets the pair of leads the text may hold.
    const int lead = first_high_byte(p, n);
    if (lead < 0xC4 || !two_byte_lead(static_cast<uint32_t>(lead))) return kNotOneBlock;
    const std::size_t k = decode_run<false>(p, n, out, _mm_set1_epi8(static_cast<char>(lead & 0xFE)));
    if (k != kNotOneBlock) block = (static_cast<uint32_t>(lead) & 0x1E) >> 1;
    return k;
}
#endif

}  // namespace detail

/// Writes the code points of `utf8` as one byte each to `out`, which has room for
/// utf8.size() + kBlockBytesSlack bytes, and returns their number, when every code point
/// is below 128 or in one block of 128 two-byte code points; `block` is then that block
/// (kLatin1Block for ASCII text), and any code v of 0x80 and above stands for code point
/// (block << 7) | (v & 0x7F). Else kNotOneBlock, with `out` clobbered. `utf8` must be
/// well-formed UTF-8 followed by one readable byte (a str's UTF-8 form ends with a NUL).
inline std::size_t decode_block_bytes(std::string_view utf8, uint8_t* out, uint32_t& block) noexcept {
    const auto* p = reinterpret_cast<const uint8_t*>(utf8.data());
    const std::size_t n = utf8.size();
#if defined(__SSE4_1__)
    // Latin-1 first, the commonest block, without looking for the first lead: any other
    // text is refused at the first 16 bytes with a lead of another block.
    const std::size_t k = detail::decode_run<true>(p, n, out, _mm_set1_epi8(static_cast<char>(0xC2)));
    if (k < detail::kNoBlock) {
        block = kLatin1Block;
        return k;
    }
    if (k == detail::kNoBlock) return kNotOneBlock;
    return detail::decode_other_block(p, n, out, block);
#else
    std::size_t k = 0;
    int lead = -1;  // the first lead byte, once seen
    for (std::size_t i = 0; i < n; ++k) {
        const uint32_t c = p[i];
        if (c < 0x80) {
            out[k] = static_cast<uint8_t>(c);
            ++i;
            continue;
        }
        if (lead < 0) {
            if (!detail::two_byte_lead(c)) return kNotOneBlock;
            lead = static_cast<int>(c);
        }
        if ((c | 1) != (static_cast<uint32_t>(lead) | 1)) return kNotOneBlock;
        out[k] = static_cast<uint8_t>(0x80 | ((c & 1) << 6) | (p[i + 1] & 0x3Fu));
        i += 2;
    }
    block = lead >= 0 ? (static_cast<uint32_t>(lead) & 0x1E) >> 1 : kLatin1Block;
    return k;
#endif
}

}  // namespace tarnwick::text
