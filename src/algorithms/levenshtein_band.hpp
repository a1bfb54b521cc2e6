// Unit-cost Levenshtein columns restricted to a diagonal band, shared by the distance
// kernel and the Levenshtein trace.
//
// Rows are pattern positions 1..rows, columns text positions 1..cols, delta = rows - cols.
// The band of bound k holds the cells (i, j) with |i - j| + |delta - (i - j)| <= k: the
// only cells a path of cost at most k can pass. Each column computes the 64-row blocks
// that cover its band. Rows above the first block are taken to grow by one per column,
// and a block entering at the bottom starts one larger per row than the row above it;
// neither ever undercuts a true value, so every computed cell is at least its true value
// and exact whenever one of its optimal paths stays inside the band. In particular the
// last cell is exact when the distance is at most k, and is an upper bound otherwise.
#pragma once

#include "algorithms/common.hpp"
#include "algorithms/myers_step.hpp"
#include "algorithms/pattern_mask.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnwick::algorithms::detail {

/// Block range of every column of the band of bound `k`.
struct Band {
    int64_t rows = 0;    // pattern length
    int64_t lo_off = 0;  // first band row of column j is j + lo_off
    int64_t hi_off = 0;  // last band row of column j is j + hi_off

    Band(std::size_t rows_, std::size_t cols_, uint64_t k) : rows(static_cast<int64_t>(rows_)) {
        const int64_t delta = rows - static_cast<int64_t>(cols_);
        const int64_t adelta = delta < 0 ? -delta : delta;
        const int64_t kk = k > static_cast<uint64_t>(INT64_MAX / 4) ? INT64_MAX / 4 : static_cast<int64_t>(k);
        const int64_t half = kk >= adelta ? (kk - adelta) / 2 : 0;
        lo_off = std::min<int64_t>(0, delta) - half;
        hi_off = std::max<int64_t>(0, delta) + half;
    }
    /// First block of column j (1-based).
    std::size_t first(std::size_t j) const noexcept {
        const int64_t lo = std::max<int64_t>(1, static_cast<int64_t>(j) + lo_off);
        return static_cast<std::size_t>((std::min(lo, rows) - 1) / 64);
    }
    /// Last block of column j (1-based).
    std::size_t last(std::size_t j) const noexcept {
        const int64_t hi = std::min<int64_t>(rows, static_cast<int64_t>(j) + hi_off);
        return static_cast<std::size_t>((std::max<int64_t>(hi, 1) - 1) / 64);
    }
};

/// Runs the band of bound `k` over `text` with the masks `pm` of a pattern of `rows`
/// (> 0) elements. After each column j, `on_column(j, first, last, VP, VN)` sees the
/// state words (indexed by block). Returns the computed last cell (exact when the
/// distance is at most k, an upper bound otherwise), or kNoBound when `may_abort` and
/// the band shows that the distance exceeds k. A cancelled call throws cancel::Cancelled.
template <class T, class OnColumn>
uint64_t band_columns(const PatternMaskMulti<T>& pm, std::size_t rows, std::span<const T> text,
                      uint64_t k, bool may_abort, OnColumn&& on_column) {
    const std::size_t blocks = pm.blocks();
    const Band band(rows, text.size(), k);
    const int64_t delta = static_cast<int64_t>(rows) - static_cast<int64_t>(text.size());
    std::vector<uint64_t> vp(blocks, ~uint64_t{0});
    std::vector<uint64_t> vn(blocks, 0);
    vp[blocks - 1] = last_word_mask(rows);
    uint64_t* VP = vp.data();
    uint64_t* VN = vn.data();
    auto block_rows = [&](std::size_t b) noexcept {
        return static_cast<uint64_t>(std::min<std::size_t>(64, rows - 64 * b));
    };
    // score: the computed value of the bottom row of block `cur_last` in the current column.
    std::size_t cur_last = band.last(1);
    uint64_t score = std::min<uint64_t>(64 * (cur_last + 1), rows);
    cancel::Budget budget;  // one unit per word step, spent every 32 columns
    for (std::size_t j = 1; j <= text.size(); ++j) {
        const std::size_t first = band.first(j);
        const std::size_t last = band.last(j);
        while (cur_last < last) score += block_rows(++cur_last);
        const uint64_t* x = pm.get(text[j - 1]);
        MyersCarry carry;
        for (std::size_t w = first; w < last; ++w) myers_word_step(x[w], VP[w], VN[w], carry);
        const MyersDeltas d = myers_word_step(x[last], VP[last], VN[last], carry);
        const uint64_t top = uint64_t{1} << (block_rows(last) - 1);
        score += (d.hp & top) != 0;
        score -= (d.hn & top) != 0;
        on_column(j, first, last, VP, VN);
        if ((j % 32) == 0) budget.spend(32 * (last - first + 1));
        if (may_abort && (j % 32) == 0) {
            // Lower bound of value + distance to the last cell over every computed row.
            uint64_t v = score;
            bool hopeless = true;
            for (std::size_t b = last + 1; b-- > first;) {
                const uint64_t mask = b == blocks - 1 ? last_word_mask(rows) : ~uint64_t{0};
                const uint64_t pvp = static_cast<uint64_t>(std::popcount(VP[b] & mask));
                const uint64_t pvn = static_cast<uint64_t>(std::popcount(VN[b] & mask));
                const int64_t r_lo = static_cast<int64_t>(64 * b + 1);
                const int64_t r_hi = r_lo + static_cast<int64_t>(block_rows(b)) - 1;
                const int64_t d_lo = r_lo - static_cast<int64_t>(j), d_hi = r_hi - static_cast<int64_t>(j);
                const int64_t gap = delta < d_lo ? d_lo - delta : (delta > d_hi ? delta - d_hi : 0);
                const int64_t low = static_cast<int64_t>(v) - static_cast<int64_t>(pvp) + gap;
                if (low <= static_cast<int64_t>(k)) {
                    hopeless = false;
                    break;
                }
                v = v - pvp + pvn;
            }
            if (hopeless) return kNoBound;
        }
    }
    return score;
}

}  // namespace tarnwick::algorithms::detail
