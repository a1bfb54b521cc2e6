#include "search/ranking/ranked_sort.hpp"

#include "cpu_dispatch.hpp"
#include "radix_rank.hpp"
#include "rank_order.hpp"
#include "search/ranking/top_n.hpp"

#include <array>

namespace tarnwick::search {

// Entry i goes to the number of entries before it in the order: the earlier entries whose
// key is not greater, and the later ones whose key is smaller (an equal key ranks by
// document, and the documents increase with the index). The keys are compared as signed
// integers (their top bit flipped), which the vector instructions compare directly.
TARNWICK_AVX2_CLONES
void rank_by_count(Scored* v, std::size_t count) noexcept {
    std::array<int64_t, kCountRankMax> key;
    std::array<Scored, kCountRankMax> entry;
    constexpr uint64_t kTop = uint64_t{1} << 63;
    for (std::size_t i = 0; i < count; ++i) {
        key[i] = static_cast<int64_t>(rank_key(v[i].score) ^ kTop);
        entry[i] = v[i];
    }
    for (std::size_t i = 0; i < count; ++i) {
        const int64_t k = key[i];
        std::size_t place = 0;
        for (std::size_t j = 0; j < i; ++j) place += key[j] <= k;
        for (std::size_t j = i + 1; j < count; ++j) place += key[j] < k;
        v[place] = entry[i];
    }
}

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
