// Per-element bit masks of a pattern for the bit-parallel kernels.
//
// Bit i of word w of the mask of value c is set exactly when pattern[64*w + i] == c.
// Values below 256 index a dense table; larger values (32- and 64-bit elements only)
// go through a hash map that is created only when such a value occurs.
#pragma once

#include <absl/container/flat_hash_map.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

namespace tarnwick::algorithms {

/// Hash of an element value: rotate_left(v * 0xf1357aea2e62a9c5, 26).
struct ElementHash {
    std::size_t operator()(uint64_t v) const noexcept {
        return static_cast<std::size_t>(std::rotl(v * 0xf1357aea2e62a9c5ULL, 26));
    }
};

/// Number of 64-bit words needed for a pattern of `len` elements.
inline constexpr std::size_t blocks_for(std::size_t len) noexcept { return (len + 63) / 64; }

/// Mask of the valid bits of the last word of a pattern of `len` (> 0) elements.
inline constexpr uint64_t last_word_mask(std::size_t len) noexcept {
    return (len % 64) == 0 ? ~uint64_t{0} : (uint64_t{1} << (len % 64)) - 1;
}

/// Sets bit i of `table[pattern[i]]` for each byte of a pattern of at most 64 bytes, in a
/// 256-entry table whose entries for those bytes are zero.
inline void set_byte_masks(uint64_t* table, std::span<const uint8_t> pattern) noexcept {
    uint64_t bit = 1;
    for (const uint8_t c : pattern) {
        table[c] |= bit;
        bit <<= 1;
    }
}

/// Zeroes the entries of a 256-entry table for each byte of `bytes`. A table is reused (per
/// query, per thread) by zeroing the entries its last pattern set; and for a short pair,
/// zeroing the entries of the bytes of both sides makes every entry the kernel reads valid
/// at less cost than clearing the 2 KiB table.
inline void clear_byte_masks(uint64_t* table, std::span<const uint8_t> bytes) noexcept {
    for (const uint8_t c : bytes) table[c] = 0;
}

/// Masks of a pattern of at most 64 elements: one word per value. The table lives
/// inside the object (2 KiB, on the stack for callers); nothing is allocated unless a
/// value of 256 or more occurs.
template <class T>
class PatternMask64 {
public:
    PatternMask64() = default;
    explicit PatternMask64(std::span<const T> pattern) { build(pattern); }

    /// Fills the masks from `pattern` (at most 64 elements); previous content is kept,
    /// so call it on a fresh object.
    void build(std::span<const T> pattern) noexcept(sizeof(T) == 1) {
        uint64_t bit = 1;
        for (T c : pattern) {
            if (static_cast<uint64_t>(c) < 256)
                table_[static_cast<std::size_t>(c)] |= bit;
            else if constexpr (sizeof(T) > 1)
                map_[static_cast<uint64_t>(c)] |= bit;
            bit <<= 1;
        }
    }

    /// The mask word of value `c` (0 when `c` does not occur).
    uint64_t get(T c) const noexcept {
        if (static_cast<uint64_t>(c) < 256) return table_[static_cast<std::size_t>(c)];
        if constexpr (sizeof(T) > 1) {
            if (map_.empty()) return 0;
            auto it = map_.find(static_cast<uint64_t>(c));
            return it == map_.end() ? 0 : it->second;
        } else {
            return 0;
        }
    }

    /// The dense 256-word table (values below 256).
    const uint64_t* table() const noexcept { return table_; }

private:
    uint64_t table_[256] = {};
    struct Empty {};
    using Map = std::conditional_t<sizeof(T) == 1, Empty,
                                   absl::flat_hash_map<uint64_t, uint64_t, ElementHash>>;
    [[no_unique_address]] Map map_;
};

/// Masks of a pattern of any length (used from 65 elements on): `blocks` words per value.
template <class T>
class PatternMaskMulti {
public:
    PatternMaskMulti() = default;
    explicit PatternMaskMulti(std::span<const T> pattern) { build(pattern); }

    /// Builds the masks of `pattern`, replacing any previous content.
    void build(std::span<const T> pattern) {
        blocks_ = blocks_for(pattern.size());
        table_.assign(256 * blocks_, 0);
        zero_.assign(blocks_, 0);
        if constexpr (sizeof(T) > 1) {
            map_.clear();
            extra_.clear();
        }
        for (std::size_t i = 0; i < pattern.size(); ++i) {
            const uint64_t c = static_cast<uint64_t>(pattern[i]);
            const std::size_t w = i / 64;
            const uint64_t bit = uint64_t{1} << (i % 64);
            if (c < 256) {
                table_[c * blocks_ + w] |= bit;
            } else if constexpr (sizeof(T) > 1) {
                auto [it, inserted] = map_.try_emplace(c, extra_.size());
                if (inserted) extra_.resize(extra_.size() + blocks_, 0);
                extra_[it->second + w] |= bit;
            }
        }
    }

    /// Number of 64-bit words per value.
    std::size_t blocks() const noexcept { return blocks_; }

    /// The `blocks()` mask words of value `c` (all zero when `c` does not occur).
    const uint64_t* get(T c) const noexcept {
        const uint64_t v = static_cast<uint64_t>(c);
        if (v < 256) return table_.data() + v * blocks_;
        if constexpr (sizeof(T) > 1) {
            auto it = map_.find(v);
            if (it != map_.end()) return extra_.data() + it->second;
        }
        return zero_.data();
    }

    /// Mask word `w` of value `c`.
    uint64_t get(std::size_t w, T c) const noexcept { return get(c)[w]; }

private:
    std::size_t blocks_ = 0;
    std::vector<uint64_t> table_;
    std::vector<uint64_t> zero_;
    struct Empty {};
    using Map = std::conditional_t<sizeof(T) == 1, Empty,
                                   absl::flat_hash_map<uint64_t, std::size_t, ElementHash>>;
    [[no_unique_address]] Map map_;
    std::vector<uint64_t> extra_;  // map values: offsets into this vector
};

}  // namespace tarnwick::algorithms
