#include "join/joiner_score.hpp"

#include "algorithms/lcs.hpp"
#include "fuzz/fuzz_text.hpp"
#include "search/tokenise.hpp"

#include <algorithm>
#include <cmath>

namespace tarnwick::join {
namespace {

/// The fusion term of rank r: 1 / (rrf_k + 1 + r), the denominator formed as an unsigned
/// 64-bit integer.
double fusion_term(uint64_t rrf_k, std::size_t rank) {
    return 1.0 / static_cast<double>(rrf_k + 1 + static_cast<uint64_t>(rank));
}

/// The ranking order: a higher score first, NaN after every number, equal scores (and two
/// NaNs) in list order. A total order, so any sort gives one result.
template <class R>
bool ranks_before(const R& a, const R& b) noexcept {
    const bool a_nan = std::isnan(a.score), b_nan = std::isnan(b.score);
    if (a_nan != b_nan) return b_nan;
    if (!a_nan && a.score != b.score) return a.score > b.score;
    return a.order < b.order;
}

template <class R>
void rank(std::vector<R>& list) {
    std::sort(list.begin(), list.end(), ranks_before<R>);
}

/// Dot product of two id-sorted sparse vectors: the float sum, in ascending id, of the
/// float products of the weights of the ids present in both.
float sparse_dot(const SparseVector& a, const SparseVector& b) noexcept {
    float sum = 0.0f;
    std::size_t i = 0, j = 0;
    const std::size_t na = a.size(), nb = b.size();
    while (i < na && j < nb) {
        const uint32_t x = a[i].id, y = b[j].id;
        if (x == y) {
            const float prod = a[i].weight * b[j].weight;
            sum += prod;
        }
        i += x <= y;
        j += y <= x;
    }
    return sum;
}

}  // namespace

Scratch::Scratch(std::size_t targets)
    : text_sum(targets, 0.0), sparse_sum(targets, 0.0), dense_sum(targets, 0.0),
      reached(targets, 0), raw_text(targets, 0.0),
      raw_sparse(targets, 0.0), raw_dense(targets, 0.0), bm25(targets, 0.0f) {}

void ElementScorer::reach(uint32_t target) {
    if (s_.reached[target]) return;
    s_.reached[target] = 1;
    s_.reached_list.push_back(target);
}

void ElementScorer::bm25_candidates(const std::string& text) {
    // The token strings are reused from element to element.
    std::size_t count = 0;
    search::for_each_word(text, [&](std::string_view word) {
        if (count == s_.tokens.size()) s_.tokens.emplace_back();
        s_.tokens[count++].assign(word);
    });
    s_.touched.clear();
    ctx_.index->score_all(std::span(s_.tokens.data(), count), s_.bm25.data(), s_.touched);
    s_.bm25_hits.clear();
    for (const uint32_t t : s_.touched) {
        s_.bm25_hits.push_back(
            {static_cast<double>(s_.bm25[t]), t, static_cast<uint32_t>(s_.bm25_hits.size())});
        s_.bm25[t] = 0.0f;
    }
}

double ElementScorer::fuzzy_similarity(const std::string& a, bool a_ascii, uint32_t target) {
    const std::string& b = *ctx_.targets[target].text;
    if (a_ascii && ctx_.target_ascii[target]) {
        const std::size_t total = a.size() + b.size();
        if (total == 0) return 1.0;
        const auto* pa = reinterpret_cast<const uint8_t*>(a.data());
        const auto* pb = reinterpret_cast<const uint8_t*>(b.data());
        const uint64_t d = algorithms::indel_distance<uint8_t>({pa, a.size()}, {pb, b.size()});
        return 1.0 - static_cast<double>(d) / static_cast<double>(total);
    }
    if (!src_chars_ready_) {
        fuzz::text::decode(a, s_.src_chars);
        src_chars_ready_ = true;
    }
    fuzz::text::decode(b, s_.tgt_chars);
    const std::size_t total = s_.src_chars.size() + s_.tgt_chars.size();
    if (total == 0) return 1.0;
    const uint64_t d = algorithms::indel_distance<uint32_t>(s_.src_chars, s_.tgt_chars);
    return 1.0 - static_cast<double>(d) / static_cast<double>(total);
}

void ElementScorer::text_channel(const std::string& text) {
    const uint64_t rrf_k = ctx_.config.rrf_k;
    s_.ranked = s_.bm25_hits;
    rank(s_.ranked);
    for (std::size_t r = 0; r < s_.ranked.size(); ++r) {
        const uint32_t t = s_.ranked[r].target;
        s_.text_sum[t] += fusion_term(rrf_k, r);
        reach(t);
    }
    // The first bm25_candidates by BM25 are ranked again by fuzzy similarity.
    const std::size_t k = static_cast<std::size_t>(
        std::min<uint64_t>(s_.ranked.size(), ctx_.config.bm25_candidates));
    s_.ranked.resize(k);
    const bool ascii = fuzz::text::is_ascii(text);
    src_chars_ready_ = false;
    for (std::size_t r = 0; r < k; ++r) {
        Scratch::Ranked& c = s_.ranked[r];
        c.score = fuzzy_similarity(text, ascii, c.target);
        c.order = static_cast<uint32_t>(r);
        s_.raw_text[c.target] = c.score;
    }
    rank(s_.ranked);
    for (std::size_t r = 0; r < k; ++r) s_.text_sum[s_.ranked[r].target] += fusion_term(rrf_k, r);
}

void ElementScorer::sparse_channel(const JoinElement& source) {
    s_.ranked.clear();
    if (source.sparse) {
        const SparseVector& sv = *source.sparse;
        if (!sv.empty()) {
            for (std::size_t t = 0; t < ctx_.targets.size(); ++t) {
                const auto& tv = ctx_.targets[t].sparse;
                if (!tv || tv->empty()) continue;
                const float sum = sparse_dot(sv, *tv);
                if (!(sum > 0.0f)) continue;
                const auto target = static_cast<uint32_t>(t);
                s_.raw_sparse[t] = static_cast<double>(sum);
                reach(target);
                s_.ranked.push_back({static_cast<double>(sum), target,
                                     static_cast<uint32_t>(s_.ranked.size())});
            }
        }
    } else {
        // BM25 in place of the missing sparse vector: every candidate, in touched order.
        for (const Scratch::Ranked& c : s_.bm25_hits) {
            s_.raw_sparse[c.target] = c.score;
            reach(c.target);
        }
        s_.ranked = s_.bm25_hits;
    }
    rank(s_.ranked);
    for (std::size_t r = 0; r < s_.ranked.size(); ++r)
        s_.sparse_sum[s_.ranked[r].target] += fusion_term(ctx_.config.rrf_k, r);
}

void ElementScorer::dense_channel(std::span<const float> dense_row) {
    const std::span<const uint32_t> panel = ctx_.dense.targets();
    s_.ranked.clear();
    for (std::size_t i = 0; i < panel.size(); ++i) {
        const uint32_t t = panel[i];
        const double score = static_cast<double>(dense_row[i]);
        s_.raw_dense[t] = score;
        reach(t);
        s_.ranked.push_back({score, t, static_cast<uint32_t>(i)});
    }
    rank(s_.ranked);
    for (std::size_t r = 0; r < s_.ranked.size(); ++r)
        s_.dense_sum[s_.ranked[r].target] += fusion_term(ctx_.config.rrf_k, r);
}

void ElementScorer::score_element(const JoinElement& source, std::span<const float> dense_row,
                                  std::vector<Match>& out) {
    out.clear();
    const JoinConfig& cfg = ctx_.config;
    const bool has_index = ctx_.index != nullptr;
    const bool text_on = cfg.text_weight > 0 && has_index && source.text;
    const bool sparse_on = cfg.sparse_weight > 0 && (source.sparse || (source.text && has_index));
    const bool dense_on = cfg.dense_weight > 0 && source.dense;
    const bool need_bm25 = has_index && source.text && (text_on || (sparse_on && !source.sparse));

    if (need_bm25) bm25_candidates(*source.text);
    if (text_on) text_channel(*source.text);
    if (sparse_on) sparse_channel(source);
    if (dense_on) dense_channel(dense_row);

    // Fusion, over the reached targets in the order first reached.
    const int active = int{text_on} + int{sparse_on} + int{dense_on};
    double weight_sum = 0.0;
    if (text_on) weight_sum += cfg.text_weight;
    if (sparse_on) weight_sum += cfg.sparse_weight;
    if (dense_on) weight_sum += cfg.dense_weight;
    if (!(weight_sum >= 1e-10)) weight_sum = 1e-10;
    s_.ranked.clear();
    for (std::size_t i = 0; i < s_.reached_list.size(); ++i) {
        const uint32_t t = s_.reached_list[i];
        double score;
        if (active == 1) {
            score = text_on ? s_.raw_text[t] : sparse_on ? s_.raw_sparse[t] : s_.raw_dense[t];
        } else {
            double sum = 0.0;
            if (text_on) sum += s_.text_sum[t] * cfg.text_weight;
            if (sparse_on) sum += s_.sparse_sum[t] * cfg.sparse_weight;
            if (dense_on) sum += s_.dense_sum[t] * cfg.dense_weight;
            score = sum / weight_sum;
        }
        if (ctx_.score_cutoff && !(score >= *ctx_.score_cutoff)) continue;
        s_.ranked.push_back({score, t, static_cast<uint32_t>(i)});
    }
    const std::size_t keep = static_cast<std::size_t>(std::min<uint64_t>(s_.ranked.size(), ctx_.n));
    std::partial_sort(s_.ranked.begin(), s_.ranked.begin() + static_cast<std::ptrdiff_t>(keep),
                      s_.ranked.end(), ranks_before<Scratch::Ranked>);

    auto make = [&](uint32_t t, double score) {
        Match m{t, score, std::nullopt, std::nullopt, std::nullopt};
        if (text_on) m.text_score = s_.raw_text[t];
        if (sparse_on) m.sparse_score = s_.raw_sparse[t];
        if (dense_on) m.dense_score = s_.raw_dense[t];
        out.push_back(m);
    };
    for (std::size_t i = 0; i < keep; ++i) make(s_.ranked[i].target, s_.ranked[i].score);

    // Padding with targets no channel reached, in ascending position.
    const bool pad = !ctx_.score_cutoff || *ctx_.score_cutoff <= 0.0;
    if (pad) {
        for (std::size_t t = 0; t < ctx_.targets.size() && out.size() < ctx_.n; ++t)
            if (!s_.reached[t]) make(static_cast<uint32_t>(t), 0.0);
    }
    reset();
}

void ElementScorer::reset() {
    for (const uint32_t t : s_.reached_list) {
        s_.text_sum[t] = s_.sparse_sum[t] = s_.dense_sum[t] = 0.0;
        s_.raw_text[t] = s_.raw_sparse[t] = s_.raw_dense[t] = 0.0;
        s_.reached[t] = 0;
    }
    s_.reached_list.clear();
}

}  // namespace tarnwick::join
