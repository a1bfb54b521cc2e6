#include "join/joiner_score.hpp"

#include "rank_order.hpp"
#include "search/tokenise/tokenise.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

namespace tarnwick::join {
namespace {

/// The ranking order (rank_order.hpp), a list position as the position: equal scores
/// (and two NaNs) in list order. A total order, so any sort gives one result.
struct RankOrder {
    bool operator()(const Ranked& a, const Ranked& b) const noexcept {
        return ranks_before(a.score, a.order, b.score, b.order);
    }
};

/// Sorts `list` (whose `order` fields count 0, 1, 2, ...) into ranking order.
void rank(std::vector<Ranked>& list) { std::sort(list.begin(), list.end(), RankOrder{}); }

/// rank() for a list whose scores are all floats widened to double (BM25, sparse and
/// dense scores): a stable radix sort on the float's rank_key, which keeps equal keys in
/// list order and so gives exactly rank()'s order, in time linear in the list.
void rank_floats(std::vector<Ranked>& list, RadixRanker<uint32_t>& radix, std::vector<Ranked>& out) {
    const std::size_t n = list.size();
    if (n < 128) {
        rank(list);
        return;
    }
    const Ranked* in = list.data();
    const auto sorted =
        radix.sort(n, [&](std::size_t i) { return rank_key(static_cast<float>(in[i].score)); }, false);
    out.resize(n);
    for (std::size_t r = 0; r < n; ++r) out[r] = in[sorted[r].pos];
    list.swap(out);
}

}  // namespace

std::vector<double> fusion_term_table(uint64_t rrf_k, std::size_t count) {
    std::vector<double> table(count);
    for (std::size_t r = 0; r < count; ++r) table[r] = fusion_term(rrf_k, r);
    return table;
}

Scratch::Scratch(std::size_t targets)
    : text_sum(targets, 0.0), sparse_sum(targets, 0.0), dense_sum(targets, 0.0),
      reached(targets, 0), raw_text(targets, 0.0),
      raw_sparse(targets, 0.0), raw_dense(targets, 0.0), bm25(targets, 0.0f),
      reached_list(targets) {}

void ElementScorer::reach(uint32_t target) {
    if (s_.reached[target]) return;
    s_.reached[target] = 1;
    s_.reached_list[s_.reached_count++] = target;
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

void ElementScorer::text_channel(const std::string& text) {
    // BM25 order is also the order in which the candidates are reached.
    const std::vector<Ranked>& by_bm25 = bm25_ranking();
    for (const Ranked& c : by_bm25) reach(c.target);
    add_fusion_terms(by_bm25.data(), by_bm25.size(), s_.text_sum);
    // The first bm25_candidates by BM25 are ranked again by fuzzy similarity.
    const std::size_t k = static_cast<std::size_t>(
        std::min<uint64_t>(by_bm25.size(), ctx_.config.bm25_candidates));
    s_.ranked.assign(by_bm25.begin(), by_bm25.begin() + static_cast<std::ptrdiff_t>(k));
    // Fuzzy similarity as the search's re-ranking computes it (rerank/fuzzy.hpp).
    s_.fuzzy_docs.resize(k);
    s_.fuzzy_scores.resize(k);
    for (std::size_t r = 0; r < k; ++r) s_.fuzzy_docs[r] = *ctx_.targets[s_.ranked[r].target].text;
    if (k != 0) {
        s_.fuzzy_query.assign(text);
        search::compute_fuzzy_scores(s_.fuzzy_query, s_.fuzzy_docs, s_.fuzzy_scores.data());
    }
    for (std::size_t r = 0; r < k; ++r) {
        Ranked& c = s_.ranked[r];
        c.score = s_.fuzzy_scores[r];
        c.order = static_cast<uint32_t>(r);
        s_.raw_text[c.target] = c.score;
    }
    if (!fuse_) return;
    rank(s_.ranked);
    add_fusion_terms(s_.ranked.data(), k, s_.text_sum);
}

const std::vector<Ranked>& ElementScorer::bm25_ranking() {
    if (!bm25_ranked_) {
        s_.bm25_ranked = s_.bm25_hits;
        rank_floats(s_.bm25_ranked, s_.radix, s_.sorted);
        bm25_ranked_ = true;
    }
    return s_.bm25_ranked;
}

void ElementScorer::add_fusion_terms(const Ranked* ranking, std::size_t count,
                                     std::vector<double>& sums) {
    if (!fuse_) return;  // one active channel scores by its own score: ranks are not needed
    const std::vector<double>& table = ctx_.fusion_terms;
    double* out = sums.data();
    for (std::size_t r = 0; r < count; ++r)
        out[ranking[r].target] += r < table.size() ? table[r] : fusion_term(ctx_.config.rrf_k, r);
}

void ElementScorer::rank_and_add_fusion_terms(std::vector<double>& sums) {
    if (!fuse_) return;
    rank_floats(s_.ranked, s_.radix, s_.sorted);
    add_fusion_terms(s_.ranked.data(), s_.ranked.size(), sums);
}

void ElementScorer::sparse_channel(const JoinElement& source) {
    s_.ranked.clear();
    if (source.sparse) {
        if (!source.sparse->empty()) {
            // A target sharing no id with the source has the dot product 0: not positive.
            const std::span<const uint32_t> targets = ctx_.sparse.targets();
            ctx_.sparse.for_each_dot(*source.sparse, s_.sparse_source, [&](std::size_t i, float sum) {
                if (!(sum > 0.0f)) return;
                const uint32_t t = targets[i];
                s_.raw_sparse[t] = static_cast<double>(sum);
                reach(t);
                s_.ranked.push_back({static_cast<double>(sum), t,
                                     static_cast<uint32_t>(s_.ranked.size())});
            });
        }
    } else {
        // BM25 in place of the missing sparse vector: every candidate, in touched order.
        for (const Ranked& c : s_.bm25_hits) {
            s_.raw_sparse[c.target] = c.score;
            reach(c.target);
        }
        if (!fuse_) return;
        const std::vector<Ranked>& by_bm25 = bm25_ranking();
        add_fusion_terms(by_bm25.data(), by_bm25.size(), s_.sparse_sum);
        return;
    }
    rank_and_add_fusion_terms(s_.sparse_sum);
}

void ElementScorer::dense_channel(std::span<const float> dense_row) {
    const std::span<const uint32_t> panel = ctx_.dense.targets();
    // Every target of the panel; plain pointers keep this loop free of reloads.
    const std::size_t size = panel.size();
    const uint32_t* targets = panel.data();
    const float* row = dense_row.data();
    double* raw = s_.raw_dense.data();
    uint8_t* reached = s_.reached.data();
    uint32_t* list = s_.reached_list.data();
    std::size_t count = s_.reached_count;
    for (std::size_t i = 0; i < size; ++i) {
        const uint32_t t = targets[i];
        raw[t] = static_cast<double>(row[i]);
        if (!reached[t]) {
            reached[t] = 1;
            list[count++] = t;
        }
    }
    s_.reached_count = count;
    if (!fuse_) return;
    s_.ranked.resize(size);
    Ranked* ranked = s_.ranked.data();
    for (std::size_t i = 0; i < size; ++i)
        ranked[i] = Ranked{static_cast<double>(row[i]), targets[i], static_cast<uint32_t>(i)};
    rank_and_add_fusion_terms(s_.dense_sum);
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
    const int active = int{text_on} + int{sparse_on} + int{dense_on};
    fuse_ = active >= 2;

    bm25_ranked_ = false;
    if (need_bm25) bm25_candidates(*source.text);
    if (text_on) text_channel(*source.text);
    if (sparse_on) sparse_channel(source);
    if (dense_on) dense_channel(dense_row);

    // Fusion, over the reached targets in the order first reached.
    double weight_sum = 0.0;
    if (text_on) weight_sum += cfg.text_weight;
    if (sparse_on) weight_sum += cfg.sparse_weight;
    if (dense_on) weight_sum += cfg.dense_weight;
    if (!(weight_sum >= 1e-10)) weight_sum = 1e-10;
    const std::size_t count = s_.reached_count;
    const uint32_t* list = s_.reached_list.data();
    const double* single = text_on ? s_.raw_text.data() : sparse_on ? s_.raw_sparse.data()
                                                                   : s_.raw_dense.data();
    const double* sums[3] = {s_.text_sum.data(), s_.sparse_sum.data(), s_.dense_sum.data()};
    const bool has_cutoff = ctx_.score_cutoff.has_value();
    const double cutoff = ctx_.score_cutoff.value_or(0.0);
    s_.ranked.resize(count);
    Ranked* kept = s_.ranked.data();
    std::size_t n_kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const uint32_t t = list[i];
        double score;
        if (active == 1) {
            score = single[t];
        } else {
            double sum = 0.0;
            if (text_on) sum += sums[0][t] * cfg.text_weight;
            if (sparse_on) sum += sums[1][t] * cfg.sparse_weight;
            if (dense_on) sum += sums[2][t] * cfg.dense_weight;
            score = sum / weight_sum;
        }
        if (has_cutoff && !(score >= cutoff)) continue;
        kept[n_kept++] = Ranked{score, t, static_cast<uint32_t>(i)};
    }
    s_.ranked.resize(n_kept);
    const std::size_t keep = static_cast<std::size_t>(std::min<uint64_t>(s_.ranked.size(), ctx_.n));
    std::partial_sort(s_.ranked.begin(), s_.ranked.begin() + static_cast<std::ptrdiff_t>(keep),
                      s_.ranked.end(), RankOrder{});

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
    reset(text_on, sparse_on, dense_on);
}

void ElementScorer::reset(bool text_on, bool sparse_on, bool dense_on) {
    // Only the arrays the active channels wrote, at the reached entries; when most targets
    // were reached a whole-array fill is cheaper than the scattered stores.
    const bool whole = s_.reached_count * 4 >= ctx_.targets.size();
    auto clear = [&](auto& v, bool used) {
        if (!used) return;
        if (whole) {
            std::fill(v.begin(), v.end(), 0);
            return;
        }
        for (std::size_t i = 0; i < s_.reached_count; ++i) v[s_.reached_list[i]] = 0;
    };
    clear(s_.text_sum, text_on && fuse_);
    clear(s_.sparse_sum, sparse_on && fuse_);
    clear(s_.dense_sum, dense_on && fuse_);
    clear(s_.raw_text, text_on);
    clear(s_.raw_sparse, sparse_on);
    clear(s_.raw_dense, dense_on);
    clear(s_.reached, true);
    s_.reached_count = 0;
}

}  // namespace tarnwick::join
