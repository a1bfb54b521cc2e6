// Levenshtein distance: unit costs by the bit-parallel algorithm of Myers in Hyyrö's
// formulation (one word for patterns of up to 64 elements, 64-bit blocks beyond), any
// other weight triple by the two-row dynamic program. Every kernel exists for 8-, 32-
// and 64-bit elements; both sequences of one call have the same width.
//
// Weighted arithmetic saturates: a cost that would pass 2^64 - 1 stays at 2^64 - 1, so
// huge weights give the largest value instead of a wrapped one.
#pragma once

#include <cstdint>
#include <span>

namespace tarnwick::algorithms {

/// Costs of one insertion (element of the second sequence), one deletion (element of
/// the first sequence) and one replacement.
struct LevenshteinWeights {
    uint64_t insert_cost = 1;   // cost of inserting one element of the second sequence
    uint64_t delete_cost = 1;   // cost of removing one element of the first sequence
    uint64_t replace_cost = 1;  // cost of replacing one element by another

    /// True for the unit triple (1, 1, 1), which runs the bit-parallel path.
    constexpr bool is_unit() const noexcept {
        return insert_cost == 1 && delete_cost == 1 && replace_cost == 1;
    }
};

/// a + b, or 2^64 - 1 when the sum does not fit.
constexpr uint64_t saturating_add(uint64_t a, uint64_t b) noexcept {
    const uint64_t s = a + b;
    return s < a ? ~uint64_t{0} : s;
}

/// a * b, or 2^64 - 1 when the product does not fit.
constexpr uint64_t saturating_mul(uint64_t a, uint64_t b) noexcept {
    uint64_t p;
    return __builtin_mul_overflow(a, b, &p) ? ~uint64_t{0} : p;
}

/// Largest weighted distance of sequences of lengths l1 and l2: the cheaper of deleting
/// all and inserting all, or replacing the overlap and deleting/inserting the rest.
constexpr uint64_t levenshtein_maximum(uint64_t l1, uint64_t l2,
                                       const LevenshteinWeights& w) noexcept {
    const uint64_t all = saturating_add(saturating_mul(l1, w.delete_cost),
                                        saturating_mul(l2, w.insert_cost));
    const uint64_t rep =
        l1 >= l2 ? saturating_add(saturating_mul(l2, w.replace_cost),
                                  saturating_mul(l1 - l2, w.delete_cost))
                 : saturating_add(saturating_mul(l1, w.replace_cost),
                                  saturating_mul(l2 - l1, w.insert_cost));
    return all < rep ? all : rep;
}

/// Bound of the first, narrow band the unit-cost kernels try on long inputs: an eighth
/// of the longer length, and at least the length difference plus 64.
constexpr uint64_t first_band_bound(uint64_t l1, uint64_t l2) noexcept {
    const uint64_t diff = l1 > l2 ? l1 - l2 : l2 - l1;
    const uint64_t longer = l1 > l2 ? l1 : l2;
    return longer / 8 > diff + 64 ? longer / 8 : diff + 64;
}

/// Weighted Levenshtein distance turning `a` into `b` (exact, no bound).
template <class T>
uint64_t levenshtein(std::span<const T> a, std::span<const T> b,
                     const LevenshteinWeights& weights = {});

/// Unit-cost Levenshtein distance of two byte sequences.
uint64_t levenshtein_uniform(std::span<const uint8_t> a, std::span<const uint8_t> b);

#define TARNWICK_LEVENSHTEIN_EXTERN(T)                                          \
    extern template uint64_t levenshtein<T>(std::span<const T>, std::span<const T>, \
                                            const LevenshteinWeights&);
TARNWICK_LEVENSHTEIN_EXTERN(uint8_t)
TARNWICK_LEVENSHTEIN_EXTERN(uint32_t)
TARNWICK_LEVENSHTEIN_EXTERN(uint64_t)
#undef TARNWICK_LEVENSHTEIN_EXTERN

}  // namespace tarnwick::algorithms
