// Ordering search results by attributes of their documents' metadata.
//
// Under each sort key (a dotted path and a `reverse` flag), in key order:
// - a result whose value is present and not null goes before one whose value is null or
//   missing (also when it has no metadata at all), whatever `reverse` says; null and
//   missing are alike, so the next key orders two such results;
// - two numbers order by their double values, two strings by the bytes of their full
//   Unicode lower-case forms (a proper prefix first), two booleans false first; `reverse`
//   turns these three around; equal values leave the decision to the next key;
// - values that cannot be ordered against each other leave it to the next key too: arrays
//   and objects never order, and under a key whose present values among the results are of
//   more than one kind (numbers, strings, booleans, arrays or objects), present values do
//   not order each other at all. That last rule is what makes the comparison a strict weak
//   order over any mix of kinds: ordering numbers among themselves while a string between
//   them defers to the next key could form cycles.
// Results that no key separates keep their input order (a stable merge sort).
#pragma once

#include "json/json_value.hpp"

#include <cstddef>
#include <limits>
#include <span>
#include <string>
#include <vector>

namespace tarnwick::search {

/// One sort key: a dotted attribute path and whether its values go in descending order.
struct SortKey {
    std::string path;
    bool reverse = false;
};

/// Marks a result without metadata.
inline constexpr std::size_t kNoMetadata = std::numeric_limits<std::size_t>::max();

/// The order of the results: result r has the metadata root docs[r] of `metadata` (or
/// kNoMetadata); returns the permutation of 0 .. docs.size() - 1 that lists them sorted.
/// Has cancellation points (cancel.hpp): a cancelled call throws cancel::Cancelled.
std::vector<std::size_t> sort_by_attributes(const JsonStore& metadata,
                                            std::span<const std::size_t> docs,
                                            std::span<const SortKey> keys);

}  // namespace tarnwick::search
