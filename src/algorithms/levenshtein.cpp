#include "algorithms/levenshtein.hpp"

#include "algorithms/common.hpp"
#include "algorithms/myers_step.hpp"
#include "algorithms/pattern_mask.hpp"

#include <algorithm>
#include <new>
#include <vector>

namespace tarnwick::algorithms {
namespace {

/// Unit-cost distance of a pattern of `m` (1..64) elements, masks given by `get(c)`,
/// against `text`.
template <class Text, class Get>
inline uint64_t uniform_one_word(std::size_t m, Text text, Get get) noexcept {
    uint64_t vp = ~uint64_t{0};
    uint64_t vn = 0;
    uint64_t score = m;
    const uint64_t top = uint64_t{1} << (m - 1);
    for (const auto c : text) {
        const uint64_t x = get(c);
        const uint64_t d0 = (((x & vp) + vp) ^ vp) | x | vn;
        const uint64_t hp = vn | ~(d0 | vp);
        const uint64_t hn = d0 & vp;
        score += (hp & top) != 0;
        score -= (hn & top) != 0;
        const uint64_t hps = (hp << 1) | 1;
        vn = hps & d0;
        vp = (hn << 1) | ~(hps | d0);
    }
    return score;
}

/// Unit-cost distance of a pattern of more than 64 elements against `text`, one block
/// of 64 pattern rows per word.
template <class T>
uint64_t uniform_blockwise(std::span<const T> pattern, std::span<const T> text) {
    const PatternMaskMulti<T> pm(pattern);
    const std::size_t blocks = pm.blocks();
    const std::size_t m = pattern.size();
    std::vector<uint64_t> vp(blocks, ~uint64_t{0});
    std::vector<uint64_t> vn(blocks, 0);
    vp[blocks - 1] = last_word_mask(m);
    const uint64_t top = uint64_t{1} << ((m - 1) % 64);
    const std::size_t last = blocks - 1;
    uint64_t score = m;
    uint64_t* VP = vp.data();
    uint64_t* VN = vn.data();
    for (const T c : text) {
        const uint64_t* x = pm.get(c);
        detail::MyersCarry carry;
        for (std::size_t w = 0; w < last; ++w) detail::myers_word_step(x[w], VP[w], VN[w], carry);
        const detail::MyersDeltas d = detail::myers_word_step(x[last], VP[last], VN[last], carry);
        score += (d.hp & top) != 0;
        score -= (d.hn & top) != 0;
    }
    return score;
}

/// Unit-cost distance of two sequences without common prefix or suffix handling: the
/// shorter one (the first on a tie) is the pattern.
template <class T>
uint64_t uniform_bitparallel(std::span<const T> a, std::span<const T> b) {
    if (a.empty()) return b.size();
    if (b.empty()) return a.size();
    if (b.size() < a.size()) std::swap(a, b);
    if (a.size() <= 64) {
        const PatternMask64<T> pm(a);
        return uniform_one_word(a.size(), b, [&pm](T c) noexcept { return pm.get(c); });
    }
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
    for (std::size_t i = 1; i <= a.size(); ++i) {
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
