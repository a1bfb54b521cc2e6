// Top-n selection of the in-memory engine. Each query takes one of two methods, whichever
// its list lengths and n say is cheaper; both give the plain selection (the heap offered
// every positive score in document order) and the same score bits:
// - exhaustive: term at a time, every posting of every token added into one accumulator
//   per document, then the reached documents offered to the heap in document order;
// - pruned: document at a time with max-score pruning over the postings' blocks, which
//   skips only documents that cannot enter the heap (see pruned_scan).
#include "search/bm25/bm25_engine.hpp"

#include "parallel.hpp"
#include "search/ranking/pruned_scan.hpp"
#include "search/ranking/query_terms.hpp"
#include "search/ranking/score_scratch.hpp"

#include <algorithm>
#include <array>
#include <bit>

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
    /// The current document (kEnd when done) and its posting.
    uint32_t doc() const noexcept { return done() ? kEnd : p_->doc; }
    const TermPosting& posting() const noexcept { return *p_; }
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

}  // namespace

// Document at a time with max-score pruning over blocks (max_score_scan) on the term
// cursors of the documents [begin, end).
template <Variant V>
void Bm25Engine::pruned_scan(const QueryTerms& q, std::size_t begin, std::size_t end, Mask allowed,
                             TopHeap& heap) const {
    std::vector<TermCursor> cur;
    cur.reserve(q.size());
    for (const uint32_t t : q.ids())
        cur.emplace_back(postings(t), begin, end, kBlock, t, idf_[t], max_weight_[t],
                         block_max_.data() + block_base_[t]);
    max_score_scan(q, cur, allowed, heap, [&](const TermCursor& c) {
        return c.idf() * posting_weight<V>(c.term(), c.posting());
    });
}

template <Variant V>
std::vector<Scored> Bm25Engine::top_n_pruned(const QueryTerms& q, uint64_t n, Mask allowed) const {
    return pruned_top_n(num_docs(), n, [&](std::size_t begin, std::size_t end, TopHeap& heap) {
        pruned_scan<V>(q, begin, end, allowed, heap);
    });
}

template <Variant V>
std::vector<Scored> Bm25Engine::top_n_one_term(uint32_t t, uint64_t n, Mask allowed) const {
    const std::span<const TermPosting> list = postings(t);
    if (use_sort_path(num_docs(), n)) {
        const double idf = idf_[t];
        return select_top_n(num_docs(), n, [&](auto&& visit) {
            for (const TermPosting& p : list)
                if (!masked_out(allowed, p.doc)) visit(p.doc, idf * posting_weight<V>(t, p));
        });
    }
    // The products of 64 postings at a time, of which only those above the heap's minimum
    // (or zero while it fills) are offered, in order.
    TopHeap heap(static_cast<std::size_t>(n));
    std::array<double, 64> product;
    for (std::size_t first = 0; first < list.size(); first += 64) {
        const TermPosting* const p = list.data() + first;
        const std::size_t count = std::min<std::size_t>(64, list.size() - first);
        for_each_product<V>(t, p, count, [&](std::size_t i, double x) { product[i] = x; });
        std::fill(product.begin() + static_cast<std::ptrdiff_t>(count), product.end(), 0.0);
        for (uint64_t m = scores_above(product.data(), heap.full() ? heap.min_score() : 0.0); m; m &= m - 1) {
            const int i = std::countr_zero(m);
            if (!masked_out(allowed, p[i].doc)) heap.offer({p[i].doc, product[i]});
        }
    }
    return std::move(heap).take_sorted();
}

std::vector<Scored> Bm25Engine::top_n_exhaustive(const Query& q, uint64_t n, Mask allowed) const {
    const std::size_t docs = num_docs();
    // One token that occurs in the corpus: a document's score is its one product (the
    // other tokens add +0.0, which leaves a non-zero sum as it is), and the list is in
    // document order already.
    const auto known = [](uint32_t t) { return t != Query::kNoTerm; };
    if (std::count_if(q.terms.begin(), q.terms.end(), known) == 1) {
        const uint32_t t = *std::find_if(q.terms.begin(), q.terms.end(), known);
        return bm25::with_variant(variant_, [&]<Variant V>() { return top_n_one_term<V>(t, n, allowed); });
    }
    const std::size_t tasks = (docs + kDocsPerTask - 1) / kDocsPerTask;
    const auto excluded = [&](std::size_t d) { return masked_out(allowed, d); };
    // Only positive scores are candidates, and a document that no token reaches scores
    // zero, so the selection visits the reached documents in index order. On the pool,
    // every part of the corpus is accumulated first, each into its own range of the
    // scratch; on one thread, each part is accumulated into the same first kDocsPerTask
    // entries of the scratch and offered before the next: the same sums, offered in the
    // same order, from accumulators that stay in the cache across parts and queries.
    if (docs >= parallel::kBm25MinDocs && parallel::num_threads() > 1) {
        ScoreScratch scratch(docs);
        parallel::for_each_index(tasks, true, [&](std::size_t k) {
            cancel::cancellation_point();
            const std::size_t begin = k * kDocsPerTask, end = std::min(docs, begin + kDocsPerTask);
            accumulate(q, begin, end, scratch.acc() + begin, scratch.touched() + begin / 64);
        });
        return select_reached(scratch, docs, n, [&](auto&& drain) { drain(0, (docs + 63) / 64); }, excluded);
    }
    ScoreScratch scratch(std::min(docs, kDocsPerTask));
    return select_reached(scratch, docs, n, [&](auto&& drain) {
        for (std::size_t k = 0; k < tasks; ++k) {
            cancel::cancellation_point();
            const std::size_t begin = k * kDocsPerTask, end = std::min(docs, begin + kDocsPerTask);
            accumulate(q, begin, end, scratch.acc(), scratch.touched());
            drain(0, (end - begin + 63) / 64, begin);
        }
    }, excluded);
}

