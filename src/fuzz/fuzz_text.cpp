#include "fuzz/fuzz_text.hpp"

#include <cstring>


namespace tarnwick::fuzz::text {

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

bool has_ascii_space_or_control(std::string_view s) noexcept {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const std::size_t n = s.size();
    std::size_t i = 0;
    // A byte below 0x21 in a word of bytes below 0x80: (w - 0x21..) borrows into its top bit.
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        if ((w - 0x2121212121212121ULL) & ~w & 0x8080808080808080ULL) return true;
    }
    for (; i < n; ++i)
        if (p[i] <= 0x20) return true;
    return false;
}

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

bool may_hold_separator(std::string_view s) noexcept {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const std::size_t n = s.size();
#if defined(__SSE2__)
    for (std::size_t i = 0; i < n; i += 16)
        if (separator_candidates(p + i, n - i) != 0) return true;
#else
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] <= 0x20 || kByteClass[p[i]] == 2) return true;
#endif
    return false;
}

bool has_space_or_control(std::string_view s) noexcept {
    if (!may_hold_separator(s)) return false;
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (p[i] <= 0x20) return true;
        if (kByteClass[p[i]] == 2) {
            std::size_t len = 1;
            if (is_white_space(decode_at(p, n, i, len))) return true;
        }
    }
    return false;
}

bool is_ascii(std::string_view s) noexcept {
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

Utf8Text from_bytes(std::span<const uint8_t> b) {
    if (is_valid_utf8(b))
        return Utf8Text::view(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
    return Utf8Text::owned(types::Seq::bytes(b.data(), b.size()).to_string_lossy());
}

Utf8Text from_seq(const types::Seq& s) {
    if (s.kind() == types::SeqKind::Bytes) return from_bytes(s.as_bytes());
    if (const std::string_view* t = s.text()) return Utf8Text::view(*t);
    return Utf8Text::owned(s.to_string_lossy());
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

std::size_t decode_well_formed_into(std::string_view s, uint32_t* out) noexcept {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const std::size_t n = s.size();
    uint32_t* o = out;
    std::size_t i = 0;
    // The lead byte gives the length; the continuation bytes are not checked. A sequence
    // cut short by the end (malformed text) goes to decode_at, which never reads past it.
    while (i < n) {
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
    return static_cast<std::size_t>(o - out);
}

void decode(std::string_view s, std::vector<uint32_t>& out) {
    out.resize(s.size());
    out.resize(decode_into(s, out.data()));
}

}  // namespace tarnwick::fuzz::text
