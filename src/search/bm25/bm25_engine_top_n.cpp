// Top-n selection of the in-memory engine. Each query takes one of two methods, whichever
// its list lengths and n say is cheaper; both give the plain selection (the heap offered
// every positive score in document order) and the same score bits:
// - exhaustive: term at a time, every posting of every token added into one accumulator
//   per document, then the reached documents offered to the heap in document order;
// - pruned: document at a time with max-score pruning over the postings' blocks, which
//   skips only documents that cannot enter the heap (see pruned_scan).
#include "search/bm25/bm25_engine.hpp"

#include "parallel.hpp"
#include "search/ranking/query_terms.hpp"
#include "search/ranking/score_scratch.hpp"

#include <algorithm>

namespace tarnwick::search {
namespace {

/// A cursor over one term's postings within the documents [begin, end), with the bounds
/// of its products: idf times the term's largest weight, and idf times the largest weight
/// of the block of kBlock postings it stands in.
class TermCursor {
public:
    static constexpr uint32_t kEnd = UINT32_MAX;

    TermCursor(std::span<const TermPosting> list, std::size_t begin, std::size_t end, std::size_t block,
               uint32_t term, double idf, double max_weight, const double* block_max)
        : first_(list.data()), block_(block), block_max_(block_max), term_(term), idf_(idf),
          upper_(idf * max_weight) {
        const auto by_doc = [](const TermPosting& x, std::size_t doc) { return x.doc < doc; };
        p_ = std::lower_bound(list.data(), list.data() + list.size(), begin, by_doc);
        stop_ = std::lower_bound(p_, list.data() + list.size(), end, by_doc);
        enter_block();
    }

    uint32_t term() const noexcept { return term_; }
    double idf() const noexcept { return idf_; }
    bool done() const noexcept { return p_ == stop_; }
    /// The current document (kEnd when done) and the term's frequency there.
    uint32_t doc() const noexcept { return done() ? kEnd : p_->doc; }
    uint32_t tf() const noexcept { return p_->tf; }
    /// Bound of every product of the term.
    double upper() const noexcept { return upper_; }
    /// Bound of the products of the current block (0 when done), and its last document.
    double block_upper() const noexcept { return block_upper_; }
    uint32_t block_last() const noexcept { return block_end_[-1].doc; }

    /// Moves to the next posting; true when that enters another block.
    bool next() noexcept {
        if (++p_ != block_end_) return false;
        enter_block();
        return true;
    }
    /// Moves past every posting of the current block up to document d.
    void skip_block_through(uint32_t d) noexcept {
        p_ = std::upper_bound(p_, block_end_, d, [](uint32_t doc, const TermPosting& x) { return doc < x.doc; });
        if (p_ == block_end_) enter_block();
    }
    /// Moves to the first posting at or after document d by galloping. The block is not
    /// followed: a cursor moved this way is bounded by upper() alone.
    void seek(uint32_t d) noexcept {
        const TermPosting* p = p_;
        std::size_t step = 1;
        while (p + step < stop_ && p[step].doc < d) {
            p += step;
            step *= 2;
        }
        const TermPosting* hi = std::min(p + step + 1, stop_);
        p_ = std::lower_bound(p, hi, d, [](const TermPosting& x, uint32_t doc) { return x.doc < doc; });
    }

private:
    void enter_block() noexcept {
        if (p_ == stop_) {
            block_upper_ = 0.0;
            block_end_ = stop_;
            return;
        }
        const std::size_t i = static_cast<std::size_t>(p_ - first_) / block_;
        block_end_ = std::min(first_ + (i + 1) * block_, stop_);
        block_upper_ = idf_ * block_max_[i];
    }

