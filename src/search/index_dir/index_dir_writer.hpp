// The writer of an index directory (index_dir_files.hpp): a BM25 index computed once from a
// stream of documents and stored with every weight finished, so that a reader scores a
// query by adding idf x stored weight over the postings of the query's terms.
//
// What it writes, for the documents added in order (document number d from 0):
// - "meta.json": {"corpus":[texts],"idf":{term:idf},"dictionary":{term:[postings_offset,
//   postings_count,positions_offset,positions_count]},"num_docs":N,"normalize":flag}, compact
//   (json_write.hpp); "idf" and "dictionary" list the terms in the order the writer walks
//   them, which is the order of their first appearance in the corpus.
// - "postings.bin": for each term in that order, one record per document holding it, in
//   increasing document number: (d, the variant's weight rounded to a 32-bit float, the
//   number of positions stored for it: the term frequency with positions, else 0).
// - "positions.bin": for each record in file order, the token positions of its term in its
//   document, ascending; empty without positions.
// The idf and weights are those of the in-memory engine: both take the corpus statistics
// from corpus_stats.hpp and evaluate the weights of bm25_formula.hpp on them, so both give
// the same doubles before the rounding of the weight.
//
// The format's fields are 32 bits wide: a 2^32-th document, or a document of 2^32 terms or
// more, is refused with std::length_error when it is added, before anything is written.
//
// Adding and writing are cancellation points (cancel.hpp); a writer whose add or write
// threw is discarded.
#pragma once

#include "search/bm25/bm25_formula.hpp"
#include "search/bm25/corpus_stats.hpp"
#include "search/index_dir/index_dir_files.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::search {


class IndexDirWriter {
public:
    IndexDirWriter(bool normalize, bool include_positions)
        : normalize_(normalize), include_positions_(include_positions) {}

    /// Tokenises and adds the next document.
    void add(std::string_view text);

    std::size_t num_docs() const noexcept { return doc_offsets_.size() - 1; }

    /// Computes the index of `variant` with `params` (its `normalize` is the writer's) and
    /// adds "meta.json", "postings.bin" and "positions.bin" to `out`.
    void write(DirectoryWrite& out, Variant variant, const Bm25Params& params) const;

private:
    /// "postings.bin": each record's weight from the corpus statistics, the records of
    /// every term in id order.
    void write_postings(DirectoryWrite::File& out, const CorpusStatistics& stats, Variant variant,
                        const Bm25Params& params) const;
    /// Where each term's positions start in "positions.bin" (terms in id order), with the
    /// total at the end; all zero without positions.
    std::vector<uint64_t> positions_offsets() const;
    /// "positions.bin", given positions_offsets().
    void write_positions(DirectoryWrite::File& out, std::span<const uint64_t> offsets) const;
    /// "meta.json" (mmap_meta.hpp writes it).
    void write_meta(DirectoryWrite::File& out, const CorpusStatistics& stats,
                    std::span<const uint64_t> positions_offset) const;

    bool normalize_;
    bool include_positions_;
    std::vector<char> text_;                 // the texts, one after another
    std::vector<uint64_t> doc_offsets_{0};   // N + 1 offsets into text_
    TokenisedCorpus corpus_;                 // every document's term ids
};

/// Adds "embeddings.bin" (`values` as 32-bit floats) and "emb_dim.txt" (`dim` in decimal).
void write_embeddings(DirectoryWrite& out, std::span<const float> values, uint64_t dim);

}  // namespace tarnwick::search
