// OSA distance by Hyyrö's bit-vector algorithm for the Damerau edit distance (2003): the
// Myers/Hyyrö Levenshtein step extended by a transposition vector TR, which marks the
// positions where the previous and the current text element match the pattern
// crosswise. It computes the same value as the three-row dynamic program
//   d[i][j] = min(d[i-1][j-1] + c, d[i][j-1] + 1, d[i-1][j] + 1,
//                 d[i-2][j-2] + c   when s1[i-1] == s2[j-2] and s1[i-2] == s2[j-1])
// in len(s2) * ceil(len(s1) / 64) word steps.
//
// The common prefix and suffix are stripped first (they never change the distance) and
// the shorter middle becomes the pattern (the distance is symmetric).
#include "algorithms/osa.hpp"

#include "algorithms/common.hpp"
#include "algorithms/dense_codes.hpp"
#include "algorithms/pattern_mask.hpp"

#include <cstddef>
#include <vector>

namespace tarnwick::algorithms {
namespace {

/// One-word form: a pattern of 1..64 elements with masks given by `get(c)`, text `b`,
/// read in chunks with a cancellation point between them.
template <class Get, class T>
uint64_t osa_one_word(Get get, std::size_t m, std::span<const T> b) {
    const uint64_t last = uint64_t{1} << (m - 1);
    uint64_t VP = ~uint64_t{0};
    uint64_t VN = 0;
    uint64_t D0 = 0;
    uint64_t PM_prev = 0;
    uint64_t dist = m;
    for (CancelChunks chunk(b.size()); chunk.next();) {
        for (std::size_t j = chunk.begin(), end = chunk.end(); j < end; ++j) {
            const uint64_t PM_j = get(b[j]);
            const uint64_t TR = (((~D0) & PM_j) << 1) & PM_prev;
            D0 = (((PM_j & VP) + VP) ^ VP) | PM_j | VN | TR;
            uint64_t HP = VN | ~(D0 | VP);
            uint64_t HN = D0 & VP;
            dist += (HP & last) != 0;
            dist -= (HN & last) != 0;
            HP = (HP << 1) | 1;
            HN <<= 1;
            VP = HN | ~(D0 | HP);
            VN = HP & D0;
            PM_prev = PM_j;
        }
    }
    return dist;
}

/// Several-word form for patterns of 65 elements or more. Horizontal deltas cross block
/// boundaries as carries (a negative one enters the next block's match vector, which
/// replaces the addition carry); TR takes the top bit of the lower block's crosswise
/// match of the previous column.
template <class T>
uint64_t osa_multi_word(std::span<const T> a, std::span<const T> b) {
    const PatternMaskMulti<T> pm(a);
    const std::size_t blocks = pm.blocks();
    const uint64_t last = uint64_t{1} << ((a.size() - 1) % 64);
    std::vector<uint64_t> VP(blocks, ~uint64_t{0});
    std::vector<uint64_t> VN(blocks, 0);
    std::vector<uint64_t> D0(blocks, 0);
    std::vector<uint64_t> PM_prev(blocks, 0);
    uint64_t dist = a.size();
    // Chunks of text between cancellation points (one unit per word step).
    for (CancelChunks chunk(b.size(), blocks); chunk.next();) {
        for (std::size_t j = chunk.begin(), end = chunk.end(); j < end; ++j) {
            const uint64_t* M = pm.get(b[j]);
            uint64_t hp_carry = 1;
            uint64_t hn_carry = 0;
            uint64_t tr_carry = 0;
            for (std::size_t w = 0; w < blocks; ++w) {
                const uint64_t PM_j = M[w];
                const uint64_t vp = VP[w];
                const uint64_t vn = VN[w];
                const uint64_t cross = ~D0[w] & PM_j;
                const uint64_t TR = ((cross << 1) | tr_carry) & PM_prev[w];
                tr_carry = cross >> 63;
                const uint64_t X = PM_j | hn_carry;
                const uint64_t d0 = (((X & vp) + vp) ^ vp) | X | vn | TR;
                uint64_t HP = vn | ~(d0 | vp);
                uint64_t HN = d0 & vp;
                const uint64_t hp_in = hp_carry;
                const uint64_t hn_in = hn_carry;
                if (w + 1 < blocks) {
                    hp_carry = HP >> 63;
                    hn_carry = HN >> 63;
                } else {
                    hp_carry = (HP & last) != 0;
                    hn_carry = (HN & last) != 0;
                }
                HP = (HP << 1) | hp_in;
                HN = (HN << 1) | hn_in;
                VP[w] = HN | ~(d0 | HP);
                VN[w] = HP & d0;
                D0[w] = d0;
                PM_prev[w] = PM_j;
            }
            dist += hp_carry;
            dist -= hn_carry;
        }
    }
    return dist;
}

}  // namespace

template <class T>
uint64_t osa_distance(std::span<const T> s1, std::span<const T> s2) {
    const Affix<T> ax = strip_affix(s1, s2);
    std::span<const T> a = ax.a;
    std::span<const T> b = ax.b;
    if (a.size() > b.size()) std::swap(a, b);
    if (a.empty()) return b.size();
    if (a.size() <= ShortMask<T>::kMax) {
        const ShortMask<T> pm(a);
        return osa_one_word([&pm](T c) noexcept { return pm.get(c); }, a.size(), b);
    }
    if (a.size() <= 64) return with_masks64(a, [&](auto get) { return osa_one_word(get, a.size(), b); });
    // Longer patterns of wide elements: their byte codes take the dense tables.
    if (const auto d = with_dense_codes(a, b, [](auto x, auto y) { return osa_distance(x, y); }))
        return *d;
    return osa_multi_word(a, b);
}

template uint64_t osa_distance<uint8_t>(std::span<const uint8_t>, std::span<const uint8_t>);
template uint64_t osa_distance<uint32_t>(std::span<const uint32_t>, std::span<const uint32_t>);
template uint64_t osa_distance<uint64_t>(std::span<const uint64_t>, std::span<const uint64_t>);

}  // namespace tarnwick::algorithms
