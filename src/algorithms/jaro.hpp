// Jaro and Jaro-Winkler similarities in [0, 1]. Exist for 8-, 32- and 64-bit elements;
// both sequences of one call have the same width (callers widen first). The floating
// point operations run in a fixed order, so results are reproducible to the last bit.
#pragma once

#include <cstdint>
#include <span>

namespace tarnwick::algorithms {

/// Jaro similarity: ((m / l1 + m / l2) + (m - t) / m) / 3 for m matches within the
/// window floor(max(l1, l2) / 2) - 1 and t transpositions; 1.0 for two empty inputs.
template <class T>
double jaro(std::span<const T> s1, std::span<const T> s2);

/// Jaro-Winkler similarity: a Jaro similarity j >= 0.7 raised to
/// min(j + (1 - j) * (prefix_weight * L), 1.0), L the common prefix capped at 4; the
/// weight is used as given (a NaN sum gives 1.0).
template <class T>
double jaro_winkler(std::span<const T> s1, std::span<const T> s2, double prefix_weight);

#define TARNWICK_JARO_EXTERN(T)                                                         \
    extern template double jaro<T>(std::span<const T>, std::span<const T>);             \
    extern template double jaro_winkler<T>(std::span<const T>, std::span<const T>, double);
TARNWICK_JARO_EXTERN(uint8_t)
TARNWICK_JARO_EXTERN(uint32_t)
TARNWICK_JARO_EXTERN(uint64_t)
#undef TARNWICK_JARO_EXTERN

}  // namespace tarnwick::algorithms
