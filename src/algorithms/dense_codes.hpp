// Dense byte codes for the elements of two sequences.
//
// Every kernel of this folder compares elements only for equality, so renaming the
// elements of a pair by any one-to-one map leaves its results unchanged. When the two
// sequences hold at most 256 distinct values together, numbering those values 0, 1, ...
// turns a pair of 32- or 64-bit sequences into a pair of byte sequences, which the kernels
// serve from their dense 256-entry tables instead of hash maps (text in Greek, Cyrillic,
// CJK or emoji). The coding costs one pass over both sequences, so the kernels use it where
// they would otherwise build per-element tables of a long pattern; words are matched by
// vector compares (pattern_mask.hpp) in their own width. When every value of the pair
// already fits a byte, the values are their own codes (text whose code points are all
// below 256 is only narrowed); otherwise the distinct values are numbered in order of first
// occurrence, `a` before `b`.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

namespace tarnwick::algorithms {

/// Numbers distinct values in order of first occurrence, up to 256 of them, in an open-
/// addressing table sized for the number of elements expected (at most 512 slots, so that
/// clearing it costs little for short pairs). DenseCodes numbers a pair with it; the batch
/// functions number the values beyond ASCII of all their items with it
/// (process/cdist_recode.hpp).
class ValueNumbering {
public:
    explicit ValueNumbering(std::size_t elements) noexcept {
        const std::size_t want = 2 * std::min<std::size_t>(std::max<std::size_t>(elements, 8), 256);
        shift_ = 64 - std::bit_width(want - 1);
        std::memset(slots_, 0, (std::size_t{1} << (64 - shift_)) * sizeof slots_[0]);
    }

    /// Codes every element of `s` into `out`; false once a 257th distinct value occurs.
    template <class T>
    bool code(std::span<const T> s, uint8_t* out) noexcept {
        // Locals, since stores through `out` could otherwise alias the members.
        const int shift = shift_;
        const std::size_t mask = (std::size_t{1} << (64 - shift)) - 1;
        uint16_t* const slots = slots_;
        uint64_t* const keys = keys_;
        std::size_t count = count_;
        const std::size_t n = s.size();
        for (std::size_t i = 0; i < n; ++i) {
            const uint64_t v = static_cast<uint64_t>(s[i]);
            std::size_t h = static_cast<std::size_t>((v * 0x9E3779B97F4A7C15ULL) >> shift);
            std::size_t slot;
            while ((slot = slots[h]) != 0 && keys[slot - 1] != v) h = (h + 1) & mask;
            if (slot == 0) {
                if (count == 256) return false;
                keys[count] = v;
                slot = ++count;
                slots[h] = static_cast<uint16_t>(slot);
            }
            out[i] = static_cast<uint8_t>(slot - 1);
        }
        count_ = count;
        return true;
    }

    /// The number of `v`, given it now if it is new; -1 when it would be the 257th.
    int add(uint64_t v) noexcept {
        uint8_t code;
        return this->code(std::span<const uint64_t>(&v, 1), &code) ? code : -1;
    }

    /// The number of `v`, or -1 when it has none.
    int find(uint64_t v) const noexcept {
        const std::size_t mask = (std::size_t{1} << (64 - shift_)) - 1;
        std::size_t h = static_cast<std::size_t>((v * 0x9E3779B97F4A7C15ULL) >> shift_);
        std::size_t slot;
        while ((slot = slots_[h]) != 0 && keys_[slot - 1] != v) h = (h + 1) & mask;
        return static_cast<int>(slot) - 1;
    }

    /// The values numbered so far, in order of their numbers.
    std::span<const uint64_t> values() const noexcept { return {keys_, count_}; }

private:
    int shift_;               // 64 minus the number of index bits
    std::size_t count_ = 0;   // codes given so far
    uint16_t slots_[512];     // 0: empty, else 1 + the code of the value held
    uint64_t keys_[256];      // the value of each code
};

/// The byte codes of one pair, or the verdict that the pair has more than 256 distinct
/// values. The codes are kept in this object, inline for short pairs.
class DenseCodes {
public:
    DenseCodes() = default;
    DenseCodes(const DenseCodes&) = delete;
    DenseCodes& operator=(const DenseCodes&) = delete;

    /// Codes `a` and `b` jointly: a[i] == b[j] exactly when code_a[i] == code_b[j], and
    /// likewise within each side. Returns false (and keeps no codes) when the two hold
    /// more than 256 distinct values.
    template <class T>
    bool assign(std::span<const T> a, std::span<const T> b);

    std::span<const uint8_t> a() const noexcept { return a_; }
    std::span<const uint8_t> b() const noexcept { return b_; }

private:
    /// Room for `n` codes: the inline buffer when it is large enough.
    uint8_t* storage(std::size_t n);

    static constexpr std::size_t kInline = 256;
    std::span<const uint8_t> a_, b_;
    uint8_t inline_[kInline];
    std::vector<uint8_t> heap_;
};

#define TARNWICK_DENSE_CODES_EXTERN(T) \
    extern template bool DenseCodes::assign<T>(std::span<const T>, std::span<const T>);
TARNWICK_DENSE_CODES_EXTERN(uint32_t)
TARNWICK_DENSE_CODES_EXTERN(uint64_t)
#undef TARNWICK_DENSE_CODES_EXTERN

/// f(codes of a, codes of b) for a pair of 32- or 64-bit elements with at most 256
/// distinct values; nothing for byte elements and for pairs with more values.
template <class T, class F>
auto with_dense_codes(std::span<const T> a, std::span<const T> b, F&& f)
    -> std::optional<std::invoke_result_t<F, std::span<const uint8_t>, std::span<const uint8_t>>> {
    if constexpr (sizeof(T) > 1) {
        DenseCodes codes;
        if (codes.assign(a, b)) return f(codes.a(), codes.b());
    }
    return std::nullopt;
}

}  // namespace tarnwick::algorithms
