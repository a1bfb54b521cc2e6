#include "text/utf8.hpp"

#include <unicode/utf8.h>

#if defined(__x86_64__) && defined(__GNUC__)
#define TARNWICK_UTF8_VECTOR 1
#include <immintrin.h>
#else
#define TARNWICK_UTF8_VECTOR 0
#endif

#include <cstdint>
#include <cstring>

namespace tarnwick::text {

namespace {

/// The character at p[i] (i < n, p[i] >= 0x80) when it is one of the common well-formed
/// ones: two bytes, three bytes led by E1 to EC, EE or EF (no range checks needed), or four
/// bytes (emoji and the other planes past the first) whose second byte is in its lead's
/// range. Returns its length and sets `c`; 0 for any other sequence (decode_at decides).
inline std::size_t decode_common(const uint8_t* p, std::size_t n, std::size_t i,
                                 uint32_t& c) noexcept {
    const uint32_t b = p[i];
    if (b >= 0xC2 && b <= 0xDF && i + 1 < n && (p[i + 1] & 0xC0) == 0x80) {
        c = ((b & 0x1F) << 6) | (p[i + 1] & 0x3Fu);
        return 2;
    }
    if (b >= 0xE1 && b <= 0xEF && b != 0xED && i + 2 < n && (p[i + 1] & 0xC0) == 0x80 &&
        (p[i + 2] & 0xC0) == 0x80) {
        c = ((b & 0x0F) << 12) | ((p[i + 1] & 0x3Fu) << 6) | (p[i + 2] & 0x3Fu);
        return 3;
    }
    if (b >= 0xF0 && b <= 0xF4 && i + 3 < n) {
        const uint32_t t1 = p[i + 1];
        const uint32_t lo = b == 0xF0 ? 0x90 : 0x80, hi = b == 0xF4 ? 0x8F : 0xBF;
        if (t1 >= lo && t1 <= hi && (p[i + 2] & 0xC0) == 0x80 && (p[i + 3] & 0xC0) == 0x80) {
            c = ((b & 0x07) << 18) | ((t1 & 0x3F) << 12) | ((p[i + 2] & 0x3Fu) << 6) |
                (p[i + 3] & 0x3Fu);
            return 4;
        }
    }
    return 0;
}

}  // namespace

bool is_ascii_long(std::string_view s) noexcept {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const std::size_t n = s.size();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        if (w & 0x8080808080808080ULL) return false;
    }
    for (; i < n; ++i)
        if (p[i] & 0x80) return false;
    return true;
}

bool is_valid_utf8(std::span<const uint8_t> s) noexcept {
    const uint8_t* p = s.data();
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        const uint8_t b = p[i];
        if (b < 0x80) {
            // Skip ASCII eight bytes at a time.
            uint64_t w;
            while (i + 8 <= n && (std::memcpy(&w, p + i, 8), (w & 0x8080808080808080ULL) == 0)) i += 8;
            while (i < n && p[i] < 0x80) ++i;
            continue;
        }
        uint32_t c;
        if (const std::size_t common = decode_common(p, n, i, c)) {
            i += common;
            continue;
        }
        std::size_t len = 0;
        if (decode_at(p, n, i, len) == 0xFFFD && len == 1) {
            // U+FFFD itself is three bytes long, so a one-byte result is a malformed byte.
            return false;
        }
        i += len;
    }
    return true;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

/// Lossy UTF-8 decoding: each maximal invalid subpart becomes one U+FFFD.
std::string decode_lossy(std::span<const uint8_t> s) {
    std::string out;
    out.reserve(s.size());
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        const uint8_t b = s[i];
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        std::size_t need = 0;
        uint8_t lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        std::size_t j = 1;
        bool ok = true;
        for (; j <= need; ++j) {
            if (i + j >= n) { ok = false; break; }
            const uint8_t c = s[i + j];
            const uint8_t l = (j == 1) ? lo : 0x80, h = (j == 1) ? hi : 0xBF;
            if (c < l || c > h) { ok = false; break; }
        }
        if (ok) {
            out.append(reinterpret_cast<const char*>(s.data() + i), need + 1);
            i += need + 1;
        } else {
            out += "\xEF\xBF\xBD";
            i += j;  // the lead byte plus the valid continuation bytes seen so far
        }
    }
    return out;
}

