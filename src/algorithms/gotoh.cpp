#include "algorithms/gotoh.hpp"

#include "algorithms/common.hpp"

#include <algorithm>
#include <cstddef>
#include <new>
#include <vector>

namespace tarnwick::algorithms {

template <class T>
GotohResult gotoh(std::span<const T> a, std::span<const T> b, uint64_t open, uint64_t extend) {
    const uint64_t n = a.size();
    const uint64_t m = b.size();
    if (n == 0) {
        const uint64_t cost = m == 0 ? 0 : open + m * extend;
        return {cost, cost};
    }
    if (m == 0) {
        const uint64_t cost = open + n * extend;
        return {cost, cost};
    }
    if (m >= std::vector<uint64_t>().max_size() / 2) throw std::bad_alloc();
    // D: cost of the best alignment of the prefixes; P: best one ending in a deletion (a
    // gap in b). Both hold row i - 1 ahead of position j and row i behind it.
    std::vector<uint64_t> D(m + 1), P(m + 1);
    for (uint64_t j = 1; j <= m; ++j) {
        D[j] = open + j * extend;
        P[j] = 2 * open + j * extend;
    }
    const uint64_t gap = open + extend;
    // Chunks of rows between cancellation points (one unit per cell).
    for (CancelChunks chunk(n, m); chunk.next();) {
        for (uint64_t i = chunk.begin() + 1, last = chunk.end(); i <= last; ++i) {
            uint64_t diagonal = D[0];
            D[0] = open + i * extend;
            // Q: best alignment of row i ending in an insertion (a gap in a).
            uint64_t Q = 2 * open + i * extend;
            const T ca = a[i - 1];
            for (uint64_t j = 1; j <= m; ++j) {
                Q = std::min(Q + extend, D[j - 1] + gap);
                P[j] = std::min(P[j] + extend, D[j] + gap);
                const uint64_t c = ca == b[j - 1] ? 0 : kGotohMismatch;
                const uint64_t best = std::min(Q, std::min(P[j], diagonal + c));
                diagonal = D[j];
                D[j] = best;
            }
        }
    }
    const uint64_t cost = D[m];
    // Every position of the shorter sequence mismatched plus one gap for the rest, or
    // all of a deleted in one gap and all of b inserted in another.
    uint64_t mismatch_all = std::min(n, m) * kGotohMismatch;
    if (n != m) mismatch_all += open + (n > m ? n - m : m - n) * extend;
    const uint64_t two_gaps = (n + m) * extend + 2 * open;
    return {cost, std::max(cost, std::min(mismatch_all, two_gaps))};
}

#define TARNWICK_GOTOH_INSTANTIATE(T) \
    template GotohResult gotoh<T>(std::span<const T>, std::span<const T>, uint64_t, uint64_t);
TARNWICK_GOTOH_INSTANTIATE(uint8_t)
TARNWICK_GOTOH_INSTANTIATE(uint32_t)
TARNWICK_GOTOH_INSTANTIATE(uint64_t)

}  // namespace tarnwick::algorithms
