// The join's own BM25 index over the texts of one target array, built once per joined
// pair and read by every worker.
//
// Every target element is a document, one without text included (it counts in N and in
// avgdl with no tokens). Documents are tokenised in the word-splitting mode and the corpus
// statistics are search's (corpus_stats.hpp) with two choices of the join: one idf
// formula, Okapi's ln(((N - df) + 0.5) / (df + 0.5) + 1), serves every variant, and the
// delta of L and Plus is fixed (0.5 and 1.0). idf and weights are computed in double and
// stored as 32-bit floats, and a query's scores are accumulated in 32-bit floats, so a
// score is the float sum, in token order, of the float products idf * weight.
#pragma once

#include "join/joiner_model.hpp"
#include "search/bm25/bm25_formula.hpp"
#include "search/bm25/term_table.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarnwick::join {

/// The weight formula a name selects: exactly "BM25L", "BM25Plus" or "BM25T", anything
/// else Okapi.
search::Variant bm25_variant_of(const std::string& name) noexcept;

class Bm25Index {
public:
    /// Builds the index over `targets` with the BM25 parameters of `config`.
    Bm25Index(std::span<const JoinElement> targets, const JoinConfig& config);

    /// Adds the score of `tokens` (a repeated token counts each time) to `scores` (one entry
    /// per target) and appends to `touched` every target whose entry was exactly 0.0 before
    /// a contribution was added to it.
    void score_all(std::span<const std::string> tokens, float* scores,
                   std::vector<uint32_t>& touched) const;

private:
    /// One posting: a target containing the term and the term's weight there.
    struct Posting {
        uint32_t target;
        float weight;
    };
    search::TermTable terms_;
    std::vector<float> idf_;             // by term id
    std::vector<uint64_t> offsets_;      // V + 1 offsets into postings_
    std::vector<Posting> postings_;      // by term, ascending target position
};

}  // namespace tarnwick::join
