#include "join/joiner_index.hpp"

#include "round_f32.hpp"
#include "search/bm25/corpus_stats.hpp"

#include <string_view>

namespace tarnwick::join {

search::Variant bm25_variant_of(const std::string& name) noexcept {
    using search::Variant;
    if (name == "BM25L") return Variant::L;
    if (name == "BM25Plus") return Variant::Plus;
    if (name == "BM25T") return Variant::T;
    return Variant::Okapi;
}

Bm25Index::Bm25Index(std::span<const JoinElement> targets, const JoinConfig& config) {
    using search::Variant;
    const Variant variant = bm25_variant_of(config.bm25_variant);
    search::TokenisedCorpus corpus;
    corpus.reserve(targets.size(), 0);
    for (const JoinElement& t : targets) corpus.add(t.text ? std::string_view(*t.text) : std::string_view(), false);
    const search::CorpusStatistics stats =
        search::corpus_statistics(corpus, variant, Variant::Okapi, config.bm25_k1, config.bm25_b);

    search::Bm25Params params;
    params.k1 = config.bm25_k1;
    params.b = config.bm25_b;
    params.delta = variant == Variant::L ? 0.5 : variant == Variant::Plus ? 1.0 : 0.0;
    const std::size_t v = corpus.terms().size();
    idf_.resize(v);
    offsets_ = stats.lists.offsets;
    postings_.resize(stats.lists.postings.size());
    for (std::size_t t = 0; t < v; ++t) {
        idf_[t] = round_f32(stats.idf[t]);
        const double k1_t = variant == Variant::T ? stats.term_k1[t] : 0.0;
        Posting* out = postings_.data() + offsets_[t];
        for (const search::TermPosting& p : stats.postings(t)) {
            const double w = search::bm25::weight(variant, params, k1_t, p.tf, stats.length_factor[p.doc]);
            *out++ = Posting{p.doc, round_f32(w)};
        }
    }
    terms_ = std::move(corpus).take_terms();
}

void Bm25Index::score_all(std::span<const std::string> tokens, float* scores,
                          std::vector<uint32_t>& touched) const {
    for (const std::string& token : tokens) {
        const auto id = terms_.find(token);
        if (!id) continue;
        const float idf = idf_[*id];
        const Posting* p = postings_.data() + offsets_[*id];
        const Posting* const end = postings_.data() + offsets_[*id + 1];
        for (; p != end; ++p) {
            if (scores[p->target] == 0.0f) touched.push_back(p->target);
            const float contribution = idf * p->weight;
            scores[p->target] += contribution;
        }
    }
}

}  // namespace tarnwick::join
