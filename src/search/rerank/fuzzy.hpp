// The character-level similarity of a query and a document text, and the two rankings
// built on it over any BM25 index (bm25_reader.hpp).
//
// The fuzzy score of texts a and b is 1 - d / (len(a) + len(b)), with d their Indel
// distance (insertions and deletions only) and lengths in code points; 1.0 for two empty
// texts. It compares the texts exactly as given: no tokenising, no case folding. When both
// are pure ASCII their bytes are their code points, so the byte kernel gives the same value
// without decoding; otherwise both are compared as code points.
//
// - `fuzzy_only` ranks every document by its fuzzy score; scores of 0.0 are kept.
// - `top_n_fuzzy` re-ranks the BM25 top candidates by (1 - w) * b + w * f, with b the BM25
//   score min-max scaled over the candidates (the range never below 1e-10) and f the fuzzy
//   score; without any BM25 candidate it answers with `fuzzy_only`.
#pragma once

#include "search/bm25/bm25_reader.hpp"

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tarnwick::search {

/// A query prepared once per request: its text, whether it is pure ASCII, its code points,
/// and for an ASCII query of 1 to 64 bytes the match masks of the bit-parallel LCS step
/// (lcs_step.hpp). Read-only, so worker threads may share it.
class FuzzyQuery {
public:
    FuzzyQuery() = default;
    explicit FuzzyQuery(std::string_view text) { assign(text); }
    /// Prepares `text` instead, reusing the buffers (the join prepares one per element).
    void assign(std::string_view text);

    std::string_view text() const noexcept { return text_; }
    bool ascii() const noexcept { return ascii_; }
    std::span<const uint32_t> code_points() const noexcept { return code_points_; }
    /// The 256 byte masks, or null when the query is not an ASCII text of 1 to 64 bytes.
    const uint64_t* masks() const noexcept { return masks_.empty() ? nullptr : masks_.data(); }

private:
    std::string_view text_;
    bool ascii_ = true;
    std::vector<uint32_t> code_points_;
    std::vector<uint64_t> masks_;
};

/// The number of BM25 candidates a re-ranking of n results starts from: max(10 n,
/// bm25_candidates), with 10 n saturating at 2^64 - 1 instead of wrapping around.
uint64_t candidate_pool_size(uint64_t n, uint64_t bm25_candidates) noexcept;

/// The fuzzy score of the query against `doc`, in [0, 1]. Safe on any thread.
double compute_fuzzy_score(const FuzzyQuery& query, std::string_view doc);

/// out[i] = compute_fuzzy_score(query, index.doc(docs[i])) for every i. With the query's
/// masks, pure-ASCII documents run the LCS step four at a time, each on its own state, so
/// that the four dependency chains overlap; the results are those of one at a time.
void compute_fuzzy_scores(const FuzzyQuery& query, const Bm25Reader& index,
                          std::span<const uint64_t> docs, double* out);

/// out[i] = compute_fuzzy_score(query, docs[i]) for every i, batched as above.
void compute_fuzzy_scores(const FuzzyQuery& query, std::span<const std::string_view> docs,
                          double* out);

/// The n best documents by fuzzy score (top_n.hpp's heap and sort, no score excluded).
std::vector<Scored> fuzzy_only(const Bm25Reader& index, std::string_view query, uint64_t n);

/// The BM25 top max(10 n, bm25_candidates) re-ranked by the blend with weight
/// `fuzzy_weight`, the first n kept.
std::vector<Scored> top_n_fuzzy(const Bm25Reader& index, std::string_view query, uint64_t n,
                                uint64_t bm25_candidates, double fuzzy_weight);

}  // namespace tarnwick::search
