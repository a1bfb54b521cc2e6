// The read-only interface of a BM25 index, over which every ranking built on BM25 is
// written once: fuzzy re-ranking, rank fusion, explanations, phrase boosting and hybrid
// search (fuzzy.hpp, fusion.hpp, explain.hpp). An index hands out scores, selections,
// weights and term positions; what a ranking makes of them (a fused score, a phrase
// boost) is the ranking's.
//
// What an implementation guarantees:
// - A corpus of N texts; document d is text d, kept exactly as given.
// - `doc_index` maps every corpus text to the last document holding it, so identical texts
//   share one entry.
// - Queries are tokenised in the index's own mode (`normalize`), exactly as its documents.
// - A score is the per-document sum, over the query tokens in query order, of idf times the
//   stored weight (0.0 for a term the document lacks); `term_weights` reports the same two
//   factors, so the products of `explain` add up to the score bit for bit. The sign of a
//   zero score is the implementation's (a sum may start at -0.0 or at +0.0); a document
//   masked out by `scores` scores +0.0. The rankings take only scores above 0, so no
//   ranking depends on that sign.
// - Every operation is a whole query step (score the corpus, select the top n, gather the
//   term positions of a set of documents), so a ranking pays one virtual call per step and
//   never one per posting.
// - Every operation is const and safe to call from several threads at once.
#pragma once

#include "search/ranking/top_n.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::search {

/// An optional mask of allowed documents, entry i for document i (0 excluded, 1 allowed).
/// Documents beyond its end are not restricted by it.
using Mask = std::optional<std::span<const uint8_t>>;

/// A term with one number: its idf, or its weight in one document.
struct TermValue {
    std::string_view term;
    double value;
};

/// The two factors of one query token's part of a document's score.
struct IdfWeight {
    double idf;     // 0.0 for a term outside the vocabulary
    double weight;  // 0.0 for a term the document does not hold
};

/// Where one query token stands in a document: `present` when the document holds the term,
/// then its positions (token indexes in the document), ascending; no positions when the
/// index keeps none.
struct TokenPositions {
    bool present = false;
    std::span<const uint64_t> positions;
};

/// Receives the positions of the query tokens in one document: (the document's index in
/// the list asked for, entry i for token i). The spans are valid during the call only. It
/// borrows the callable it is made from (a lambda passed to term_positions lives for the
/// call), so a call costs one indirect call and nothing is allocated.
class PositionsVisit {
public:
    template <class F>
        requires(!std::is_same_v<std::remove_cvref_t<F>, PositionsVisit>)
    PositionsVisit(F&& f) noexcept  // NOLINT: made implicitly from a callable
        : object_(static_cast<const void*>(&f)), call_([](const void* o, std::size_t i,
                                                         std::span<const TokenPositions> p) {
              (*static_cast<std::remove_reference_t<F>*>(const_cast<void*>(o)))(i, p);
          }) {}
    void operator()(std::size_t i, std::span<const TokenPositions> positions) const {
        call_(object_, i, positions);
    }

private:
    const void* object_;
    void (*call_)(const void*, std::size_t, std::span<const TokenPositions>);
};

class Bm25Reader {
public:
    virtual ~Bm25Reader() = default;

    /// N, the number of corpus texts.
    virtual std::size_t num_docs() const noexcept = 0;
    /// Text of document d (d < N).
    virtual std::string_view doc(std::size_t d) const noexcept = 0;
    /// The last document whose text is `text`, if any.
    virtual std::optional<uint64_t> doc_index(std::string_view text) const = 0;
    /// The tokeniser mode of the index and its queries.
    virtual bool normalize() const noexcept = 0;

    /// Score of every document for `query`, in corpus order. With `allowed`, a document
    /// inside the mask and marked false scores +0.0.
    std::vector<double> scores(std::string_view query, Mask allowed = std::nullopt) const {
        std::vector<double> out = all_scores(query);
        if (allowed)
            for (std::size_t i = 0; i < std::min(out.size(), allowed->size()); ++i)
                if (!(*allowed)[i]) out[i] = 0.0;
        return out;
    }
    /// The top-n selection (top_n.hpp: only scores above 0, best first) over the scores of
    /// `query` with `allowed` applied.
    virtual std::vector<Scored> top_n(std::string_view query, uint64_t n, Mask allowed) const = 0;

    /// Every term of the corpus with its idf, in no particular order.
    virtual std::vector<TermValue> idf_map() const = 0;
    /// Every distinct term of document d (d < N) with its weight, in no particular order.
    virtual std::vector<TermValue> document_vector(std::size_t d) const = 0;
    /// For each token in order, its idf and its weight in document d (d < N).
    virtual std::vector<IdfWeight> term_weights(std::span<const std::string> tokens,
                                                std::size_t d) const = 0;
    /// For each document of `docs` (each below N), in order, calls visit(i, positions) with
    /// the positions in document docs[i] of every token of `tokens`.
    virtual void term_positions(std::span<const std::string> tokens, std::span<const uint64_t> docs,
                                const PositionsVisit& visit) const = 0;

protected:
    /// Score of every document for `query`, in corpus order, without a mask.
    virtual std::vector<double> all_scores(std::string_view query) const = 0;
};

}  // namespace tarnwick::search
