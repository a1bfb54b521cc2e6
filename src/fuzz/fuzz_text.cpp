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

}  // namespace tarnwick::fuzz::text
