#include "algorithms/ngram.hpp"

#include <cstddef>

namespace tarnwick::algorithms {

template <class T>
NgramCounts<T> get_ngrams(std::span<const T> s, uint64_t n) {
    NgramCounts<T> counts;
    if (n == 0 || n > s.size()) return counts;
    const std::size_t windows = s.size() - n + 1;
    counts.reserve(windows);
    for (std::size_t i = 0; i < windows; ++i) ++counts[absl::Span<const T>(s.data() + i, n)];
    return counts;
}

template <class T>
uint64_t ngram_intersection(std::span<const T> a, std::span<const T> b, uint64_t n) {
    if (n == 0 || n > a.size() || n > b.size()) return 0;
    // Each window of b takes one unused occurrence of the same n-gram in a, so every
    // n-gram contributes the smaller of its two counts; one map is enough.
    NgramCounts<T> counts = get_ngrams(a, n);
    uint64_t shared = 0;
    const std::size_t windows = b.size() - n + 1;
    for (std::size_t i = 0; i < windows; ++i) {
        auto it = counts.find(absl::Span<const T>(b.data() + i, n));
        if (it != counts.end() && it->second > 0) {
            --it->second;
            ++shared;
        }
    }
    return shared;
}

#define TARNWICK_NGRAM_INSTANTIATE(T)                                              \
    template NgramCounts<T> get_ngrams<T>(std::span<const T>, uint64_t);          \
    template uint64_t ngram_intersection<T>(std::span<const T>, std::span<const T>, \
                                            uint64_t);
TARNWICK_NGRAM_INSTANTIATE(uint8_t)
TARNWICK_NGRAM_INSTANTIATE(uint32_t)
TARNWICK_NGRAM_INSTANTIATE(uint64_t)

}  // namespace tarnwick::algorithms
