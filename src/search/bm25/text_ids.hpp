// A set of ids that stand for texts, looked up by text: id i means texts[i] of a vector of
// views held elsewhere. Each slot of the table holds only the 4-byte id (plus absl's
// control byte), where a map from view to id would hold 24 bytes; the price is that a
// probe reads the text of the id it meets, which a lookup by text reads anyway to
// confirm a match.
//
// The hash and the equality read the vector through a pointer fixed when the set is made:
// the vector object must stay where it is for the set's life (its owner keeps it behind a
// unique_ptr), and it must hold an id's text before the id is inserted (a rehash hashes
// every id again).
#pragma once

#include "fx_hash.hpp"

#include <absl/container/flat_hash_set.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace tarnwick::search {

/// Hash of an id by its text, and of a text, alike.
struct TextIdHash {
    using is_transparent = void;
    const std::vector<std::string_view>* texts = nullptr;

    std::size_t operator()(uint32_t id) const noexcept { return FxHash{}((*texts)[id]); }
    std::size_t operator()(std::string_view s) const noexcept { return FxHash{}(s); }
};

/// a == b, without a library call for texts of up to 16 bytes (most terms): two loads of
/// each text, overlapping when it is shorter than twice their width.
inline bool same_text(std::string_view a, std::string_view b) noexcept {
    const std::size_t n = a.size();
    if (n != b.size()) return false;
    const char *p = a.data(), *q = b.data();
    const auto eq = [](const char* x, const char* y, auto word) {
        decltype(word) u, v;
        std::memcpy(&u, x, sizeof u);
        std::memcpy(&v, y, sizeof v);
        return u == v;
    };
    if (n >= 8) {
        if (n > 16) return std::memcmp(p, q, n) == 0;
        return eq(p, q, uint64_t{}) && eq(p + n - 8, q + n - 8, uint64_t{});
    }
    if (n >= 4) return eq(p, q, uint32_t{}) && eq(p + n - 4, q + n - 4, uint32_t{});
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] != q[i]) return false;
    return true;
}

/// Equality of ids and texts by their texts.
struct TextIdEq {
    using is_transparent = void;
    const std::vector<std::string_view>* texts = nullptr;

    std::string_view text(uint32_t id) const noexcept { return (*texts)[id]; }
    static std::string_view text(std::string_view s) noexcept { return s; }
    bool operator()(uint32_t a, uint32_t b) const noexcept { return a == b || same_text(text(a), text(b)); }
    bool operator()(uint32_t a, std::string_view b) const noexcept { return same_text(text(a), b); }
    bool operator()(std::string_view a, uint32_t b) const noexcept { return same_text(a, text(b)); }
};

using TextIdSet = absl::flat_hash_set<uint32_t, TextIdHash, TextIdEq>;

/// An empty set over the texts of `texts`.
inline TextIdSet make_text_id_set(const std::vector<std::string_view>* texts) {
    return TextIdSet(0, TextIdHash{texts}, TextIdEq{texts});
}

/// Heap bytes of the set's table.
inline std::size_t text_id_set_bytes(const TextIdSet& s) noexcept {
    return s.capacity() * (sizeof(uint32_t) + 1);
}

}  // namespace tarnwick::search
