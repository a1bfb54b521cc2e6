// One step of Myers' bit-vector algorithm (Hyyrö's formulation) on one 64-bit word,
// shared by the Levenshtein distance kernel, the Levenshtein edit-operation trace and the
// BK-tree; and the whole one-word distance built on it.
//
// Bit i of VP (VN) says that the cell of pattern row i+1 is one more (one less) than the
// cell above it in the current column. Reading one text element with match mask X turns
// the column into the next one; HP and HN are the horizontal deltas of that step.
#pragma once

#include "algorithms/common.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>

namespace tarnwick::algorithms::detail {

/// Carries passed from one word of a column to the next (towards higher rows).
struct MyersCarry {
    uint64_t add = 0;  // carry out of the addition (X & VP) + VP
    uint64_t hp = 1;   // horizontal +1 delta of the row just above the word (1: top row)
    uint64_t hn = 0;   // horizontal -1 delta of the row just above the word
};

/// Horizontal deltas of one word step.
struct MyersDeltas {
    uint64_t hp;  // rows whose cell grew by one
    uint64_t hn;  // rows whose cell shrank by one
};

/// Advances the word (vp, vn) by one text element with match mask `x`; `carry` comes
/// from the word above and is updated for the word below.
inline MyersDeltas myers_word_step(uint64_t x, uint64_t& vp, uint64_t& vn,
                                   MyersCarry& carry) noexcept {
    const uint64_t xv = x & vp;
    uint64_t sum;
    const uint64_t c1 = __builtin_add_overflow(xv, carry.add, &sum);
    const uint64_t c2 = __builtin_add_overflow(sum, vp, &sum);
    carry.add = c1 | c2;
    const uint64_t d0 = (sum ^ vp) | x | vn;
    const uint64_t hp = vn | ~(d0 | vp);
    const uint64_t hn = d0 & vp;
    const uint64_t hps = (hp << 1) | carry.hp;
    const uint64_t hns = (hn << 1) | carry.hn;
    carry.hp = hp >> 63;
    carry.hn = hn >> 63;
    vn = hps & d0;
    vp = hns | ~(hps | d0);
    return {hp, hn};
}

/// Unit-cost distance of a pattern of `m` (1..64) elements, masks given by `get(c)`,
/// against `text`. The distance is read off the last column rather than tracked through
/// the bottom row: the top cell of column n is n, and each row below adds its vertical
/// delta, so the bottom cell is n + |VP| - |VN| over the pattern's rows.
///
/// The step is myers_word_step's on one word, written with complements: ~hp is
/// ~vn & (d0 | vp), so ~hps, the complement of (hp << 1) | 1, is ((d0 | vp) << 1) & nvs
/// with nvs = ~vn << 1 (the bit shifted in, 1 in hps, is 0 in its complement). Then vn,
/// hps & d0, is d0 & ~(up & nvs) with up = (d0 | vp) << 1, and vp, (hn << 1) |
/// ~(hps | d0), is (hn << 1) | (up & (nvs & ~d0)): eight dependent instructions from vp
/// to vp instead of eleven, since nvs comes from the previous vn and nvs & ~d0 is ready
/// beside the shift.
///
/// The text is read in chunks with a cancellation point between them (CancelChunks): a
/// cancelled call throws cancel::Cancelled.
template <class Text, class Get>
inline uint64_t uniform_one_word(std::size_t m, Text text, Get get) {
    uint64_t vp = ~uint64_t{0};
    uint64_t vn = 0;
    for (CancelChunks chunk(text.size()); chunk.next();) {
        for (std::size_t j = chunk.begin(), end = chunk.end(); j < end; ++j) {
            const uint64_t x = get(text[j]);
            const uint64_t nvs = ~vn << 1;
            const uint64_t d0 = (((x & vp) + vp) ^ vp) | x | vn;
            const uint64_t up = (d0 | vp) << 1;
            uint64_t rest = nvs & ~d0;
#if defined(__GNUC__)
            asm("" : "+r"(rest));  // kept whole: regrouped, its AND would follow the shift
#endif
            vn = d0 & ~(up & nvs);
            vp = ((d0 & vp) << 1) | (up & rest);
        }
    }
    const uint64_t live = ~uint64_t{0} >> (64 - m);
    return static_cast<uint64_t>(text.size()) + static_cast<uint64_t>(std::popcount(vp & live)) -
           static_cast<uint64_t>(std::popcount(vn & live));
}

}  // namespace tarnwick::algorithms::detail
