// The BM25 engine shared by the four index variants (Okapi, L, Plus and the per-term T).
//
// What the structure guarantees:
// - The corpus is kept as given: the engine copies the texts into one buffer of its own,
//   or reads them where the caller keeps them (`borrowing`: the caller keeps every text
//   alive and unchanged at its address for the engine's life, as the Python classes do
//   with their str objects). `doc_index` maps each distinct text to the last document
//   holding it through a set of document ids hashed by their texts (text_ids.hpp).
// - Every document is tokenised once. Its terms are kept as term ids in document order
//   (the forward list: positions of a term are the indexes where its id stands), and every
//   distinct (term, document) pair is one posting (document id, term frequency) in the
//   term's list, in increasing document order.
// - idf is precomputed per term. A term weight w(d, t) is a pure function of the term
//   frequency, the document's length factor K(d) (precomputed per document) and, for the
//   T variant, the term's own saturation; it is evaluated with exactly the operations of
//   its formula wherever it is needed, so every score is the same double whether it was
//   read from a precomputed table or computed at query time.
// - Scores are the per-document sum, over the query tokens in query order starting at
//   -0.0, of idf(t) * w(d, t), where a token absent from a document adds idf * 0.0. The
//   engine adds only the products of postings (an inverted index); the skipped additions
//   of +0.0 change a sum only when it would otherwise be zero, so zero sums are settled
//   by the plain per-document sum (see `scores`).
// - Top-n on the heap path takes, per query, exhaustive accumulation or a pruned scan
//   (bm25_engine_top_n.cpp). The scan may skip a document only when its score provably
//   cannot exceed the heap's minimum, which the heap would drop anyway; it then visits the
//   others in document order, so the selection equals the plain one, ties included.
// - Term positions are not stored: the positions of a term in a document are the indexes
//   of its id in the document's forward list, found by one scan of that list (stored at
//   the document's id width: forward_lists.hpp).
// Nothing changes after construction: any number of threads may query at once. The engine
// is the in-memory implementation of Bm25Reader, through which the rankings read it.
#pragma once

#include "fx_hash.hpp"
#include "search/bm25/bm25_formula.hpp"
#include "search/bm25/corpus_stats.hpp"
#include "search/bm25/bm25_reader.hpp"
#include "search/bm25/postings.hpp"
#include "search/bm25/text_ids.hpp"
#include "search/ranking/top_n.hpp"

#include <absl/container/flat_hash_map.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::search {

class QueryTerms;

/// A query's tokens resolved against the dictionary: a term id per token in query order,
/// or kNoTerm for a token that occurs nowhere in the corpus.
struct Query {
    static constexpr uint32_t kNoTerm = UINT32_MAX;
    std::vector<uint32_t> terms;
};

class Bm25Engine final : public Bm25Reader {
public:
    /// Builds the index over `corpus` (UTF-8 texts), copying the texts. Throws
    /// std::length_error when the corpus has 2^32 - 1 documents or more, or a document
    /// repeats one term 2^32 times.
    Bm25Engine(Variant variant, std::span<const std::string_view> corpus, Bm25Params params);

    /// Builds the index over the texts `corpus` views without copying them: the caller
    /// keeps every text alive and unchanged at its address for the engine's life.
    static Bm25Engine borrowing(Variant variant, std::vector<std::string_view> corpus, Bm25Params params);

    Bm25Engine(Bm25Engine&&) noexcept = default;
    Bm25Engine& operator=(Bm25Engine&&) noexcept = default;

    Variant variant() const noexcept { return variant_; }
    const Bm25Params& params() const noexcept { return params_; }
    double avgdl() const noexcept { return avgdl_; }

    // ---- Bm25Reader ----
    std::size_t num_docs() const noexcept override { return docs_->size(); }
    std::string_view doc(std::size_t d) const noexcept override { return (*docs_)[d]; }
    std::optional<uint64_t> doc_index(std::string_view text) const override;
    bool normalize() const noexcept override { return params_.normalize; }
    using Bm25Reader::scores;
    std::vector<Scored> top_n(std::string_view query, uint64_t n, Mask allowed) const override {
        return top_n(parse(query), n, allowed);
    }
    std::vector<TermValue> idf_map() const override;
    std::vector<TermValue> document_vector(std::size_t d) const override;
    std::vector<IdfWeight> term_weights(std::span<const std::string> tokens,
                                        std::size_t d) const override;
    void term_positions(std::span<const std::string> tokens, std::span<const uint64_t> docs,
                        const PositionsVisit& visit) const override;

    /// Tokenises `text` in the index's mode and resolves its tokens.
    Query parse(std::string_view text) const;

