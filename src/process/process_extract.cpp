#include "process/process_extract.hpp"

#include "fuzz/fuzz_text.hpp"
#include "parallel.hpp"

#include <bit>

namespace tarnwick::process {

// Every stored value is a non-negative double, so the bit patterns compare as the numbers do.
void RunningCutoff::raise(double score) noexcept {
    const uint64_t want = to_bits(score);
    uint64_t cur = bits_.load(std::memory_order_relaxed);
    while (cur < want && !bits_.compare_exchange_weak(cur, want, std::memory_order_relaxed)) {
    }
}

namespace {

/// The running cut-off's value and its prepared form, made again when the value rises.
struct PreparedCutoff {
    double value;
    Cutoff cutoff;
    explicit PreparedCutoff(double r) noexcept : value(r), cutoff(r) {}
};

/// Scores the views [begin, end) against the query with the shared cut-off.
std::vector<PoolCandidate> score_chunk(const PreparedQuery& q, std::span<const ChoiceView> views,
                                       std::span<const types::Seq> others, std::size_t base,
                                       std::size_t begin, std::size_t end,
                                       std::optional<uint64_t> limit, RunningCutoff& cutoff) {
    BoundedHeap<PoolCandidate> heap(limit.value_or(0));
    std::vector<PoolCandidate> all;
    std::vector<uint32_t> code_points;
    PreparedCutoff cut(cutoff.get());
    for (std::size_t i = begin; i < end; ++i) {
        if (i % 16 == 0) cancel::cancellation_point();
        const ChoiceView& v = views[i];
        if (i + 4 < end) __builtin_prefetch(views[i + 4].data);
        if (v.other == ChoiceView::kNone) continue;
        const double r = cutoff.get();
        if (r != cut.value) cut = PreparedCutoff(r);
        double score;
        if (v.other == ChoiceView::kMissing) {
            score = 0.0;
        } else if (v.other >= 0) {
            score = q.score(others[static_cast<std::size_t>(v.other)], cut.cutoff);
        } else if (v.other == ChoiceView::kBytes ||
                   fuzz::text::is_ascii({reinterpret_cast<const char*>(v.data), v.size})) {
            score = q.score(std::span<const uint8_t>(v.data, v.size), cut.cutoff);
        } else {
            // Text with other characters: its code points, as the conversion of a str
            // gives them.
            const std::string_view text(reinterpret_cast<const char*>(v.data), v.size);
            fuzz::text::decode(text, code_points);
            types::Seq seq = types::Seq::chars_view(code_points);
            seq.set_text(text);
            score = q.score(seq, cut.cutoff);
        }
        if (score < r) continue;
        const PoolCandidate c{score, base + i, 0};
        if (!limit) {
            all.push_back(c);
        } else if (heap.offer(PoolCandidate(c)) && heap.full()) {
            // The chunk already holds `limit` choices at or above this score, so nothing
            // below it can be among the best `limit`.
            cutoff.raise(heap.lowest());
        }
    }
    return limit ? std::move(heap).take() : std::move(all);
}

}  // namespace

std::vector<std::vector<PoolCandidate>> score_block(const PreparedQuery& q,
                                                    std::span<const ChoiceView> views,
                                                    std::span<const types::Seq> others,
                                                    std::size_t base, std::optional<uint64_t> limit,
                                                    RunningCutoff& cutoff) {
    const std::vector<std::size_t> bounds = parallel::chunk_bounds(views.size(), 256);
    return parallel::map(bounds.size() - 1, true, [&](std::size_t c) {
        return score_chunk(q, views, others, base, bounds[c], bounds[c + 1], limit, cutoff);
    });
}

}  // namespace tarnwick::process
