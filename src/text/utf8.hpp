// UTF-8 helpers shared by the scorers, search and the join: ASCII and well-formedness
// tests, encoding one character, decoding to code points (the two lossy readings of
// malformed bytes, and a faster decoder for text known to be well formed), and the
// Unicode White_Space property. Free of Python; safe on any thread.
//
// Malformed bytes read as U+FFFD in one of two ways, each kept by the callers that depend
// on it: `decode_lossy` and `decode_next` replace each maximal invalid subpart (a lead
// byte and the continuation bytes that fit it) by one U+FFFD, the reading of Python's
// bytes.decode("utf-8", "replace"); `decode_at`, `decode_into` and `decode` (the
// scorers' code points) replace each byte of a malformed sequence by its own U+FFFD.
// Well-formed text reads the same either way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::text {

/// is_ascii for texts of more than 16 bytes.
bool is_ascii_long(std::string_view s) noexcept;

/// Whether every byte of `s` is below 0x80. Texts of up to 16 bytes (words) are tested
/// inline, by two loads that may overlap.
inline bool is_ascii(std::string_view s) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    if (n > 16) return is_ascii_long(s);
    uint64_t x, y;
    if (n >= 8) {
        std::memcpy(&x, p, 8);
        std::memcpy(&y, p + n - 8, 8);
    } else if (n >= 4) {
        uint32_t u, v;
        std::memcpy(&u, p, 4);
        std::memcpy(&v, p + n - 4, 4);
        x = u;
        y = v;
    } else {
        x = n == 0 ? 0 : p[0] | p[n / 2] | p[n - 1];
        y = 0;
    }
    return ((x | y) & 0x8080808080808080ULL) == 0;
}

/// Whether `s` is well-formed UTF-8 (no overlongs, surrogates or values above U+10FFFF).
bool is_valid_utf8(std::span<const uint8_t> s) noexcept;

/// Appends the UTF-8 encoding of `c` (a code point up to U+10FFFF).
void append_utf8(std::string& out, char32_t c);

/// `s` as UTF-8 text: each maximal invalid subpart becomes one U+FFFD.
std::string decode_lossy(std::span<const uint8_t> s);

/// Decodes one character at s[i] (i < s.size()), advancing i past it; a maximal invalid
/// subpart reads as one U+FFFD.
char32_t decode_next(std::string_view s, std::size_t& i) noexcept;

/// Decodes the code point at p[i] (i < n) and sets `len` to its byte count. A malformed
/// sequence gives U+FFFD of length 1, so reads never pass the end.
uint32_t decode_at(const uint8_t* p, std::size_t n, std::size_t i, std::size_t& len) noexcept;

/// Writes the code points of `s` (each malformed byte decodes as U+FFFD) to `out`, which
/// has room for s.size() of them; returns their number.
std::size_t decode_into(std::string_view s, uint32_t* out) noexcept;

/// decode_into for well-formed UTF-8 `s`, with fewer checks: each character's length is
/// read off its lead byte. Where the processor has AVX-512 VBMI2, 64 bytes of whole
/// sequences are decoded at a time. It reads nothing past `s` and writes nothing past its
/// code points, so `out` needs room for s.size() of them and no more. (On malformed text
/// its code points are unspecified.)
std::size_t decode_well_formed_into(std::string_view s, uint32_t* out) noexcept;

/// Replaces `out` with the code points of `s` (each malformed byte decodes as U+FFFD).
void decode(std::string_view s, std::vector<uint32_t>& out);

/// Whether `c` has the Unicode White_Space property.
constexpr bool is_white_space(uint32_t c) noexcept {
    if (c < 0x80) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

}  // namespace tarnwick::text
