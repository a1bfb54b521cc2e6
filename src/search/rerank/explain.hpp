// Score explanations and phrase-proximity boosting over any BM25 index (bm25_reader.hpp).
//
// - `explain` lists, per query token in query order (repetitions included), the token's
//   idf, its weight in the document and their product: the same products, in the same
//   order, that make up the document's score.
// - `phrase_proximity_boost` measures how close a query's adjacent tokens stand in one
//   document: the share of adjacent token pairs (i, i + 1) for which some position of one
//   lies within `window` of some position of the other, in either order. A single token
//   counts as fully close when the document holds it.
// - `top_n_phrase` multiplies every positive score by (phrase_boost - 1) * proximity + 1
//   and ranks the results; the index hands out the term positions (Bm25Reader::
//   term_positions), the boost is computed here, once for every index.
#pragma once

#include "search/bm25/bm25_reader.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::search {

/// Proximity of the tokens of a query (entry i for token i) within one document, in [0, 1]:
/// 0.0 without tokens; for one token 1.0 when it is present; otherwise the number of
/// adjacent pairs, both present, with two positions at most `window` apart, divided by the
/// number of pairs.
double phrase_proximity_boost(std::span<const TokenPositions> tokens, uint64_t window) noexcept;

/// One query token's part of a document's score.
struct TermExplanation {
    std::string term;
    double idf;
    double tf_norm;
    double term_score;  // idf * tf_norm
};

/// The explanation of document d (d < N) for `query`, one entry per query token.
std::vector<TermExplanation> explain(const Bm25Reader& index, std::string_view query, std::size_t d);

/// Every document with a positive score, its score boosted by the proximity of the query's
/// tokens, ranked (top_n.hpp's sort), the first n kept.
std::vector<Scored> top_n_phrase(const Bm25Reader& index, std::string_view query, uint64_t n,
                                 uint64_t window, double phrase_boost);

}  // namespace tarnwick::search
