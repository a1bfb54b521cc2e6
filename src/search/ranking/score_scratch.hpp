// Sparse score accumulation for the top-n selection: one score per document and one bit per
// document reached, so that the selection visits only the documents some query token
// reached (the others score zero, which is never a candidate), in increasing order.
//
// The arrays belong to the calling thread and are reused across calls: they grow to the
// largest corpus seen and are all zero between uses, because a lease clears exactly the
// entries it reached when it ends. A thread holds at most one lease at a time.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

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

/// The calling thread's accumulators for a corpus of `docs` documents, for one selection.
class ScoreScratch {
public:
    explicit ScoreScratch(std::size_t docs) : words_((docs + 63) / 64) {
        Arrays& a = arrays();
        if (a.acc.size() < docs) a.acc.assign(docs, 0.0);
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
        for (std::size_t w = 0; w < words_; ++w) {
            uint64_t word = touched_[w];
            touched_[w] = 0;
            while (word) {
                const std::size_t d = w * 64 + static_cast<std::size_t>(std::countr_zero(word));
                word &= word - 1;
                const double score = acc_[d];
                acc_[d] = 0.0;
                try {
                    f(d, score);
                } catch (...) {
                    // The rest of this word is no longer marked: clear its entries here.
                    for (; word; word &= word - 1)
                        acc_[w * 64 + static_cast<std::size_t>(std::countr_zero(word))] = 0.0;
                    throw;
                }
            }
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

}  // namespace tarnwick::search
