// The bit-parallel LCS step of Hyyrö, for a pattern of one 64-bit word and of several:
// the one copy that the LCS and Indel kernels, the Indel trace, the partial ratio's window
// search, the batch ratio and the token scorers all run.
//
// The state S has one bit per pattern position; a clear bit is a position matched so far,
// and the number of clear bits (within the pattern) is the LCS of the pattern with the text
// read so far. Reading one text element whose match mask is M (bit i set when pattern[i]
// equals the element):
//
//     u = S & M;  S = (S + u) | (S - u)
//
// u holds the matching positions that are still set. In the addition each bit of u carries
// up through the set bits above it to the first clear bit, so in each run of set bits the
// lowest matching position clears and the clear bit that ends the run (a match) sets: the
// match moves down to the earliest position that pairs with this element. A run that
// reaches the top of the pattern has no clear bit to end it; its carry leaves the pattern
// and the cleared position is a new match. OR-ing S - u sets back every position the
// carries cleared that did not match: S - u is S & ~M, since the bits of u are a subset of
// those of S and so the subtraction never borrows. The subtraction is used because it takes
// one instruction where S & ~M takes two on processors without an and-not instruction (the
// x86-64-v2 baseline has none); both give the same bits.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace tarnwick::algorithms {

/// The state of an LCS before any text element: nothing matched.
inline constexpr uint64_t kLcsStart = ~uint64_t{0};

/// The state after reading one text element with match mask `M`.
inline uint64_t lcs_word_step(uint64_t S, uint64_t M) noexcept {
    const uint64_t u = S & M;
    return (S + u) | (S - u);
}

/// The LCS length a one-word state stands for; `live` masks the pattern's positions.
inline uint64_t lcs_word_count(uint64_t S, uint64_t live) noexcept {
    return static_cast<uint64_t>(std::popcount(~S & live));
}

/// Advances the `blocks` words of `S` (lowest positions first) in place by one text
/// element with match masks `M`, carrying the additions from each word into the next.
/// With `Count`, returns the number of clear bits of the new state, within the pattern or
/// not (see lcs_words_count); else 0.
template <bool Count = false>
inline uint64_t lcs_words_step(uint64_t* __restrict S, const uint64_t* __restrict M,
                               std::size_t blocks) noexcept {
    uint64_t carry = 0;
    uint64_t clear = 0;
    for (std::size_t w = 0; w < blocks; ++w) {
        const uint64_t s = S[w];
        const uint64_t u = s & M[w];
        // s + u + carry in 128 bits: the carry out is at most 1.
        const unsigned __int128 sum = static_cast<unsigned __int128>(s) + u + carry;
        carry = static_cast<uint64_t>(sum >> 64);
        const uint64_t next = static_cast<uint64_t>(sum) | (s - u);
        S[w] = next;
        if constexpr (Count) clear += static_cast<uint64_t>(std::popcount(~next));
    }
    return clear;
}

/// The LCS length a state of `blocks` words stands for; `live` masks the pattern's
/// positions in the last word.
inline uint64_t lcs_words_count(const uint64_t* S, std::size_t blocks, uint64_t live) noexcept {
    uint64_t clear = 0;
    for (std::size_t w = 0; w + 1 < blocks; ++w) clear += static_cast<uint64_t>(std::popcount(~S[w]));
    return clear + lcs_word_count(S[blocks - 1], live);
}

/// The LCS length from the clear-bit count that lcs_words_step<true> returned: the clear
/// bits of the last word beyond the pattern (`live` masks the pattern's) are not matches.
inline uint64_t lcs_words_count(uint64_t clear, uint64_t last_word, uint64_t live) noexcept {
    return clear - static_cast<uint64_t>(std::popcount(~last_word & ~live));
}

}  // namespace tarnwick::algorithms
