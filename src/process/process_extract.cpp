#include "process/process_extract.hpp"

#include "algorithms/lcs_lanes.hpp"
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

/// The kept candidates of one chunk: all of them without a limit, else the best `limit`,
/// whose lowest score raises the shared cut-off once the chunk holds `limit`.
class ChunkBest {
public:
    ChunkBest(std::optional<uint64_t> limit, RunningCutoff& cutoff)
        : limit_(limit), cutoff_(cutoff), heap_(limit.value_or(0)) {}

    /// Keeps the choice at position `index` scored `score` under the cut-off `r` unless
    /// it is below it.
    void offer(std::size_t index, double score, double r) {
        if (score < r) return;
        const PoolCandidate c{score, index, 0};
        if (!limit_) {
            all_.push_back(c);
        } else if (heap_.offer(PoolCandidate(c)) && heap_.full()) {
            // The chunk already holds `limit` choices at or above this score, so nothing
            // below it can be among the best `limit`.
            cutoff_.raise(heap_.lowest());
        }
    }

    std::vector<PoolCandidate> take() && { return limit_ ? std::move(heap_).take() : std::move(all_); }

private:
    std::optional<uint64_t> limit_;
    RunningCutoff& cutoff_;
    BoundedHeap<PoolCandidate> heap_;
    std::vector<PoolCandidate> all_;
};

/// Scores the views [begin, end) against the query with the shared cut-off.
std::vector<PoolCandidate> score_chunk(const PreparedQuery& q, std::span<const ChoiceView> views,
                                       std::span<const types::Seq> others, std::size_t base,
                                       std::size_t begin, std::size_t end,
                                       std::optional<uint64_t> limit, RunningCutoff& cutoff) {
    ChunkBest best(limit, cutoff);
    std::vector<uint32_t> code_points;
    PreparedCutoff cut(cutoff.get());
    // With the simple or quick ratio of a short byte query, non-empty byte strings that
    // their length does not already reject are scored four at a time.
    const bool four = q.scores_four();
    std::span<const uint8_t> group[4];
    std::size_t group_at[4];
    std::size_t filled = 0;
    for (std::size_t i = begin; i < end; ++i) {
        if (i % 16 == 0) cancel::cancellation_point();
        const ChoiceView& v = views[i];
        if (i + 4 < end) __builtin_prefetch(views[i + 4].data);
        if (v.other == ChoiceView::kNone) continue;
        const double r = cutoff.get();
        if (r != cut.value) cut = PreparedCutoff(r);
        if (four && v.size != 0 && v.byte_string()) {
            if (q.rejects_by_length(v.size, cut.cutoff)) continue;  // scores 0.0, below r
            group[filled] = std::span<const uint8_t>(v.data, v.size);
            group_at[filled] = i;
            if (++filled < 4) continue;
            double scores[4];
            q.score_four(group, cut.cutoff, scores);
            for (int k = 0; k < 4; ++k) best.offer(base + group_at[k], scores[k], r);
            filled = 0;
            continue;
        }
        best.offer(base + i, q.score(v, others, code_points, cut.cutoff), r);
    }
    // The last few of a group, one by one, under the cut-off as it stands now.
    const double r = cutoff.get();
    if (r != cut.value) cut = PreparedCutoff(r);
    for (std::size_t k = 0; k < filled; ++k) best.offer(base + group_at[k], q.score(group[k], cut.cutoff), r);
    return std::move(best).take();
}

/// What the lane pass left for a view in the second pass: its LCS (0 to 16), or one of these.
constexpr uint8_t kNotOnLanes = 0xFF;  // scored one at a time
constexpr uint8_t kTooFar = 0xFE;      // its length alone puts it below the cut-off

/// The views of a chunk handed to the lane kernel: non-empty str, and non-empty bytes that
/// their length does not already reject under the cut-off at the chunk's start (the
/// cut-off only rises). `lcs[i - begin]` receives each view's LCS, or what is left for the
/// view.
struct ChunkLanes {
    const PreparedQuery& q;
    std::span<const ChoiceView> views;
    std::size_t begin, end;
    const Cutoff& cut;
    uint8_t* lcs;
    std::size_t i;

