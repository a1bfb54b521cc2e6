// Document-at-a-time top-n with max-score pruning over blocks of postings, shared by the
// BM25 indexes whatever their storage, and the storage-free parts of the choice between it
// and exhaustive term-at-a-time accumulation.
//
// A scan runs over one cursor per distinct query term (QueryTerms' slots). A cursor walks
// its term's postings within a range of documents, in increasing document order:
//   static constexpr uint32_t kEnd;      the document of a finished cursor
//   bool done(); uint32_t doc();         doc() is kEnd once done
//   double upper();                      bound of every product of the term
//   double block_upper();                bound of the products of the current block
//   uint32_t block_last();               the last document of the current block (not done)
//   bool next();                         to the next posting; true when it enters a block
//   void skip_block_through(uint32_t d); past every posting of the block up to document d
//   void seek(uint32_t d);               to the first posting at or after d (blocks not
//                                        followed: such a cursor is bounded by upper())
// and the scan is given the product of a cursor's current posting (idf times its weight).
// The scan offers the heap exactly the candidates the plain selection would offer it, in
// the same order, minus documents the heap would refuse: the selection and every score are
// the plain ones, ties included, provided every product is a non-negative number (no NaN).
#pragma once

#include "cancel.hpp"
#include "parallel.hpp"
#include "search/ranking/query_terms.hpp"
#include "search/ranking/top_n.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tarnwick::search {

/// Whether document d is masked out: inside the mask and marked false.
inline bool masked_out(const std::optional<std::span<const uint8_t>>& allowed, std::size_t d) noexcept {
    return allowed && d < allowed->size() && !(*allowed)[d];
}

/// The max-score partition of a query's cursors. Slots are ranked by increasing upper()
/// (ties by slot); the first k of that ranking are non-essential once the query-order sum
/// of their bounds (the others adding +0.0) is at most the heap's minimum: a document
/// holding only those terms cannot enter the heap.
template <class Cursor>
class Partition {
public:
    Partition(const QueryTerms& q, const std::vector<Cursor>& cur)
        : q_(q), cur_(cur), order_(cur.size()), essential_flag_(cur.size(), 1) {
        for (std::size_t j = 0; j < order_.size(); ++j) order_[j] = j;
        std::sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
            return cur[a].upper() < cur[b].upper() || (cur[a].upper() == cur[b].upper() && a < b);
        });
        essential_ = order_;
    }

    bool essential(std::size_t j) const noexcept { return essential_flag_[j] != 0; }
    const std::vector<std::size_t>& essential_slots() const noexcept { return essential_; }
    const std::vector<std::size_t>& other_slots() const noexcept { return others_; }

    /// Makes non-essential every further term the threshold allows; true when any moved.
    bool raise(double theta) {
        const std::size_t before = k_;
        while (k_ < order_.size() && prefix_bound(k_ + 1) <= theta) essential_flag_[order_[k_++]] = 0;
        if (k_ == before) return false;
        essential_.assign(order_.begin() + static_cast<std::ptrdiff_t>(k_), order_.end());
        others_.assign(order_.begin(), order_.begin() + static_cast<std::ptrdiff_t>(k_));
        return true;
    }

private:
    double prefix_bound(std::size_t count) const {
        return q_.fold([&](std::size_t j) {
            for (std::size_t i = 0; i < count; ++i)
                if (order_[i] == j) return cur_[j].upper();
            return 0.0;
        });
    }

    const QueryTerms& q_;
    const std::vector<Cursor>& cur_;
    std::vector<std::size_t> order_;
    std::vector<uint8_t> essential_flag_;
    std::vector<std::size_t> essential_, others_;
    std::size_t k_ = 0;
};

