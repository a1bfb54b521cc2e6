// Ranked-list selection shared by every search ranking: the top-n selection over a score
// list (only scores above 0; all candidates sorted for small corpora or n at least the
// corpus size, else a bounded min-heap in which a later document displaces the minimum
// only with a strictly greater score), and the sort by descending score (stable insertion
// sort up to 20 entries; beyond, a sort by a total order that puts NaN last and breaks ties
// by the entry's index, so that its result is one fixed list, whether it ran on one thread
// or on the pool, and whatever order its entries came in).
//
// The heap's sift rules are fixed, because with tied scores they decide which documents
// remain: sifting up stops at a parent whose score equals the new one; sifting down moves
// to the child with the smaller score (the right one when both are equal) and stops at a
// child whose score is greater than or equal to the entry's. That is why the batch
// functions' heap (process/process_rank.hpp), which orders its entries by the total
// ranking order and so keeps the earliest of tied entries, is not used here: which of
// several tied documents a search keeps is its heap's history, and the rankings keep it.
#pragma once

#include "parallel.hpp"
#include "rank_order.hpp"
#include "search/ranking/ranked_radix.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnwick::search {

/// One ranked entry: a document index and its score; compared by score alone.
struct Scored {
    uint64_t doc;
    double score;
};

/// Corpus size up to which the selection sorts all candidates instead of using a heap.
inline constexpr std::size_t kSortPathMaxDocs = 256;
/// Longest list sorted stably by insertion.
inline constexpr std::size_t kStableSortMax = 20;
/// Lengths of the lists sorted by radix (ranked_radix.hpp) on the calling thread: from
/// about where it overtakes the comparison sort, up to where its buffers, which the
/// thread keeps, would hold more than a few megabytes.
inline constexpr std::size_t kRadixSortMin = 512;
inline constexpr std::size_t kRadixSortMax = std::size_t{1} << 16;
/// Length from which parallel::sort runs on the pool (shorter lists it sorts in place).
inline constexpr std::size_t kPoolSortMin = 4096;

/// The total order of long ranked lists: rank_order.hpp's, the index as the position.
/// Equal indexes never meet in one list, so no two entries tie.
inline bool ranked_before(const Scored& a, const Scored& b) noexcept {
    return ranks_before(a.score, a.doc, b.score, b.doc);
}

/// Longest list in increasing document order that sort_ranked ranks by counting.
inline constexpr std::size_t kCountRankMax = 256;

/// Puts the `count` entries of `v` (at most kCountRankMax, in increasing document order)
/// in ranked_before's order: each entry goes to the place given by the number of entries
/// with a smaller rank key, and of earlier entries with an equal one. The comparisons do
/// not branch on the data (a comparison sort of a few dozen scores mispredicts about half
/// of its comparisons) and run several at a time in vector registers. (ranked_sort.cpp)
void rank_by_count(Scored* v, std::size_t count) noexcept;

/// Whether the documents of `v` increase strictly from entry to entry.
inline bool docs_increasing(const std::vector<Scored>& v) noexcept {
    bool increasing = true;
    for (std::size_t i = 1; i < v.size(); ++i) increasing &= v[i - 1].doc < v[i].doc;
    return increasing;
}

/// Sorts by descending score. Up to 20 entries an entry moves in front of every earlier
/// entry with a strictly smaller score, so equal scores keep their order; longer lists are
/// sorted by ranked_before (by counting up to kCountRankMax entries in document order, by
/// radix from kRadixSortMin entries), on the pool when `use_pool` and the list is long
/// enough for it.
inline void sort_ranked(std::vector<Scored>& v, bool use_pool = false) {
    if (v.size() <= kStableSortMax) {
        for (std::size_t i = 1; i < v.size(); ++i) {
            const Scored e = v[i];
            std::size_t j = i;
            while (j > 0 && v[j - 1].score < e.score) {
                v[j] = v[j - 1];
                --j;
            }
            v[j] = e;
        }
        return;
    }
    if (v.size() <= kCountRankMax && docs_increasing(v)) {
        rank_by_count(v.data(), v.size());
        return;
    }
    if (v.size() >= kRadixSortMin && v.size() <= kRadixSortMax && (!use_pool || v.size() < kPoolSortMin)) {
        radix_sort_ranked(v);
        return;
    }
    parallel::sort(v.begin(), v.end(), use_pool,
                   [](const Scored& a, const Scored& b) { return ranked_before(a, b); });
}

