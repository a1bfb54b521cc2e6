// One step of the bit-parallel LCS algorithm (Hyyrö) over a pattern of several 64-bit
// words, shared by the LCS/Indel kernels and the Indel edit-operation trace.
//
// State S has a zero bit for each pattern position matched so far; reading one text
// element with match masks M updates every word: u = S & M; S = (S + u) | (S & ~M), the
// additions carried from lower words to higher ones.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnwick::algorithms::detail {

/// Advances the `blocks` words of `S` in place by one text element with masks `M`.
inline void lcs_words_step(uint64_t* __restrict S, const uint64_t* __restrict M,
                           std::size_t blocks) noexcept {
    uint64_t carry = 0;
    for (std::size_t w = 0; w < blocks; ++w) {
        const uint64_t s = S[w];
        const uint64_t m = M[w];
        // s + u + carry in 128 bits: the carry out is at most 1, as in two steps.
        const unsigned __int128 sum = static_cast<unsigned __int128>(s) + (s & m) + carry;
        carry = static_cast<uint64_t>(sum >> 64);
        S[w] = (s & ~m) | static_cast<uint64_t>(sum);
    }
}

}  // namespace tarnwick::algorithms::detail
