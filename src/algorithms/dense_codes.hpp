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

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

namespace tarnwick::algorithms {

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
