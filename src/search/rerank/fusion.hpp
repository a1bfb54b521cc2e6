// Reciprocal Rank Fusion of the BM25, fuzzy and dense rankings of one candidate pool, over
// any BM25 index (bm25_reader.hpp): the two-channel ranking of the BM25 classes and the
// hybrid search are this one algorithm, with and without the dense channel.
//
// One search:
// 1. The BM25 hits are the index's top max(10 n, bm25_candidates) for the query under the
//    mask. The candidates are the distinct documents of the hits in order of first
//    appearance, each hit mapped to a document through its text (`doc_index`), so hits of
//    identical texts meet in one candidate; without any hit, every allowed document in
//    index order (a document beyond the end of the mask is not allowed here).
// 2. Each channel ranks the candidates by descending score (ranked_sort.hpp: equal scores
//    in candidate order): the fuzzy score of the raw query text against the candidate's
//    text, and the cosine of the query embedding with the candidate's embedding.
// 3. A candidate's fused score is the sum, over every BM25 hit that maps to it and then
//    over its place in the fuzzy and the dense ranking, in that order, of the fusion term
//    1 / (rrf_k + 1 + rank), rank counted from 0 (fusion_term.hpp). The fused scores live in one array
//    indexed by candidate, so nothing is looked up by document while they are summed.
// 4. The candidates ranked by fused score (ties in candidate order), the first n kept.
//    Without hits, when n and rrf_k are small beside the number of candidates, steps 2 to
//    4 rank only each channel's best few and the ranks of those (fused_top.hpp), with the
//    same result.
//
// With `parallel`, the fuzzy and dense channels, their sorts and the final selection run on
// the worker pool from parallel::kHybridMinCandidates candidates on; every step keeps its
// order or sorts by a total order, so the result is the same on any number of threads.
#pragma once

#include "dense/cosine.hpp"
#include "fusion_term.hpp"
#include "search/bm25/bm25_reader.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tarnwick::search {

/// The candidate pool of a search.
struct Candidates {
    std::vector<uint64_t> docs;       // candidate -> document
    std::vector<std::size_t> of_hit;  // BM25 hit -> its candidate (empty without hits)
};

/// The distinct documents of `hits` in order of first appearance, each hit's text mapped
/// through `doc_index`.
Candidates candidate_doc_indices(const Bm25Reader& index, std::span<const Scored> hits);

/// The dense channel of a search: the corpus embeddings and the query embedding.
struct DenseQuery {
    DenseRows rows;
    std::span<const float> embedding;
    bool parallel;  // cosines on the pool from parallel::kHybridMinCandidates candidates on
};

/// Raised when the query embedding's length differs from the embeddings' dimension.
struct EmbeddingDimMismatch {
    std::size_t got;
    std::size_t expected;
};

/// One fused search.
struct FusionQuery {
    std::string_view text;
    uint64_t n;
    uint64_t rrf_k;
    uint64_t bm25_candidates;
    Mask allowed;
    bool parallel;  // the fuzzy channel, sorts and selection may use the pool
};

/// The fused ranking: at most n (document, fused score) pairs, best first. With `dense`,
/// throws EmbeddingDimMismatch (after the fuzzy channel) when the query embedding does not
/// have the rows' dimension.
std::vector<Scored> fused_search(const Bm25Reader& index, const FusionQuery& query,
                                 const DenseQuery* dense);

/// The embeddings of a hybrid index: its rows (null without vectors) and whether their
/// cosines may run on the pool.
struct HybridRows {
    const DenseRows* rows;
    bool parallel;
};

/// The search of both hybrid index classes: the fused ranking of `query` under `allowed`
/// (the fuzzy channel, sorts and selection may use the pool), with the dense channel when
/// the index has rows and `query_embedding` is given. At most n (document, fused score)
/// pairs, best first; throws EmbeddingDimMismatch as fused_search does.
std::vector<Scored> hybrid_search(const Bm25Reader& index, HybridRows rows, std::string_view query,
                                  std::optional<std::span<const float>> query_embedding, uint64_t n,
                                  uint64_t rrf_k, uint64_t bm25_candidates, Mask allowed);

}  // namespace tarnwick::search