// Document at a time with max-score pruning over blocks.
//
// With every product non-negative, the product of a query term with a document is at most
// its cursor's upper(), and floating-point products and sums are monotone, so a document's
// score is at most the query-order sum with upper() in place of the products of the terms
// it may hold. Only documents of the essential terms' postings are visited, in document
// order; the non-essential terms are looked up in each. Three bounds skip documents:
// the essential terms' block bounds (with the others' upper(), and nothing for a term
// whose next posting lies beyond the range) skip every document up to the end of the
// block that ends first; a visited document's essential products with the
// others' upper() skip its look-ups; the partition itself skips documents holding only
// non-essential terms. Each skipped document has a bound at most the heap minimum, so the
// heap would drop it: the heap sees the same changes as in the plain selection.
// `product(cursor)` is the product of the cursor's current posting. A cancellation point
// about every 2^16 cursor steps.
template <class Cursor, class Product>
void max_score_scan(const QueryTerms& q, std::vector<Cursor>& cur,
                    const std::optional<std::span<const uint8_t>>& allowed, TopHeap& heap, Product&& product) {
    constexpr uint32_t kEnd = Cursor::kEnd;
    Partition<Cursor> part(q, cur);
    std::vector<double> prod(cur.size(), 0.0);
    cancel::Budget budget;
    double block_upper = 0.0;      // bound of every document from the next one to block_last
    uint32_t block_last = 0;
    // An essential term bounds the documents up to block_last by its block, or by nothing
    // when its next posting lies beyond them.
    const auto block_bound = [&](std::size_t j) {
        if (!part.essential(j)) return cur[j].upper();
        return cur[j].doc() <= block_last ? cur[j].block_upper() : 0.0;
    };
    const auto product_bound = [&](std::size_t j) { return part.essential(j) ? prod[j] : cur[j].upper(); };
    double theta = 0.0;            // the heap's minimum once it is full
    bool blocks_changed = true;    // block_upper and block_last must be found again
    for (;;) {
        budget.spend(cur.size());
        uint32_t d = kEnd;
        for (const std::size_t j : part.essential_slots()) d = std::min(d, cur[j].doc());
        if (d == kEnd) break;
        if (heap.full()) {
            if (blocks_changed) {
                block_last = kEnd;
                for (const std::size_t j : part.essential_slots())
                    if (!cur[j].done()) block_last = std::min(block_last, cur[j].block_last());
                block_upper = q.fold(block_bound);
                blocks_changed = false;
            }
            if (!(block_upper > theta)) {
                for (const std::size_t j : part.essential_slots())
                    if (!cur[j].done()) cur[j].skip_block_through(block_last);
                blocks_changed = true;
                continue;
            }
        }
        for (const std::size_t j : part.essential_slots()) {
            prod[j] = 0.0;
            if (cur[j].doc() != d) continue;
            prod[j] = product(cur[j]);
            blocks_changed |= cur[j].next();
        }
        if (masked_out(allowed, d)) continue;
        for (const std::size_t j : part.other_slots()) prod[j] = 0.0;
        if (heap.full() && !part.other_slots().empty() && !(q.fold(product_bound) > theta)) continue;
        for (const std::size_t j : part.other_slots()) {
            cur[j].seek(d);
            if (cur[j].doc() == d) prod[j] = product(cur[j]);
        }
        const double score = q.fold([&](std::size_t j) { return prod[j]; });
        if (!(score > 0.0)) continue;
        heap.offer({d, score});
        if (heap.full() && heap.min_score() != theta) {
            theta = heap.min_score();
            blocks_changed = true;
            part.raise(theta);
        }
    }
}

/// Documents per part when one pruned selection is split over the pool.
inline constexpr std::size_t kPrunedDocsPerPart = 8192;

/// The number of parts, each with its own heap, that pruned_top_n splits a selection over
/// `docs` documents into (1 when it runs on one thread).
inline std::size_t pruned_parts(std::size_t docs) {
    const std::size_t chunks = std::min<std::size_t>(docs / kPrunedDocsPerPart, 8 * parallel::num_threads());
    return docs >= parallel::kBm25MinDocs && chunks > 1 && parallel::num_threads() > 1 ? chunks : 1;
}

/// The top n of `docs` documents by `scan(begin, end, heap)`, which offers `heap` the
/// candidates of the documents [begin, end) as the plain selection would (max_score_scan).
template <class Scan>
std::vector<Scored> pruned_top_n(std::size_t docs, uint64_t n, Scan&& scan) {
    const std::size_t size = static_cast<std::size_t>(n);
    const std::size_t chunks = pruned_parts(docs);
    if (chunks > 1) {
        // Every part of the corpus keeps its own top n on the pool. The n-th best score T
        // of their union is the n-th best of the whole corpus. When no part that filled
        // its heap kept a minimum as high as T, every score of at least T is in the
        // union; when exactly n of them reach T (or there are fewer than n candidates in
        // all) they are the selection, and when their scores also differ from each other
        // (or more than 20 are sorted, where ties are unordered) the order is theirs by
        // score. Otherwise, which of several tied documents the heap keeps, and in what
        // order, depends on its history: the selection runs again over the whole corpus.
        std::vector<std::vector<Scored>> parts(chunks);
        std::vector<double> part_min(chunks);
        std::vector<uint8_t> part_full(chunks);
        parallel::for_each_index(chunks, true, [&](std::size_t c) {
            cancel::cancellation_point();
            const std::size_t b = docs * c / chunks, e = docs * (c + 1) / chunks;
            TopHeap heap(size);
            scan(b, e, heap);
            part_full[c] = heap.full();
            part_min[c] = heap.full() ? heap.min_score() : 0.0;
            parts[c] = std::move(heap).take_sorted();
        });
        std::vector<Scored> all;
        for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
        std::sort(all.begin(), all.end(), [](const Scored& a, const Scored& b) { return ranked_before(a, b); });
        bool exact = true;
        if (all.size() <= size) {
            // Fewer than n kept: exact only when no part dropped anything.
            for (std::size_t c = 0; c < chunks; ++c)
                if (part_full[c]) exact = false;
        } else {
            const double t = all[size - 1].score;
            exact = all[size].score < t;
            for (std::size_t c = 0; c < chunks && exact; ++c)
                if (part_full[c] && !(part_min[c] < t)) exact = false;
            all.resize(size);
        }
        if (exact && all.size() <= kStableSortMax)
            for (std::size_t i = 1; i < all.size(); ++i)
                if (all[i].score == all[i - 1].score) exact = false;
        if (exact) return all;
    }
    TopHeap heap(size);
    scan(std::size_t{0}, docs, heap);
    return std::move(heap).take_sorted();
}

