// Per-document JSON metadata of a corpus, and filter masks over it.
//
// What the store guarantees:
// - Document i's metadata is root i of one JsonStore (json_value.hpp): every document's
//   values share one arena of values, one string buffer and one key table, so a corpus
//   costs a few bytes per value instead of a heap tree per document. Many texts are parsed
//   in chunks on the worker pool and joined in document order; the failure reported is
//   always the first in document order, whatever the chunks.
// - Any JSON kind is accepted as a document's metadata; only objects have attributes.
// - A mask is computed by one filter bound once to the store: on the worker pool from
//   parallel::kFilterMinDocs documents on, on the calling thread below that, with the same
//   result either way and nothing allocated per document.
// - Parsing and masks have cancellation points (cancel.hpp): a cancelled call throws
//   cancel::Cancelled, and parse_metadata's `out` is then to be dropped.
#pragma once

#include "search/metadata/filter.hpp"
#include "json/json_value.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::search {

/// The first document text that does not parse: its position and the parser's message.
struct MetadataError {
    std::size_t index;
    std::string message;
};

/// Parses one JSON text per document, in order, into `out` (which must be empty). On the
/// first failure returns it; `out` is then to be dropped.
std::optional<MetadataError> parse_metadata(std::span<const std::string_view> texts,
                                            JsonStore& out);

/// mask[i] = 1 when document i (root i of `metadata`) passes `filter`, else 0.
std::vector<uint8_t> evaluate_filter_mask(const FilterAst& filter, const JsonStore& metadata);

}  // namespace tarnwick::search
