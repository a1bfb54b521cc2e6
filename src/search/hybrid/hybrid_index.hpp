// The hybrid search index: a corpus, one BM25 engine over it in one of the four variants
// (always in word-splitting mode), optional per-document embeddings, and optional
// per-document JSON metadata. A search fuses the BM25, fuzzy and dense rankings of one
// candidate pool (fusion.hpp).
//
// What the index guarantees:
// - Embeddings, when present, are one row of `dim` 32-bit floats per document (`dim` is the
//   length of the first row, 0 for none), stored back to back; the constructor refuses any
//   other shape.
// - The engine's corpus and text-to-document map serve as the index's own (document d is
//   text d; identical texts map to the last document holding them).
// - Nothing but the metadata changes after construction, so any number of searches may run
//   at once; the metadata is replaced whole, by a caller that holds the index exclusively.
#pragma once

#include "search/bm25/bm25_engine.hpp"
#include "search/metadata/filter.hpp"
#include "json/json_value.hpp"
#include "search/metadata/metadata_sort.hpp"
#include "dense/dot_matrix.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::search {

class HybridSearchIndex {
public:
    /// The constructor's parameters besides the corpus and the embeddings.
    struct Params {
        double k1 = 1.5;
        double b = 0.75;
        std::string algorithm = "bm25";  // "bm25", "bm25l", "bm25+" or "bm25t", exactly
        std::optional<double> delta;     // read by "bm25l" (default 0.5) and "bm25+" (1.0)
    };

    /// Checks, in this order, that there are as many embedding rows as texts, that every
    /// row has the length of the first, and that the algorithm is known; throws
    /// std::invalid_argument with the message of the first check that fails. Then builds
    /// the engine (which may throw std::length_error).
    static HybridSearchIndex create(std::span<const std::string_view> corpus,
                                    std::optional<FloatRows> embeddings, Params params);

    HybridSearchIndex(HybridSearchIndex&&) noexcept = default;
    HybridSearchIndex& operator=(HybridSearchIndex&&) noexcept = default;

    const Bm25Engine& engine() const noexcept { return engine_; }
    const Params& params() const noexcept { return params_; }
    std::size_t num_docs() const noexcept { return engine_.num_docs(); }
    std::size_t dim() const noexcept { return dim_; }
    bool has_vectors() const noexcept { return has_vectors_; }
    /// The embedding of document d (d < num_docs(); only with vectors).
    std::span<const float> embedding(std::size_t d) const noexcept {
        return {embeddings_.data() + d * dim_, dim_};
    }

    /// The fused ranking (fusion.hpp) of `query`: the dense channel runs when the index has
    /// vectors and `query_embedding` is given. At most n (document, fused score) pairs, best
    /// first. Throws EmbeddingDimMismatch for a query embedding of another length than dim().
    std::vector<Scored> search_filtered(std::string_view query,
                                        std::optional<std::span<const float>> query_embedding,
                                        uint64_t n, uint64_t rrf_k, uint64_t bm25_candidates,
                                        Mask allowed) const;

    /// Filter, search and sort in one: the fused ranking of 10 n results (10 n saturating)
    /// under the mask of `filter` (no mask without a filter or without metadata), ordered
    /// by `sort_keys` (metadata_sort.hpp; each result has the metadata of the document its
    /// text maps to) when there are keys and metadata, then cut to n. Throws as
    /// search_filtered does.
    std::vector<Scored> search_filtered_sorted(std::string_view query,
                                               std::optional<std::span<const float>> query_embedding,
                                               uint64_t n, uint64_t rrf_k, uint64_t bm25_candidates,
                                               const FilterAst* filter,
                                               std::span<const SortKey> sort_keys) const;

    /// Per-document metadata: absent until set, then one root per document.
    const std::optional<JsonStore>& metadata() const noexcept { return metadata_; }
    bool has_metadata() const noexcept { return metadata_.has_value(); }
    /// Replaces the metadata as a whole; `metadata` has one root per document.
    void set_metadata(JsonStore metadata) noexcept { metadata_ = std::move(metadata); }

private:
    HybridSearchIndex(Bm25Engine engine, Params params, std::vector<float> embeddings,
                      std::size_t dim, bool has_vectors);

    Bm25Engine engine_;
    Params params_;
    std::vector<float> embeddings_;  // num_docs() rows of dim_ floats
    std::size_t dim_ = 0;
    bool has_vectors_ = false;
    std::optional<JsonStore> metadata_;
};

}  // namespace tarnwick::search