uint32_t decode_at(const uint8_t* s, std::size_t n, std::size_t i, std::size_t& len) noexcept {
    const uint8_t b = s[i];
    if (b < 0x80) {
        len = 1;
        return b;
    }
    std::size_t need;
    uint32_t c;
    uint8_t lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
        c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        c = b & 0x0F;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        c = b & 0x07;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        len = 1;
        return 0xFFFD;
    }
    if (i + need >= n) {
        len = 1;
        return 0xFFFD;
    }
    for (std::size_t j = 1; j <= need; ++j) {
        const uint8_t t = s[i + j];
        if (t < (j == 1 ? lo : 0x80) || t > (j == 1 ? hi : 0xBF)) {
            len = 1;
            return 0xFFFD;
        }
        c = (c << 6) | (t & 0x3F);
    }
    len = need + 1;
    return c;
}

std::size_t decode_into(std::string_view s, uint32_t* out) noexcept {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const std::size_t n = s.size();
    uint32_t* o = out;
    std::size_t i = 0;
    while (i < n) {
        const uint32_t b = p[i];
        if (b < 0x80) {
            *o++ = b;
            i += 1;
            continue;
        }
        // Latin, Greek, Cyrillic, CJK, ... inline; the rest as decode_at decodes them.
        if (const std::size_t common = decode_common(p, n, i, *o)) {
            ++o;
            i += common;
            continue;
        }
        std::size_t len = 1;
        *o++ = decode_at(p, n, i, len);
        i += len;
    }
    return static_cast<std::size_t>(o - out);
}

