// The Fx multiplicative hash for the hash maps of the search indexes and the join: a
// rotate, an exclusive-or and one multiplication per 8 bytes, and a final rotation that
// moves the well-mixed high bits down to where the tables take their bucket bits.
// Not resistant to chosen keys; used only where speed matters more than that.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tarnwick {

struct FxHash {
    using is_transparent = void;
    static constexpr uint64_t kSeed = 0xf1357aea2e62a9c5ULL;

    static uint64_t add(uint64_t h, uint64_t word) noexcept {
        return (std::rotl(h, 5) ^ word) * kSeed;
    }
    static uint64_t finish(uint64_t h) noexcept { return std::rotl(h, 26); }

    std::size_t operator()(uint64_t v) const noexcept { return finish(add(0, v)); }
    std::size_t operator()(std::string_view s) const noexcept {
        uint64_t h = 0;
        const char* p = s.data();
        std::size_t n = s.size();
        for (; n >= 8; p += 8, n -= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            h = add(h, w);
        }
        if (n > 0) {
            uint64_t w = 0;
            std::memcpy(&w, p, n);
            h = add(h, w);
        }
        // The length ends the key, so that texts differing only in trailing zero bytes differ.
        return finish(add(h, s.size()));
    }
};

}  // namespace tarnwick
