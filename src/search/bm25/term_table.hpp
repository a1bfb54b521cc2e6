// The distinct terms of a corpus, each stored once and numbered in order of first
// appearance (0, 1, 2, ...). Term texts live in chunks that never move, so the views handed
// out stay valid for the table's life, also after the table itself is moved.
#pragma once

#include "fx_hash.hpp"

#include <absl/container/flat_hash_map.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tarnwick::search {

class TermTable {
public:
    /// The id of `term`, adding it when new. Throws std::length_error when a new term would
    /// need the id 2^32 - 2 or more (2^32 - 1 is reserved for "no term").
    uint32_t intern(std::string_view term);
    /// The id of `term`, if it is in the table.
    std::optional<uint32_t> find(std::string_view term) const {
        const auto it = ids_.find(term);
        if (it == ids_.end()) return std::nullopt;
        return it->second;
    }
    std::size_t size() const noexcept { return terms_.size(); }
    std::string_view term(uint32_t id) const noexcept { return terms_[id]; }
    std::span<const std::string_view> terms() const noexcept { return terms_; }

    /// Approximate heap bytes held.
    std::size_t memory_bytes() const noexcept;

private:
    static constexpr std::size_t kChunkBytes = 64 * 1024;
    std::string_view store(std::string_view term);

    std::vector<std::unique_ptr<char[]>> chunks_;
    std::size_t chunk_used_ = kChunkBytes;
    std::vector<std::string_view> terms_;  // text by id
    absl::flat_hash_map<std::string_view, uint32_t, FxHash> ids_;
};

}  // namespace tarnwick::search