namespace {

/// The well-formed decoder's scalar loop: decodes the characters starting at p[i] until
/// one ends at or past `stop` (stop <= n) into `o`, and returns the end of what it wrote.
/// The lead byte gives the length; the continuation bytes are not checked. A sequence
/// cut short by the end (malformed text) goes to decode_at, which never reads past it.
inline uint32_t* decode_well_formed_until(const uint8_t* p, std::size_t n, std::size_t& i,
                                          std::size_t stop, uint32_t* o) noexcept {
    while (i < stop) {
        const uint32_t b = p[i];
        if (b < 0x80) {
            *o++ = b;
            i += 1;
        } else if (b < 0xE0 && b >= 0xC0 && i + 2 <= n) {
            *o++ = ((b & 0x1F) << 6) | (p[i + 1] & 0x3Fu);
            i += 2;
        } else if (b >= 0xE0 && b < 0xF0 && i + 3 <= n) {
            *o++ = ((b & 0x0F) << 12) | ((p[i + 1] & 0x3Fu) << 6) | (p[i + 2] & 0x3Fu);
            i += 3;
        } else if (b >= 0xF0 && i + 4 <= n) {
            *o++ = ((b & 0x07) << 18) | ((p[i + 1] & 0x3Fu) << 12) | ((p[i + 2] & 0x3Fu) << 6) |
                   (p[i + 3] & 0x3Fu);
            i += 4;
        } else {
            std::size_t l = 1;
            *o++ = decode_at(p, n, i, l);
            i += l;
        }
    }
    return o;
}

#if TARNWICK_UTF8_VECTOR
#define TARNWICK_UTF8_TARGET \
    __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi,bmi2,lzcnt,popcnt")))

/// Where the scalar loop stopped: the next byte and the next code point's place.
struct Resume {
    std::size_t i;
    uint32_t* o;
};

/// The scalar loop on a chunk that is not whole sequences, out of line: the vector loop
/// keeps its registers.
[[gnu::noinline, gnu::cold]] Resume decode_chunk_scalar(const uint8_t* p, std::size_t n, std::size_t i,
                                                        std::size_t stop, uint32_t* o) noexcept {
    o = decode_well_formed_until(p, n, i, stop, o);
    return {i, o};
}

/// Lanes of 32-bit integers (the compiler's vector type: the shift intrinsics leave parts
/// formally undefined, which the compiler warns about).
using U32 = uint32_t __attribute__((vector_size(64)));

/// The well-formed decoder on 64-byte chunks (AVX-512 VBMI2). A chunk's characters are
/// decoded together when its bytes have the shape of whole UTF-8 sequences: every lead
/// byte C0-DF is followed by one continuation byte (80-BF), E0-EF by two, F0-FF by three,
/// and no other byte is a continuation byte. On such bytes the scalar loop reads each
/// character off its lead byte with the same bit arithmetic, so both give the same code
/// points (overlong forms and surrogates included). Any other chunk goes to the scalar
/// loop, which then decodes its characters one by one.
///
/// A chunk followed by more text ends before its last lead byte (the character that may
/// run into the next chunk starts the next one); the last chunk, of fewer than 64 bytes,
/// is read with a masked load and ends with the text, so no byte past the text is read.
/// The code points are written with masked stores: no room past their number is needed.
TARNWICK_UTF8_TARGET std::size_t decode_well_formed_vector(const uint8_t* p, std::size_t n,
                                                           uint32_t* out) noexcept {
    // Byte b of `spread` is b / 4: lane k of a group of 16 characters takes the position
    // of the group's k-th lead byte into its four bytes.
    alignas(64) static constexpr uint8_t kSpread[64] = {
        0,  0,  0,  0,  1,  1,  1,  1,  2,  2,  2,  2,  3,  3,  3,  3,  4,  4,  4,  4,  5,  5,
        5,  5,  6,  6,  6,  6,  7,  7,  7,  7,  8,  8,  8,  8,  9,  9,  9,  9,  10, 10, 10, 10,
        11, 11, 11, 11, 12, 12, 12, 12, 13, 13, 13, 13, 14, 14, 14, 14, 15, 15, 15, 15};
    alignas(64) static constexpr uint8_t kIota[64] = {
        0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
        22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43,
        44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63};
    const __m512i iota = _mm512_load_si512(kIota);
    const __m512i spread = _mm512_load_si512(kSpread);
    // By the high half of the lead byte: the bits of the lead byte that the code point
    // keeps (0x7F for ASCII, 0x1F, 0x0F, 0x07 for two, three, four bytes), and how far
    // the four bytes' 24 payload bits are shifted down (by six for each byte the character
    // does not have).
    alignas(64) static constexpr uint8_t kKeepOfHigh[64] = {
#define TARNWICK_KEEP 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x3F, 0x3F, 0x3F, 0x3F, 0x1F, 0x1F, 0x0F, 0x07
        TARNWICK_KEEP, TARNWICK_KEEP, TARNWICK_KEEP, TARNWICK_KEEP};
#undef TARNWICK_KEEP
    alignas(64) static constexpr uint8_t kShiftOfHigh[64] = {
#define TARNWICK_SHIFT 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 12, 12, 6, 0
        TARNWICK_SHIFT, TARNWICK_SHIFT, TARNWICK_SHIFT, TARNWICK_SHIFT};
#undef TARNWICK_SHIFT
    const __m512i keep_of_high = _mm512_load_si512(kKeepOfHigh);
    const __m512i shift_of_high = _mm512_load_si512(kShiftOfHigh);
    const __m512i xc0 = _mm512_set1_epi8(static_cast<char>(0xC0));
    const __m512i xe0 = _mm512_set1_epi8(static_cast<char>(0xE0));
    const __m512i xf0 = _mm512_set1_epi8(static_cast<char>(0xF0));

    uint32_t* o = out;
    std::size_t i = 0;
    while (i < n) {
        const std::size_t left = n - i;
        const bool last = left < 64;
        const __mmask64 loaded = last ? _bzhi_u64(~0ULL, static_cast<unsigned>(left)) : ~0ULL;
        const __m512i v = _mm512_maskz_loadu_epi8(loaded, p + i);
        // Continuation bytes (80-BF) are the signed bytes below -64 (C0).
        const __mmask64 cont = _mm512_cmplt_epi8_mask(v, xc0);
        const __mmask64 lead = loaded & ~cont;
        // The chunk's bytes: all of them in the last chunk, else those before its last lead
        // byte (none when that is its first byte: then it is not whole sequences).
        const __mmask64 region =
            last ? loaded : (lead == 0 ? 0 : _bzhi_u64(~0ULL, 63 - static_cast<unsigned>(_lzcnt_u64(lead))));
        const __mmask64 two = _mm512_cmpge_epu8_mask(v, xc0) & region;
        const __mmask64 three = _mm512_cmpge_epu8_mask(v, xe0) & region;
        const __mmask64 four = _mm512_cmpge_epu8_mask(v, xf0) & region;
        // Where the region's lead bytes put continuation bytes. A sequence running past the
        // region puts one on the byte just past it (bit 63 at most), which is not in
        // `cont & region`, so the test fails for it too.
        const __mmask64 expected = (two << 1) | (three << 2) | (four << 3);
        if (region == 0 || expected != (cont & region)) [[unlikely]] {
            const Resume r = decode_chunk_scalar(p, n, i, last ? n : i + 64, o);
            i = r.i;
            o = r.o;
            continue;
        }
        const __mmask64 leads = lead & region;
        const unsigned count = static_cast<unsigned>(_mm_popcnt_u64(leads));
        // Byte k: the position of the k-th lead byte.
        const __m512i at = _mm512_maskz_compress_epi8(leads, iota);
        // Lane g + k of the code points is written when k < count: bit g + k of `written`.
        const uint64_t written = _bzhi_u64(~0ULL, count);
        // The first 32 code points are decoded whatever their number (a branch on it would
        // be mispredicted on texts of about 16 characters), the others 16 at a time.
        unsigned g = 0;
        do {
            // Lane k: the four bytes from the (g + k)-th lead byte on (those past the chunk
            // wrap around; they lie past the character and are shifted out below).
            const __m512i from = _mm512_add_epi8(
                _mm512_maskz_permutexvar_epi8(~0ULL, _mm512_add_epi8(spread, _mm512_set1_epi8(static_cast<char>(g))), at),
                _mm512_set1_epi32(0x03020100));
            const __m512i x = _mm512_maskz_permutexvar_epi8(~0ULL, from, v);
            // Byte 0 of each lane: the high half of the lead byte; bytes 1-3 look up
            // nothing (0x80: a zero).
            const __m512i high = _mm512_ternarylogic_epi32(__m512i(U32(x) >> 4),
                                                           _mm512_set1_epi32(0x0F),
                                                           _mm512_set1_epi32(0x80808000), 0xEA);
            const __m512i keep = _mm512_or_si512(_mm512_shuffle_epi8(keep_of_high, high),
                                                 _mm512_set1_epi32(0x3F3F3F00));
            const __m512i bits = _mm512_and_si512(x, keep);
            // (lead << 6 | b1) << 12 | (b2 << 6 | b3): the 24 payload bits, then shifted
            // down to the character's own.
            const __m512i pairs = _mm512_maddubs_epi16(bits, _mm512_set1_epi32(0x01400140));
            const __m512i whole = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00011000));
            const __m512i code = __m512i(U32(whole) >> U32(_mm512_shuffle_epi8(shift_of_high, high)));
            _mm512_mask_storeu_epi32(o + g, static_cast<__mmask16>(written >> g), code);
            g += 16;
        } while (g < 32 || g < count);
        o += count;
        i += static_cast<std::size_t>(_mm_popcnt_u64(region));
    }
    return static_cast<std::size_t>(o - out);
}

