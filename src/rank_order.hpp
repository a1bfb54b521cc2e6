// The ranking order of every ranked list of the library (the search rankings, the batch
// functions' results and the join's matches): a higher score first, NaN after every
// number, then the lower position (a document index, a position in reading order, a
// position in the list before ranking). Both zeros compare equal and two NaNs tie, so
// only the positions break those ties; with distinct positions the order is total, and
// any sort gives one fixed result whatever the split of the work.
//
// rank_key gives the same order as an unsigned integer of the score's own width, for the
// radix rankings (radix_rank.hpp).
#pragma once

#include <bit>
#include <cstdint>
#include <type_traits>

namespace tarnwick {

/// Whether the entry (a_score, a_pos) ranks before (b_score, b_pos).
inline bool ranks_before(double a_score, uint64_t a_pos, double b_score, uint64_t b_pos) noexcept {
    // Two numbers that differ decide by the first two comparisons (both false with a NaN).
    if (a_score > b_score) return true;
    if (a_score < b_score) return false;
    const bool an = a_score != a_score, bn = b_score != b_score;
    if (an != bn) return bn;
    return a_pos < b_pos;
}

/// The unsigned integer of a float type's width.
template <class F>
using RankKey = std::conditional_t<sizeof(F) == 4, uint32_t, uint64_t>;

/// A key of `s` (float or double) whose ascending order is the ranking order of the scores:
/// larger scores first, both zeros alike, every NaN after every number (largest key).
template <class F>
RankKey<F> rank_key(F s) noexcept {
    static_assert(std::is_same_v<F, float> || std::is_same_v<F, double>);
    using U = RankKey<F>;
    constexpr U kSign = U{1} << (8 * sizeof(U) - 1);
    if (s != s) return static_cast<U>(~U{0});
    if (s == F(0)) s = F(0);
    const U u = std::bit_cast<U>(s);
    // Ascending numeric order as unsigned integers, then reversed. No number reaches the
    // largest key: that would be the reversal of the all-ones pattern, a NaN.
    const U ascending = (u & kSign) ? static_cast<U>(~u) : static_cast<U>(u | kSign);
    return static_cast<U>(~ascending);
}

}  // namespace tarnwick
