#include "fuzz/fuzz_text.hpp"

#include <cstring>


namespace tarnwick::fuzz::text {

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

}  // namespace tarnwick::fuzz::text
