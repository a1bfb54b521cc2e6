// The first n of a fused ranking without BM25 hits, found without ranking every candidate.
//
// Without hits every candidate's fused score is 0.0 + t(r_1) + ... + t(r_C), added in
// channel order, with r_c its rank in channel c (ranked_sort.hpp's order: descending
// score, equal scores in candidate order) and t the fusion term (fusion_term.hpp), which
// never grows with the rank. Take R ranks: a candidate below the best R of every channel
// has every r_c >= R, so its fused score is at most B = 0.0 + t(R) + ... + t(R) (rounding
// keeps the order of sums). The candidates among the best R of some channel, T, get their
// exact ranks in every channel: a rank is the number of candidates ordered before it, which
// one read of the channel counts for all of T at once (each candidate is placed among T's
// sorted keys). When the n-th best fused score within T exceeds B, no other candidate can
// reach the first n, and the first n of T, ordered as take_ranked orders, are the answer:
// the same candidates, scores and order as ranking every channel in full.
//
// R is C (rrf_k + n): the n best of one channel alone score more than t(n - 1), which is
// above C t(R). The shortcut declines (and the caller ranks in full) when that R is not
// small beside the number of candidates, or when the check on B fails.
#pragma once

#include "search/ranking/top_n.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tarnwick::search {

/// The scores of the channels of a fusion, in candidate order: the fuzzy channel's, and
/// the dense channel's when `dense` is not empty (then it has as many as `fuzzy`).
struct ChannelScores {
    std::span<const double> fuzzy;
    std::span<const float> dense;
    bool fuzzy_pool;  // whether each channel's passes may run on the worker pool
    bool dense_pool;
};

/// The first n (candidate position, fused score) pairs of the fusion of `scores` without
/// any BM25 hit, best first, as described above; nothing when the shortcut declines.
std::optional<std::vector<Scored>> fused_top_without_hits(const ChannelScores& scores, uint64_t n,
                                                          uint64_t rrf_k);

}  // namespace tarnwick::search
