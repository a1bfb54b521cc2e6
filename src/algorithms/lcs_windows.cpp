#include "algorithms/lcs_windows.hpp"

#include "algorithms/pattern_mask.hpp"
#include "cancel.hpp"
#include "cpu_dispatch.hpp"

#include <absl/container/flat_hash_map.h>

#include <algorithm>

namespace tarnwick::algorithms {
namespace {

/// Rows combed per pass over the columns. A pass runs along the anti-diagonals of its
/// band, whose cells are independent of each other; the band's row arrays and the stretch
/// of the column arrays that neighbouring diagonals read stay in the first-level cache.
constexpr std::size_t kBandRows = 512;

/// The elements as 32-bit symbols: a pattern symbol equals a text symbol exactly when
/// the elements are equal.
template <class T>
void to_symbols(std::span<const T> pattern, std::span<const T> text, std::vector<uint32_t>& ps,
                std::vector<uint32_t>& ts) {
    if constexpr (sizeof(T) <= sizeof(uint32_t)) {
        ps.assign(pattern.begin(), pattern.end());
        ts.assign(text.begin(), text.end());
    } else {
        // 64-bit elements are numbered in order of first occurrence in the pattern; a text
        // element that the pattern lacks gets a number no pattern element has.
        absl::flat_hash_map<uint64_t, uint32_t, ElementHash> ids;
        ps.resize(pattern.size());
        for (std::size_t i = 0; i < pattern.size(); ++i)
            ps[i] = ids.try_emplace(pattern[i], static_cast<uint32_t>(ids.size())).first->second;
        ts.resize(text.size());
        for (std::size_t j = 0; j < text.size(); ++j) {
            const auto it = ids.find(text[j]);
            ts[j] = it == ids.end() ? UINT32_MAX : it->second;
        }
    }
}

/// Combs `len` cells of one anti-diagonal: cell x has the row strand h[x] arriving from
/// the left, the column strand v[x] from above, and the elements a[x] and b[x].
inline void comb_cells(int32_t* __restrict h, const uint32_t* __restrict a,
                       int32_t* __restrict v, const uint32_t* __restrict b,
                       std::size_t len) noexcept {
    for (std::size_t x = 0; x < len; ++x) {
        const int32_t hx = h[x];
        const int32_t vx = v[x];
        const bool cross = (a[x] != b[x]) & (hx < vx);
        h[x] = cross ? hx : vx;
        v[x] = cross ? vx : hx;
    }
}

/// Combs the anti-diagonals [d_begin, d_end) of a band of `rows` rows. The column arrays
/// are stored from the last column to the first, so that along an anti-diagonal (rows
/// down, columns left) both sides are read at increasing addresses. Compiled for the
/// baseline and, on x86-64, also with AVX2 (chosen at load time); both make the same
/// moves. It must not throw: an exception does not pass through the clones' dispatch.
TARNWICK_AVX2_CLONES
void comb_diagonals(int32_t* h, const uint32_t* a, std::size_t rows, int32_t* v_rev,
                    const uint32_t* b_rev, std::size_t cols, std::size_t d_begin,
                    std::size_t d_end) noexcept {
    for (std::size_t d = d_begin; d < d_end; ++d) {
        // Cells (i, d - i) with 0 <= i < rows and 0 <= d - i < cols; column j sits at
        // cols - 1 - j in the reversed arrays.
        const std::size_t first = d >= cols ? d - cols + 1 : 0;
        const std::size_t last = std::min(rows - 1, d);
        const std::size_t k = cols - 1 + first - d;
        comb_cells(h + first, a + first, v_rev + k, b_rev + k, last - first + 1);
    }
}

/// Combs the rows of one band across all columns, with a cancellation point every few
/// microseconds.
void comb_band(int32_t* h, const uint32_t* a, std::size_t rows, int32_t* v_rev,
               const uint32_t* b_rev, std::size_t cols) {
    constexpr std::size_t kStep = 64;  // diagonals between cancellation points
    const std::size_t diagonals = rows + cols - 1;
    for (std::size_t d = 0; d < diagonals; d += kStep) {
        cancel::cancellation_point();
        comb_diagonals(h, a, rows, v_rev, b_rev, cols, d, std::min(d + kStep, diagonals));
    }
}

}  // namespace

template <class T>
void lcs_of_windows(std::span<const T> pattern, std::span<const T> text, std::size_t width,
                    std::vector<uint32_t>& out) {
    const std::size_t rows = pattern.size();
    const std::size_t cols = text.size();
    std::vector<uint32_t> a, b;
    to_symbols(pattern, text, a, b);
    std::reverse(b.begin(), b.end());

    // Strand numbers: row i's left strand -1 - i, column j's top strand j.
    std::vector<int32_t> v_rev(cols);
    for (std::size_t k = 0; k < cols; ++k) v_rev[k] = static_cast<int32_t>(cols - 1 - k);
    std::vector<int32_t> h(std::min(rows, kBandRows));
    for (std::size_t r0 = 0; r0 < rows; r0 += kBandRows) {
        const std::size_t band = std::min(kBandRows, rows - r0);
        for (std::size_t i = 0; i < band; ++i) h[i] = -1 - static_cast<int32_t>(r0 + i);
        comb_band(h.data(), a.data() + r0, band, v_rev.data(), b.data(), cols);
    }

    // bottom[j]: the strand leaving the bottom at column j; exit_col[t]: the bottom column
    // where column t's top strand leaves, -1 when it leaves at the right.
    std::vector<int32_t> bottom(v_rev.rbegin(), v_rev.rend());
    std::vector<int32_t>().swap(v_rev);
    std::vector<int32_t> exit_col(cols, -1);
    for (std::size_t j = 0; j < cols; ++j)
        if (bottom[j] >= 0) exit_col[static_cast<std::size_t>(bottom[j])] = static_cast<int32_t>(j);

    // unmatched: the strands entering the top inside the window and leaving the bottom
    // inside it.
    const std::size_t count = cols - width + 1;
    out.resize(count);
    std::size_t unmatched = 0;
    for (std::size_t j = 0; j < width; ++j) unmatched += bottom[j] >= 0;
    out[0] = static_cast<uint32_t>(width - unmatched);
    for (std::size_t s = 1; s < count; ++s) {
        const int32_t left = exit_col[s - 1];
        unmatched -= left >= 0 && static_cast<std::size_t>(left) < s - 1 + width;
        unmatched += bottom[s - 1 + width] >= static_cast<int32_t>(s);
        out[s] = static_cast<uint32_t>(width - unmatched);
    }
}

template void lcs_of_windows<uint8_t>(std::span<const uint8_t>, std::span<const uint8_t>,
                                      std::size_t, std::vector<uint32_t>&);
template void lcs_of_windows<uint32_t>(std::span<const uint32_t>, std::span<const uint32_t>,
                                       std::size_t, std::vector<uint32_t>&);
template void lcs_of_windows<uint64_t>(std::span<const uint64_t>, std::span<const uint64_t>,
                                       std::size_t, std::vector<uint32_t>&);

}  // namespace tarnwick::algorithms
