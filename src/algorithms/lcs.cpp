#include "algorithms/lcs.hpp"

#include "algorithms/dense_codes.hpp"
#include "algorithms/lcs_step.hpp"
#include "algorithms/pattern_mask.hpp"

#include <vector>

namespace tarnwick::algorithms {
namespace {

/// Minimal LCS length that keeps the Indel distance of lengths la + lb within `bound`
/// (0 when every LCS does).
inline uint64_t lcs_needed(uint64_t lensum, uint64_t bound) noexcept {
    if (lensum <= bound) return 0;
    const uint64_t x = lensum - bound;
    return (x >> 1) + (x & 1);
}

/// The mask of one text element, computed apart from the state: the compiler would
/// otherwise fold the selection of a keyed lookup (an AND with the key comparison) into the
/// step's S & M, which puts one more instruction on the dependency chain through S.
template <class Get, class C>
inline uint64_t mask_apart(Get& get, C c) noexcept {
    uint64_t M = get(c);
#if defined(__GNUC__)
    asm("" : "+r"(M));
#endif
    return M;
}

/// One-word LCS over `text`, masks given by `get(c)`; `m` is the pattern length (1..64).
/// With `need`, gives up (answers 0) once the LCS cannot reach it. The text is read in
/// chunks with a cancellation point between them (CancelChunks).
template <class Text, class Get>
inline uint64_t lcs_one_word(std::size_t m, Text text, uint64_t need, Get get) {
    const uint64_t live = last_word_mask(m);
    uint64_t S = kLcsStart;
    const std::size_t n = text.size();
    for (CancelChunks chunk(n); chunk.next();) {
        const std::size_t end = chunk.end();
        if (need == 0) {
            for (std::size_t j = chunk.begin(); j < end; ++j) S = lcs_word_step(S, mask_apart(get, text[j]));
        } else {
            for (std::size_t j = chunk.begin(); j < end; ++j) {
                S = lcs_word_step(S, mask_apart(get, text[j]));
                if (lcs_word_count(S, live) + (n - 1 - j) < need) return 0;
            }
        }
    }
    return lcs_word_count(S, live);
}

/// The multi-word state `st` advanced over `text`: a function of its own, so that the
/// loop around it (the chunks between cancellation points) takes none of its registers.
template <class T>
[[gnu::noinline]] void lcs_words_over(uint64_t* st, const PatternMaskMulti<T>& pm,
                                      std::span<const T> text, std::size_t blocks) noexcept {
    for (const T c : text) lcs_words_step(st, pm.get(c), blocks);
}

template <class T>
uint64_t lcs_multi_word(std::span<const T> a, std::span<const T> b, uint64_t need) {
    const PatternMaskMulti<T> pm(a);
    const std::size_t blocks = pm.blocks();
    const uint64_t live = last_word_mask(a.size());
    // Each word's new value depends only on its old value and the carry out of the word
    // below, so the state is updated in place.
    std::vector<uint64_t> S(blocks, kLcsStart);
    uint64_t* st = S.data();
    const std::size_t n = b.size();
    // Chunks of text between cancellation points (one unit per word step).
    if (need == 0) {
        for (CancelChunks chunk(n, blocks); chunk.next();)
            lcs_words_over(st, pm, b.subspan(chunk.begin(), chunk.end() - chunk.begin()), blocks);
        return lcs_words_count(st, blocks, live);
    }
    for (CancelChunks chunk(n, blocks); chunk.next();) {
        for (std::size_t j = chunk.begin(), end = chunk.end(); j < end; ++j) {
            const uint64_t clear = lcs_words_step<true>(st, pm.get(b[j]), blocks);
            if (lcs_words_count(clear, st[blocks - 1], live) + (n - 1 - j) < need) return 0;
        }
    }
    return lcs_words_count(st, blocks, live);
}

}  // namespace

template <class T>
uint64_t lcs_length(std::span<const T> a, std::span<const T> b, uint64_t bound) {
    if (a.empty() || b.empty()) return 0;
    const uint64_t need = lcs_needed(a.size() + b.size(), bound);
    if (a.size() <= ShortMask<T>::kMax) {
        const ShortMask<T> pm(a);
        return lcs_one_word(a.size(), b, need, [&pm](T c) noexcept { return pm.get(c); });
    }
    if (a.size() <= 64)
        return with_masks64(a, [&](auto get) { return lcs_one_word(a.size(), b, need, get); });
    // Patterns of wide elements over one word: their byte codes take the dense tables.
    const auto coded = [need](auto x, auto y) { return lcs_multi_word(x, y, need); };
    if (const auto l = with_dense_codes(a, b, coded)) return *l;
    return lcs_multi_word(a, b, need);
}

template <class T>
uint64_t indel_distance(std::span<const T> a, std::span<const T> b, uint64_t max) {
    const bool bounded = max != kNoBound;
    if (bounded) {
        const uint64_t diff = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
        if (diff > max) return kNoBound;
        // Histogram bound: every unmatched element costs one operation. Wide values make
        // the table incomplete, so the first one abandons the check without a verdict.
        int64_t hist[256] = {};
        bool complete = true;
        for (T c : a) {
            if (static_cast<uint64_t>(c) >= 256) { complete = false; break; }
            ++hist[static_cast<std::size_t>(c)];
        }
        if (complete) {
            for (T c : b) {
                if (static_cast<uint64_t>(c) >= 256) { complete = false; break; }
                --hist[static_cast<std::size_t>(c)];
            }
        }
        if (complete) {
            uint64_t sum = 0;
            for (int64_t h : hist) sum += static_cast<uint64_t>(h < 0 ? -h : h);
            if (sum > max) return kNoBound;
        }
    }
    const Affix<T> ax = strip_affix(a, b);
    uint64_t d;
    if (ax.prefix == a.size()) {
        d = b.size() - ax.prefix;
    } else {
        const uint64_t lcs = lcs_length(ax.a, ax.b, max);
        d = ax.a.size() + ax.b.size() - 2 * lcs;
    }
    if (bounded && d > max) return kNoBound;
    return d;
}

template <class T>
uint64_t lcs_seq_similarity(std::span<const T> a, std::span<const T> b, uint64_t bound) {
    const Affix<T> ax = strip_affix(a, b);
    if (ax.prefix == a.size()) return a.size();
    return ax.prefix + ax.suffix + lcs_length(ax.a, ax.b, bound);
}

uint64_t lcs_from_pm64(const uint64_t* masks, std::size_t m, std::span<const uint8_t> text,
                       uint64_t bound) {
    if (text.empty() || m == 0) return 0;
    const uint64_t need = lcs_needed(m + text.size(), bound);
    return lcs_one_word(m, text, need, [masks](uint8_t c) noexcept { return masks[c]; });
}

#define TARNWICK_LCS_INSTANTIATE(T)                                                        \
    template uint64_t lcs_length<T>(std::span<const T>, std::span<const T>, uint64_t);     \
    template uint64_t indel_distance<T>(std::span<const T>, std::span<const T>, uint64_t); \
    template uint64_t lcs_seq_similarity<T>(std::span<const T>, std::span<const T>, uint64_t);
TARNWICK_LCS_INSTANTIATE(uint8_t)
TARNWICK_LCS_INSTANTIATE(uint32_t)
TARNWICK_LCS_INSTANTIATE(uint64_t)

}  // namespace tarnwick::algorithms
