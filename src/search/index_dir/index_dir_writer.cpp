#include "search/index_dir/index_dir_writer.hpp"

#include "cancel.hpp"
#include "round_f32.hpp"
#include "search/index_dir/mmap_meta.hpp"

#include <stdexcept>

namespace tarnwick::search {

void IndexDirWriter::add(std::string_view text) {
    if (num_docs() >= UINT32_MAX) throw std::length_error("the index directory holds at most 4294967295 documents");
    if (!corpus_.add(text, normalize_, UINT32_MAX))
        throw std::length_error("a document of the index directory holds at most 4294967295 terms");
    text_.insert(text_.end(), text.begin(), text.end());
    doc_offsets_.push_back(text_.size());
}

void IndexDirWriter::write(DirectoryWrite& out, Variant variant, const Bm25Params& params) const {
    const CorpusStatistics stats = corpus_statistics(corpus_, variant, variant, params.k1, params.b);
    const std::vector<uint64_t> positions_offset = positions_offsets();
    // The files are opened in the order in which they replace the old ones.
    DirectoryWrite::File& meta_file = out.open(kMetaFile);
    DirectoryWrite::File& post_file = out.open(kPostingsFile);
    DirectoryWrite::File& pos_file = out.open(kPositionsFile);
    write_postings(post_file, stats, variant, params);
    write_positions(pos_file, positions_offset);
    write_meta(meta_file, stats, positions_offset);
}

void IndexDirWriter::write_postings(DirectoryWrite::File& out, const CorpusStatistics& stats,
                                    Variant variant, const Bm25Params& params) const {
    // Every term's records, terms in id order.
    cancel::Budget budget;
    for (std::size_t t = 0; t < corpus_.terms().size(); ++t) {
        const double k1_t = variant == Variant::T ? stats.term_k1[t] : 0.0;
        const auto list = stats.postings(t);
        for (const TermPosting& p : list) {
            const double w = bm25::weight(variant, params, k1_t, p.tf, stats.length_factor[p.doc]);
            store_posting(out.reserve(kPostingBytes),
                          MmapPosting{p.doc, round_f32(w), include_positions_ ? p.tf : 0});
        }
        budget.spend(list.size() + 1);
    }
}

std::vector<uint64_t> IndexDirWriter::positions_offsets() const {
    // Term t's positions start at offsets[t]: its occurrences over the corpus, in document
    // order and, within a document, ascending, are exactly its records' runs.
    const std::size_t v = corpus_.terms().size();
    std::vector<uint64_t> offsets(v + 1, 0);
    if (include_positions_) {
        for (std::size_t d = 0; d < corpus_.num_docs(); ++d)
            for (const uint32_t t : corpus_.doc_terms(d)) ++offsets[t + 1];
        for (std::size_t t = 0; t < v; ++t) offsets[t + 1] += offsets[t];
    }
    return offsets;
}

void IndexDirWriter::write_positions(DirectoryWrite::File& out, std::span<const uint64_t> offsets) const {
    if (!include_positions_ || corpus_.num_tokens() == 0) return;
    // One pass over the documents writes every term's run in place.
    cancel::Budget budget;
    std::vector<char> positions(corpus_.num_tokens() * 4);
    std::vector<uint64_t> cursor(offsets.begin(), offsets.end() - 1);
    for (std::size_t d = 0; d < num_docs(); ++d) {
        uint32_t i = 0;
        for (const uint32_t t : corpus_.doc_terms(d)) store_u32(positions.data() + 4 * cursor[t]++, i++);
        budget.spend(i + 1);
    }
    out.write(positions.data(), positions.size());
}

void IndexDirWriter::write_meta(DirectoryWrite::File& out, const CorpusStatistics& stats,
                                std::span<const uint64_t> positions_offset) const {
    const InvertedLists& lists = stats.lists;
    std::vector<DictEntry> dictionary(corpus_.terms().size());
    for (std::size_t t = 0; t < dictionary.size(); ++t)
        dictionary[t] = {lists.offsets[t], lists.offsets[t + 1] - lists.offsets[t], positions_offset[t],
                         positions_offset[t + 1] - positions_offset[t]};
    write_mmap_meta(out, MetaContent{{text_.data(), text_.size()}, doc_offsets_, corpus_.terms(), stats.idf,
                                     dictionary, normalize_});
}

void write_embeddings(DirectoryWrite& out, std::span<const float> values, uint64_t dim) {
    DirectoryWrite::File& emb = out.open(kEmbeddingsFile);
    cancel::Budget budget;
    for (const float x : values) {
        store_f32(emb.reserve(4), x);
        budget.spend(1);
    }
    out.open(kEmbDimFile).write(std::to_string(dim));
}

}  // namespace tarnwick::search
