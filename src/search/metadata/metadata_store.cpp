#include "search/metadata/metadata_store.hpp"

#include "parallel.hpp"

namespace tarnwick::search {
namespace {

/// Documents from which metadata texts are parsed on the pool.
constexpr std::size_t kParallelParseMinDocs = 2048;

}  // namespace

std::optional<MetadataError> parse_metadata(std::span<const std::string_view> texts,
                                            JsonStore& out) {
    const std::size_t n = texts.size();
    if (n < kParallelParseMinDocs || parallel::num_threads() <= 1) {
        if (std::optional<JsonStore::Failure> f = out.parse_each(texts))
            return MetadataError{f->index, std::move(f->message)};
        return std::nullopt;
    }
    // Chunks of documents parse on the pool into stores of their own, then join in order;
    // the failure reported is the first in document order.
    const std::vector<std::size_t> bounds = parallel::chunk_bounds(n, kParallelParseMinDocs / 4);
    const std::size_t chunks = bounds.size() - 1;
    std::vector<JsonStore> parts(chunks);
    std::vector<std::optional<JsonStore::Failure>> failures(chunks);
    parallel::for_each_index(chunks, true, [&](std::size_t c) {
        failures[c] = parts[c].parse_each(texts.subspan(bounds[c], bounds[c + 1] - bounds[c]));
    });
    for (std::size_t c = 0; c < chunks; ++c)
        if (failures[c]) return MetadataError{bounds[c] + failures[c]->index, std::move(failures[c]->message)};
    out.append(parts);
    return std::nullopt;
}

std::vector<uint8_t> evaluate_filter_mask(const FilterAst& filter, const JsonStore& metadata) {
    const std::size_t n = metadata.size();
    std::vector<uint8_t> mask(n);
    const FilterProgram program(filter, metadata);
    parallel::for_each_range(n, n >= parallel::kFilterMinDocs, 1024,
                             [&](std::size_t begin, std::size_t end) {
                                 cancel::cancellation_point();
                                 cancel::Budget budget;
                                 for (std::size_t i = begin; i < end; ++i)
                                     mask[i] = program(metadata.root(i), budget) ? 1 : 0;
                             });
    return mask;
}

}  // namespace tarnwick::search