    /// Scores of every document for `q`, in corpus order (on the pool from 10000 documents).
    std::vector<double> scores(const Query& q) const;

    /// The top-n selection over the scores of `q` with the optional mask applied: only
    /// documents inside the mask and marked false are excluded.
    std::vector<Scored> top_n(const Query& q, uint64_t n,
                              std::optional<std::span<const uint8_t>> allowed = std::nullopt) const;

    /// The per-document sum of `q` over document d, by lookups (the definition of a score).
    double doc_score(const Query& q, std::size_t d) const;

    // ---- Term statistics ----
    std::size_t num_terms() const noexcept { return idf_.size(); }
    std::string_view term(uint32_t id) const noexcept { return corpus_.terms().term(id); }
    double idf(uint32_t id) const noexcept { return idf_[id]; }
    std::optional<uint32_t> term_id(std::string_view term) const { return corpus_.terms().find(term); }
    /// Term frequency of term `id` in document d (0 when absent).
    uint32_t tf(uint32_t id, std::size_t d) const noexcept;
    /// w(d, t) for a term occurring `tf` times in document d (tf >= 1).
    double weight(uint32_t id, std::size_t d, uint32_t tf) const noexcept;
    /// The term ids of document d in order (positions are indexes in this order).
    DocTerms doc_terms(std::size_t d) const noexcept { return corpus_.doc_terms(d); }

    /// Approximate heap bytes held (for benchmarks).
    std::size_t memory_bytes() const noexcept;

protected:
    std::vector<double> all_scores(std::string_view query) const override { return scores(parse(query)); }

private:
    // In the engine's lists the `tf` field of a posting holds two numbers: the term's
    // frequency in its low 16 bits (kManyTf there when it is 65,535 or more, the frequency
    // then kept in many_tf_) and the document's length code in its high 16 bits (0 without
    // codes). A weight reads the code beside the frequency, where the document's entry of
    // length_code_ lies anywhere in the corpus (a cache miss per posting of a rare term).
    using Posting = TermPosting;
    static constexpr uint32_t kManyTf = 0xFFFF;
    /// The term frequency of posting `p` of postings_.
    uint32_t tf_of(const Posting& p) const noexcept {
        const uint32_t low = p.tf & kManyTf;
        return low != kManyTf ? low : many_tf(&p);
    }
    uint32_t many_tf(const Posting* p) const noexcept;
    /// Packs the length codes and the frequencies into the postings (see Posting).
    void pack_postings();
    /// Every member but the texts at their defaults; build() does the rest.
    Bm25Engine(Variant variant, Bm25Params params) : variant_(variant), params_(params) {}
    /// Builds the index over the texts of docs_.
    void build();
    std::span<const Posting> postings(uint32_t id) const noexcept {
        return std::span<const Posting>(postings_).subspan(
            post_offsets_[id], post_offsets_[id + 1] - post_offsets_[id]);
    }
    /// Adds the products of `q` for documents in [begin, end) into acc[d - begin] and marks
    /// every touched document in `touched` (bit d - begin; begin is a multiple of 64).
    void accumulate(const Query& q, std::size_t begin, std::size_t end, double* acc,
                    uint64_t* touched) const;
    template <Variant V>
    void accumulate_v(const Query& q, std::size_t begin, std::size_t end, double* acc,
                      uint64_t* touched) const;
    template <Variant V>
    double weight_v(uint32_t id, std::size_t d, uint32_t tf) const noexcept {
        return bm25::weight<V>(params_, V == Variant::T ? term_k1_[id] : 0.0, tf, length_factor(d));
    }
    /// weight_v of posting `p` of postings_ (of term `id`).
    template <Variant V>
    double posting_weight(uint32_t id, const Posting& p) const noexcept {
        return bm25::weight<V>(params_, V == Variant::T ? term_k1_[id] : 0.0, tf_of(p), length_factor(p));
    }
    /// K(d) of document d.
    double length_factor(std::size_t d) const noexcept {
        return length_code_.empty() ? length_table_[d] : length_table_[length_code_[d]];
    }
    /// K(d) of the document of posting `p` of postings_.
    double length_factor(const Posting& p) const noexcept {
        return length_code_.empty() ? length_table_[p.doc] : length_table_[p.tf >> 16];
    }
    /// Calls f(i, idf(t) * w(d, t)) for each of the `count` postings of term t from `p`, in
    /// order, computed with weight_v's operations: two weights a vector division.
    template <Variant V, class F>
    void for_each_product(uint32_t t, const Posting* p, std::size_t count, F&& f) const {
        using Pair = double __attribute__((vector_size(16)));
        const double idf = idf_[t];
        const double k1_t = V == Variant::T ? term_k1_[t] : 0.0;
        if constexpr (V != Variant::T) {
            if (!weight_table_.empty()) {
                // A weight read from the table is the one the formula gives (the same
                // operations on the same operands), without a division. The table exists
                // only with length codes, which the postings carry.
                const double* const wt = weight_table_.data();
                for (std::size_t i = 0; i < count; ++i) {
                    const uint32_t tf = p[i].tf & kManyTf, c = p[i].tf >> 16;
                    f(i, idf * (tf < kTableTf ? wt[std::size_t{c} * kTableTf + tf] : posting_weight<V>(t, p[i])));
                }
                return;
            }
        }
        std::size_t i = 0;
        for (; i + 1 < count; i += 2) {
            const Pair tf = {static_cast<double>(tf_of(p[i])), static_cast<double>(tf_of(p[i + 1]))};
            const Pair w = bm25::weight_of<V, Pair>(params_, k1_t, tf, Pair{length_factor(p[i]), length_factor(p[i + 1])});
            f(i, idf * w[0]);
            f(i + 1, idf * w[1]);
        }
        if (i < count) f(i, idf * posting_weight<V>(t, p[i]));
    }
    /// Documents per task when one query is scored on the pool; a multiple of 64, so that
    /// tasks never share a word of the touched-document bits.
    static constexpr std::size_t kDocsPerTask = 8192;
    /// Postings per block of the block maxima.
    static constexpr std::size_t kBlock = 64;
    /// Fills max_weight_, the block maxima and prunable_.
    void compute_max_weights();
    /// Fills length_table_ and length_code_ from K(d) by document.
    void set_length_factors(std::vector<double> by_doc);
    /// The two methods of top_n (see bm25_engine_top_n.cpp) and the choice between them.
    std::vector<Scored> top_n_exhaustive(const Query& q, uint64_t n, Mask allowed) const;
    template <Variant V>
    std::vector<Scored> top_n_one_term(uint32_t t, uint64_t n, Mask allowed) const;
    template <Variant V>
    std::vector<Scored> top_n_pruned(const QueryTerms& q, uint64_t n, Mask allowed) const;
    template <Variant V>
    void pruned_scan(const QueryTerms& q, std::size_t begin, std::size_t end, Mask allowed,
                     TopHeap& heap) const;
    /// `one_token`: the query has exactly one token that occurs in the corpus.
    bool pruning_pays(const QueryTerms& q, uint64_t n, bool one_token) const;