bool processor_has_vector_decoder() noexcept {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
           __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("lzcnt") &&
           __builtin_cpu_supports("popcnt");
}

/// Whether the processor runs decode_well_formed_vector (settled when the module loads).
const bool kVectorDecoder = processor_has_vector_decoder();
#endif

}  // namespace

std::size_t decode_well_formed_into(std::string_view s, uint32_t* out) noexcept {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const std::size_t n = s.size();
#if TARNWICK_UTF8_VECTOR
    if (kVectorDecoder) return decode_well_formed_vector(p, n, out);
#endif
    std::size_t i = 0;
    return static_cast<std::size_t>(decode_well_formed_until(p, n, i, n, out) - out);
}

void decode(std::string_view s, std::vector<uint32_t>& out) {
    out.resize(s.size());
    out.resize(decode_into(s, out.data()));
}

char32_t decode_next(std::string_view s, std::size_t& i) noexcept {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const auto n = static_cast<int32_t>(s.size() - i > INT32_MAX ? INT32_MAX : s.size() - i);
    int32_t k = 0;
    UChar32 c;
    U8_NEXT(p + i, k, n, c);
    i += static_cast<std::size_t>(k);
    return c < 0 ? U'\uFFFD' : static_cast<char32_t>(c);
}

}  // namespace tarnwick::text
