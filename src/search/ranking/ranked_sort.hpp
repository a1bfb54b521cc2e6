// The ranking of a list of scores given in position order, as the fusion channels need it:
// the positions in the order that sort_ranked (top_n.hpp) puts the entries (position,
// score) in.
//
// Beyond 20 entries that order is ranked_before's: descending score, NaN last, equal scores
// (0.0 and -0.0 among them) in position order. It is a stable sort by one 64-bit key per
// score (rank_key of rank_order.hpp), which the radix ranking of radix_rank.hpp gives
// exactly, on the pool when asked.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tarnwick::search {

/// The positions of `scores` in ranked order (see above).
std::vector<uint64_t> rank_positions(std::span<const double> scores, bool use_pool);

}  // namespace tarnwick::search
