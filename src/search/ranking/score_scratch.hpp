// Sparse score accumulation for the top-n selection: one score per document and one bit per
// document reached, so that the selection visits only the documents some query token
// reached (the others score zero, which is never a candidate), in increasing order.
//
// The arrays belong to the calling thread and are reused across calls: they grow to the
// largest corpus seen and are all zero between uses, because a lease clears exactly the
// entries it reached when it ends. A thread holds at most one lease at a time.
#pragma once

#include "search/ranking/top_n.hpp"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick::search {

/// Calls f(d) for every set bit d of `bits` (words [0, nwords)), in increasing order.
template <class F>
void for_each_bit(const uint64_t* bits, std::size_t nwords, F&& f) {
    for (std::size_t w = 0; w < nwords; ++w) {
        uint64_t word = bits[w];
        while (word) {
            const int b = std::countr_zero(word);
            word &= word - 1;
            f(w * 64 + static_cast<std::size_t>(b));
        }
    }
}

/// Bit j set when a[j] > t, for j < 64.
inline uint64_t scores_above(const double* a, double t) noexcept {
    uint64_t out = 0;
#if defined(__SSE2__)
    const __m128d tt = _mm_set1_pd(t);
    for (unsigned j = 0; j < 64; j += 2)
        out |= static_cast<uint64_t>(_mm_movemask_pd(_mm_cmpgt_pd(_mm_loadu_pd(a + j), tt))) << j;
#else
    for (unsigned j = 0; j < 64; ++j) out |= static_cast<uint64_t>(a[j] > t) << j;
#endif
    return out;
}

/// Sets the 64 scores from `a` to +0.0. (A memset of this size is compiled to a string
/// store, whose start-up costs more than the stores themselves.)
inline void clear_word(double* a) noexcept {
#if defined(__SSE2__)
    const __m128d zero = _mm_setzero_pd();
#pragma GCC unroll 32
    for (unsigned j = 0; j < 64; j += 2) _mm_storeu_pd(a + j, zero);
#else
    std::memset(a, 0, 64 * sizeof(double));
#endif
}

/// The calling thread's accumulators for a corpus of `docs` documents, for one selection.
class ScoreScratch {
public:
    explicit ScoreScratch(std::size_t docs) : words_((docs + 63) / 64) {
        Arrays& a = arrays();
        // A score for every bit of the last word too (they stay zero), so that a word's
        // 64 scores can be read together.
        if (a.acc.size() < words_ * 64) a.acc.assign(words_ * 64, 0.0);
        if (a.touched.size() < words_) a.touched.assign(words_, 0);
        acc_ = a.acc.data();
        touched_ = a.touched.data();
    }
    ~ScoreScratch() {
        for_each_bit(touched_, words_, [&](std::size_t d) { acc_[d] = 0.0; });
        std::memset(touched_, 0, words_ * sizeof(uint64_t));
    }
    ScoreScratch(const ScoreScratch&) = delete;
    ScoreScratch& operator=(const ScoreScratch&) = delete;

    /// Score d, and the reached bits (bit d of word d / 64).
    double* acc() const noexcept { return acc_; }
    uint64_t* touched() const noexcept { return touched_; }

    /// Calls f(d) for every reached document, in increasing order.
    template <class F>
    void for_each_reached(F&& f) const {
        for_each_bit(touched_, words_, f);
    }

    /// Calls f(d, score) for every reached document, in increasing order, clearing each
    /// entry as it goes (so that the end of the lease has nothing left to clear).
    template <class F>
    void drain(F&& f) {
        drain(0, words_, f);
    }

