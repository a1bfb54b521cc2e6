// A Burkhard-Keller tree of distinct strings under the unit-cost Levenshtein distance of
// their UTF-8 bytes, free of Python.
//
// Nodes live in one list and link to each other by position, so growing the list never
// invalidates a link. Each node keeps its children in a singly linked sibling list sorted
// by key (the distance to the parent), which makes a range of keys one short walk. The
// strings themselves are packed one after another in a single byte pool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::distance::bktree {

/// "No node" in the links of a node.
inline constexpr uint64_t kNoNode = ~uint64_t{0};

/// One stored string and its links.
struct BKTreeNode {
    uint64_t offset = 0;            // start of the value in the byte pool
    uint64_t length = 0;            // length of the value in bytes
    uint64_t key = 0;               // distance to the parent (0 for the root)
    uint64_t first_child = kNoNode;   // child with the smallest key
    uint64_t next_sibling = kNoNode;  // next child of the parent, by increasing key
    uint64_t max_key = 0;           // largest key among the children (0 without children)
};

/// Distance of one fixed query to any number of stored values: the query's bit masks are
/// built once, so that each comparison is a single pass of the bit-parallel kernel.
class QueryDistance {
public:
    QueryDistance() = default;
    QueryDistance(const QueryDistance&) = delete;
    QueryDistance& operator=(const QueryDistance&) = delete;

    /// Makes `query` the query; its bytes must outlive the following calls.
    void set(std::string_view query) noexcept;
    /// The query.
    std::string_view query() const noexcept { return query_; }
    /// Unit-cost Levenshtein distance between the query and `value`.
    uint64_t operator()(std::string_view value) const noexcept;

private:
    std::string_view query_;
    uint64_t masks_[256] = {};  // bit i of masks_[c]: query[i] == c (queries up to 64 bytes)
};

/// The tree: distinct strings, with near-duplicate search.
class BKTree {
public:
    /// Adds `q.query()` unless an equal string is stored; true when it was added.
    bool insert(const QueryDistance& q);
    /// Adds `s` unless an equal string is stored; true when it was added.
    bool insert(std::string_view s);
    /// Whether a stored string lies within `threshold` of `q.query()`. `stack` is scratch
    /// space reused between calls.
    bool has_within(const QueryDistance& q, uint64_t threshold, std::vector<uint64_t>& stack) const;
    /// The indices of `items` to keep: an item is kept and added at once when no stored
    /// string (earlier kept items included) lies within `threshold` of it.
    std::vector<std::size_t> dedupe(std::span<const std::string_view> items, uint64_t threshold);
    /// Every stored string, each node after its parent (depth-first pre-order).
    std::vector<std::string_view> values() const;
    /// Removes every string.
    void clear() noexcept;
    /// Number of stored strings.
    std::size_t size() const noexcept { return nodes_.size(); }

private:
    std::string_view value(const BKTreeNode& node) const noexcept {
        return {pool_.data() + node.offset, static_cast<std::size_t>(node.length)};
    }
    uint64_t append(std::string_view s, uint64_t key);

    std::string pool_;
    std::vector<BKTreeNode> nodes_;
};

}  // namespace tarnwick::distance::bktree
