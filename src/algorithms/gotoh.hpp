// Global alignment cost with affine gaps (Gotoh): a match costs 0, a mismatch 100, a gap
// of k consecutive inserted or deleted elements costs open + k * extend. Costs are in
// hundredths of a penalty unit; all arithmetic is unsigned 64-bit.
#pragma once

#include <cstdint>
#include <span>

namespace tarnwick::algorithms {

/// Cost of one mismatched pair.
inline constexpr uint64_t kGotohMismatch = 100;

/// Alignment cost of two sequences and the largest cost that the similarity is
/// measured against.
struct GotohResult {
    uint64_t cost = 0;     // cheapest global alignment
    uint64_t maximum = 0;  // max(cost, cheaper of "mismatch all, one gap" and "two gaps")
};

/// Cost of aligning `a` with `b` and its maximum. Time grows with len(a) * len(b),
/// memory with len(b) only.
template <class T>
GotohResult gotoh(std::span<const T> a, std::span<const T> b, uint64_t open, uint64_t extend);

#define TARNWICK_GOTOH_EXTERN(T) \
    extern template GotohResult gotoh<T>(std::span<const T>, std::span<const T>, uint64_t, uint64_t);
TARNWICK_GOTOH_EXTERN(uint8_t)
TARNWICK_GOTOH_EXTERN(uint32_t)
TARNWICK_GOTOH_EXTERN(uint64_t)
#undef TARNWICK_GOTOH_EXTERN

}  // namespace tarnwick::algorithms
