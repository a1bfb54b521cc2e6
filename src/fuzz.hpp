// Fuzzy ratio scorers on a 0 to 100 scale, free of Python so that batch code can call
// them from worker threads.
//
// Cut-off rule: a score below the cut-off is reported as 0.0; a score equal to it is kept.
// A NaN cut-off acts as 100 for pruning and never counts as "less" in the final check.
#pragma once

#include "types.hpp"

#include <optional>

namespace tarnwick::fuzz {

/// Normalized Indel similarity (0 to 1) of two sequences of any widths; 1.0 when both
/// are empty. With a cut-off (0 to 100 scale), 0.0 when 100 * similarity is below
/// min(cutoff, 100) (a NaN cut-off counts as 100).
double indel_normalized_sim(const types::Seq& a, const types::Seq& b,
                            std::optional<double> cutoff);

/// Same, over two element spans of one width.
template <class T>
double indel_normalized_sim(std::span<const T> a, std::span<const T> b,
                            std::optional<double> cutoff);

/// Final cut-off check of every scorer: 0.0 when `score` is below the cut-off.
inline double apply_cutoff(double score, std::optional<double> cutoff) noexcept {
    return (cutoff && score < *cutoff) ? 0.0 : score;
}

/// Simple ratio: 100 * normalized Indel similarity, cut-off applied.
double ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff);

/// Quick ratio: as ratio, but 0.0 when either sequence is empty.
double qratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff);

}  // namespace tarnwick::fuzz
