// Top-n selection of the mapped index. Each query takes one of two methods, whichever its
// list lengths, bounds and n say is cheaper; both give the plain selection (the heap
// offered every positive score in document order) and the same score bits:
// - exhaustive: term at a time, every record of every token added into one accumulator per
//   document (from +0.0, in token order), then the reached documents offered to the heap
//   in document order;
// - pruned: the shared document-at-a-time scan with max-score pruning over blocks of
//   records (ranking/pruned_scan.hpp), on cursors that read the records in place. Its
//   fold starts at -0.0 and adds +0.0 for a token the document lacks: with non-negative
//   products that changes only the sign of a zero sum, which is never a candidate, so
//   every positive score is the accumulated one bit for bit.
#include "search/index_dir/mmap_bm25_engine.hpp"

#include "search/ranking/pruned_scan.hpp"
#include "search/ranking/score_scratch.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>

namespace tarnwick::search {

/// A cursor over one term's records within the documents [begin, end), in place. The
/// current document is read once when the cursor moves, compared with the document count
/// (the mapping may have been rewritten since the term's check: an out-of-range number
/// raises the check's CorruptIndexError) and kept; other document numbers are only
/// compared, never used. Every move goes forward, so a scan over records that are no
/// longer in order still ends.
class MappedCursor {
public:
    static constexpr uint32_t kEnd = UINT32_MAX;
    static constexpr std::size_t kBlock = MmapBM25Index::kBlock;

    MappedCursor(const MmapBM25Index& index, uint32_t term, std::size_t begin, std::size_t end)
        : index_(&index), recs_(index.mapped_records(term)), bounds_(&index.bounds(term)),
          docs_(index.num_docs()), term_(term), idf_(index.meta_.idf[term]),
          upper_(idf_ * static_cast<double>(bounds_->max_weight)) {
        i_ = begin == 0 ? 0 : first_at_or_after(0, recs_.size(), begin);
        stop_ = end >= docs_ ? recs_.size() : first_at_or_after(i_, recs_.size(), end);
        enter_block();
    }

    bool done() const noexcept { return i_ == stop_; }
    uint32_t doc() const noexcept { return doc_; }
    double upper() const noexcept { return upper_; }
    double block_upper() const noexcept { return block_upper_; }
    uint32_t block_last() const noexcept { return block_last_; }
    /// idf times the current record's weight, as the accumulation computes it.
    double product() const noexcept { return idf_ * static_cast<double>(recs_.weight(i_)); }

    bool next() {
        if (++i_ != block_end_) {
            load();
            return false;
        }
        enter_block();
        return true;
    }
    void skip_block_through(uint32_t d) {
        if (d >= block_last_) {
            i_ = block_end_;
            enter_block();
            return;
        }
        // The first record after d within the block (binary search by document).
        std::size_t lo = i_, hi = block_end_;
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (recs_.doc(mid) <= d) lo = mid + 1;
            else hi = mid;
        }
        i_ = lo;
        if (i_ == block_end_) enter_block();
        else load();
    }
    void seek(uint32_t d) {
        if (done() || doc_ >= d) return;
        std::size_t lo = i_, step = 1;
        while (lo + step < stop_ && recs_.doc(lo + step) < d) {
            lo += step;
            step *= 2;
        }
        i_ = first_at_or_after(lo + 1, std::min(lo + step + 1, stop_), d);
        load();
    }

private:
    /// The first index in [lo, hi) whose record's document is at least d (hi if none).
    std::size_t first_at_or_after(std::size_t lo, std::size_t hi, std::size_t d) const noexcept {
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (recs_.doc(mid) < d) lo = mid + 1;
            else hi = mid;
        }
        return lo;
    }
    void load() {
        if (i_ == stop_) {
            doc_ = kEnd;
            return;
        }
        const uint32_t d = recs_.doc(i_);
        if (d >= docs_) [[unlikely]] index_->bad_document(term_, d);
        doc_ = d;
    }
    void enter_block() {
        if (i_ == stop_) {
            doc_ = kEnd;
            block_upper_ = 0.0;
            block_end_ = stop_;
            return;
        }
        const std::size_t b = i_ / kBlock;
        block_end_ = std::min((b + 1) * kBlock, stop_);
        block_upper_ = idf_ * static_cast<double>(bounds_->block_max[b]);
        block_last_ = recs_.doc(block_end_ - 1);
        load();
    }

    const MmapBM25Index* index_;
    PostingRecords recs_;
    const MmapBM25Index::TermBounds* bounds_;
    uint64_t docs_;
    uint32_t term_;
    double idf_;
    double upper_;
    std::size_t i_ = 0, stop_ = 0, block_end_ = 0;
    uint32_t doc_ = kEnd;
    uint32_t block_last_ = 0;
    double block_upper_ = 0.0;
};