    static std::size_t next(void* self, algorithms::LaneText* texts, std::size_t room) {
        auto& c = *static_cast<ChunkLanes*>(self);
        // In locals: the stores below might otherwise change them, for all the compiler
        // knows.
        const ChoiceView* const views = c.views.data();
        // (lcs[j] is view begin + j: a pointer moved back by `begin` would point outside
        // the buffer.)
        uint8_t* const lcs = c.lcs;
        const std::size_t begin = c.begin, end = c.end;
        std::size_t i = c.i, k = 0;
        for (; i < end && k < room; ++i) {
            if (i % 16 == 0) cancel::cancellation_point();
            const ChoiceView& v = views[i];
            lcs[i - begin] = kNotOnLanes;
            if ((v.other != ChoiceView::kBytes && v.other != ChoiceView::kText) || v.size == 0) continue;
            // (The length of a str in code points is known only once it is found ASCII.)
            if (v.other == ChoiceView::kBytes && c.q.rejects_by_length(v.size, c.cut)) {
                lcs[i - begin] = kTooFar;
                continue;
            }
            texts[k++] = {reinterpret_cast<const char*>(v.data), v.size, i - begin};
        }
        c.i = i;
        return k;
    }

    static void store(void* self, const algorithms::LaneLcs* done, std::size_t count) {
        const auto& c = *static_cast<const ChunkLanes*>(self);
        for (std::size_t k = 0; k < count; ++k) c.lcs[done[k].slot] = static_cast<uint8_t>(done[k].lcs);
    }
};

/// score_chunk on the lane kernel (only when q.scores_lanes()): the LCS of every byte
/// string of the chunk first, then the scores in order under the running cut-off, the
/// views the kernel does not take scored one at a time.
std::vector<PoolCandidate> score_chunk_lanes(const PreparedQuery& q, std::span<const ChoiceView> views,
                                             std::span<const types::Seq> others, std::size_t base,
                                             std::size_t begin, std::size_t end,
                                             std::optional<uint64_t> limit, RunningCutoff& cutoff) {
    PreparedCutoff cut(cutoff.get());
    std::vector<uint8_t> lcs(end - begin);
    {
        ChunkLanes lanes{q, views, begin, end, cut.cutoff, lcs.data(), begin};
        std::vector<std::size_t> given_back;  // their entries stay kNotOnLanes
        algorithms::lcs_lanes(q.lane_pattern(), &ChunkLanes::next, &ChunkLanes::store, &lanes, given_back);
    }
    ChunkBest best(limit, cutoff);
    std::vector<uint32_t> code_points;
    for (std::size_t i = begin; i < end; ++i) {
        if (i % 16 == 0) cancel::cancellation_point();
        const ChoiceView& v = views[i];
        const uint8_t at = lcs[i - begin];
        if (v.other == ChoiceView::kNone || at == kTooFar) continue;  // kTooFar: 0.0, below r
        const double r = cutoff.get();
        if (r != cut.value) cut = PreparedCutoff(r);
        const double score = at == kNotOnLanes ? q.score(v, others, code_points, cut.cutoff)
                                               : q.score_of_lcs(v.size, at, cut.cutoff);
        best.offer(base + i, score, r);
    }
    return std::move(best).take();
}

/// Fewest views in a chunk for which the chunk takes the lane kernel: with fewer, most of
/// its 64 lanes would idle.
constexpr std::size_t kLaneMinViews = 64;

}  // namespace

std::vector<std::vector<PoolCandidate>> score_block(const PreparedQuery& q,
                                                    std::span<const ChoiceView> views,
                                                    std::span<const types::Seq> others,
                                                    std::size_t base, std::optional<uint64_t> limit,
                                                    RunningCutoff& cutoff) {
    const std::vector<std::size_t> bounds = parallel::chunk_bounds(views.size(), 256);
    return parallel::map(bounds.size() - 1, true, [&](std::size_t c) {
        if (q.scores_lanes() && bounds[c + 1] - bounds[c] >= kLaneMinViews)
            return score_chunk_lanes(q, views, others, base, bounds[c], bounds[c + 1], limit, cutoff);
        return score_chunk(q, views, others, base, bounds[c], bounds[c + 1], limit, cutoff);
    });
}

}  // namespace tarnwick::process
