// The writer's form of "meta.json" (mmap_meta.hpp): compact JSON handed to the file in
// pieces, so that neither the text held nor the time between cancellation points grows with
// the corpus.
#include "search/index_dir/mmap_meta.hpp"

#include "cancel.hpp"
#include "json/json_write.hpp"

#include <charconv>

namespace tarnwick::search {
namespace {

/// Appends the decimal digits of `v`.
void append_u64(std::string& out, uint64_t v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

/// Output is collected in a string and handed to the file in pieces of about this size.
constexpr std::size_t kJsonPiece = 1 << 20;

}  // namespace

void write_mmap_meta(DirectoryWrite::File& out, const MetaContent& meta) {
    const std::size_t n = meta.text_offsets.size() - 1;
    const std::size_t v = meta.terms.size();
    std::string json;
    json.reserve(kJsonPiece + 4096);
    cancel::Budget budget;
    const auto spill = [&](std::size_t units) {
        if (json.size() >= kJsonPiece) {
            out.write(json);
            json.clear();
        }
        budget.spend(units);
    };
    json.append("{\"corpus\":[");
    for (std::size_t d = 0; d < n; ++d) {
        if (d) json.push_back(',');
        const uint64_t from = meta.text_offsets[d], to = meta.text_offsets[d + 1];
        append_json_string(json, meta.texts.substr(from, to - from));
        spill(to - from + 1);
    }
    json.append("],\"idf\":{");
    for (std::size_t t = 0; t < v; ++t) {
        if (t) json.push_back(',');
        append_json_string(json, meta.terms.term(static_cast<uint32_t>(t)));
        json.push_back(':');
        append_json_number(json, meta.idf[t]);
        spill(16);
    }
    json.append("},\"dictionary\":{");
    for (std::size_t t = 0; t < v; ++t) {
        if (t) json.push_back(',');
        append_json_string(json, meta.terms.term(static_cast<uint32_t>(t)));
        const DictEntry& e = meta.dictionary[t];
        json.append(":[");
        append_u64(json, e.postings_offset);
        json.push_back(',');
        append_u64(json, e.postings_count);
        json.push_back(',');
        append_u64(json, e.positions_offset);
        json.push_back(',');
        append_u64(json, e.positions_count);
        json.push_back(']');
        spill(16);
    }
    json.append("},\"num_docs\":");
    append_u64(json, n);
    json.append(",\"normalize\":");
    json.append(meta.normalize ? "true" : "false");
    json.push_back('}');
    out.write(json);
}

}  // namespace tarnwick::search
