// Jaro similarity.
//
// Matching: for each element s1[i] in order, the first position k of s2 inside the window
// [max(0, i - w), min(l2, i + w + 1)) that is not matched yet and holds the same value is
// taken. Short inputs scan the window directly; longer ones find that position with bit
// masks: the positions of s2 holding the value (pattern masks of s2), minus the matched
// positions, cut to the window, lowest set bit. Both give the same matches.
//
// Transpositions: the i-th matched position of s1 is paired with the i-th matched
// position of s2; every unequal pair is half a transposition.
#include "algorithms/jaro.hpp"

#include "algorithms/dense_codes.hpp"
#include "algorithms/pattern_mask.hpp"
#include "cancel.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <vector>

namespace tarnwick::algorithms {
namespace {

/// Inputs whose longer length is at most this are matched by the direct window scan.
constexpr std::size_t kDirectScanMax = 24;

/// The Jaro value of `m` (> 0) matches and `half` half-transpositions, in the fixed order
/// of operations.
inline double jaro_value(std::size_t l1, std::size_t l2, uint64_t m, uint64_t half) noexcept {
    const uint64_t t = half / 2;
    const double md = static_cast<double>(m);
    return ((md / static_cast<double>(l1) + md / static_cast<double>(l2)) +
            static_cast<double>(m - t) / md) /
           3.0;
}

/// Half-transpositions: pairs the set bits of `f1` (positions of s1) in order with those
/// of `f2` (positions of s2), which hold the same number of bits, and counts the pairs
/// whose elements differ.
template <class T>
uint64_t half_transpositions(std::span<const T> s1, std::span<const T> s2, const uint64_t* f1,
                             std::size_t words1, const uint64_t* f2) noexcept {
    uint64_t half = 0;
    std::size_t w2 = 0;
    uint64_t bits2 = f2[0];
    for (std::size_t w1 = 0; w1 < words1; ++w1) {
        uint64_t bits1 = f1[w1];
        while (bits1 != 0) {
            const std::size_t i = w1 * 64 + static_cast<std::size_t>(std::countr_zero(bits1));
            bits1 &= bits1 - 1;
            while (bits2 == 0) bits2 = f2[++w2];
            const std::size_t k = w2 * 64 + static_cast<std::size_t>(std::countr_zero(bits2));
            bits2 &= bits2 - 1;
            half += s1[i] != s2[k];
        }
    }
    return half;
}

/// Window start and end (exclusive) in s2 for position `i` of s1.
struct Window {
    std::size_t lo;
    std::size_t hi;
};

inline Window window_of(std::size_t i, std::size_t w, std::size_t l2) noexcept {
    return {i > w ? i - w : 0, std::min(l2, i + w + 1)};
}

/// Both inputs of at most kDirectScanMax elements: direct scan, flags in two words.
template <class T>
double jaro_direct(std::span<const T> s1, std::span<const T> s2, std::size_t w) noexcept {
    const std::size_t l1 = s1.size();
    const std::size_t l2 = s2.size();
    uint64_t f1 = 0;
    uint64_t f2 = 0;
    uint64_t m = 0;
    for (std::size_t i = 0; i < l1; ++i) {
        const Window win = window_of(i, w, l2);
        const T c = s1[i];
        for (std::size_t k = win.lo; k < win.hi; ++k) {
            if (((f2 >> k) & 1) == 0 && s2[k] == c) {
                f1 |= uint64_t{1} << i;
                f2 |= uint64_t{1} << k;
                ++m;
                break;
            }
        }
    }
    if (m == 0) return 0.0;
    return jaro_value(l1, l2, m, half_transpositions(s1, s2, &f1, 1, &f2));
}

/// s2 of at most 64 elements: one mask word per value of s2.
template <class T>
double jaro_one_word(std::span<const T> s1, std::span<const T> s2, std::size_t w,
                     uint64_t* f1) {
    const std::size_t l1 = s1.size();
    const std::size_t l2 = s2.size();
    uint64_t f2 = 0;
    uint64_t m = 0;
    with_masks64(s2, [&](auto get) {
        for (std::size_t i = 0; i < l1; ++i) {
            const Window win = window_of(i, w, l2);
            if (win.lo >= win.hi) break;  // windows only move right
            const uint64_t hi_mask = win.hi == 64 ? ~uint64_t{0} : (uint64_t{1} << win.hi) - 1;
            const uint64_t cand = get(s1[i]) & ~f2 & hi_mask & (~uint64_t{0} << win.lo);
            if (cand != 0) {
                f2 |= cand & (~cand + 1);
                f1[i / 64] |= uint64_t{1} << (i % 64);
                ++m;
            }
        }
    });
    if (m == 0) return 0.0;
    return jaro_value(l1, l2, m, half_transpositions(s1, s2, f1, blocks_for(l1), &f2));
}

/// s2 of 65 elements or more: `blocks` mask words per value of s2.
template <class T>
double jaro_multi_word(std::span<const T> s1, std::span<const T> s2, std::size_t w,
                       uint64_t* f1) {
    const std::size_t l1 = s1.size();
    const std::size_t l2 = s2.size();
    const PatternMaskMulti<T> pm(s2);
    std::vector<uint64_t> f2(pm.blocks(), 0);
    uint64_t m = 0;
    cancel::Budget budget;  // one unit per word of the window: the loop is quadratic
    for (std::size_t i = 0; i < l1; ++i) {
        const Window win = window_of(i, w, l2);
        if (win.lo >= win.hi) break;
        const std::size_t first = win.lo / 64;
        const std::size_t last = (win.hi - 1) / 64;
        budget.spend(last - first + 1);
        const uint64_t lo_mask = ~uint64_t{0} << (win.lo % 64);
        const uint64_t hi_mask = last_word_mask(win.hi);
        const uint64_t* M = pm.get(s1[i]);
        for (std::size_t b = first; b <= last; ++b) {
            uint64_t cand = M[b] & ~f2[b];
            if (b == first) cand &= lo_mask;
            if (b == last) cand &= hi_mask;
            if (cand != 0) {
                f2[b] |= cand & (~cand + 1);
                f1[i / 64] |= uint64_t{1} << (i % 64);
                ++m;
                break;
            }
        }
    }
    if (m == 0) return 0.0;
    return jaro_value(l1, l2, m, half_transpositions(s1, s2, f1, blocks_for(l1), f2.data()));
}

}  // namespace

template <class T>
double jaro(std::span<const T> s1, std::span<const T> s2) {
    const std::size_t l1 = s1.size();
    const std::size_t l2 = s2.size();
    if (l1 == 0) return l2 == 0 ? 1.0 : 0.0;
    if (l2 == 0) return 0.0;
    const std::size_t longer = std::max(l1, l2);
    const std::size_t w = longer < 2 ? 0 : longer / 2 - 1;
    if (longer <= kDirectScanMax) return jaro_direct(s1, s2, w);
    // Wide elements against more than one mask word: their byte codes take the dense
    // mask tables (one word of masks is built in the elements' own width).
    if (l2 > 64)
        if (const auto j = with_dense_codes(s1, s2, [](auto x, auto y) { return jaro(x, y); })) return *j;
    uint64_t f1_word = 0;
    std::vector<uint64_t> f1_words;
    uint64_t* f1 = &f1_word;
    if (l1 > 64) {
        f1_words.assign(blocks_for(l1), 0);
        f1 = f1_words.data();
    }
    if (l2 <= 64) return jaro_one_word(s1, s2, w, f1);
    return jaro_multi_word(s1, s2, w, f1);
}

template <class T>
double jaro_winkler(std::span<const T> s1, std::span<const T> s2, double prefix_weight) {
    const double j = jaro(s1, s2);
    if (j < 0.7) return j;
    const std::size_t cap = std::min<std::size_t>({s1.size(), s2.size(), 4});
    std::size_t prefix = 0;
    while (prefix < cap && s1[prefix] == s2[prefix]) ++prefix;
    const double v = j + (1.0 - j) * (prefix_weight * static_cast<double>(prefix));
    // minNum(v, 1.0): a NaN sum gives 1.0.
    return v < 1.0 ? v : 1.0;
}

#define TARNWICK_JARO_INSTANTIATE(T)                                     \
    template double jaro<T>(std::span<const T>, std::span<const T>);     \
    template double jaro_winkler<T>(std::span<const T>, std::span<const T>, double);
TARNWICK_JARO_INSTANTIATE(uint8_t)
TARNWICK_JARO_INSTANTIATE(uint32_t)
TARNWICK_JARO_INSTANTIATE(uint64_t)

}  // namespace tarnwick::algorithms
