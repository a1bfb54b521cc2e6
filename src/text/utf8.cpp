#include "text/utf8.hpp"

#include <unicode/utf8.h>

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