// The exhaustive method costs every posting of every token once, plus one pass over a bit
// per document; the pruned scan costs the postings it cannot skip, each dearer (a cursor
// per term, bounds, look-ups). It skips most of them only once the heap's minimum is high
// against the terms' bounds, which takes a longest list many times longer than n: with
// shorter lists the heap fills late and its minimum stays low, and the whole lists are
// read either way. Lists shorter in all than a bit scan of the corpus are scanned too.
/// Whether the pruned scan pays for a query whose distinct terms' lists are `longest`
/// postings at most and `total` in all, over `docs` documents, for the top n.
inline bool pruning_pays(std::size_t longest, std::size_t total, std::size_t docs, uint64_t n) noexcept {
    constexpr uint64_t kListsPerResult = 256;
    return longest / kListsPerResult >= n || total <= docs / 64;
}

/// Levels of the heap's minimum that the choice estimates: level i is the (n 2^i)-th
/// best score, about the minimum of a heap of n that has seen a 2^-i share of the corpus.
inline constexpr std::size_t kFloorLevels = 8;

/// One distinct query term's list, as the choice reads it: its length, idf, the bound of
/// its products, and the largest weight of each block of `block` postings.
template <class Weight>
struct ListBounds {
    std::size_t postings;
    double idf;
    double upper;
    std::span<const Weight> block_max;
};

/// The (n 2^i)-th largest of idf times `block_max` for each level i (0 when there are
/// fewer blocks), in `floor` where it is larger. Each block maximum is the weight of one of
/// the block's documents, and a score adds non-negative products, so at least that many
/// documents score that much or more. `scratch` is reused between calls.
template <class Weight>
void raise_floors(std::span<const Weight> block_max, double idf, std::size_t n, std::vector<Weight>& scratch,
                  std::array<double, kFloorLevels>& floor) {
    if (n == 0 || block_max.size() < n) return;
    scratch.assign(block_max.begin(), block_max.end());
    // From the deepest level up: each nth_element leaves the best `rank` in front, and the
    // next level searches only among them.
    auto end = scratch.end();
    for (std::size_t i = kFloorLevels; i-- > 0;) {
        const std::size_t rank = n << i;
        if (rank > scratch.size()) continue;
        const auto nth = scratch.begin() + static_cast<std::ptrdiff_t>(rank - 1);
        std::nth_element(scratch.begin(), nth, end, [](Weight a, Weight b) { return a > b; });
        floor[i] = std::max(floor[i], idf * static_cast<double>(*nth));
        end = nth + 1;
    }
}

/// The list whose products pruning_pays_by_bounds also reads (`lists.size()` when none):
/// the shortest one with at least `rank` postings, if it holds at most a sixteenth of all
/// postings (reading it costs little against either method). Its products give closer
/// floors than block maxima when it is short and its term rare: the documents holding it
/// score at least their product.
template <class Weight>
std::size_t probe_list(std::span<const ListBounds<Weight>> lists, std::size_t total, std::size_t rank) {
    std::size_t best = lists.size();
    for (std::size_t i = 0; i < lists.size(); ++i)
        if (lists[i].postings >= rank && lists[i].postings <= total / 16 &&
            (best == lists.size() || lists[i].postings < lists[best].postings))
            best = i;
    return best;
}

/// The cost of looking a term up in one document, in postings read.
inline constexpr double kLookupCost = 0.5;

