#include "search/ranking/ranked_sort.hpp"

#include "parallel.hpp"
#include "search/ranking/top_n.hpp"

#include <array>
#include <cstring>

namespace tarnwick::search {
namespace {

constexpr unsigned kDigitBits = 11;
constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;
constexpr unsigned kPasses = (64 + kDigitBits - 1) / kDigitBits;
/// Entries per chunk on the pool.
constexpr std::size_t kChunk = std::size_t{1} << 15;

/// A key whose ascending order is ranked_before's order of the scores: larger scores
/// first, both zeros alike, NaN after every number.
uint64_t order_key(double s) noexcept {
    if (s != s) return UINT64_MAX;
    if (s == 0.0) s = 0.0;
    uint64_t u;
    std::memcpy(&u, &s, sizeof u);
    // Ascending numeric order as unsigned integers, then reversed. No number reaches
    // UINT64_MAX: that would be the reversal of the all-ones pattern, a NaN.
    u = (u >> 63) ? ~u : (u | (uint64_t{1} << 63));
    return ~u;
}

struct Entry {
    uint64_t key;
    uint64_t position;
};

using Counts = std::array<std::size_t, kBuckets>;

}  // namespace

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
    std::vector<Entry> a(n), b(n);
    const std::size_t chunks = use_pool ? (n + kChunk - 1) / kChunk : 1;
    const std::size_t per_chunk = (n + chunks - 1) / chunks;
    const auto chunk_range = [&](std::size_t c) {
        const std::size_t lo = std::min(n, c * per_chunk);
        return std::pair{lo, std::min(n, lo + per_chunk)};
    };
    // One read of the scores gives the keys and how many entries have each digit in each
    // pass (a pass moves entries but does not change these numbers).
    std::vector<std::array<Counts, kPasses>> counts(chunks);
    parallel::for_each_index(chunks, use_pool, [&](std::size_t c) {
        auto& h = counts[c];
        for (Counts& p : h) p.fill(0);
        const auto [lo, hi] = chunk_range(c);
        for (std::size_t i = lo; i < hi; ++i) {
            const uint64_t key = order_key(scores[i]);
            a[i] = {key, i};
            for (unsigned pass = 0; pass < kPasses; ++pass)
                ++h[pass][(key >> (pass * kDigitBits)) & (kBuckets - 1)];
        }
    });
    std::vector<Counts> at(chunks);
    for (unsigned pass = 0; pass < kPasses; ++pass) {
        const unsigned shift = pass * kDigitBits;
        // A digit shared by every entry moves nothing.
        bool one_bucket = false;
        for (std::size_t d = 0; d < kBuckets && !one_bucket; ++d) {
            std::size_t in_bucket = 0;
            for (std::size_t c = 0; c < chunks; ++c) in_bucket += counts[c][pass][d];
            one_bucket = in_bucket == n;
        }
        if (one_bucket) continue;
        // The chunks' own counts of this pass's digits, in the current order of the entries:
        // with several chunks, those of the first read hold only until a pass moves entries.
        if (chunks == 1) {
            at[0] = counts[0][pass];
        } else {
            parallel::for_each_index(chunks, use_pool, [&](std::size_t c) {
                at[c].fill(0);
                const auto [lo, hi] = chunk_range(c);
                for (std::size_t i = lo; i < hi; ++i) ++at[c][(a[i].key >> shift) & (kBuckets - 1)];
            });
        }
        // Offsets: bucket by bucket, and within a bucket chunk by chunk, so that equal
        // digits keep their order.
        std::size_t total = 0;
        for (std::size_t d = 0; d < kBuckets; ++d)
            for (std::size_t c = 0; c < chunks; ++c) {
                const std::size_t k = at[c][d];
                at[c][d] = total;
                total += k;
            }
        parallel::for_each_index(chunks, use_pool, [&](std::size_t c) {
            Counts& next = at[c];
            const auto [lo, hi] = chunk_range(c);
            for (std::size_t i = lo; i < hi; ++i) b[next[(a[i].key >> shift) & (kBuckets - 1)]++] = a[i];
        });
        a.swap(b);
    }
    for (std::size_t i = 0; i < n; ++i) out[i] = a[i].position;
    return out;
}

}  // namespace tarnwick::search
