// Scoring one source element against a target array: up to three channels rank the
// targets, and their rankings are fused into at most n matches.
//
//   text    BM25 over the target texts; the first `bm25_candidates` BM25 candidates are
//           ranked a second time by fuzzy similarity, and both ranks add a fusion term
//   sparse  dot products of id-sorted sparse vectors (only positive ones rank); a source
//           without a sparse vector but with a text ranks its BM25 candidates instead
//   dense   dot products of dense vectors over their common length (every target that has
//           one ranks, whatever its score)
//
// A target at rank r of a channel gets the fusion term 1 / (rrf_k + 1 + r) (fusion_term.hpp,
// with its overflow rule). With one active
// channel a match's score is that channel's own score; with several it is the weighted mean
// of the channels' fusion sums. Ranked lists put a higher score first, equal scores in the
// order the list was built (so every ranking is deterministic) and NaN last.
//
// Everything here is pure C++ and only reads the pair's shared state, so different source
// elements are scored on different worker threads at once, each with its own Scratch.
#pragma once

#include "join/joiner_dense.hpp"
#include "join/joiner_index.hpp"
#include "join/joiner_model.hpp"
#include "join/joiner_sparse.hpp"
#include "fusion_term.hpp"
#include "radix_rank.hpp"
#include "search/rerank/fuzzy.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::join {

/// What every worker of one ordered pair reads: the configuration, the target array and
/// what was prepared from it once.
struct PairContext {
    const JoinConfig& config;
    std::span<const JoinElement> targets;
    const Bm25Index* index;               // null when the pair has no index
    const DensePanel& dense;              // the targets' dense vectors, laid out for dots
    const SparsePanel& sparse;            // the targets' sparse vectors, inverted by id
    std::vector<double> fusion_terms;     // fusion_term(rrf_k, r) for the first ranks
    uint64_t n;
    std::optional<double> score_cutoff;
};

/// fusion_term(rrf_k, r) for r = 0 .. count - 1.
std::vector<double> fusion_term_table(uint64_t rrf_k, std::size_t count);

/// One match of a source element.
struct Match {
    uint32_t target;
    double score;
    std::optional<double> text_score;  // present exactly when the channel was active
    std::optional<double> sparse_score;
    std::optional<double> dense_score;
};

/// One entry of a ranked list.
struct Ranked {
    double score;
    uint32_t target;
    uint32_t order;  // position in the list before ranking
};

/// Per-task state, one entry per target in each array. Allocated zero-filled once per run
/// of source elements; after each element only the entries it reached are reset.
class Scratch {
public:
    explicit Scratch(std::size_t targets);

private:
    friend class ElementScorer;
    std::vector<double> text_sum, sparse_sum, dense_sum;  // fusion sums
    std::vector<uint8_t> reached;
    std::vector<double> raw_text, raw_sparse, raw_dense;
    std::vector<float> bm25;              // the BM25 accumulator
    std::vector<uint32_t> reached_list;   // targets in the order first reached: the first
    std::size_t reached_count = 0;        // reached_count entries
    std::vector<uint32_t> touched;        // targets the BM25 accumulator touched
    // Buffers reused from element to element.
    std::vector<std::string> tokens;
    search::FuzzyQuery fuzzy_query;         // the element's text
    std::vector<std::string_view> fuzzy_docs;  // the texts of the candidates it re-ranks
    std::vector<double> fuzzy_scores;
    std::vector<Ranked> bm25_hits;    // BM25 candidates in touched order
    std::vector<Ranked> bm25_ranked;  // the same in BM25 order
    std::vector<Ranked> ranked, sorted;
    RadixRanker<uint32_t> radix;           // radix sort buffers
    SparseSource sparse_source;  // the sparse channel's sums
};

/// Scores source elements of one pair with one Scratch.
class ElementScorer {
public:
    ElementScorer(const PairContext& ctx, Scratch& scratch) : ctx_(ctx), s_(scratch) {}

    /// The matches of `source` in match order: descending score, then any padding.
    /// `dense_row` holds the dot products of the source's dense vector with the panel's
    /// targets (empty when the source has no dense vector).
    void score_element(const JoinElement& source, std::span<const float> dense_row,
                       std::vector<Match>& out);

private:
    void bm25_candidates(const std::string& text);
    void text_channel(const std::string& text);
    void sparse_channel(const JoinElement& source);
    void dense_channel(std::span<const float> dense_row);
    const std::vector<Ranked>& bm25_ranking();
    void add_fusion_terms(const Ranked* ranking, std::size_t count, std::vector<double>& sums);
    void rank_and_add_fusion_terms(std::vector<double>& sums);
    void reach(uint32_t target);
    void reset(bool text_on, bool sparse_on, bool dense_on);

    const PairContext& ctx_;
    Scratch& s_;
    bool fuse_ = false;  // two or more channels are active for the element being scored
    bool bm25_ranked_ = false;  // bm25_ranked holds this element's BM25 ranking
};

}  // namespace tarnwick::join