std::vector<Scored> MmapBM25Index::top_n_exhaustive(std::span<const uint32_t> tokens, uint64_t n,
                                                    Mask allowed) const {
    const std::size_t docs = num_docs();
    // One token with records, on the heap path: a document's score is its one product
    // (+0.0 plus the product: the same bits when it is positive), so the records are
    // offered as they are read, 64 at a time, only those above the heap's minimum (or
    // zero while it fills) at the start of the batch. Records out of increasing order
    // (the mapping rewritten since it was checked) leave the scores to the accumulation.
    const auto known = [](uint32_t t) { return t != kNoTerm; };
    if (!use_sort_path(docs, n) && std::count_if(tokens.begin(), tokens.end(), known) == 1) {
        const uint32_t t = *std::find_if(tokens.begin(), tokens.end(), known);
        const double idf = meta_.idf[t];
        const PostingRecords recs = records(t);
        TopHeap heap(static_cast<std::size_t>(n));
        std::array<double, 64> product;
        std::array<uint32_t, 64> doc;
        cancel::Budget budget;
        bool in_order = true;
        for (std::size_t first = 0; first < recs.size() && in_order; first += 64) {
            budget.spend(64 * kPostingBytes);
            const std::size_t count = std::min<std::size_t>(64, recs.size() - first);
            for (std::size_t i = 0; i < count; ++i) {
                doc[i] = recs.doc(first + i);
                if (doc[i] >= docs) [[unlikely]] bad_document(t, doc[i]);
                product[i] = idf * static_cast<double>(recs.weight(first + i));
            }
            for (std::size_t i = first == 0 ? 1 : 0; i < count; ++i)
                in_order &= (i == 0 ? recs.doc(first - 1) : doc[i - 1]) < doc[i];
            if (!in_order) break;
            std::fill(product.begin() + static_cast<std::ptrdiff_t>(count), product.end(), 0.0);
            for (uint64_t m = scores_above(product.data(), heap.full() ? heap.min_score() : 0.0); m; m &= m - 1) {
                const int i = std::countr_zero(m);
                if (!masked_out(allowed, doc[i])) heap.offer({doc[i], product[i]});
            }
        }
        if (in_order) return std::move(heap).take_sorted();
    }
    ScoreScratch scratch(docs);
    accumulate(tokens, scratch.acc(), scratch.touched());
    // A document that no token reaches scores +0.0 and is never a candidate.
    return select_reached(scratch, docs, n, [&](auto&& drain) { drain(0, (docs + 63) / 64); },
                          [&](std::size_t d) { return masked_out(allowed, d); });
}

std::vector<Scored> MmapBM25Index::top_n_pruned(const QueryTerms& q, uint64_t n, Mask allowed) const {
    return pruned_top_n(num_docs(), n, [&](std::size_t begin, std::size_t end, TopHeap& heap) {
        std::vector<MappedCursor> cur;
        cur.reserve(q.size());
        for (const uint32_t t : q.ids()) cur.emplace_back(*this, t, begin, end);
        max_score_scan(q, cur, allowed, heap, [](const MappedCursor& c) { return c.product(); });
    });
}

// The choice of method by list lengths, bounds and n: see pruning_pays_by_bounds in
// pruned_scan.hpp. The accumulation reads its weights, so a posting the scan reads costs
// about 4 times one accumulated (fitted as in the in-memory engine).
bool MmapBM25Index::pruning_pays(const QueryTerms& q, uint64_t n) const {
    std::vector<ListBounds<float>> lists;
    lists.reserve(q.size());
    for (const uint32_t t : q.ids()) {
        const TermBounds& b = bounds(t);
        const double idf = meta_.idf[t];
        lists.push_back({static_cast<std::size_t>(meta_.dictionary[t].postings_count), idf,
                         idf * static_cast<double>(b.max_weight), std::span<const float>(b.block_max)});
    }
    const auto products = [&](std::size_t i, std::vector<double>& out) {
        const PostingRecords recs = mapped_records(q.ids()[i]);
        for (std::size_t r = 0; r < recs.size(); ++r) out.push_back(lists[i].idf * static_cast<double>(recs.weight(r)));
    };
    return pruning_pays_by_bounds<float>(lists, products, num_docs(), n, pruned_parts(num_docs()), kBlock, 4.0);
}

std::vector<Scored> MmapBM25Index::top_n(std::string_view query, uint64_t n, Mask allowed) const {
    const std::size_t docs = num_docs();
    if (docs == 0 || n == 0) return {};
    const std::vector<uint32_t> tokens = resolve(query);
    const QueryTerms q(tokens, kNoTerm);
    // No token with records: every score is +0.0.
    if (q.size() == 0) return {};
    // The pruned scan needs the heap (the sort path takes every candidate), document
    // numbers below its end marker, and non-negative products (its bounds): every idf and
    // weight of the query a finite non-negative number, so that no product is NaN.
    if (use_sort_path(docs, n) || docs >= MappedCursor::kEnd) return top_n_exhaustive(tokens, n, allowed);
    for (const uint32_t t : q.ids()) {
        const double idf = meta_.idf[t];
        if (!(idf >= 0.0 && idf <= std::numeric_limits<double>::max()) || !bounds(t).prunable)
            return top_n_exhaustive(tokens, n, allowed);
    }
    if (!pruning_pays(q, n)) return top_n_exhaustive(tokens, n, allowed);
    return top_n_pruned(q, n, allowed);
}

}  // namespace tarnwick::search
