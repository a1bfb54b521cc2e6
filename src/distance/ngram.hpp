// Python adapter of the n-gram similarities sorensen_dice and jaccard. Like the Gotoh
// functions they have no missing-value test and refuse inputs of different element
// widths.
#pragma once

#include "types.hpp"

#include <cstdint>

namespace tarnwick::distance::ngram {

/// Which similarity of the shared n-gram count.
enum class Measure { SorensenDice, Jaccard };

/// The similarity of two sequences of one width by their n-grams (before any cutoff):
/// 1.0 when both are empty, 0.0 when either is shorter than n. ValueError "Mismatched
/// sequence types" when their element widths differ.
double similarity(Measure measure, const types::Seq& a, const types::Seq& b, uint64_t n);

}  // namespace tarnwick::distance::ngram
