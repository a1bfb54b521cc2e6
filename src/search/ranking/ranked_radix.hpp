// The sort of a ranked list by its total order (ranked_before: a higher score first, NaN
// last, both zeros alike, then the lower document) as a least-significant-digit radix sort
// over the document and then the score's rank key (rank_order.hpp). Each pass distributes
// by one digit and keeps the order of equal digits, so after the last pass the entries are
// in order of key, equal keys in order of document: the comparison sort's list. A
// comparison sort of a thousand entries mispredicts about half its comparisons; these
// passes do not branch on the data, and a digit that no two entries' keys (or documents)
// differ in is skipped.
#pragma once

#include "rank_order.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnwick::search {

/// Sorts `v` (whose entries have `doc` and `score`) by the ranking order: descending
/// score, NaN last, both zeros alike, then ascending document; documents are distinct.
template <class Entry>
void radix_sort_ranked(std::vector<Entry>& v) {
    constexpr unsigned kBits = 8;
    constexpr std::size_t kBuckets = std::size_t{1} << kBits;
    constexpr unsigned kDigits = (64 + kBits - 1) / kBits;  // of a key, and of a document
    struct Item {
        uint64_t key;
        uint64_t doc;
        double score;
    };
    const std::size_t n = v.size();
    if (n < 2) return;
    thread_local std::vector<Item> a, b;
    thread_local std::vector<uint32_t> counts;
    a.resize(n);
    b.resize(n);
    // Which bits vary: a digit in which every key (or document) agrees moves nothing.
    uint64_t doc_bits = 0, key_bits = 0;
    for (std::size_t i = 0; i < n; ++i) {
        a[i] = {rank_key(v[i].score), static_cast<uint64_t>(v[i].doc), v[i].score};
        doc_bits |= a[i].doc ^ a[0].doc;
        key_bits |= a[i].key ^ a[0].key;
    }
    // The passes, least significant first: the document's digits, then the key's.
    std::array<uint8_t, 2 * kDigits> pass_is_key{};
    std::array<uint8_t, 2 * kDigits> pass_shift{};
    unsigned passes = 0;
    for (unsigned k = 0; k < 2; ++k) {
        const uint64_t bits = k == 0 ? doc_bits : key_bits;
        for (unsigned d = 0; d < kDigits; ++d)
            if ((bits >> (d * kBits)) & (kBuckets - 1)) {
                pass_is_key[passes] = static_cast<uint8_t>(k);
                pass_shift[passes++] = static_cast<uint8_t>(d * kBits);
            }
    }
    if (passes == 0) return;
    const auto digit = [](const Item& e, unsigned is_key, unsigned shift) {
        return static_cast<std::size_t>(((is_key ? e.key : e.doc) >> shift) & (kBuckets - 1));
    };
    counts.assign(passes * kBuckets, 0);
    for (std::size_t i = 0; i < n; ++i)
        for (unsigned p = 0; p < passes; ++p) ++counts[p * kBuckets + digit(a[i], pass_is_key[p], pass_shift[p])];
    for (unsigned p = 0; p < passes; ++p) {
        uint32_t* const next = counts.data() + p * kBuckets;
        uint32_t total = 0;
        for (std::size_t d = 0; d < kBuckets; ++d) {
            const uint32_t c = next[d];
            next[d] = total;
            total += c;
        }
        const unsigned is_key = pass_is_key[p], shift = pass_shift[p];
        const Item* const from = a.data();
        Item* const to = b.data();
        for (std::size_t i = 0; i < n; ++i) to[next[digit(from[i], is_key, shift)]++] = from[i];
        a.swap(b);
    }
    for (std::size_t i = 0; i < n; ++i) {
        v[i].doc = static_cast<decltype(v[i].doc)>(a[i].doc);
        v[i].score = a[i].score;
    }
}

}  // namespace tarnwick::search
