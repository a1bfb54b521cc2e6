// The corpus side of every BM25 index, written once for the three structures that build
// one: the in-memory engine (bm25_engine.hpp), the index-directory writer
// (index_dir_writer.hpp) and the join's index (join/joiner_index.hpp).
//
// - TokenisedCorpus holds each document as its term ids in document order (the forward
//   list, each document at its own id width: forward_lists.hpp) and the table of distinct
//   terms, numbered in order of first appearance.
// - corpus_statistics computes from it, with the operations of bm25_formula.hpp, the
//   postings of every term (documents in increasing order, with term frequencies), the
//   mean length, every term's idf, every document's length factor K(d) and, for BM25T,
//   every term's saturation k1_t (its mean over the term's documents in increasing
//   document order). Each value is a pure function of the counts, so every structure that
//   asks holds the same doubles; what a structure then does with them (store the weights
//   as 32-bit floats, compute them at query time) is its own.
#pragma once

#include "search/bm25/bm25_formula.hpp"
#include "search/bm25/forward_lists.hpp"
#include "search/bm25/postings.hpp"
#include "search/bm25/term_table.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick::search {

class TokenisedCorpus {
public:
    /// Appends the next document: the terms of `text` in the tokeniser mode `normalize`.
    /// A document of more than `max_terms` terms is not added (its new terms stay in the
    /// table) and false is returned.
    bool add(std::string_view text, bool normalize, uint64_t max_terms = UINT64_MAX);

    /// Room for `docs` more documents and `bytes` more bytes of stored term ids.
    void reserve(std::size_t docs, std::size_t bytes) { lists_.reserve(docs, bytes); }
    /// Releases the room reserved beyond the tokens held.
    void shrink_to_fit() { lists_.shrink_to_fit(); }

    std::size_t num_docs() const noexcept { return lists_.num_docs(); }
    std::size_t num_tokens() const noexcept { return lists_.num_terms(); }
    /// dl(d): the number of terms of document d.
    uint64_t length(std::size_t d) const noexcept { return lists_.length(d); }
    /// The term ids of document d in order (positions are indexes in this order).
    DocTerms doc_terms(std::size_t d) const noexcept { return lists_.doc(d); }
    const TermTable& terms() const noexcept { return terms_; }
    /// The term table, taken out when the forward lists are no longer needed.
    TermTable take_terms() && { return std::move(terms_); }

    /// Approximate heap bytes held.
    std::size_t memory_bytes() const noexcept { return lists_.memory_bytes() + terms_.memory_bytes(); }

private:
    TermTable terms_;
    ForwardLists lists_;
};

/// The statistics of a corpus for one variant (see the file comment).
struct CorpusStatistics {
    InvertedLists lists;               // every term's postings; df(t) is its list's length
    double avgdl = 1.0;
    std::vector<double> idf;           // by term id
    std::vector<double> length_factor; // K(d) by document
    std::vector<double> term_k1;       // k1_t by term id; empty unless the variant is T

    std::span<const TermPosting> postings(std::size_t t) const noexcept {
        return std::span<const TermPosting>(lists.postings)
            .subspan(lists.offsets[t], lists.offsets[t + 1] - lists.offsets[t]);
    }
};

/// The statistics of `corpus` for `variant` with saturation `k1` and length weight `b`;
/// idf by the formula of `idf_rule` (the variant's own, or another's). Throws
/// std::length_error when a document repeats one term 2^32 - 1 times or more.
CorpusStatistics corpus_statistics(const TokenisedCorpus& corpus, Variant variant, Variant idf_rule,
                                   double k1, double b);

}  // namespace tarnwick::search
