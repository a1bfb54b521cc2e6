// The sort of a ranked list by its total order (ranked_before: a higher score first, NaN
// last, both zeros alike, then the lower document) by radix: the radix ranking of
// radix_rank.hpp by the score's rank key (rank_order.hpp), equal keys by document. A
// comparison sort of a thousand entries mispredicts about half its comparisons; the
// radix passes do not branch on the data. Digits of 8 bits: the lists sorted here hold at
// most 65,536 entries, whose passes are short beside 2,048 buckets.
#pragma once

#include "radix_rank.hpp"
#include "rank_order.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnwick::search {

/// Sorts `v` (whose entries have `doc` and `score`) by the ranking order: descending
/// score, NaN last, both zeros alike, then ascending document; documents are distinct.
template <class Entry>
void radix_sort_ranked(std::vector<Entry>& v) {
    if (v.size() < 2) return;
    thread_local RadixRanker<uint64_t, 8> ranker;
    thread_local std::vector<Entry> copy;
    const auto sorted = ranker.sort(
        v.size(), [&](std::size_t i) { return rank_key(v[i].score); },
        [&](std::size_t i) { return static_cast<uint64_t>(v[i].doc); }, false);
    copy.assign(v.begin(), v.end());
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = copy[static_cast<std::size_t>(sorted[i].pos)];
}

}  // namespace tarnwick::search
