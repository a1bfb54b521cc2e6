// Unrestricted Damerau-Levenshtein distance (Lowrance and Wagner): insertions,
// deletions, substitutions and transpositions of adjacent elements, each of cost 1,
// where transposed elements may be separated by insertions and deletions. Exists for
// 8-, 32- and 64-bit elements; both sequences of one call have the same width.
#pragma once

#include <cstdint>
#include <span>

namespace tarnwick::algorithms {

/// Exact Damerau-Levenshtein distance of `s1` and `s2` (no bound). Keeps a matrix of
/// (len + 2) x (len + 2) cells over the inputs left after stripping their common prefix
/// and suffix; throws std::bad_alloc when that matrix cannot be sized or allocated.
template <class T>
uint64_t damerau_levenshtein_distance(std::span<const T> s1, std::span<const T> s2);

extern template uint64_t damerau_levenshtein_distance<uint8_t>(std::span<const uint8_t>,
                                                               std::span<const uint8_t>);
extern template uint64_t damerau_levenshtein_distance<uint32_t>(std::span<const uint32_t>,
                                                                std::span<const uint32_t>);
extern template uint64_t damerau_levenshtein_distance<uint64_t>(std::span<const uint64_t>,
                                                                std::span<const uint64_t>);

}  // namespace tarnwick::algorithms
