// The distinct terms of a corpus, each stored once and numbered in order of first
// appearance (0, 1, 2, ...). Term texts live in chunks that never move, so the views handed
// out stay valid for the table's life, also after the table itself is moved. The lookup by
// text is a set of ids hashed through their texts (text_ids.hpp), 5 bytes a slot.
#pragma once

#include "search/bm25/text_ids.hpp"

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
        return *it;
    }
    std::size_t size() const noexcept { return terms_->size(); }
    std::string_view term(uint32_t id) const noexcept { return (*terms_)[id]; }
    std::span<const std::string_view> terms() const noexcept { return *terms_; }

    /// Approximate heap bytes held.
    std::size_t memory_bytes() const noexcept;

private:
    static constexpr std::size_t kChunkBytes = 64 * 1024;
    std::string_view store(std::string_view term);

    std::vector<std::unique_ptr<char[]>> chunks_;
    std::size_t chunk_used_ = kChunkBytes;
    // Text by id; on the heap, so that ids_ reads it at one address while the table moves.
    std::unique_ptr<std::vector<std::string_view>> terms_ = std::make_unique<std::vector<std::string_view>>();
    TextIdSet ids_ = make_text_id_set(terms_.get());
};

}  // namespace tarnwick::search
