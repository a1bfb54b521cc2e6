// A Burkhard-Keller tree of distinct strings under the unit-cost Levenshtein distance of
// their UTF-8 bytes, free of Python.
//
// Nodes live in one list and link to each other by position, so growing the list never
// invalidates a link. Each node keeps its children sorted by key (the distance to the
// parent) in one small array, so a range of keys is one contiguous scan. Each link also
// summarises the subtree below it (lengths and bytes of its values), which bounds the
// distance of the query to every value there: a search skips such a subtree without
// reading it when the bound already exceeds the threshold.
//
// For the small thresholds that near-duplicate removal mostly uses, dedupe keeps a
// segment index (bktree_segments.hpp) beside the tree, which finds the few candidates of
// a query directly; the tree search stays the answer whenever the index has none.
#pragma once

#include "distance/bktree_segments.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::distance::bktree {

/// A link from a node to one of its children, with a summary of the child's whole
/// subtree (the child included) that lets a search rule it out without reading it.
struct BKTreeChild {
    uint64_t key;         // distance between the two values
    uint64_t node;        // position of the child in the node list
    uint64_t max_key;     // largest key among the child's own children (0 without any)
    uint64_t min_length;  // shortest value in the subtree
    uint64_t max_length;  // longest value in the subtree
    uint64_t any_bytes;   // union of the byte_sets of the subtree's values
    uint64_t all_bytes;   // intersection of those byte_sets
};

/// One stored string and its children, in one 64-byte cache line: a search reads a
/// node's value, length and child list with a single memory access, and the keys of all
/// its children with one more. Values of up to kInlineBytes bytes live in the node
/// itself, longer ones in the tree's byte pool.
struct alignas(64) BKTreeNode {
    /// Longest value stored inside the node.
    static constexpr std::size_t kInlineBytes = 32;

    uint64_t length = 0;               // length of the value in bytes
    char data[kInlineBytes] = {};      // the value, or its offset in the pool when longer
    std::vector<BKTreeChild> children;  // by increasing key; at most one child per key
};
static_assert(sizeof(BKTreeNode) == 64);

/// Distance of one fixed query to any number of stored values: the query's bit masks are
/// built once, so that each comparison is a single pass of the bit-parallel kernel.
class QueryDistance {
public:
    QueryDistance() = default;
    QueryDistance(const QueryDistance&) = delete;
    QueryDistance& operator=(const QueryDistance&) = delete;

    /// Makes `query` the query; its bytes must outlive the following calls.
    void set(std::string_view query) noexcept;
    std::string_view query() const noexcept { return query_; }
    /// byte_set of the query.
    uint64_t bytes() const noexcept { return bytes_; }
    /// Unit-cost Levenshtein distance between the query and `value`; a cancellation
    /// point inside long values (a cancelled call throws cancel::Cancelled).
    uint64_t operator()(std::string_view value) const;
    /// A lower bound of the distance to every value of the subtree below `link`, much
    /// cheaper to compute than any one distance.
    uint64_t subtree_lower_bound(const BKTreeChild& link) const noexcept {
        const uint64_t m = query_.size();
        const uint64_t gap = m < link.min_length   ? link.min_length - m
                             : m > link.max_length ? m - link.max_length
                                                   : 0;
        // A byte that occurs on one side only needs an edit per occurrence: query bytes
        // that no value of the subtree holds, and bytes that every value holds but the
        // query lacks. Bytes folded onto one bit only make these counts smaller.
        const auto missing = static_cast<uint64_t>(std::popcount(bytes_ & ~link.any_bytes));
        const auto surplus = static_cast<uint64_t>(std::popcount(link.all_bytes & ~bytes_));
        return std::max({gap, missing, surplus});
    }

private:
    std::string_view query_;
    uint64_t bytes_ = 0;        // byte_set of the query
    uint64_t masks_[256] = {};  // bit i of masks_[c]: query[i] == c (queries up to 64 bytes)
};

/// The tree: distinct strings, with near-duplicate search.
class BKTree {
public:
    /// A node waiting to be visited by a search.
    struct Pending {
        uint64_t node;   // its position
        uint64_t reach;  // largest distance of it that still matters to the search
    };

    /// Adds `q.query()` unless an equal string is stored; true when it was added.
    bool insert(const QueryDistance& q);
    /// Adds `s` unless an equal string is stored; true when it was added.
    bool insert(std::string_view s);
    /// Whether a stored string lies within `threshold` of `q.query()`. `queue` is scratch
    /// space reused between calls.
    bool has_within(const QueryDistance& q, uint64_t threshold, std::vector<Pending>& queue) const;
    /// The indices of `items` to keep: an item is kept and added at once when no stored
    /// string (earlier kept items included) lies within `threshold` of it. All or nothing:
    /// when it throws (cancel::Cancelled, std::bad_alloc) the tree holds what it held
    /// before.
    std::vector<std::size_t> dedupe(std::span<const std::string_view> items, uint64_t threshold);
    /// Largest threshold for which dedupe builds and keeps a segment index.
    static constexpr uint64_t kMaxIndexedThreshold = 3;
    /// Every stored string, each node after its parent (depth-first pre-order).
    std::vector<std::string_view> values() const;
    /// Removes every string.
    void clear() noexcept;
    std::size_t size() const noexcept { return nodes_.size(); }

private:
    std::string_view value(const BKTreeNode& node) const noexcept;
    /// Appends a node for `s` (no links) and adds it to the segment indexes.
    uint64_t append(std::string_view s);
    /// dedupe without the journal.
    std::vector<std::size_t> dedupe_items(std::span<const std::string_view> items, uint64_t threshold);
    /// Appends a node for `s` only.
    uint64_t append_node(std::string_view s);
    /// The segment index for `threshold`, built on first use; null when there is none.
    const SegmentIndex* index_for(uint64_t threshold);

    /// A change that insert is about to make to a link: the link of key `key` among the
    /// children of node `parent`, as it was (nothing when the link is being added).
    struct Undo {
        uint64_t parent;
        uint64_t key;
        std::optional<BKTreeChild> before;
    };
    /// Undoes the changes in `journal` (newest first) and drops the nodes from `nodes` on
    /// and the pool bytes from `pool` on: the tree as it was when it had that many.
    void roll_back(std::size_t nodes, std::size_t pool, const std::vector<Undo>& journal) noexcept;

    std::string pool_;
    std::vector<BKTreeNode> nodes_;
    std::vector<SegmentIndex> indexes_;  // each holds every stored string
    std::vector<Undo>* journal_ = nullptr;  // where insert records its changes, when set
};

}  // namespace tarnwick::distance::bktree
