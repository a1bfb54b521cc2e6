#include "search/index_dir/index_dir_writer.hpp"

#include "cancel.hpp"
#include "round_f32.hpp"
#include "search/bm25/postings.hpp"
#include "search/index_dir/mmap_meta.hpp"
#include "search/tokenise/tokenise.hpp"

#include <stdexcept>

namespace tarnwick::search {

void IndexDirWriter::add(std::string_view text) {
    if (num_docs() >= UINT32_MAX) throw std::length_error("the index directory holds at most 4294967295 documents");
    const std::size_t before = tokens_.size();
    cancel::Budget budget;
    for_each_term(text, normalize_, [&](std::string_view t) {
        tokens_.push_back(terms_.intern(t));
        budget.spend(t.size() + 1);
    });
    if (tokens_.size() - before > UINT32_MAX) {
        tokens_.resize(before);
        throw std::length_error("a document of the index directory holds at most 4294967295 terms");
    }
    text_.insert(text_.end(), text.begin(), text.end());
    doc_offsets_.push_back(text_.size());
    tok_offsets_.push_back(tokens_.size());
}

void IndexDirWriter::write(DirectoryWrite& out, Variant variant, const Bm25Params& params) const {
    const InvertedLists lists = invert(tok_offsets_, tokens_, terms_.size());
    const std::vector<uint64_t> positions_offset = positions_offsets();
    // The files are opened in the order in which they replace the old ones.
    DirectoryWrite::File& meta_file = out.open(kMetaFile);
    DirectoryWrite::File& post_file = out.open(kPostingsFile);
    DirectoryWrite::File& pos_file = out.open(kPositionsFile);
    const std::vector<double> idf = write_postings(post_file, lists, variant, params);
    write_positions(pos_file, positions_offset);
    write_meta(meta_file, lists, idf, positions_offset);
}

std::vector<double> IndexDirWriter::write_postings(DirectoryWrite::File& out, const InvertedLists& lists,
                                                   Variant variant, const Bm25Params& params) const {
    const std::size_t n = num_docs();
    const std::size_t v = terms_.size();
    const auto postings = [&](std::size_t t) {
        return std::span<const TermPosting>(lists.postings)
            .subspan(lists.offsets[t], lists.offsets[t + 1] - lists.offsets[t]);
    };

    const double avgdl = bm25::average_length(tokens_.size(), n);
    std::vector<double> length_factor(n);
    for (std::size_t d = 0; d < n; ++d)
        length_factor[d] = bm25::length_factor(params.b, tok_offsets_[d + 1] - tok_offsets_[d], avgdl);
    const double g = variant == Variant::T ? bm25::saturation_base(params.k1) : 0.0;

    // Every term's records, terms in id order.
    cancel::Budget budget;
    std::vector<double> idf(v);
    for (std::size_t t = 0; t < v; ++t) {
        const auto list = postings(t);
        idf[t] = bm25::idf(variant, n, list.size());
        double k1_t = 0.0;
        if (variant == Variant::T) {
            double sum = 0.0;
            for (const TermPosting& p : list) sum += bm25::saturation_term(p.tf, length_factor[p.doc]);
            k1_t = bm25::term_saturation(g, sum, list.size());
        }
        for (const TermPosting& p : list) {
            const double w = bm25::weight(variant, params, k1_t, p.tf, length_factor[p.doc]);
            store_posting(out.reserve(kPostingBytes),
                          MmapPosting{p.doc, round_f32(w), include_positions_ ? p.tf : 0});
        }
        budget.spend(list.size() + 1);
    }
    return idf;
}

std::vector<uint64_t> IndexDirWriter::positions_offsets() const {
    // Term t's positions start at offsets[t]: its occurrences over the corpus, in document
    // order and, within a document, ascending, are exactly its records' runs.
    std::vector<uint64_t> offsets(terms_.size() + 1, 0);
    if (include_positions_) {
        for (const uint32_t t : tokens_) ++offsets[t + 1];
        for (std::size_t t = 0; t < terms_.size(); ++t) offsets[t + 1] += offsets[t];
    }
    return offsets;
}

void IndexDirWriter::write_positions(DirectoryWrite::File& out, std::span<const uint64_t> offsets) const {
    if (!include_positions_ || tokens_.empty()) return;
    // One pass over the documents writes every term's run in place.
    cancel::Budget budget;
    std::vector<char> positions(tokens_.size() * 4);
    std::vector<uint64_t> cursor(offsets.begin(), offsets.end() - 1);
    for (std::size_t d = 0; d < num_docs(); ++d) {
        const uint64_t first = tok_offsets_[d];
        for (uint64_t i = first; i < tok_offsets_[d + 1]; ++i)
            store_u32(positions.data() + 4 * cursor[tokens_[i]]++, static_cast<uint32_t>(i - first));
        budget.spend(tok_offsets_[d + 1] - first + 1);
    }
    out.write(positions.data(), positions.size());
}

void IndexDirWriter::write_meta(DirectoryWrite::File& out, const InvertedLists& lists,
                                std::span<const double> idf, std::span<const uint64_t> positions_offset) const {
    std::vector<DictEntry> dictionary(terms_.size());
    for (std::size_t t = 0; t < dictionary.size(); ++t)
        dictionary[t] = {lists.offsets[t], lists.offsets[t + 1] - lists.offsets[t], positions_offset[t],
                         positions_offset[t + 1] - positions_offset[t]};
    write_mmap_meta(out, MetaContent{{text_.data(), text_.size()}, doc_offsets_, terms_, idf, dictionary,
                                     normalize_});
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
