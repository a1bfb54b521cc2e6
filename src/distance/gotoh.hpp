// Python adapter of the Gotoh affine-gap functions: gotoh_distance, gotoh_similarity and
// their normalized forms. Unlike the metric functions they have no missing-value test,
// refuse inputs of different element widths and return floats throughout.
#pragma once

#include "types.hpp"

#include <cstdint>

namespace tarnwick::distance::gotoh {

/// Alignment cost and maximum of two sequences, in hundredths of a penalty unit.
struct Raw {
    uint64_t cost = 0;
    uint64_t maximum = 0;
};

/// A penalty scaled to hundredths: truncated toward zero, 0 for a negative product or
/// NaN, 2^64 - 1 for a product of 2^64 or more.
uint64_t scale_penalty(double penalty) noexcept;

/// Cost and maximum of `a` and `b` with gap opening `open` and extension `extend`;
/// ValueError "Mismatched sequence types" when their element widths differ.
Raw gotoh_raw(const types::Seq& a, const types::Seq& b, uint64_t open, uint64_t extend);

}  // namespace tarnwick::distance::gotoh
