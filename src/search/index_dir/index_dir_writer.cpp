#include "search/index_dir/index_dir_writer.hpp"

#include "round_f32.hpp"
#include "json/json_write.hpp"

#include <charconv>
#include <stdexcept>

namespace tarnwick::search {
namespace {

/// Appends the decimal digits of `v`.
void append_u64(std::string& out, uint64_t v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

/// Output of meta.json is collected in a string and handed to the file in pieces of about
/// this size, so that neither grows with the corpus.
constexpr std::size_t kJsonPiece = 1 << 20;

}  // namespace

void IndexDirWriter::add(std::string_view text) {
    if (num_docs() >= UINT32_MAX) throw std::length_error("the index directory holds at most 4294967295 documents");
    if (!corpus_.add(text, normalize_, UINT32_MAX))
        throw std::length_error("a document of the index directory holds at most 4294967295 terms");
    text_.insert(text_.end(), text.begin(), text.end());
    doc_offsets_.push_back(text_.size());
}

void IndexDirWriter::write(DirectoryWrite& out, Variant variant, const Bm25Params& params) const {
    const std::size_t n = num_docs();
    const std::size_t v = corpus_.terms().size();
    const std::span<const uint32_t> tokens = corpus_.tokens();
    const CorpusStatistics stats = corpus_statistics(corpus_, variant, variant, params.k1, params.b);
    const InvertedLists& lists = stats.lists;

    // Term t's positions start at positions_offset[t]: its occurrences over the corpus,
    // in document order and, within a document, ascending, are exactly its records' runs.
    std::vector<uint64_t> positions_offset(v + 1, 0);
    if (include_positions_) {
        for (const uint32_t t : tokens) ++positions_offset[t + 1];
        for (std::size_t t = 0; t < v; ++t) positions_offset[t + 1] += positions_offset[t];
    }

    // The files are opened in the order in which they replace the old ones.
    DirectoryWrite::File& meta_file = out.open(kMetaFile);
    DirectoryWrite::File& post_file = out.open(kPostingsFile);
    DirectoryWrite::File& pos_file = out.open(kPositionsFile);

    // "postings.bin": every term's records, terms in id order.
    for (std::size_t t = 0; t < v; ++t) {
        const double k1_t = variant == Variant::T ? stats.term_k1[t] : 0.0;
        for (const TermPosting& p : stats.postings(t)) {
            const double w = bm25::weight(variant, params, k1_t, p.tf, stats.length_factor[p.doc]);
            store_posting(post_file.reserve(kPostingBytes),
                          MmapPosting{p.doc, round_f32(w), include_positions_ ? p.tf : 0});
        }
    }

    // "positions.bin": one pass over the documents writes every term's run in place.
    if (include_positions_ && !tokens.empty()) {
        std::vector<char> positions(tokens.size() * 4);
        std::vector<uint64_t> cursor(positions_offset.begin(), positions_offset.end() - 1);
        for (std::size_t d = 0; d < n; ++d) {
            const std::span<const uint32_t> terms = corpus_.doc_terms(d);
            for (std::size_t i = 0; i < terms.size(); ++i)
                store_u32(positions.data() + 4 * cursor[terms[i]]++, static_cast<uint32_t>(i));
        }
        pos_file.write(positions.data(), positions.size());
    }

    // "meta.json".
    std::string json;
    json.reserve(kJsonPiece + 4096);
    const auto spill = [&] {
        if (json.size() >= kJsonPiece) {
            meta_file.write(json);
            json.clear();
        }
    };
    json.append("{\"corpus\":[");
    for (std::size_t d = 0; d < n; ++d) {
        if (d) json.push_back(',');
        append_json_string(json, {text_.data() + doc_offsets_[d], doc_offsets_[d + 1] - doc_offsets_[d]});
        spill();
    }
    json.append("],\"idf\":{");
    for (std::size_t t = 0; t < v; ++t) {
        if (t) json.push_back(',');
        append_json_string(json, corpus_.terms().term(static_cast<uint32_t>(t)));
        json.push_back(':');
        append_json_number(json, stats.idf[t]);
        spill();
    }
    json.append("},\"dictionary\":{");
    for (std::size_t t = 0; t < v; ++t) {
        if (t) json.push_back(',');
        append_json_string(json, corpus_.terms().term(static_cast<uint32_t>(t)));
        json.append(":[");
        append_u64(json, lists.offsets[t]);
        json.push_back(',');
        append_u64(json, lists.offsets[t + 1] - lists.offsets[t]);
        json.push_back(',');
        append_u64(json, positions_offset[t]);
        json.push_back(',');
        append_u64(json, positions_offset[t + 1] - positions_offset[t]);
        json.push_back(']');
        spill();
    }
    json.append("},\"num_docs\":");
    append_u64(json, n);
    json.append(",\"normalize\":");
    json.append(normalize_ ? "true" : "false");
    json.push_back('}');
    meta_file.write(json);
}

void write_embeddings(DirectoryWrite& out, std::span<const float> values, uint64_t dim) {
    DirectoryWrite::File& emb = out.open(kEmbeddingsFile);
    for (const float x : values) store_f32(emb.reserve(4), x);
    std::string text;
    append_u64(text, dim);
    out.open(kEmbDimFile).write(text);
}

}  // namespace tarnwick::search
