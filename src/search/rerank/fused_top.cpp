#include "search/rerank/fused_top.hpp"

#include "fusion_term.hpp"
#include "parallel.hpp"
#include "rank_order.hpp"

#include <algorithm>

namespace tarnwick::search {
namespace {

/// A candidate's place in a channel: its ranking key (rank_order.hpp) above its position,
/// so that ascending order is the channel's ranking order.
using Place = unsigned __int128;

Place place(uint64_t key, std::size_t pos) noexcept { return (Place{key} << 64) | pos; }
std::size_t position(Place p) noexcept { return static_cast<std::size_t>(static_cast<uint64_t>(p)); }

/// Candidates per chunk of a pass on the pool (smaller pools run on the calling thread).
constexpr std::size_t kMinChunk = 1 << 15;

/// The chunks of a pass over m candidates: several on the pool, else one.
std::vector<std::size_t> pass_chunks(std::size_t m, bool use_pool) {
    if (use_pool) return parallel::chunk_bounds(m, kMinChunk);
    return {0, m};
}

/// Keys read at a time by best_places: most blocks hold no key below the worst kept one,
/// which their minimum shows.
constexpr std::size_t kKeyBlock = 256;

/// The places of the r best candidates of a channel (r < m), in ascending order. Each
/// chunk keeps its own r best in a max-heap: a candidate enters when its key is below the
/// worst kept one (a tie loses, as the later position).
template <class KeyOf>
std::vector<Place> best_places(std::size_t m, std::size_t r, KeyOf key_of, bool use_pool) {
    const std::vector<std::size_t> bounds = pass_chunks(m, use_pool);
    std::vector<std::vector<Place>> kept(bounds.size() - 1);
    parallel::for_each_index(kept.size(), use_pool, [&](std::size_t c) {
        std::vector<Place>& heap = kept[c];
        const std::size_t end = bounds[c + 1];
        std::size_t i = bounds[c];
        for (; i < end && heap.size() < r; ++i) heap.push_back(place(key_of(i), i));
        std::make_heap(heap.begin(), heap.end());
        uint64_t keys[kKeyBlock];
        while (i < end) {
            const std::size_t len = std::min(kKeyBlock, end - i);
            uint64_t low = ~uint64_t{0};
            for (std::size_t j = 0; j < len; ++j) {
                keys[j] = key_of(i + j);
                low = std::min(low, keys[j]);
            }
            for (std::size_t j = 0; j < len && low < static_cast<uint64_t>(heap.front() >> 64); ++j) {
                if (keys[j] >= static_cast<uint64_t>(heap.front() >> 64)) continue;
                std::pop_heap(heap.begin(), heap.end());
                heap.back() = place(keys[j], i + j);
                std::push_heap(heap.begin(), heap.end());
            }
            i += len;
        }
    });
    std::vector<Place> all;
    for (const std::vector<Place>& k : kept) all.insert(all.end(), k.begin(), k.end());
    std::sort(all.begin(), all.end());
    all.resize(std::min(all.size(), r));
    return all;
}

/// Candidates placed together by ranks_of: their binary searches take the same steps, so
/// they run in lockstep and their chains of dependent loads overlap.
constexpr std::size_t kSearchLanes = 8;

/// For each of the places p[0 .. kSearchLanes), the number of places of `sorted` (s of
/// them, s > 0, ascending) below it, added to count[that number].
inline void place_among(const Place* sorted, std::size_t s, const Place* p, uint64_t* count) noexcept {
    const Place* base[kSearchLanes];
    for (std::size_t l = 0; l < kSearchLanes; ++l) base[l] = sorted;
    for (std::size_t len = s; len > 1; len -= len / 2) {
        const std::size_t half = len / 2;
        for (std::size_t l = 0; l < kSearchLanes; ++l) base[l] += (base[l][half] < p[l]) ? half : 0;
    }
    for (std::size_t l = 0; l < kSearchLanes; ++l)
        ++count[static_cast<std::size_t>(base[l] - sorted) + (*base[l] < p[l])];
}

/// The ranks in a channel of the candidates whose places are `sorted` (ascending, not
/// empty): for each, how many of the m candidates come before it. Each candidate is
/// placed among them by a binary search, the placements are counted per slot, and a
/// rank is the count up to its own slot, less itself.
template <class KeyOf>
std::vector<uint64_t> ranks_of(std::size_t m, std::span<const Place> sorted, KeyOf key_of,
                               bool use_pool) {
    const std::size_t s = sorted.size();
    const std::vector<std::size_t> bounds = pass_chunks(m, use_pool);
    std::vector<std::vector<uint64_t>> counts(bounds.size() - 1);
    parallel::for_each_index(counts.size(), use_pool, [&](std::size_t c) {
        std::vector<uint64_t>& count = counts[c];
        count.assign(s + 1, 0);
        uint64_t* const at = count.data();
        const std::size_t end = bounds[c + 1];
        std::size_t i = bounds[c];
        Place p[kSearchLanes];
        for (; i + kSearchLanes <= end; i += kSearchLanes) {
            for (std::size_t l = 0; l < kSearchLanes; ++l) p[l] = place(key_of(i + l), i + l);
            place_among(sorted.data(), s, p, at);
        }
        // The last few, the free lanes holding a place above every other: it lands in slot
        // s, which no rank reads.
        if (i == end) return;
        for (std::size_t l = 0; l < kSearchLanes; ++l)
            p[l] = i + l < end ? place(key_of(i + l), i + l) : ~Place{0};
        place_among(sorted.data(), s, p, at);
    });
    std::vector<uint64_t> ranks(s);
    uint64_t below = 0;
    for (std::size_t slot = 0; slot < s; ++slot) {
        for (const std::vector<uint64_t>& count : counts) below += count[slot];
        ranks[slot] = below - 1;
    }
    return ranks;
}

/// One channel of the shortcut: its ranking keys and whether its passes use the pool.
template <class Score>
struct Channel {
    std::span<const Score> scores;
    bool use_pool;
    uint64_t key(std::size_t i) const noexcept { return rank_key(scores[i]); }
};

/// Adds to fused[t] the fusion term of the rank in `channel` of candidate members[t], for
/// the sorted distinct positions `members`.
template <class Score>
void add_channel(const Channel<Score>& channel, std::span<const std::size_t> members,
                 uint64_t rrf_k, std::vector<double>& fused) {
    const std::size_t m = channel.scores.size();
    std::vector<Place> sorted(members.size());
    for (std::size_t t = 0; t < members.size(); ++t) sorted[t] = place(channel.key(members[t]), members[t]);
    std::sort(sorted.begin(), sorted.end());
    const std::vector<uint64_t> ranks =
        ranks_of(m, sorted, [&](std::size_t i) { return channel.key(i); }, channel.use_pool);
    for (std::size_t slot = 0; slot < sorted.size(); ++slot) {
        const std::size_t pos = position(sorted[slot]);
        const std::size_t t = static_cast<std::size_t>(
            std::lower_bound(members.begin(), members.end(), pos) - members.begin());
        fused[t] += fusion_term(rrf_k, ranks[slot]);
    }
}

/// R = channels (rrf_k + n), or nothing when it overflows or is not below a sixteenth of m.
std::optional<std::size_t> depth(std::size_t m, std::size_t channels, uint64_t n, uint64_t rrf_k) {
    uint64_t sum, r, all;
    if (__builtin_add_overflow(rrf_k, n, &sum) || __builtin_mul_overflow(sum, channels, &r) ||
        __builtin_mul_overflow(r, uint64_t{16} * channels, &all) || all > m)
        return std::nullopt;
    return static_cast<std::size_t>(r);
}

}  // namespace

std::optional<std::vector<Scored>> fused_top_without_hits(const ChannelScores& scores, uint64_t n,
                                                          uint64_t rrf_k) {
    const std::size_t m = scores.fuzzy.size();
    if (n == 0) return std::vector<Scored>{};
    const Channel<double> fuzzy{scores.fuzzy, scores.fuzzy_pool};
    const Channel<float> dense{scores.dense, scores.dense_pool};
    const bool has_dense = !scores.dense.empty();
    const std::size_t channels = has_dense ? 2 : 1;
    // Up to kStableSortMax candidates the rankings order NaN differently: never shortcut.
    if (m <= kStableSortMax || n >= m) return std::nullopt;
    const std::optional<std::size_t> r = depth(m, channels, n, rrf_k);
    if (!r) return std::nullopt;

    // T: the candidates among the best R of some channel, by position.
    std::vector<std::size_t> members;
    const auto add_best = [&](const auto& channel) {
        const auto key_of = [&](std::size_t i) { return channel.key(i); };
        for (const Place p : best_places(m, *r, key_of, channel.use_pool)) members.push_back(position(p));
    };
    add_best(fuzzy);
    if (has_dense) add_best(dense);
    std::sort(members.begin(), members.end());
    members.erase(std::unique(members.begin(), members.end()), members.end());

    // Their fused scores, channel by channel as the full fusion adds them.
    std::vector<double> fused(members.size(), 0.0);
    add_channel(fuzzy, members, rrf_k, fused);
    if (has_dense) add_channel(dense, members, rrf_k, fused);
    double bound = 0.0;
    for (std::size_t c = 0; c < channels; ++c) bound += fusion_term(rrf_k, *r);

    std::vector<Scored> out(members.size());
    for (std::size_t t = 0; t < members.size(); ++t) out[t] = {members[t], fused[t]};
    if (out.size() < n) return std::nullopt;
    std::sort(out.begin(), out.end(), [](const Scored& a, const Scored& b) { return ranked_before(a, b); });
    out.resize(static_cast<std::size_t>(n));
    if (!(out.back().score > bound)) return std::nullopt;
    return out;
}

}  // namespace tarnwick::search
