#include "search/ranking/ranked_sort.hpp"

#include "radix_rank.hpp"
#include "rank_order.hpp"
#include "search/ranking/top_n.hpp"

namespace tarnwick::search {

std::vector<uint64_t> rank_positions(std::span<const double> scores, bool use_pool) {
    const std::size_t n = scores.size();
    std::vector<uint64_t> out(n);
    if (n <= kStableSortMax) {
        std::vector<Scored> v(n);
        for (std::size_t i = 0; i < n; ++i) v[i] = {i, scores[i]};
        sort_ranked(v);
        for (std::size_t i = 0; i < n; ++i) out[i] = v[i].doc;
        return out;
    }
    RadixRanker<uint64_t> ranker;
    const auto sorted = ranker.sort(n, [&](std::size_t i) { return rank_key(scores[i]); }, use_pool);
    for (std::size_t i = 0; i < n; ++i) out[i] = sorted[i].pos;
    return out;
}

}  // namespace tarnwick::search
