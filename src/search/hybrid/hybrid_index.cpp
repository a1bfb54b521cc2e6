#include "search/hybrid/hybrid_index.hpp"

#include "cancel.hpp"
#include "search/rerank/fusion.hpp"
#include "search/rerank/fuzzy.hpp"
#include "search/metadata/metadata_store.hpp"

#include <stdexcept>

namespace tarnwick::search {
namespace {

/// The engine's variant and parameters for an algorithm name, or nothing for an unknown one.
std::optional<std::pair<Variant, Bm25Params>> engine_params(const HybridSearchIndex::Params& p) {
    Bm25Params e;
    e.k1 = p.k1;
    e.b = p.b;
    e.normalize = false;
    if (p.algorithm == "bm25") return std::pair{Variant::Okapi, e};
    if (p.algorithm == "bm25t") return std::pair{Variant::T, e};
    if (p.algorithm == "bm25l") {
        e.delta = p.delta.value_or(0.5);
        return std::pair{Variant::L, e};
    }
    if (p.algorithm == "bm25+") {
        e.delta = p.delta.value_or(1.0);
        return std::pair{Variant::Plus, e};
    }
    return std::nullopt;
}

}  // namespace

HybridSearchIndex::HybridSearchIndex(Bm25Engine engine, Params params, std::vector<float> embeddings,
                                     std::size_t dim, bool has_vectors)
    : engine_(std::move(engine)), params_(std::move(params)), embeddings_(std::move(embeddings)),
      dim_(dim), has_vectors_(has_vectors) {}

HybridSearchIndex HybridSearchIndex::create(std::span<const std::string_view> corpus,
                                            std::optional<FloatRows> embeddings, Params params) {
    std::size_t dim = 0;
    if (embeddings) {
        if (embeddings->size() != corpus.size())
            throw std::invalid_argument("embeddings length (" + std::to_string(embeddings->size()) +
                                        ") must match corpus length (" +
                                        std::to_string(corpus.size()) + ")");
        if (embeddings->size() > 0) dim = embeddings->row(0).size();
        for (std::size_t i = 0; i < embeddings->size(); ++i) {
            const std::size_t len = embeddings->row(i).size();
            if (len != dim)
                throw std::invalid_argument("embedding " + std::to_string(i) + " has " +
                                            std::to_string(len) + " dims, expected " +
                                            std::to_string(dim));
        }
    }
    const auto engine = engine_params(params);
    if (!engine)
        throw std::invalid_argument("Unknown BM25 algorithm '" + params.algorithm +
                                    "'. Expected 'bm25', 'bm25l', 'bm25+', or 'bm25t'");
    // Every row has length dim, so the rows back to back are the row-major matrix.
    std::vector<float> rows = embeddings ? std::move(embeddings->values) : std::vector<float>{};
    return HybridSearchIndex(Bm25Engine(engine->first, corpus, engine->second), std::move(params),
                             std::move(rows), dim, embeddings.has_value());
}

std::vector<Scored> HybridSearchIndex::search_filtered(
    std::string_view query, std::optional<std::span<const float>> query_embedding, uint64_t n,
    uint64_t rrf_k, uint64_t bm25_candidates, Mask allowed) const {
    const DenseRows rows{embeddings_.data(), dim_, num_docs(), NormRule::OneWhenZero};
    return hybrid_search(engine_, {has_vectors_ ? &rows : nullptr, true}, query, query_embedding, n, rrf_k,
                         bm25_candidates, allowed);
}

std::vector<Scored> HybridSearchIndex::search_filtered_sorted(
    std::string_view query, std::optional<std::span<const float>> query_embedding, uint64_t n,
    uint64_t rrf_k, uint64_t bm25_candidates, const FilterAst* filter,
    std::span<const SortKey> sort_keys) const {
    std::optional<std::vector<uint8_t>> mask;
    if (filter && metadata_) mask = evaluate_filter_mask(*filter, *metadata_);
    Mask allowed;
    if (mask) allowed = std::span<const uint8_t>(*mask);
    // Ten times as many results as asked for, so that the sort can bring forward results
    // beyond the first n of the fused order.
    std::vector<Scored> found =
        search_filtered(query, query_embedding, candidate_pool_size(n, 0), rrf_k, bm25_candidates, allowed);
    if (!sort_keys.empty() && metadata_ && found.size() >= 2) {
        std::vector<std::size_t> docs(found.size());
        cancel::Budget budget;
        for (std::size_t r = 0; r < found.size(); ++r) {
            const std::string_view text = engine_.doc(static_cast<std::size_t>(found[r].doc));
            docs[r] = static_cast<std::size_t>(*engine_.doc_index(text));
            budget.spend(64 + text.size());
        }
        std::vector<Scored> sorted;
        sorted.reserve(found.size());
        for (const std::size_t r : sort_by_attributes(*metadata_, docs, sort_keys)) sorted.push_back(found[r]);
        found = std::move(sorted);
    }
    if (found.size() > n) found.resize(static_cast<std::size_t>(n));
    return found;
}

}  // namespace tarnwick::search
