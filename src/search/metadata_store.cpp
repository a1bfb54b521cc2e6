#include "search/metadata_store.hpp"

#include "parallel.hpp"

namespace tarnwick::search {

std::optional<MetadataError> parse_metadata(std::span<const std::string_view> texts,
                                            JsonStore& out) {
    std::size_t bytes = 0;
    for (const std::string_view t : texts) bytes += t.size();
    // Typical metadata has a value per 8 to 16 bytes of text; strings take a fraction.
    out.reserve(bytes / 8, bytes / 4);
    for (std::size_t i = 0; i < texts.size(); ++i)
        if (std::optional<std::string> error = out.parse(texts[i]))
            return MetadataError{i, std::move(*error)};
    return std::nullopt;
}

std::vector<uint8_t> evaluate_filter_mask(const FilterAst& filter, const JsonStore& metadata) {
    const std::size_t n = metadata.size();
    std::vector<uint8_t> mask(n);
    const FilterProgram program(filter, metadata);
    parallel::for_each_range(n, n >= parallel::kFilterMinDocs, 1024,
                             [&](std::size_t begin, std::size_t end) {
                                 for (std::size_t i = begin; i < end; ++i)
                                     mask[i] = program(metadata.root(i)) ? 1 : 0;
                             });
    return mask;
}

}  // namespace tarnwick::search
