// Ranking by radix sort, for lists long enough that a comparison sort costs more: the
// entries of a list stably sorted by a key whose ascending order is the wanted order
// (rank_order.hpp's rank_key gives the ranking order of float and double scores), and
// optionally, among equal keys, by a second key (a document number) before list order.
// Used by the fusion channels of the search (double scores, 64-bit keys), by the sort of
// the search's ranked lists (ranking/ranked_radix.hpp: the score's key, then the document)
// and by the join's channels (float scores, 32-bit keys).
//
// A least-significant-digit radix sort is stable: each pass distributes by one digit of
// the key and keeps the order of entries with equal digits, so equal keys stay in list
// order. Sorting by the second key first and then by the key gives the order by key, equal
// keys by second key. A digit in which no two entries differ moves nothing, and its pass
// is skipped. Digits are 8 bits for 32-bit keys and 11 for 64-bit keys unless the user
// chooses (short lists, whose passes are short, pay more for 2,048 buckets than for two
// more passes). On the pool every chunk of the list counts its digits and writes its
// entries to its own offsets, which is the same distribution.
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

template <class Key, unsigned DigitBits = sizeof(Key) == 4 ? 8 : 11>
class RadixRanker {
    static_assert(std::is_same_v<Key, uint32_t> || std::is_same_v<Key, uint64_t>);
    static_assert(DigitBits >= 4 && DigitBits <= 16);

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
        split(n, use_pool);
        distribute([&](std::size_t i, Entry*) { return Entry{key_of(i), static_cast<Key>(i)}; });
        return a_;
    }

    /// As sort, but equal keys in ascending order of tie_of(i), and equal pairs in list
    /// order.
    template <class KeyOf, class TieOf>
    std::span<const Entry> sort(std::size_t n, KeyOf&& key_of, TieOf&& tie_of, bool use_pool) {
        a_.resize(n);
        b_.resize(n);
        if (n == 0) return {};
        split(n, use_pool);
        distribute([&](std::size_t i, Entry*) { return Entry{tie_of(i), static_cast<Key>(i)}; });
        // The entries are now in order of the second key: each takes its key in place.
        distribute([&](std::size_t, Entry* e) { return Entry{key_of(static_cast<std::size_t>(e->pos)), e->pos}; });
        return a_;
    }

private:
    static constexpr unsigned kDigitBits = DigitBits;
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

    /// The chunks of a list of n entries (one unless on the pool).
    void split(std::size_t n, bool use_pool) {
        n_ = n;
        use_pool_ = use_pool;
        chunks_ = use_pool ? (n + kChunk - 1) / kChunk : 1;
        per_chunk_ = (n + chunks_ - 1) / chunks_;
        varying_.resize(chunks_);
        at_.resize(chunks_);
    }
    std::pair<std::size_t, std::size_t> chunk_range(std::size_t c) const noexcept {
        const std::size_t lo = std::min(n_, c * per_chunk_);
        return {lo, std::min(n_, lo + per_chunk_)};
    }

    /// Sets every entry i of a_ to make(i, &a_[i]), then sorts a_ stably by key.
    template <class Make>
    void distribute(Make&& make) {
        // One read sets the keys and finds the bits in which they differ (from the first
        // key of their chunk, and the chunks' first keys from one another).
        parallel::for_each_index(chunks_, use_pool_, [&](std::size_t c) {
            const auto [lo, hi] = chunk_range(c);
            Entry* const a = a_.data();
            for (std::size_t i = lo; i < hi; ++i) a[i] = make(i, a + i);
            Key bits = 0;
            for (std::size_t i = lo; i < hi; ++i) bits |= a[i].key ^ a[lo].key;
            varying_[c] = bits;
        });
        Key varying = 0;
        for (std::size_t c = 0; c < chunks_; ++c) {
            const auto [lo, hi] = chunk_range(c);
            if (lo < hi) varying |= varying_[c] | (a_[lo].key ^ a_[0].key);
        }
        unsigned shifts[kPasses];
        unsigned passes = 0;
        for (unsigned p = 0; p < kPasses; ++p)
            if (digit(varying, p * kDigitBits) != 0) shifts[passes++] = p * kDigitBits;
        if (passes == 0) return;
        if (chunks_ == 1) {
            // One read counts every pass's digits: a pass moves entries but does not
            // change how many have each digit, so the counts become the offsets.
            counts_.resize(passes);
            for (unsigned p = 0; p < passes; ++p) counts_[p].fill(0);
            const Entry* const a = a_.data();
            for (std::size_t i = 0; i < n_; ++i)
                for (unsigned p = 0; p < passes; ++p) ++counts_[p][digit(a[i].key, shifts[p])];
            for (unsigned p = 0; p < passes; ++p) {
                exclusive_sum(counts_[p]);
                scatter(a_.data(), a_.data() + n_, b_.data(), counts_[p].data(), shifts[p]);
                a_.swap(b_);
            }
            return;
        }
        for (unsigned p = 0; p < passes; ++p) {
            const unsigned shift = shifts[p];
            // Each chunk counts this pass's digits in the current order of the entries.
            parallel::for_each_index(chunks_, use_pool_, [&](std::size_t c) {
                Counts& at = at_[c];
                at.fill(0);
                const auto [lo, hi] = chunk_range(c);
                const Entry* const a = a_.data();
                for (std::size_t i = lo; i < hi; ++i) ++at[digit(a[i].key, shift)];
            });
            // Offsets: bucket by bucket, and within a bucket chunk by chunk, so that equal
            // digits keep their order.
            std::size_t total = 0;
            for (std::size_t d = 0; d < kBuckets; ++d)
                for (std::size_t c = 0; c < chunks_; ++c) {
                    std::size_t& k = at_[c][d];
                    const std::size_t count = k;
                    k = total;
                    total += count;
                }
            parallel::for_each_index(chunks_, use_pool_, [&](std::size_t c) {
                const auto [lo, hi] = chunk_range(c);
                scatter(a_.data() + lo, a_.data() + hi, b_.data(), at_[c].data(), shift);
            });
            a_.swap(b_);
        }
    }
    static void exclusive_sum(Counts& counts) noexcept {
        std::size_t total = 0;
        for (std::size_t& k : counts) {
            const std::size_t count = k;
            k = total;
            total += count;
        }
    }

    std::vector<Entry> a_, b_;
    std::size_t n_ = 0, chunks_ = 1, per_chunk_ = 0;
    bool use_pool_ = false;
    std::vector<Counts> counts_;  // per pass, with one chunk
    std::vector<Counts> at_;      // per chunk, with several chunks
    std::vector<Key> varying_;    // per chunk, the bits in which its keys differ
};

}  // namespace tarnwick