    /// drain over the documents of the words [first, last) of the reached bits. Entry i
    /// stands for document `base` + i (the scratch may hold one part of a larger corpus).
    template <class F>
    void drain(std::size_t first, std::size_t last, F&& f, std::size_t base = 0) {
        for (std::size_t w = first; w < last; ++w) {
            uint64_t word = touched_[w];
            touched_[w] = 0;
            while (word) {
                const std::size_t d = w * 64 + static_cast<std::size_t>(std::countr_zero(word));
                word &= word - 1;
                const double score = acc_[d];
                acc_[d] = 0.0;
                try {
                    f(base + d, score);
                } catch (...) {
                    // The rest of this word is no longer marked: clear its entries here.
                    for (; word; word &= word - 1)
                        acc_[w * 64 + static_cast<std::size_t>(std::countr_zero(word))] = 0.0;
                    throw;
                }
            }
        }
    }

    /// drain over the words [first, last), calling f(d, score) only for the documents
    /// whose score is greater than floor() (called once for each word of 64 documents that
    /// holds a reached one, before any of its calls of f): the documents that a selection
    /// which refuses every score not above a floor that only rises would not refuse.
    /// The word's entries are all cleared before f is called. Entry i stands for document
    /// `base` + i.
    template <class Floor, class F>
    void drain_above(std::size_t first, std::size_t last, Floor&& floor, F&& f, std::size_t base = 0) {
        for (std::size_t w = first; w < last; ++w) {
            const uint64_t reached = touched_[w];
            if (!reached) continue;
            double* const a = acc_ + w * 64;
            const double t = floor();
            // The scores above t, in order: a few reached documents are compared one by
            // one (kept or not without a branch), many by vector comparisons of the word.
            std::size_t count = 0;
            std::array<double, 64> score;
            std::array<uint8_t, 64> at;
            const bool few = std::popcount(reached) <= 16;
            for (uint64_t m = few ? reached : reached & scores_above(a, t); m; m &= m - 1) {
                const int j = std::countr_zero(m);
                at[count] = static_cast<uint8_t>(j);
                score[count] = a[j];
                count += !few || a[j] > t;
            }
            if (std::popcount(reached) <= 8) {
                for (uint64_t m = reached; m; m &= m - 1) a[std::countr_zero(m)] = 0.0;
            } else {
                clear_word(a);
            }
            touched_[w] = 0;
            for (std::size_t i = 0; i < count; ++i) f(base + w * 64 + at[i], score[i]);
        }
    }

private:
    struct Arrays {
        std::vector<double> acc;
        std::vector<uint64_t> touched;
    };
    static Arrays& arrays() {
        thread_local Arrays a;
        return a;
    }
    std::size_t words_;
    double* acc_;
    uint64_t* touched_;
};

/// The top-n selection (select_top_n) over the reached documents of `scratch`, which
/// `parts(drain)` accumulates part by part in document order, calling drain(first, last)
/// once the documents of the words [first, last) of the reached bits hold their scores
/// (or drain(first, last, base) when entry i of the scratch holds document base + i).
/// A document is offered unless `excluded(d)`; only positive scores are candidates. On the
/// heap path a document whose score is not above the heap's minimum (or zero while the
/// heap fills) at the start of its word is not offered: the heap would refuse it.
template <class Parts, class Excluded>
std::vector<Scored> select_reached(ScoreScratch& scratch, std::size_t docs, uint64_t n, Parts&& parts,
                                   Excluded&& excluded) {
    if (use_sort_path(docs, n)) {
        return select_top_n(docs, n, [&](auto&& visit) {
            parts([&](std::size_t first, std::size_t last, std::size_t base = 0) {
                scratch.drain(first, last, [&](std::size_t d, double score) {
                    if (!excluded(d)) visit(d, score);
                }, base);
            });
        });
    }
    TopHeap heap(static_cast<std::size_t>(n));
    const auto floor = [&] { return heap.full() ? heap.min_score() : 0.0; };
    parts([&](std::size_t first, std::size_t last, std::size_t base = 0) {
        scratch.drain_above(first, last, floor, [&](std::size_t d, double score) {
            if (!excluded(d)) heap.offer({d, score});
        }, base);
    });
    return std::move(heap).take_sorted();
}

}  // namespace tarnwick::search