// The choice by estimated cost. Exhaustive accumulation costs every posting once (plus a
// bit per document); the pruned scan costs, per posting it reads, `scan_cost` times as
// much (a cursor per term, bounds, look-ups). What it reads depends on the heap's minimum
// theta, which rises as the scan goes: after a 2^-i share of the corpus it is about the
// (n 2^i)-th best score, which the block maxima bound from below (raise_floors), and so
// do the products of one short list (probe_list) where it holds enough postings. At a
// given theta, the terms by increasing bound whose bounds add up to at most theta are only
// looked up; the others are essential. The longest essential list is read only in the
// blocks whose bound (with the looked-up terms' bounds) exceeds theta and in the blocks
// where another essential term has a posting; the other essential lists are read whole;
// each document read costs a look-up (about kLookupCost postings) per looked-up term, and
// each block of the longest list one posting. So the scan reads about that at level 1 over the last half of the corpus, at level 2
// over the quarter before, and so on, and every posting of the first 2^-(levels - 1).
// The estimate ignores what the other terms add to a score, so it errs towards the
// exhaustive method. One term skips whole blocks by their maxima and takes the length
// rule; lists shorter in all than a bit scan of the corpus are scanned too.
/// Whether the pruned scan pays for a query with these lists over `docs` documents, for
/// the top n (in `parts` parts with their own heaps), on an index whose blocks hold
/// `block` postings and whose scan costs `scan_cost` times its accumulation per posting.
/// `products(i, out)` appends the products of list i (see probe_list).
template <class Weight, class Products>
bool pruning_pays_by_bounds(std::span<const ListBounds<Weight>> lists, Products&& products, std::size_t docs,
                            uint64_t n, std::size_t parts, std::size_t block, double scan_cost) {
    std::size_t longest = 0, total = 0;
    for (const ListBounds<Weight>& l : lists) {
        longest = std::max(longest, l.postings);
        total += l.postings;
    }
    if (lists.size() == 1 || total <= docs / 64) return pruning_pays(longest, total, docs, n);
    std::vector<const ListBounds<Weight>*> by_upper;
    for (const ListBounds<Weight>& l : lists) by_upper.push_back(&l);
    std::sort(by_upper.begin(), by_upper.end(), [](auto* a, auto* b) { return a->upper < b->upper; });
    const double budget = static_cast<double>(total) / scan_cost;
    // No floor exceeds the largest bound, so the lists beyond the terms whose bounds add
    // up to at most that stay essential, and all but the longest of them are read whole:
    // when that alone is too dear, the floors are not needed.
    {
        double others = 0.0;
        std::size_t k = 0, rest = 0, top = 0;
        while (k < by_upper.size() && others + by_upper[k]->upper <= by_upper.back()->upper)
            others += by_upper[k++]->upper;
        for (; k < by_upper.size(); ++k) {
            rest += by_upper[k]->postings;
            top = std::max(top, by_upper[k]->postings);
        }
        if (static_cast<double>(rest - top) > budget) return false;
    }
    std::array<double, kFloorLevels> floor{};
    const std::size_t rank = static_cast<std::size_t>(std::min<uint64_t>(n, docs)) * parts;
    {
        std::vector<Weight> scratch;
        for (const ListBounds<Weight>& l : lists) raise_floors(l.block_max, l.idf, rank, scratch, floor);
        const std::size_t probe = probe_list(lists, total, rank);
        std::vector<double> exact, exact_scratch;
        if (probe < lists.size()) products(probe, exact);
        raise_floors(std::span<const double>(exact), 1.0, rank, exact_scratch, floor);
    }
    const auto postings_read = [&](double theta) {
        double others = 0.0;  // the sum of the looked-up terms' bounds
        std::size_t k = 0;
        while (k < by_upper.size() && others + by_upper[k]->upper <= theta) others += by_upper[k++]->upper;
        if (k == by_upper.size()) return 0.0;
        const ListBounds<Weight>* f = by_upper[k];
        std::size_t rest = 0;
        for (std::size_t i = k; i < by_upper.size(); ++i) {
            rest += by_upper[i]->postings;
            if (by_upper[i]->postings > f->postings) f = by_upper[i];
        }
        rest -= f->postings;
        std::size_t above = 0;
        for (const Weight w : f->block_max) above += f->idf * static_cast<double>(w) + others > theta;
        const double blocks = static_cast<double>(f->block_max.size());
        const double visited = static_cast<double>(rest) +
               std::min(static_cast<double>(f->postings), static_cast<double>(block) * static_cast<double>(above + rest));
        return visited * (1.0 + kLookupCost * static_cast<double>(k)) + blocks;
    };
    // Level by level, stopping as soon as the scan is dearer.
    double share = 1.0 / static_cast<double>(std::size_t{1} << (kFloorLevels - 1));
    double read = share * static_cast<double>(total);
    for (std::size_t i = 1; i < kFloorLevels && read <= budget; ++i)
        read += static_cast<double>(std::size_t{1} << (kFloorLevels - 1 - i)) * share * postings_read(floor[i]);
    return read <= budget;
}

}  // namespace tarnwick::search
