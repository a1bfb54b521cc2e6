#include "distance/bktree_segments.hpp"

#include <absl/hash/hash.h>

#include <algorithm>
#include <bit>
#include <cstdlib>

namespace tarnwick::distance::bktree {

uint64_t byte_set(std::string_view s) noexcept {
    uint64_t set = 0;
    for (const char ch : s) set |= uint64_t{1} << (static_cast<uint8_t>(ch) & 63);
    return set;
}

SegmentIndex::Segment SegmentIndex::segment(uint64_t length, uint64_t i) const noexcept {
    // t + 1 segments: the first ones `base` bytes long, the last `longer` of them one more.
    const uint64_t parts = threshold_ + 1;
    const uint64_t base = length / parts;
    const uint64_t longer = length % parts;
    const uint64_t shorter = parts - longer;
    if (i < shorter) return {i * base, base};
    return {shorter * base + (i - shorter) * (base + 1), base + 1};
}

uint64_t SegmentIndex::key(uint64_t length, uint64_t i, std::string_view bytes) noexcept {
    return absl::HashOf(length, i, bytes);
}

void SegmentIndex::add(uint64_t node, std::string_view value) {
    const uint64_t length = value.size();
    if (length <= threshold_) return;
    const uint64_t bytes = byte_set(value);
    for (uint64_t i = 0; i <= threshold_; ++i) {
        const Segment seg = segment(length, i);
        buckets_[key(length, i, value.substr(seg.start, seg.length))].push_back(Entry{node, bytes});
    }
}

void SegmentIndex::clear() noexcept {
    buckets_.clear();
}

bool SegmentIndex::candidates(std::string_view query, std::vector<uint64_t>& out) const {
    const uint64_t t = threshold_;
    const auto m = static_cast<int64_t>(query.size());
    // Candidate lengths run from m - t; all of them must be indexed (longer than t).
    if (m <= static_cast<int64_t>(2 * t)) return false;
    out.clear();
    std::size_t gathered = 0;
    const uint64_t query_bytes = byte_set(query);
    const auto ti = static_cast<int64_t>(t);
    for (int64_t length = m - ti; length <= m + ti; ++length) {
        const int64_t diff = m - length;  // net length change from s to the query
        for (uint64_t i = 0; i <= t; ++i) {
            const Segment seg = segment(static_cast<uint64_t>(length), i);
            const auto start = static_cast<int64_t>(seg.start);
            const auto len = static_cast<int64_t>(seg.length);
            // The edits before the segment shift it by `shift` and those after it change
            // the length by diff - shift; together they need |shift| + |diff - shift|
            // edits at least.
            for (int64_t shift = -ti; shift <= ti; ++shift) {
                if (std::abs(shift) + std::abs(diff - shift) > ti) continue;
                const int64_t pos = start + shift;
                if (pos < 0 || pos + len > m) continue;
                const auto it = buckets_.find(
                    key(static_cast<uint64_t>(length), i,
                        query.substr(static_cast<std::size_t>(pos), static_cast<std::size_t>(len))));
                if (it == buckets_.end()) continue;
                gathered += it->second.size();
                if (gathered > kMaxCandidates) return false;
                for (const Entry& e : it->second) {
                    // A byte on one side only needs an edit per occurrence.
                    if (static_cast<uint64_t>(std::popcount(e.bytes & ~query_bytes)) > t ||
                        static_cast<uint64_t>(std::popcount(query_bytes & ~e.bytes)) > t)
                        continue;
                    out.push_back(e.node);
                }
            }
        }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return true;
}

}  // namespace tarnwick::distance::bktree
