#include "search/rerank/fusion.hpp"

#include "parallel.hpp"
#include "search/rerank/fused_top.hpp"
#include "search/rerank/fuzzy.hpp"
#include "search/ranking/ranked_sort.hpp"

#include <absl/container/flat_hash_map.h>

#include <algorithm>

namespace tarnwick::search {
namespace {

/// Fewest candidates per task of the fuzzy channel on the pool. Large pools take larger
/// tasks, about sixteen per thread: the wide kernel's 64 lanes idle at the end of a task
/// while its longest documents finish.
constexpr std::size_t kFuzzyGrain = 64;

std::size_t fuzzy_grain(std::size_t m) noexcept {
    return std::max(kFuzzyGrain, m / (16 * parallel::num_threads()));
}
/// Candidates per task of the dense channel on the pool.
constexpr std::size_t kDenseGrain = 512;

/// Every allowed document in index order: all without a mask, else those inside the mask
/// and marked true.
Candidates allowed_docs(std::size_t num_docs, Mask allowed) {
    Candidates c;
    const std::size_t end = allowed ? std::min(num_docs, allowed->size()) : num_docs;
    c.docs.reserve(end);
    for (std::size_t d = 0; d < end; ++d)
        if (!allowed || (*allowed)[d]) c.docs.push_back(d);
    return c;
}

/// Adds the fusion term of every rank to fused[order[rank]] (the positions of `order` are
/// distinct candidates).
void add_ranks(const std::vector<uint64_t>& order, uint64_t rrf_k, std::vector<double>& fused,
               bool use_pool) {
    parallel::for_each_range(order.size(), use_pool, 4096, [&](std::size_t b, std::size_t e) {
        for (std::size_t r = b; r < e; ++r) fused[static_cast<std::size_t>(order[r])] += fusion_term(rrf_k, r);
    });
}

/// The first n (candidate position, fused score) pairs, every channel ranked in full.
/// Rankings are of candidate positions: equal scores keep candidate order.
std::vector<Scored> fuse_in_full(const Candidates& c, std::span<const double> similarity,
                                 std::span<const float> cosines, bool dense_pool,
                                 const FusionQuery& query, bool use_pool) {
    const std::size_t m = c.docs.size();
    const std::vector<uint64_t> fuzzy = rank_positions(similarity, use_pool);
    std::vector<uint64_t> dense;  // empty without the dense channel
    if (!cosines.empty())
        dense = rank_positions(std::vector<double>(cosines.begin(), cosines.end()), dense_pool);

    // Fusion: the BM25 terms of every hit, then each candidate's fuzzy and dense terms.
    std::vector<double> fused(m, 0.0);
    for (std::size_t r = 0; r < c.of_hit.size(); ++r) fused[c.of_hit[r]] += fusion_term(query.rrf_k, r);
    add_ranks(fuzzy, query.rrf_k, fused, use_pool);
    add_ranks(dense, query.rrf_k, fused, use_pool);

    std::vector<Scored> out(m);
    for (std::size_t j = 0; j < m; ++j) out[j] = {j, fused[j]};
    take_ranked(out, query.n, use_pool);
    return out;
}

}  // namespace

Candidates candidate_doc_indices(const Bm25Reader& index, std::span<const Scored> hits) {
    Candidates c;
    c.of_hit.reserve(hits.size());
    absl::flat_hash_map<uint64_t, std::size_t> slot_of;
    slot_of.reserve(hits.size());
    cancel::Budget budget;
    for (const Scored& hit : hits) {
        // A hit's text is a corpus text, so the lookup always succeeds.
        const std::string_view text = index.doc(static_cast<std::size_t>(hit.doc));
        budget.spend(64 + text.size());
        const uint64_t d = *index.doc_index(text);
        const auto [it, inserted] = slot_of.try_emplace(d, c.docs.size());
        if (inserted) c.docs.push_back(d);
        c.of_hit.push_back(it->second);
    }
    return c;
}

std::vector<Scored> fused_search(const Bm25Reader& index, const FusionQuery& query,
                                 const DenseQuery* dense) {
    const uint64_t k = candidate_pool_size(query.n, query.bm25_candidates);
    const std::vector<Scored> hits = index.top_n(query.text, k, query.allowed);
    const Candidates c =
        hits.empty() ? allowed_docs(index.num_docs(), query.allowed) : candidate_doc_indices(index, hits);
    const std::size_t m = c.docs.size();
    const bool use_pool = query.parallel && m >= parallel::kHybridMinCandidates;

    // Fuzzy channel.
    const FuzzyQuery fq(query.text);
    std::vector<double> similarity(m);
    parallel::for_each_range(m, use_pool, fuzzy_grain(m), [&](std::size_t b, std::size_t e) {
        compute_fuzzy_scores(fq, index, std::span<const uint64_t>(c.docs).subspan(b, e - b),
                             similarity.data() + b);
    });

    // Dense channel.
    std::vector<float> values;
    const bool dense_pool = dense && use_pool && dense->parallel;
    if (dense) {
        if (dense->embedding.size() != dense->rows.dim)
            throw EmbeddingDimMismatch{dense->embedding.size(), dense->rows.dim};
        const float qn = dense_norm(dense->embedding, dense->rows.norm);
        values.resize(m);
        parallel::for_each_range(m, dense_pool, kDenseGrain, [&](std::size_t b, std::size_t e) {
            cosines(dense->rows, dense->embedding, qn,
                    std::span<const uint64_t>(c.docs).subspan(b, e - b), values.data() + b);
        });
    }

    // Without hits the first n are found from each channel's best (fused_top.hpp).
    std::optional<std::vector<Scored>> top;
    if (c.of_hit.empty())
        top = fused_top_without_hits({similarity, values, use_pool, dense_pool}, query.n, query.rrf_k);
    std::vector<Scored> out =
        top ? std::move(*top) : fuse_in_full(c, similarity, values, dense_pool, query, use_pool);
    for (Scored& e : out) e.doc = c.docs[static_cast<std::size_t>(e.doc)];
    return out;
}

std::vector<Scored> hybrid_search(const Bm25Reader& index, HybridRows rows, std::string_view query,
                                  std::optional<std::span<const float>> query_embedding, uint64_t n,
                                  uint64_t rrf_k, uint64_t bm25_candidates, Mask allowed) {
    const FusionQuery q{query, n, rrf_k, bm25_candidates, allowed, true};
    if (!rows.rows || !query_embedding) return fused_search(index, q, nullptr);
    const DenseQuery dense{*rows.rows, *query_embedding, rows.parallel};
    return fused_search(index, q, &dense);
}

}  // namespace tarnwick::search