/// Keeps the first n entries of sort_ranked(v) in that order, without sorting the rest:
/// a long list keeps its best n by ranked_before (per chunk on the pool when `use_pool`,
/// then among the chunks' survivors), which are the first n of its full sort.
inline void take_ranked(std::vector<Scored>& v, uint64_t n, bool use_pool = false) {
    if (v.size() <= kStableSortMax || n >= v.size()) {
        sort_ranked(v, use_pool);
        if (v.size() > n) v.resize(static_cast<std::size_t>(n));
        return;
    }
    const std::size_t keep = static_cast<std::size_t>(n);
    const auto before = [](const Scored& a, const Scored& b) { return ranked_before(a, b); };
    const auto best_first = [keep, before](auto first, auto last) {
        if (static_cast<std::size_t>(last - first) > keep)
            std::nth_element(first, first + static_cast<std::ptrdiff_t>(keep), last, before);
    };
    const std::size_t chunk = std::max<std::size_t>(4 * keep, 1 << 14);
    if (use_pool && v.size() >= 2 * chunk) {
        // Every entry of the overall best n is among the best n of its own chunk.
        const std::size_t chunks = (v.size() + chunk - 1) / chunk;
        parallel::for_each_index(chunks, true, [&](std::size_t c) {
            const auto first = v.begin() + static_cast<std::ptrdiff_t>(c * chunk);
            best_first(first, first + static_cast<std::ptrdiff_t>(std::min(chunk, v.size() - c * chunk)));
        });
        std::size_t out = 0;
        for (std::size_t c = 0; c < chunks; ++c) {
            const std::size_t begin = c * chunk, len = std::min({chunk, v.size() - begin, keep});
            if (out != begin)
                std::move(v.begin() + static_cast<std::ptrdiff_t>(begin),
                          v.begin() + static_cast<std::ptrdiff_t>(begin + len),
                          v.begin() + static_cast<std::ptrdiff_t>(out));
            out += len;
        }
        v.resize(out);
    }
    best_first(v.begin(), v.end());
    v.resize(keep);
    std::sort(v.begin(), v.end(), before);
}

/// The bounded min-heap of the top-n selection. Entries are offered in document order.
/// The scores and the documents are kept in two arrays, so that a sift reads only scores
/// (half the memory of whole entries, which stays in the first-level cache beside the
/// candidates streaming past).
///
/// Until the heap is full its entries are kept in the order offered, and the sifts up
/// that their pushes would have made are made when it fills: the sift of entry i moves
/// only entries 0 to i, so the heap is the one the pushes one by one would have built.
/// A heap that never fills is not sifted at all when it holds more than 20 entries, which
/// are sorted by the total order, given in document order (ranked by counting); up to 20,
/// their order, which decides the order of ties, is the heap's, so they are sifted first.
class TopHeap {
public:
    explicit TopHeap(std::size_t n) : n_(n) {
        score_.reserve(n < 100 ? n : 100);
        doc_.reserve(n < 100 ? n : 100);
    }

    /// The smallest kept score when the heap is full (a later candidate must exceed it).
    bool full() const noexcept { return score_.size() >= n_; }
    double min_score() const noexcept { return score_.front(); }

    /// Keeps e while the heap is not full, else in place of the minimum when e's score is
    /// greater. Most offers to a full heap are refused: that test is all that is inlined.
    void offer(Scored e) {
        if (score_.size() < n_) return append(e);
        if (n_ != 0 && e.score > score_[0]) replace_min(e);
    }

    /// The kept entries, best first.
    std::vector<Scored> take_sorted() && {
        if (!full() && score_.size() <= kStableSortMax) sift_up_all();
        std::vector<Scored> out(score_.size());
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = {doc_[i], score_[i]};
        sort_ranked(out);
        return out;
    }

private:
    void append(Scored e) {
        score_.push_back(e.score);
        doc_.push_back(e.doc);
        if (e.score != e.score) unordered_ = true;
        if (full()) sift_up_all();
    }

    // Each entry after the first rises while its parent's score is greater.
    [[gnu::noinline]] void sift_up_all() noexcept {
        for (std::size_t i = 1; i < score_.size(); ++i) {
            const Scored e{doc_[i], score_[i]};
            std::size_t p = i;
            if (p >= 7 && !unordered_) p = rise_three(p, [&](double above) { return above > e.score; });
            while (p > 0) {
                const std::size_t parent = (p - 1) / 2;
                if (!(score_[parent] > e.score)) break;
                move(parent, p);
                p = parent;
            }
            put(p, e);
        }
    }