// The choice of method by list lengths, bounds and n: see pruning_pays_by_bounds in
// pruned_scan.hpp. The scan computes each weight as the accumulation does, so a posting it
// reads costs about 3 times one accumulated. (Both this factor and the mapped index's
// were fitted on the p99 and median of word and phrase queries at top-10 and top-100 over
// 100,000 synthetic and real-text documents, one thread: with them the in-memory p99
// stays near exhaustive accumulation's; the mapped index's loses up to about a fifth on
// phrase queries.)
//
// One token of a known term is selected without accumulators either way: the exhaustive
// path reads its list once, 64 products at a time (top_n_one_term), which the scan beats
// only by skipping most of its blocks, once the list is a few thousand times longer
// than n. (Fitted at top-10, top-100 and top-1000 over 1,000,000 synthetic documents, one
// thread.)
//
// Lists shorter in all than a bit per 64 documents: the exhaustive method's pass over the
// reached bits and its parts cost more than the lists themselves when they are a small
// share of that (a thousandth of the corpus), and the scan reads nearly every posting
// anyway when the heap holds more than about a 128th of them. (Fitted at top-10 to
// top-1000 on real text and 1,000,000 synthetic documents, one thread.)
bool Bm25Engine::pruning_pays(const QueryTerms& q, uint64_t n, bool one_token) const {
    constexpr uint64_t kOneTermPostingsPerResult = 2048;
    constexpr uint64_t kShortPostingsPerResult = 128;
    const auto length = [&](uint32_t t) { return post_offsets_[t + 1] - post_offsets_[t]; };
    if (one_token) return length(q.ids()[0]) / kOneTermPostingsPerResult >= n;
    std::size_t total = 0;
    for (const uint32_t t : q.ids()) total += length(t);
    if (total <= num_docs() / 64) return total <= num_docs() / 1024 || total / kShortPostingsPerResult >= n;
    std::vector<ListBounds<double>> lists;
    lists.reserve(q.size());
    for (const uint32_t t : q.ids())
        lists.push_back({length(t), idf_[t], idf_[t] * max_weight_[t],
                         std::span<const double>(block_max_.data() + block_base_[t], block_max_.data() + block_base_[t + 1])});
    const auto products = [&](std::size_t i, std::vector<double>& out) {
        const uint32_t t = q.ids()[i];
        const auto fill = [&]<Variant V>() {
            for (const TermPosting& p : postings(t)) out.push_back(idf_[t] * posting_weight<V>(t, p));
        };
        bm25::with_variant(variant_, fill);
    };
    return pruning_pays_by_bounds<double>(lists, products, num_docs(), n, pruned_parts(num_docs()), kBlock, 3.0);
}

std::vector<Scored> Bm25Engine::top_n(const Query& q, uint64_t n, Mask allowed) const {
    const std::size_t docs = num_docs();
    // Without tokens no score is positive.
    if (docs == 0 || q.terms.empty() || n == 0) return {};
    // The pruned scan needs non-negative weights (its bounds) and the heap (the sort path
    // takes every candidate).
    if (!prunable_ || use_sort_path(docs, n)) return top_n_exhaustive(q, n, allowed);
    const QueryTerms terms(q.terms, Query::kNoTerm);
    const auto known = [](uint32_t t) { return t != Query::kNoTerm; };
    const bool one_token = std::count_if(q.terms.begin(), q.terms.end(), known) == 1;
    if (!pruning_pays(terms, n, one_token)) return top_n_exhaustive(q, n, allowed);
    return bm25::with_variant(variant_, [&]<Variant V>() { return top_n_pruned<V>(terms, n, allowed); });
}

}  // namespace tarnwick::search
