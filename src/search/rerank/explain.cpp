#include "search/rerank/explain.hpp"

#include "search/tokenise/tokenise.hpp"

#include <algorithm>

namespace tarnwick::search {
namespace {

/// Whether some p of `a` and q of `b` satisfy |p - q| <= window. Both lists ascend, so a
/// walk that always advances the smaller of the two current positions meets every pair
/// that could be closest: a nested scan would give the same answer.
bool within_window(std::span<const uint64_t> a, std::span<const uint64_t> b, uint64_t window) noexcept {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const uint64_t p = a[i], q = b[j];
        if ((p > q ? p - q : q - p) <= window) return true;
        if (p < q) ++i;
        else ++j;
    }
    return false;
}

}  // namespace

double phrase_proximity_boost(std::span<const TokenPositions> tokens, uint64_t window) noexcept {
    const std::size_t k = tokens.size();
    if (k == 0) return 0.0;
    if (k == 1) return tokens[0].present ? 1.0 : 0.0;
    uint64_t close = 0;
    for (std::size_t i = 0; i + 1 < k; ++i) {
        const TokenPositions& a = tokens[i];
        const TokenPositions& b = tokens[i + 1];
        if (a.present && b.present && within_window(a.positions, b.positions, window)) ++close;
    }
    return static_cast<double>(close) / static_cast<double>(static_cast<uint64_t>(k - 1));
}

std::vector<TermExplanation> explain(const Bm25Reader& index, std::string_view query, std::size_t d) {
    std::vector<std::string> tokens = tokenise(query, index.normalize());
    const std::vector<IdfWeight> factors = index.term_weights(tokens, d);
    std::vector<TermExplanation> out;
    out.reserve(tokens.size());
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const IdfWeight f = factors[i];
        out.push_back({std::move(tokens[i]), f.idf, f.weight, f.idf * f.weight});
    }
    return out;
}

std::vector<Scored> top_n_phrase(const Bm25Reader& index, std::string_view query, uint64_t n,
                                 uint64_t window, double phrase_boost) {
    const double gain = phrase_boost - 1.0;
    const std::vector<double> scores = index.scores(query);
    const std::vector<std::string> tokens = tokenise(query, index.normalize());
    std::vector<uint64_t> docs;
    const std::size_t count = std::min(scores.size(), index.num_docs());
    for (std::size_t d = 0; d < count; ++d)
        if (scores[d] > 0.0) docs.push_back(d);
    std::vector<double> proximity(docs.size());
    index.term_positions(tokens, docs, [&](std::size_t i, std::span<const TokenPositions> per_token) {
        proximity[i] = phrase_proximity_boost(per_token, window);
    });
    std::vector<Scored> ranked(docs.size());
    for (std::size_t i = 0; i < docs.size(); ++i) {
        const double factor = gain * proximity[i] + 1.0;
        ranked[i] = {docs[i], scores[docs[i]] * factor};
    }
    take_ranked(ranked, n);
    return ranked;
}

}  // namespace tarnwick::search
