// A pigeonhole index over the strings of a BK-tree for one small threshold t, used by
// dedupe to find the stored strings that can lie within t of a query without walking
// the tree.
//
// Each stored string of length L > t is cut into t + 1 segments of near-equal length.
// When d(q, s) <= t, at least one segment of s is untouched by the edits and occurs in q
// unchanged, shifted by the net length change of the edits before it. So probing the
// index with the matching substrings of q, for every length L within t of len(q), finds
// every such s among the candidates; each candidate is then checked with its distance.
// The index answers nothing for queries whose candidates could be shorter than t + 1
// bytes, or when the candidates grow too many: the tree search takes over then.
#pragma once

#include <absl/container/flat_hash_map.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tarnwick::distance::bktree {

/// Set of the bytes of a string, folded onto 64 bits (bit b % 64 for each byte b).
uint64_t byte_set(std::string_view s) noexcept;

/// Segment index of the strings of one tree for the threshold it was built for.
class SegmentIndex {
public:
    /// Most candidates a query gathers before the index gives up on it.
    static constexpr std::size_t kMaxCandidates = 2048;

    explicit SegmentIndex(uint64_t threshold) : threshold_(threshold) {}

    /// The threshold the index serves.
    uint64_t threshold() const noexcept { return threshold_; }
    /// Adds the string `value` stored at node position `node` (strings of t bytes or
    /// fewer are left out: no query that relies on the index can reach them).
    void add(uint64_t node, std::string_view value);
    /// Removes everything.
    void clear() noexcept;
    /// Fills `out` with the distinct node positions of every stored string that can lie
    /// within the threshold of `query` (and maybe others); false when the index cannot
    /// answer for this query, leaving `out` unspecified.
    bool candidates(std::string_view query, std::vector<uint64_t>& out) const;

private:
    /// Start and length of segment `i` of a string of `length` bytes.
    struct Segment {
        uint64_t start;
        uint64_t length;
    };
    Segment segment(uint64_t length, uint64_t i) const noexcept;
    /// Hash of segment `i` of a string of `length` bytes, holding `bytes`.
    static uint64_t key(uint64_t length, uint64_t i, std::string_view bytes) noexcept;

    /// A string holding a segment: its node and its byte_set, which rules most false
    /// candidates out without reading the node.
    struct Entry {
        uint64_t node;
        uint64_t bytes;
    };

    uint64_t threshold_;
    absl::flat_hash_map<uint64_t, std::vector<Entry>> buckets_;  // by segment key
};

}  // namespace tarnwick::distance::bktree
