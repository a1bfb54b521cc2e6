// The Fx multiplicative hash for the hash maps keyed by text: each 8-byte word of the key
// is added to the state, which is then multiplied by one odd constant; the tail and the
// length are folded in the same way and the result is rotated so that the well-mixed high
// bits land where the table takes its index from. Fast and good enough for keys that no
// adversary chooses; no result of the system depends on a map's iteration order.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tarnwick {

/// Transparent Fx hash of texts (std::string and std::string_view hash alike).
struct FxHash {
    using is_transparent = void;

    static constexpr uint64_t kSeed = 0xf1357aea2e62a9c5ULL;

    std::size_t operator()(std::string_view s) const noexcept {
        uint64_t h = 0;
        const char* p = s.data();
        std::size_t n = s.size();
        for (; n >= 8; p += 8, n -= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            h = (h + w) * kSeed;
        }
        if (n > 0) {
            uint64_t w = 0;
            std::memcpy(&w, p, n);
            h = (h + w) * kSeed;
        }
        h = (h + s.size()) * kSeed;
        return static_cast<std::size_t>(std::rotl(h, 26));
    }
    std::size_t operator()(const std::string& s) const noexcept {
        return (*this)(std::string_view(s));
    }
};

/// Transparent equality of texts, to look up std::string keys by std::string_view.
struct TextEq {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept { return a == b; }
};

}  // namespace tarnwick
