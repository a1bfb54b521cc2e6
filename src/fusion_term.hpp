// The term a ranking contributes to a rank fusion (the search's fused rankings and the
// join's fused channels): 1 / (rrf_k + 1 + rank) for a rank counted from 0.
//
// Overflow rule: the denominator is formed in 64-bit unsigned arithmetic saturating at
// 2^64 - 1, then converted to double (which rounds 2^64 - 1 to 2^64). A wrapped sum would
// divide by a tiny number or by zero and give the worst ranks the largest terms; with
// saturation the terms never increase with the rank and never exceed 1 / (rrf_k + 1).
// Every denominator from 2^64 - 1 on gives the term 2^-64; an exact sum rounded once would
// differ from it only beyond 2^64 + 2^11, in the last bits of a term below 2^-64.
#pragma once

#include <cstdint>

namespace tarnwick {

inline double fusion_term(uint64_t rrf_k, uint64_t rank) noexcept {
    uint64_t denominator;
    if (__builtin_add_overflow(rrf_k, rank, &denominator) ||
        __builtin_add_overflow(denominator, uint64_t{1}, &denominator))
        denominator = UINT64_MAX;
    return 1.0 / static_cast<double>(denominator);
}

}  // namespace tarnwick
