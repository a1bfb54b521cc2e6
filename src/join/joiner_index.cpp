#include "join/joiner_index.hpp"

#include "search/tokenise/tokenise.hpp"

#include <cmath>
#include <string_view>

namespace tarnwick::join {
namespace {

/// The per-term saturation of BM25T before m(t) is subtracted: 1.0 at k1 = 1 (the limit of
/// the expression), else ln(k1) * (k1 / (k1 - 1)).
double bm25t_g(double k1) {
    if (std::fabs(k1 - 1.0) < 0x1p-52) return 1.0;
    return std::log(k1) * (k1 / (k1 - 1.0));
}

}  // namespace

Bm25Variant bm25_variant_of(const std::string& name) noexcept {
    if (name == "BM25L") return Bm25Variant::L;
    if (name == "BM25Plus") return Bm25Variant::Plus;
    if (name == "BM25T") return Bm25Variant::T;
    return Bm25Variant::Okapi;
}

Bm25Index::Bm25Index(std::span<const JoinElement> targets, const JoinConfig& config) {
    const std::size_t n_docs = targets.size();
    const double k1 = config.bm25_k1;
    const double b = config.bm25_b;
    const Bm25Variant variant = bm25_variant_of(config.bm25_variant);

    // Term frequencies, gathered term by term in ascending target order; the weights
    // (which need avgdl, and for BM25T every target of the term) come afterwards.
    struct Raw {
        uint32_t target;
        uint32_t tf;
    };
    absl::flat_hash_map<std::string, std::vector<Raw>, FxHash, TextEq> raw;
    std::vector<uint64_t> doc_len(n_docs, 0);
    uint64_t total = 0;
    absl::flat_hash_map<std::string_view, uint32_t, FxHash, TextEq> counts;
    for (std::size_t j = 0; j < n_docs; ++j) {
        if (!targets[j].text) continue;
        const std::vector<std::string> tokens = search::split_words(*targets[j].text);
        doc_len[j] = tokens.size();
        total += tokens.size();
        counts.clear();
        for (const std::string& t : tokens) ++counts[t];
        for (const auto& [term, tf] : counts) {
            auto it = raw.find(term);
            if (it == raw.end()) it = raw.emplace(std::string(term), std::vector<Raw>{}).first;
            it->second.push_back(Raw{static_cast<uint32_t>(j), tf});
        }
    }
    const double avgdl = static_cast<double>(total) / static_cast<double>(n_docs);
    const double g = variant == Bm25Variant::T ? bm25t_g(k1) : 0.0;

    terms_.reserve(raw.size());
    for (auto& [term, list] : raw) {
        const double df = static_cast<double>(list.size());
        const double rest = static_cast<double>(n_docs - list.size());
        Term out;
        out.idf = static_cast<float>(std::log((rest + 0.5) / (df + 0.5) + 1.0));
        auto length_factor = [&](uint32_t j) {
            return (1.0 - b) + (b * static_cast<double>(doc_len[j])) / avgdl;
        };
        double k1_t = 0.0;
        if (variant == Bm25Variant::T) {
            double sum = 0.0;
            for (const Raw& r : list) sum += std::log(static_cast<double>(r.tf) / length_factor(r.target) + 1.0);
            const double m = sum / df;
            k1_t = (g - m) * (g - m);
        }
        out.postings.reserve(list.size());
        for (const Raw& r : list) {
            const double tf = static_cast<double>(r.tf);
            const double big_k = length_factor(r.target);
            double w;
            switch (variant) {
                case Bm25Variant::L: {
                    constexpr double delta = 0.5;
                    const double c = tf / big_k;
                    w = ((k1 + 1.0) * (delta + c)) / (delta + (k1 + c));
                    break;
                }
                case Bm25Variant::Plus: {
                    constexpr double delta = 1.0;
                    w = delta + ((k1 + 1.0) * tf) / (k1 * big_k + tf);
                    break;
                }
                case Bm25Variant::T: {
                    const double c = tf / big_k;
                    w = ((k1_t + 1.0) * c) / (k1_t + c);
                    break;
                }
                default:
                    w = ((k1 + 1.0) * tf) / (k1 * big_k + tf);
            }
            out.postings.push_back(Posting{r.target, static_cast<float>(w)});
        }
        terms_.emplace(term, std::move(out));
    }
}

void Bm25Index::score_all(std::span<const std::string> tokens, float* scores,
                          std::vector<uint32_t>& touched) const {
    for (const std::string& token : tokens) {
        const auto it = terms_.find(std::string_view(token));
        if (it == terms_.end()) continue;
        const float idf = it->second.idf;
        for (const Posting& p : it->second.postings) {
            if (scores[p.target] == 0.0f) touched.push_back(p.target);
            const float contribution = idf * p.weight;
            scores[p.target] += contribution;
        }
    }
}

}  // namespace tarnwick::join