    Variant variant_;
    Bm25Params params_;
    double avgdl_ = 1.0;

    // The corpus texts, one after another, when the engine copies them (else empty). A
    // vector, not a string: docs_ views it, and moving a short string would move its
    // characters out from under those views.
    std::vector<char> text_;
    // Text of each document (into text_ or the caller's texts); on the heap, so that
    // doc_index_ reads it at one address while the engine moves.
    std::unique_ptr<std::vector<std::string_view>> docs_ = std::make_unique<std::vector<std::string_view>>();
    TextIdSet doc_index_ = make_text_id_set(docs_.get());  // the last document of each text

    TokenisedCorpus corpus_;       // the forward lists and the term table
    std::vector<double> idf_;      // by term id
    std::vector<double> term_k1_;  // by term id; T only
    std::vector<double> max_weight_;  // largest w(d, t) over the term's postings
    std::vector<uint64_t> block_base_;  // V + 1 offsets into block_max_
    std::vector<double> block_max_;     // largest weight of each block of kBlock postings
    bool prunable_ = false;           // every weight is a non-negative number

    // K(d) by document: length_table_[length_code_[d]]. K(d) depends on the document's
    // length alone, so a corpus has few distinct values, and a 2-byte code a document
    // fits beside the term frequency in every posting (see Posting), from where the
    // rankings read it; length_code_ serves the look-ups by document. With more distinct
    // values than codes, length_code_ is empty and length_table_ holds K(d) by document.
    std::vector<double> length_table_;
    std::vector<uint16_t> length_code_;
    // With coded K(d) and a weight that does not depend on the term (every variant but
    // T): w for each code c and term frequency tf < kTableTf at c * kTableTf + tf (tf 0
    // unused), else empty.
    static constexpr uint32_t kTableTf = 16;
    std::vector<double> weight_table_;

    std::vector<uint64_t> post_offsets_;  // V + 1 offsets into postings_
    std::vector<Posting> postings_;       // frequencies and length codes packed (see Posting)
    // (index in postings_, frequency) of every posting whose frequency is kManyTf or more,
    // by index.
    std::vector<std::pair<uint64_t, uint32_t>> many_tf_;
};

}  // namespace tarnwick::search
