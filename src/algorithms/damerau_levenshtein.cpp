// Damerau-Levenshtein distance by the algorithm of Lowrance and Wagner.
//
// d[i][j] (i = -1 .. n, j = -1 .. m) is kept whole, since a transposition reads the cell
// d[k-1][l-1] of an earlier row k: the last row of s1 holding the current element of s2,
// and l, the last column of the current row where s1[i-1] matched. Row -1 and column -1
// hold n + m, larger than any distance, so they never win a minimum.
//
// Elements are turned into small keys first so that "last row holding this value" is a
// plain array: bytes are their own keys, and so are the dense byte codes of a wider pair
// with at most 256 distinct values; other wider values get the dense numbers of the
// distinct values of s2, and a value of s1 that does not occur in s2 gets one shared
// extra key (it is stored but never looked up). The cells are as narrow as n + m allows.
#include "algorithms/damerau_levenshtein.hpp"

#include "algorithms/common.hpp"
#include "algorithms/dense_codes.hpp"
#include "algorithms/pattern_mask.hpp"

#include <absl/container/flat_hash_map.h>

#include <cstddef>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace tarnwick::algorithms {
namespace {

/// The matrix pass over key sequences `a` (n) and `b` (m), both non-empty; every key is
/// below `keys`.
template <class Cell, class Key>
uint64_t dl_matrix(std::span<const Key> a, std::span<const Key> b, std::size_t keys) {
    const std::size_t n = a.size();
    const std::size_t m = b.size();
    const std::size_t cols = m + 2;
    const std::size_t rows = n + 2;
    if (rows > std::numeric_limits<std::size_t>::max() / cols / sizeof(Cell))
        throw std::bad_alloc();
    const std::unique_ptr<Cell[]> d(new Cell[rows * cols]);
    std::vector<std::size_t> last_row(keys, 0);

    // d[i][j] is d[(i + 1) * cols + (j + 1)].
    const Cell maxdist = static_cast<Cell>(n + m);
    for (std::size_t j = 0; j < cols; ++j) d[j] = maxdist;
    for (std::size_t i = 0; i <= n; ++i) {
        d[(i + 1) * cols] = maxdist;
        d[(i + 1) * cols + 1] = static_cast<Cell>(i);
    }
    for (std::size_t j = 0; j <= m; ++j) d[cols + j + 1] = static_cast<Cell>(j);

    // Chunks of rows between cancellation points (one unit per cell).
    for (CancelChunks chunk(n, m); chunk.next();) {
        for (std::size_t i = chunk.begin() + 1, last = chunk.end(); i <= last; ++i) {
            Cell* const row = &d[(i + 1) * cols];
            const Cell* const prev = row - cols;
            const Key ka = a[i - 1];
            std::size_t db = 0;
            uint64_t left = i;  // d[i][j - 1]
            for (std::size_t j = 1; j <= m; ++j) {
                const Key kb = b[j - 1];
                const std::size_t k = last_row[kb];
                const std::size_t l = db;
                uint64_t v;
                const uint64_t diag = prev[j];
                const uint64_t up = prev[j + 1];
                if (ka == kb) {
                    db = j;
                    v = diag;
                } else {
                    v = diag + 1;
                }
                const uint64_t side = (left < up ? left : up) + 1;
                if (side < v) v = side;
                if (k != 0 && l != 0) {
                    const uint64_t t = static_cast<uint64_t>(d[k * cols + l]) + (i - k) + (j - l) - 1;
                    if (t < v) v = t;
                }
                row[j + 1] = static_cast<Cell>(v);
                left = v;
            }
            last_row[ka] = i;
        }
    }
    return d[(n + 1) * cols + m + 1];
}

template <class Key>
uint64_t dl_dispatch(std::span<const Key> a, std::span<const Key> b, std::size_t keys) {
    const std::size_t total = a.size() + b.size();
    if (total <= std::numeric_limits<uint16_t>::max()) return dl_matrix<uint16_t>(a, b, keys);
    if (total <= std::numeric_limits<uint32_t>::max()) return dl_matrix<uint32_t>(a, b, keys);
    return dl_matrix<uint64_t>(a, b, keys);
}

}  // namespace

template <class T>
uint64_t damerau_levenshtein_distance(std::span<const T> s1, std::span<const T> s2) {
    const Affix<T> ax = strip_affix(s1, s2);
    if (ax.a.empty()) return ax.b.size();
    if (ax.b.empty()) return ax.a.size();
    if constexpr (sizeof(T) == 1) {
        return dl_dispatch(ax.a, ax.b, 256);
    } else {
        const auto coded = [](auto x, auto y) { return dl_dispatch(x, y, 256); };
        if (const auto d = with_dense_codes(ax.a, ax.b, coded)) return *d;
        absl::flat_hash_map<uint64_t, uint32_t, ElementHash> ids;
        std::vector<uint32_t> kb(ax.b.size());
        for (std::size_t j = 0; j < ax.b.size(); ++j) {
            auto [it, inserted] =
                ids.try_emplace(static_cast<uint64_t>(ax.b[j]), static_cast<uint32_t>(ids.size()));
            kb[j] = it->second;
        }
        const auto extra = static_cast<uint32_t>(ids.size());
        std::vector<uint32_t> ka(ax.a.size());
        for (std::size_t i = 0; i < ax.a.size(); ++i) {
            auto it = ids.find(static_cast<uint64_t>(ax.a[i]));
            ka[i] = it == ids.end() ? extra : it->second;
        }
        return dl_dispatch(std::span<const uint32_t>(ka), std::span<const uint32_t>(kb),
                           std::size_t{extra} + 1);
    }
}

template uint64_t damerau_levenshtein_distance<uint8_t>(std::span<const uint8_t>,
                                                        std::span<const uint8_t>);
template uint64_t damerau_levenshtein_distance<uint32_t>(std::span<const uint32_t>,
                                                         std::span<const uint32_t>);
template uint64_t damerau_levenshtein_distance<uint64_t>(std::span<const uint64_t>,
                                                         std::span<const uint64_t>);

}  // namespace tarnwick::algorithms
