// Longest common subsequence and Indel distance (insertions and deletions only), by the
// bit-parallel LCS step of Hyyrö. Every kernel exists for 8-, 32- and 64-bit elements;
// both sequences of one call have the same width (callers widen first).
//
// Bounds: `bound` of the LCS kernels is a maximum Indel distance; when it cannot be met
// the kernel gives up early and answers 0. `max` of `indel_distance` is a maximum
// distance; beyond it the answer is kNoBound. Passing kNoBound means "no bound".
#pragma once

#include "algorithms/common.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarnwick::algorithms {

/// LCS length of `a` and `b`, or 0 after an early exit because the Indel distance
/// exceeds `bound`.
template <class T>
uint64_t lcs_length(std::span<const T> a, std::span<const T> b, uint64_t bound = kNoBound);

/// Indel distance len(a) + len(b) - 2 * LCS, or kNoBound when it exceeds `max`.
template <class T>
uint64_t indel_distance(std::span<const T> a, std::span<const T> b, uint64_t max = kNoBound);

/// Common prefix + common suffix + lcs_length(middles, bound): the LCS length when no
/// early exit happens.
template <class T>
uint64_t lcs_seq_similarity(std::span<const T> a, std::span<const T> b, uint64_t bound = kNoBound);

/// LCS length of a pattern of `m` (0..64) bytes, given by its 256-word mask table, and
/// `text`; 0 after an early exit (bound as in lcs_length). The caller keeps the table so
/// that batch callers build it once per query. A cancellation point inside long texts.
uint64_t lcs_from_pm64(const uint64_t* masks, std::size_t m, std::span<const uint8_t> text,
                       uint64_t bound = kNoBound);

#define TARNWICK_LCS_EXTERN(T)                                                              \
    extern template uint64_t lcs_length<T>(std::span<const T>, std::span<const T>, uint64_t);   \
    extern template uint64_t indel_distance<T>(std::span<const T>, std::span<const T>,         \
                                               uint64_t);                                      \
    extern template uint64_t lcs_seq_similarity<T>(std::span<const T>, std::span<const T>,     \
                                                   uint64_t);
TARNWICK_LCS_EXTERN(uint8_t)
TARNWICK_LCS_EXTERN(uint32_t)
TARNWICK_LCS_EXTERN(uint64_t)
#undef TARNWICK_LCS_EXTERN

}  // namespace tarnwick::algorithms
