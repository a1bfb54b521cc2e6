// The join's own BM25 index over the texts of one target array, built once per joined
// pair and read by every worker.
//
// Every target element is a document, one without text included (it counts in N and in
// avgdl with no tokens). One idf formula, ln(((N - df) + 0.5) / (df + 0.5) + 1), serves
// every variant; idf and weights are computed in double and stored as 32-bit floats, and
// a query's scores are accumulated in 32-bit floats, so a score is the float sum, in token
// order, of the float products idf * weight.
#pragma once

#include "fx_hash.hpp"
#include "join/joiner_model.hpp"

#include <absl/container/flat_hash_map.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarnwick::join {

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
    /// Everything the index knows of one term.
    struct Term {
        float idf = 0.0f;
        std::vector<Posting> postings;  // ascending target position
    };
    absl::flat_hash_map<std::string, Term, FxHash, TextEq> terms_;
};

}  // namespace tarnwick::join
