#include "algorithms/levenshtein.hpp"

#include "algorithms/common.hpp"
#include "algorithms/dense_codes.hpp"
#include "algorithms/levenshtein_band.hpp"
#include "algorithms/myers_step.hpp"
#include "algorithms/pattern_mask.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <vector>

namespace tarnwick::algorithms {
namespace {

/// Unit-cost distance over every block of every column, read off the last column (its top
/// cell is the text's length, and each row below adds its vertical delta).
template <class T>
uint64_t uniform_blockwise_full(const PatternMaskMulti<T>& pm, std::size_t m,
                                std::span<const T> text) {
    const std::size_t blocks = pm.blocks();
    std::vector<uint64_t> vp(blocks, ~uint64_t{0});
    std::vector<uint64_t> vn(blocks, 0);
    vp[blocks - 1] = last_word_mask(m);
    uint64_t* VP = vp.data();
    uint64_t* VN = vn.data();
    // Chunks of text between cancellation points (one unit per word step).
    for (CancelChunks chunk(text.size(), blocks); chunk.next();) {
        for (std::size_t j = chunk.begin(), end = chunk.end(); j < end; ++j) {
            const uint64_t* x = pm.get(text[j]);
            detail::MyersCarry carry;
            for (std::size_t w = 0; w < blocks; ++w) detail::myers_word_step(x[w], VP[w], VN[w], carry);
        }
    }
    const uint64_t live = last_word_mask(m);
    uint64_t score = text.size();
    for (std::size_t w = 0; w < blocks; ++w) {
        const uint64_t keep = w + 1 == blocks ? live : ~uint64_t{0};
        score += static_cast<uint64_t>(std::popcount(VP[w] & keep));
        score -= static_cast<uint64_t>(std::popcount(VN[w] & keep));
    }
    return score;
}

/// Whether the band of bound `k` is narrow enough to beat computing every block.
inline bool band_pays(std::size_t rows, std::size_t cols, uint64_t k, std::size_t blocks) noexcept {
    const detail::Band band(rows, cols, k);
    const uint64_t width = static_cast<uint64_t>(band.hi_off - band.lo_off) / 64 + 2;
    return 2 * width < blocks;
}

/// Unit-cost distance of a pattern of more than 64 elements against `text` (at least as
/// long). A narrow band is tried first: it is exact when the distance fits it, gives an
/// upper bound (and so a band that surely fits) when it does not, and gives up early on
/// pairs that are plainly far apart, which then take the full table.
template <class T>
uint64_t uniform_blockwise(std::span<const T> pattern, std::span<const T> text) {
    const PatternMaskMulti<T> pm(pattern);
    const std::size_t m = pattern.size();
    const std::size_t n = text.size();
    const uint64_t k0 = first_band_bound(m, n);
    if (band_pays(m, n, k0, pm.blocks())) {
        auto none = [](std::size_t, std::size_t, std::size_t, const uint64_t*, const uint64_t*) {};
        const uint64_t r = detail::band_columns(pm, m, text, k0, true, none);
        if (r <= k0) return r;
        if (r != kNoBound && band_pays(m, n, r, pm.blocks()))
            return detail::band_columns(pm, m, text, r, false, none);
    }
    return uniform_blockwise_full(pm, m, text);
}

/// Unit-cost distance of two sequences without common prefix or suffix handling: the
/// shorter one (the first on a tie) is the pattern.
template <class T>
uint64_t uniform_bitparallel(std::span<const T> a, std::span<const T> b) {
    if (a.empty()) return b.size();
    if (b.empty()) return a.size();
    if (b.size() < a.size()) std::swap(a, b);
    // Short patterns (words): a few vector compares per text element give the match mask,
    // so no table has to be built or cleared.
    if (a.size() <= ShortMask<T>::kMax) {
        const ShortMask<T> pm(a);
        return detail::uniform_one_word(a.size(), b, [&pm](T c) noexcept { return pm.get(c); });
    }
    if (a.size() <= 64)
        return with_masks64(a, [&](auto get) { return detail::uniform_one_word(a.size(), b, get); });
    // Longer patterns of wide elements: their byte codes take the dense tables.
    const auto coded = [](auto x, auto y) { return uniform_bitparallel(x, y); };
    if (const auto d = with_dense_codes(a, b, coded)) return *d;
    return uniform_blockwise(a, b);
}

/// Weighted distance by the two-row dynamic program, saturating at 2^64 - 1.
template <class T>
uint64_t weighted(std::span<const T> a, std::span<const T> b, const LevenshteinWeights& w) {
    // A common prefix or suffix never costs anything under non-negative weights, so
    // only the middles need the table.
    const Affix<T> ax = strip_affix(a, b);
    a = ax.a;
    b = ax.b;
    if (a.empty()) return saturating_mul(w.insert_cost, b.size());
    if (b.empty()) return saturating_mul(w.delete_cost, a.size());
    if (b.size() >= std::vector<uint64_t>().max_size()) throw std::bad_alloc();
    std::vector<uint64_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = saturating_mul(j, w.insert_cost);
    // One row updated in place: `diag` keeps the previous row's value at j - 1.
    // Chunks of rows between cancellation points (one unit per cell).
    for (CancelChunks chunk(a.size(), b.size()); chunk.next();) {
        for (std::size_t i = chunk.begin() + 1, last = chunk.end(); i <= last; ++i) {
            uint64_t diag = row[0];
            row[0] = saturating_mul(i, w.delete_cost);
            const T ca = a[i - 1];
            for (std::size_t j = 1; j <= b.size(); ++j) {
                const uint64_t up = row[j];
                const uint64_t sub = ca == b[j - 1] ? diag : saturating_add(diag, w.replace_cost);
                const uint64_t del = saturating_add(up, w.delete_cost);
                const uint64_t ins = saturating_add(row[j - 1], w.insert_cost);
                row[j] = std::min(sub, std::min(del, ins));
                diag = up;
            }
        }
    }
    return row[b.size()];
}

/// Unit-cost distance with the common prefix and suffix stripped first.
template <class T>
uint64_t uniform(std::span<const T> a, std::span<const T> b) {
    const Affix<T> ax = strip_affix(a, b);
    if (ax.prefix == a.size()) return b.size() - ax.prefix;
    return uniform_bitparallel(ax.a, ax.b);
}

}  // namespace

uint64_t levenshtein_uniform(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    return uniform(a, b);
}

template <class T>
uint64_t levenshtein(std::span<const T> a, std::span<const T> b,
                     const LevenshteinWeights& weights) {
    if (weights.is_unit()) return uniform(a, b);
    return weighted(a, b, weights);
}

#define TARNWICK_LEVENSHTEIN_INSTANTIATE(T)                                \
    template uint64_t levenshtein<T>(std::span<const T>, std::span<const T>, \
                                     const LevenshteinWeights&);
TARNWICK_LEVENSHTEIN_INSTANTIATE(uint8_t)
TARNWICK_LEVENSHTEIN_INSTANTIATE(uint32_t)
TARNWICK_LEVENSHTEIN_INSTANTIATE(uint64_t)

}  // namespace tarnwick::algorithms
