// Optimal string alignment distance (restricted edit distance): insertions, deletions,
// substitutions and transpositions of two adjacent elements, each of cost 1, where no
// substring is edited more than once. Exists for 8-, 32- and 64-bit elements; both
// sequences of one call have the same width (callers widen first).
#pragma once

#include <cstdint>
#include <span>

namespace tarnwick::algorithms {

/// Exact OSA distance of `s1` and `s2` (no bound).
template <class T>
uint64_t osa_distance(std::span<const T> s1, std::span<const T> s2);

extern template uint64_t osa_distance<uint8_t>(std::span<const uint8_t>, std::span<const uint8_t>);
extern template uint64_t osa_distance<uint32_t>(std::span<const uint32_t>,
                                                std::span<const uint32_t>);
extern template uint64_t osa_distance<uint64_t>(std::span<const uint64_t>,
                                                std::span<const uint64_t>);

}  // namespace tarnwick::algorithms
