// N-grams (runs of n consecutive elements) of sequences, counted with multiplicity.
//
// Counts are keyed by views into the sequence itself, so a count map costs a fixed
// amount per distinct n-gram whatever n is; the sequence must outlive its map.
#pragma once

#include <absl/container/flat_hash_map.h>
#include <absl/types/span.h>

#include <cstdint>
#include <span>

namespace tarnwick::algorithms {

/// Occurrences of each distinct n-gram of a sequence; two n-grams are the same key when
/// their elements are equal value by value.
template <class T>
using NgramCounts = absl::flat_hash_map<absl::Span<const T>, uint64_t>;

/// The n-gram count map of `s`: empty when n is 0 or longer than `s`.
template <class T>
NgramCounts<T> get_ngrams(std::span<const T> s, uint64_t n);

/// The shared n-gram count of `a` and `b`: the sum, over the n-grams present in both,
/// of the smaller of their two counts.
template <class T>
uint64_t ngram_intersection(std::span<const T> a, std::span<const T> b, uint64_t n);

#define TARNWICK_NGRAM_EXTERN(T)                                                          \
    extern template NgramCounts<T> get_ngrams<T>(std::span<const T>, uint64_t);          \
    extern template uint64_t ngram_intersection<T>(std::span<const T>, std::span<const T>, \
                                                   uint64_t);
TARNWICK_NGRAM_EXTERN(uint8_t)
TARNWICK_NGRAM_EXTERN(uint32_t)
TARNWICK_NGRAM_EXTERN(uint64_t)
#undef TARNWICK_NGRAM_EXTERN

}  // namespace tarnwick::algorithms