    const TermPosting* first_;
    const TermPosting* p_;
    const TermPosting* stop_;
    const TermPosting* block_end_ = nullptr;
    std::size_t block_;
    const double* block_max_;
    uint32_t term_;
    double idf_;
    double upper_;
    double block_upper_ = 0.0;
};

/// The max-score partition of a query's cursors. Slots are ranked by increasing upper()
/// (ties by slot); the first k of that ranking are non-essential once the query-order sum
/// of their bounds (the others adding +0.0) is at most the heap's minimum: a document
/// holding only those terms cannot enter the heap.
class Partition {
public:
    Partition(const QueryTerms& q, const std::vector<TermCursor>& cur)
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
    const std::vector<TermCursor>& cur_;
    std::vector<std::size_t> order_;
    std::vector<uint8_t> essential_flag_;
    std::vector<std::size_t> essential_, others_;
    std::size_t k_ = 0;
};

bool masked_out(const Mask& allowed, std::size_t d) noexcept {
    return allowed && d < allowed->size() && !(*allowed)[d];
}

}  // namespace

// Document at a time with max-score pruning over blocks.
//
// With every weight non-negative, the product of a query term with a document is at most
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
template <Variant V>
void Bm25Engine::pruned_scan(const QueryTerms& q, std::size_t begin, std::size_t end, Mask allowed,
                             TopHeap& heap) const {
    std::vector<TermCursor> cur;
    cur.reserve(q.size());
    for (const uint32_t t : q.ids())
        cur.emplace_back(postings(t), begin, end, kBlock, t, idf_[t], max_weight_[t],
                         block_max_.data() + block_base_[t]);
    Partition part(q, cur);
    std::vector<double> product(cur.size(), 0.0);
    double block_upper = 0.0;      // bound of every document from the next one to block_last
    uint32_t block_last = 0;
    // An essential term bounds the documents up to block_last by its block, or by nothing
    // when its next posting lies beyond them.
    const auto block_bound = [&](std::size_t j) {
        if (!part.essential(j)) return cur[j].upper();
        return cur[j].doc() <= block_last ? cur[j].block_upper() : 0.0;
    };
    const auto product_bound = [&](std::size_t j) { return part.essential(j) ? product[j] : cur[j].upper(); };
    double theta = 0.0;            // the heap's minimum once it is full
    bool blocks_changed = true;    // block_upper and block_last must be found again
    for (;;) {
        uint32_t d = TermCursor::kEnd;
        for (const std::size_t j : part.essential_slots()) d = std::min(d, cur[j].doc());
        if (d == TermCursor::kEnd) break;
        if (heap.full()) {
            if (blocks_changed) {
                block_last = TermCursor::kEnd;
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
            product[j] = 0.0;
            if (cur[j].doc() != d) continue;
            product[j] = cur[j].idf() * weight_v<V>(cur[j].term(), d, cur[j].tf());
            blocks_changed |= cur[j].next();
        }
        if (masked_out(allowed, d)) continue;
        for (const std::size_t j : part.other_slots()) product[j] = 0.0;
        if (heap.full() && !part.other_slots().empty() && !(q.fold(product_bound) > theta)) continue;
        for (const std::size_t j : part.other_slots()) {
            cur[j].seek(d);
            if (cur[j].doc() == d) product[j] = cur[j].idf() * weight_v<V>(cur[j].term(), d, cur[j].tf());
        }
        const double score = q.fold([&](std::size_t j) { return product[j]; });
        if (!(score > 0.0)) continue;
        heap.offer({d, score});
        if (heap.full() && heap.min_score() != theta) {
            theta = heap.min_score();
            blocks_changed = true;
            part.raise(theta);
        }
    }
}

template <Variant V>
std::vector<Scored> Bm25Engine::top_n_pruned(const QueryTerms& q, uint64_t n, Mask allowed) const {
    const std::size_t docs = num_docs();
    const std::size_t size = static_cast<std::size_t>(n);
    const std::size_t chunks = std::min<std::size_t>(docs / kDocsPerTask, 8 * parallel::num_threads());
    if (docs >= parallel::kBm25MinDocs && chunks > 1 && parallel::num_threads() > 1) {
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
            pruned_scan<V>(q, b, e, allowed, heap);
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
    pruned_scan<V>(q, 0, docs, allowed, heap);
    return std::move(heap).take_sorted();
}

template <Variant V>
std::vector<Scored> Bm25Engine::top_n_one_term(uint32_t t, uint64_t n, Mask allowed) const {
    const double idf = idf_[t];
    return select_top_n(num_docs(), n, [&](auto&& visit) {
        for (const TermPosting& p : postings(t))
            if (!masked_out(allowed, p.doc)) visit(p.doc, idf * weight_v<V>(t, p.doc, p.tf));
    });
}

std::vector<Scored> Bm25Engine::top_n_exhaustive(const Query& q, uint64_t n, Mask allowed) const {
    const std::size_t docs = num_docs();
    // One token that occurs in the corpus: a document's score is its one product (the
    // other tokens add +0.0, which leaves a non-zero sum as it is), and the list is in
    // document order already.
    const auto known = [](uint32_t t) { return t != Query::kNoTerm; };
    if (std::count_if(q.terms.begin(), q.terms.end(), known) == 1) {
        const uint32_t t = *std::find_if(q.terms.begin(), q.terms.end(), known);
        switch (variant_) {
            case Variant::Okapi: return top_n_one_term<Variant::Okapi>(t, n, allowed);
            case Variant::L: return top_n_one_term<Variant::L>(t, n, allowed);
            case Variant::Plus: return top_n_one_term<Variant::Plus>(t, n, allowed);
            case Variant::T: return top_n_one_term<Variant::T>(t, n, allowed);
        }
    }
    const ScoreScratch scratch(docs);
    double* acc = scratch.acc();
    uint64_t* touched = scratch.touched();
    const std::size_t tasks = (docs + kDocsPerTask - 1) / kDocsPerTask;
    parallel::for_each_index(tasks, docs >= parallel::kBm25MinDocs, [&](std::size_t k) {
        cancel::cancellation_point();
        const std::size_t begin = k * kDocsPerTask, end = std::min(docs, begin + kDocsPerTask);
        accumulate(q, begin, end, acc + begin, touched + begin / 64);
    });
    // Only positive scores are candidates, and a document that no token reaches scores
    // zero, so the selection visits the reached documents in index order.
    return select_top_n(docs, n, [&](auto&& visit) {
        scratch.for_each_reached([&](std::size_t d) {
            if (!masked_out(allowed, d)) visit(d, acc[d]);
        });
    });
}

// The exhaustive method costs every posting of every token once, plus one pass over a bit
// per document; the pruned scan costs the postings it cannot skip, each dearer (a cursor
// per term, bounds, look-ups). It skips most of them only once the heap's minimum is high
// against the terms' bounds, which takes a longest list many times longer than n: with
// shorter lists the heap fills late and its minimum stays low, and the whole lists are
// read either way. Lists shorter in all than a bit scan of the corpus are scanned too.
bool Bm25Engine::pruning_pays(const QueryTerms& q, uint64_t n) const {
    constexpr uint64_t kListsPerResult = 256;
    std::size_t longest = 0, total = 0;
    for (const uint32_t t : q.ids()) {
        const std::size_t len = post_offsets_[t + 1] - post_offsets_[t];
        longest = std::max(longest, len);
        total += len;
    }
    return longest / kListsPerResult >= n || total <= num_docs() / 64;
}

std::vector<Scored> Bm25Engine::top_n(const Query& q, uint64_t n, Mask allowed) const {
    const std::size_t docs = num_docs();
    // Without tokens no score is positive.
    if (docs == 0 || q.terms.empty() || n == 0) return {};
    // The pruned scan needs non-negative weights (its bounds) and the heap (the sort path
    // takes every candidate).
    if (!prunable_ || use_sort_path(docs, n)) return top_n_exhaustive(q, n, allowed);
    const QueryTerms terms(q.terms, Query::kNoTerm);
    if (!pruning_pays(terms, n)) return top_n_exhaustive(q, n, allowed);
    switch (variant_) {
        case Variant::Okapi: return top_n_pruned<Variant::Okapi>(terms, n, allowed);
        case Variant::L: return top_n_pruned<Variant::L>(terms, n, allowed);
        case Variant::Plus: return top_n_pruned<Variant::Plus>(terms, n, allowed);
        case Variant::T: break;
    }
    return top_n_pruned<Variant::T>(terms, n, allowed);
}

}  // namespace tarnwick::search