    // The minimum's place goes to the smaller child (the right one when both are equal),
    // whose place goes to its smaller child, and so on while that child's score is less
    // than e's; e takes the last place vacated. The children along that path have
    // non-decreasing scores, so the path is followed to its end without comparing with e
    // (the next step never waits for a comparison's branch), two levels a step while the
    // grandchildren exist (the four are compared in pairs while the two children are),
    // then e rises back while the entry above it is not smaller: the same places. A NaN
    // among the scores breaks the order of the path; a heap holding one compares step by
    // step.
    [[gnu::noinline]] void replace_min(Scored e) {
        if (unordered_) return replace_min_stepwise(e);
        const std::size_t len = score_.size();
        double* const s = score_.data();
        uint64_t* const d = doc_.data();
        const auto smaller = [s](std::size_t r) { return r - static_cast<std::size_t>(s[r - 1] < s[r]); };
        std::size_t p = 0;
        while (4 * p + 6 < len) {
            // Which child is smaller, and the smaller child of each child, are found side
            // by side, then the grandchild chosen by arithmetic (a branch on a coin toss
            // would be mispredicted half the time).
            const std::size_t right_child = static_cast<std::size_t>(!(s[2 * p + 1] < s[2 * p + 2]));
            const std::size_t c = 2 * p + 1 + right_child;
            const std::size_t left = smaller(4 * p + 4), right = smaller(4 * p + 6);
            const std::size_t g = pick(left, right, right_child);
            s[p] = s[c];
            d[p] = d[c];
            s[c] = s[g];
            d[c] = d[g];
            p = g;
        }
        while (2 * p + 2 < len) {
            const std::size_t c = smaller(2 * p + 2);
            s[p] = s[c];
            d[p] = d[c];
            p = c;
        }
        if (2 * p + 2 == len) {
            s[p] = s[2 * p + 1];
            d[p] = d[2 * p + 1];
            p = 2 * p + 1;
        }
        // p is a leaf; from a heap of 16 entries it has three ancestors.
        if (len >= 16) p = rise_three(p, [&](double above) { return !(above < e.score); });
        while (p > 0) {
            const std::size_t parent = (p - 1) / 2;
            if (s[parent] < e.score) break;
            s[p] = s[parent];
            d[p] = d[parent];
            p = parent;
        }
        s[p] = e.score;
        d[p] = e.doc;
    }

    /// a if take_b is 0, b if it is 1, without a branch.
    static std::size_t pick(std::size_t a, std::size_t b, std::size_t take_b) noexcept {
        return a ^ ((a ^ b) & (std::size_t{0} - take_b));
    }

    // The first three levels of a rise from the vacant place p, which has three ancestors
    // whose scores do not increase upwards (no NaN is kept): the entry rises past each
    // ancestor whose score `passes`, those being the lowest, and each one passed moves
    // down a place. Decided together from independent loads and taken without a branch,
    // since how far an entry rises is a coin toss to the predictor. Returns the place
    // reached, from which the rise goes on step by step.
    template <class Passes>
    std::size_t rise_three(std::size_t p, Passes passes) noexcept {
        double* const s = score_.data();
        uint64_t* const d = doc_.data();
        const std::size_t a1 = (p - 1) / 2, a2 = (a1 - 1) / 2, a3 = (a2 - 1) / 2;
        const std::size_t up1 = passes(s[a1]), up2 = passes(s[a2]), up3 = passes(s[a3]);
        // The places a1 and a2 take their entries from: the one above when it is passed.
        const std::size_t from1 = pick(a1, a2, up2), from2 = pick(a2, a3, up3);
        s[p] = s[a1];
        d[p] = d[a1];
        s[a1] = s[from1];
        d[a1] = d[from1];
        s[a2] = s[from2];
        d[a2] = d[from2];
        return pick(pick(pick(p, a1, up1), a2, up2), a3, up3);
    }

    void replace_min_stepwise(Scored e) {
        const std::size_t len = score_.size();
        std::size_t p = 0;
        while (2 * p + 2 <= len - 1) {
            const std::size_t r = 2 * p + 2;
            const std::size_t c = r - static_cast<std::size_t>(score_[r - 1] < score_[r]);
            if (score_[c] >= e.score) return put(p, e);
            move(c, p);
            p = c;
        }
        if (2 * p + 1 == len - 1 && score_[2 * p + 1] < e.score) {
            move(2 * p + 1, p);
            p = 2 * p + 1;
        }
        put(p, e);
    }

    void move(std::size_t from, std::size_t to) noexcept {
        score_[to] = score_[from];
        doc_[to] = doc_[from];
    }
    void put(std::size_t p, Scored e) noexcept {
        score_[p] = e.score;
        doc_[p] = e.doc;
    }

    std::size_t n_;
    std::vector<double> score_;
    std::vector<uint64_t> doc_;
    bool unordered_ = false;  // a NaN was kept
};

/// Whether the selection over `num_docs` documents with count `n` sorts all candidates.
inline bool use_sort_path(std::size_t num_docs, uint64_t n) noexcept {
    return num_docs <= kSortPathMaxDocs || n >= num_docs;
}

/// Top-n selection over candidates produced in document order by `each(visit)`, which
/// calls visit(doc, score) for every document whose score may be positive (the others may
/// be skipped: they are never candidates).
template <class Each>
std::vector<Scored> select_top_n(std::size_t num_docs, uint64_t n, Each&& each) {
    if (use_sort_path(num_docs, n)) {
        std::vector<Scored> all;
        each([&](uint64_t doc, double s) {
            if (s > 0.0) all.push_back({doc, s});
        });
        sort_ranked(all);
        if (all.size() > n) all.resize(static_cast<std::size_t>(n));
        return all;
    }
    TopHeap heap(static_cast<std::size_t>(n));
    each([&](uint64_t doc, double s) {
        if (s > 0.0) heap.offer({doc, s});
    });
    return std::move(heap).take_sorted();
}

}  // namespace tarnwick::search
