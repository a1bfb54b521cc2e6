// Joining arrays: one ordered pair on the worker pool, and every ordered pair in turn.
#include "join/joiner_dense.hpp"
#include "join/joiner_index.hpp"
#include "join/joiner_model.hpp"
#include "join/joiner_score.hpp"
#include "join/joiner_sparse.hpp"
#include "parallel.hpp"

#include <algorithm>
#include <iterator>

namespace tarnwick::join {
namespace {

bool has_text(const JoinElement& e) { return e.text.has_value(); }

}  // namespace

const JoinArray* MultiJoiner::find(std::string_view name) const noexcept {
    for (const JoinArray& a : arrays)
        if (a.name == name) return &a;
    return nullptr;
}

std::vector<JoinRow> MultiJoiner::join_arrays_inner(const JoinArray& src, const JoinArray& tgt,
                                                    uint64_t n,
                                                    std::optional<double> score_cutoff) const {
    const std::vector<JoinElement>& sources = src.elements;
    const std::vector<JoinElement>& targets = tgt.elements;
    if (sources.empty()) return {};

    // What every worker reads: the index over the target texts (when a channel can use
    // it) and the dense and sparse panels.
    std::optional<Bm25Index> index;
    if ((config.text_weight > 0 || config.sparse_weight > 0) &&
        std::any_of(sources.begin(), sources.end(), has_text) &&
        std::any_of(targets.begin(), targets.end(), has_text))
        index.emplace(targets, config);
    const bool dense_on = config.dense_weight > 0;
    const DensePanel panel(dense_on ? std::span<const JoinElement>(targets)
                                    : std::span<const JoinElement>());
    const SparsePanel sparse(config.sparse_weight > 0 ? std::span<const JoinElement>(targets)
                                                      : std::span<const JoinElement>());
    PairContext ctx{config, targets, index ? &*index : nullptr, panel, sparse,
                    fusion_term_table(config.rrf_k, targets.size() + 1), n, score_cutoff};

    // One run of consecutive sources per task, with one scratch state; the dense dots of
    // up to kMaxSources sources are computed together.
    std::vector<std::vector<JoinRow>> rows_of(sources.size());
    const std::size_t panel_size = panel.targets().size();
    const bool use_pool = sources.size() >= parallel::kJoinMinSources;
    parallel::for_each_range(sources.size(), use_pool, 1, [&](std::size_t b, std::size_t e) {
        Scratch scratch(targets.size());
        ElementScorer scorer(ctx, scratch);
        std::vector<float> dots(std::min(e - b, DensePanel::kMaxSources) * panel_size);
        std::vector<Match> matches;
        for (std::size_t first = b; first < e; first += DensePanel::kMaxSources) {
            cancel::cancellation_point();
            const std::size_t last = std::min(e, first + DensePanel::kMaxSources);
            std::span<const float> vectors[DensePanel::kMaxSources];
            std::size_t row_of[DensePanel::kMaxSources];
            std::size_t count = 0;
            for (std::size_t i = first; i < last; ++i) {
                if (!dense_on || !sources[i].dense) continue;
                row_of[i - first] = count;
                vectors[count++] = *sources[i].dense;
            }
            panel.dots(std::span(vectors, count), dots.data());
            for (std::size_t i = first; i < last; ++i) {
                std::span<const float> row;
                if (dense_on && sources[i].dense)
                    row = std::span<const float>(dots.data() + row_of[i - first] * panel_size,
                                                 panel_size);
                scorer.score_element(sources[i], row, matches);
                std::vector<JoinRow>& out = rows_of[i];
                out.reserve(matches.size());
                for (const Match& m : matches) {
                    out.push_back(JoinRow{src.name, i, sources[i].text, tgt.name, m.target,
                                          targets[m.target].text, m.score, m.text_score,
                                          m.sparse_score, m.dense_score});
                }
            }
        }
    });

    std::size_t total = 0;
    for (const auto& r : rows_of) total += r.size();
    std::vector<JoinRow> rows;
    rows.reserve(total);
    for (auto& r : rows_of) std::move(r.begin(), r.end(), std::back_inserter(rows));
    return rows;
}

std::vector<JoinRow> MultiJoiner::join_all(uint64_t n, std::optional<double> score_cutoff) const {
    std::vector<JoinRow> rows;
    for (std::size_t i = 0; i < arrays.size(); ++i) {
        for (std::size_t j = 0; j < arrays.size(); ++j) {
            if (i == j) continue;
            std::vector<JoinRow> pair = join_arrays_inner(arrays[i], arrays[j], n, score_cutoff);
            std::move(pair.begin(), pair.end(), std::back_inserter(rows));
        }
    }
    return rows;
}

}  // namespace tarnwick::join
