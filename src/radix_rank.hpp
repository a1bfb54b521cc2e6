// Ranking by radix sort, for lists long enough that a comparison sort costs more: the
// entries of a list stably sorted by a key whose ascending order is the wanted order
// (rank_order.hpp's rank_key gives the ranking order of float and double scores). Used by
// the fusion channels of the search (double scores, 64-bit keys) and by the join's
// channels (float scores, 32-bit keys).
//
// A least-significant-digit radix sort is stable: each pass distributes by one digit of
// the key and keeps the order of entries with equal digits, so equal keys stay in list
// order. A pass whose digit is the same for every entry is skipped. 32-bit keys take four
// passes of 8 bits, 64-bit keys six of 11. On the pool every chunk of the list counts its
// digits and writes its entries to its own offsets, which is the same distribution.
//
// The ranker keeps its buffers, so a caller that ranks list after list allocates once.
#pragma once

#include "parallel.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace tarnwick {

template <class Key>
class RadixRanker {
    static_assert(std::is_same_v<Key, uint32_t> || std::is_same_v<Key, uint64_t>);

public:
    /// One entry: its key and its position in the list.
    struct Entry {
        Key key;
        Key pos;
    };

    /// The entries 0 .. n - 1 of a list, entry i with key key_of(i), in ascending order of
    /// key, equal keys in list order. On the pool when `use_pool`. The span is valid until
    /// the next call.
    template <class KeyOf>
    std::span<const Entry> sort(std::size_t n, KeyOf&& key_of, bool use_pool) {
        a_.resize(n);
        b_.resize(n);
        if (n == 0) return {};
        const std::size_t chunks = use_pool ? (n + kChunk - 1) / kChunk : 1;
        const std::size_t per_chunk = (n + chunks - 1) / chunks;
        const auto chunk_range = [&](std::size_t c) {
            const std::size_t lo = std::min(n, c * per_chunk);
            return std::pair{lo, std::min(n, lo + per_chunk)};
        };
        counts_.resize(chunks);
        // One read of the list gives the keys and how many entries have each digit in each
        // pass (a pass moves entries but does not change these numbers).
        parallel::for_each_index(chunks, use_pool, [&](std::size_t c) {
            auto& h = counts_[c];
            for (Counts& p : h) p.fill(0);
            const auto [lo, hi] = chunk_range(c);
            Entry* const a = a_.data();
            for (std::size_t i = lo; i < hi; ++i) {
                const Key key = key_of(i);
                a[i] = {key, static_cast<Key>(i)};
                for (unsigned pass = 0; pass < kPasses; ++pass) ++h[pass][digit(key, pass * kDigitBits)];
            }
        });
        if (chunks > 1) at_.resize(chunks);
        for (unsigned pass = 0; pass < kPasses; ++pass) {
            const unsigned shift = pass * kDigitBits;
            // A digit shared by every entry moves nothing: it is the first entry's digit.
            const std::size_t first = digit(a_[0].key, shift);
            std::size_t in_bucket = 0;
            for (std::size_t c = 0; c < chunks; ++c) in_bucket += counts_[c][pass][first];
            if (in_bucket == n) continue;
            // The chunks' own counts of this pass's digits, in the current order of the
            // entries: with several chunks, those of the first read hold only until a pass
            // moves entries. With one chunk they hold, and become the offsets.
            if (chunks > 1) {
                parallel::for_each_index(chunks, use_pool, [&](std::size_t c) {
                    at_[c].fill(0);
                    const auto [lo, hi] = chunk_range(c);
                    const Entry* const a = a_.data();
                    Counts& at = at_[c];
                    for (std::size_t i = lo; i < hi; ++i) ++at[digit(a[i].key, shift)];
                });
            }
            const auto offsets = [&](std::size_t c) -> Counts& {
                return chunks == 1 ? counts_[0][pass] : at_[c];
            };
            // Offsets: bucket by bucket, and within a bucket chunk by chunk, so that equal
            // digits keep their order.
            std::size_t total = 0;
            for (std::size_t d = 0; d < kBuckets; ++d)
                for (std::size_t c = 0; c < chunks; ++c) {
                    std::size_t& k = offsets(c)[d];
                    const std::size_t count = k;
                    k = total;
                    total += count;
                }
            parallel::for_each_index(chunks, use_pool, [&](std::size_t c) {
                Counts& next = offsets(c);
                const auto [lo, hi] = chunk_range(c);
                const Entry* const a = a_.data();
                Entry* const b = b_.data();
                scatter(a + lo, a + hi, b, next.data(), shift);
            });
            a_.swap(b_);
        }
        return a_;
    }

private:
    static constexpr unsigned kDigitBits = sizeof(Key) == 4 ? 8 : 11;
    static constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;
    static constexpr unsigned kPasses = (8 * sizeof(Key) + kDigitBits - 1) / kDigitBits;
    /// Entries per chunk on the pool.
    static constexpr std::size_t kChunk = std::size_t{1} << 15;
    using Counts = std::array<std::size_t, kBuckets>;

    static std::size_t digit(Key key, unsigned shift) noexcept {
        return static_cast<std::size_t>((key >> shift) & (kBuckets - 1));
    }
    /// Writes the entries [first, last) to out[next[digit]++] in order. Everything it reads
    /// is a parameter, so the loop keeps the shift and the pointers in registers.
    static void scatter(const Entry* first, const Entry* last, Entry* out, std::size_t* next,
                        unsigned shift) noexcept {
        for (; first != last; ++first) out[next[digit(first->key, shift)]++] = *first;
    }

    std::vector<Entry> a_, b_;
    std::vector<std::array<Counts, kPasses>> counts_;  // per chunk, per pass
    std::vector<Counts> at_;                           // per chunk, with several chunks
};

}  // namespace tarnwick
