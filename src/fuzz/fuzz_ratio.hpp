// The simple and quick ratio on a 0 to 100 scale, and the normalized Indel similarity and
// cut-off rule every ratio scorer shares. The scorers are free of Python, so that batch
// code can call them from worker threads; the others are in fuzz_partial.hpp,
// fuzz_token.hpp and fuzz_wratio.hpp.
//
// Cut-off rule: a score below the cut-off is reported as 0.0; a score equal to it is kept.
// A NaN cut-off never counts as "less" in the final check; an Indel comparison given one
// prunes as with 100 (the token scorers therefore do not hand a NaN cut-off down).
#pragma once

#include "types.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>

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

/// The cut-off that prunes a comparison: a NaN cut-off counts as 100, and so does one
/// above 100.
inline double clamp_cutoff(double c) noexcept { return std::isnan(c) ? 100.0 : std::min(c, 100.0); }

/// The ratio of two sequences with `lensum` (> 0) elements together at Indel distance `d`:
/// 100 * (1 - d / lensum), evaluated in that order.
inline double ratio_from_distance(uint64_t d, uint64_t lensum) noexcept {
    return 100.0 * (1.0 - static_cast<double>(d) / static_cast<double>(lensum));
}

/// Largest Indel distance over `lensum` elements that may still reach the cut-off `c`
/// (0..100, already clamped): one above floor((1 - c/100) * lensum), so that rounding never
/// drops a score equal to the cut-off (the caller compares the final score with it).
uint64_t max_distance(double c, uint64_t lensum) noexcept;

/// max_distance(c, lensum) from the factor 1 - c/100 (evaluated in that order), which
/// callers bounding many comparisons under one cut-off compute once.
uint64_t max_distance_of_factor(double factor, uint64_t lensum) noexcept;

/// Final cut-off check of every scorer: 0.0 when `score` is below the cut-off.
inline double apply_cutoff(double score, std::optional<double> cutoff) noexcept {
    return (cutoff && score < *cutoff) ? 0.0 : score;
}

/// Simple ratio: 100 * normalized Indel similarity, cut-off applied.
double ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff);

/// Quick ratio: as ratio, but 0.0 when either sequence is empty.
double qratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff);

}  // namespace tarnwick::fuzz
