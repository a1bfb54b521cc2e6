// The memory-mapped BM25 index: an index directory (index_dir_writer.hpp) opened for
// queries without rebuilding anything. "meta.json" is parsed into memory (mmap_meta.hpp);
// "postings.bin" and "positions.bin" are mapped read-only and read in place, so the
// operating system pages in only what queries touch.
//
// What the index guarantees:
// - Load checks everything that costs no more than the metadata parse: `num_docs` equals
//   the number of corpus texts, and every term's range of records and of positions lies
//   inside its file (overflow-safe). A failed check is an IndexDirError naming the file and
//   the fault; nothing stays open or mapped.
// - The records of a term are checked when a query first reads them (once per term, by
//   whichever thread gets there first): every document number below `num_docs`, in strictly
//   increasing order, and their position counts adding up to the term's range. A term that
//   fails raises CorruptIndexError from every query that reads it.
// - The files may change under the mapping after that check (another process writing into
//   them in place): every value read from "postings.bin" that indexes an array (a document
//   number, a position count) is compared with its bound where it is used, or used from a
//   copy that was compared. A value out of bounds raises the CorruptIndexError of the check.
//   So no query reads or writes outside the mappings or the score list, whatever the files
//   hold. (A file cut short after load is another matter: reading a page past its new end
//   raises SIGBUS, which no reader of a shared mapping can prevent.)
// - A score is the sum, over the query's tokens in query order that the dictionary holds,
//   of idf x stored weight (the 32-bit weight widened), added term by term into a list that
//   starts at +0.0: unlike the in-memory engine, a document no token reaches scores +0.0
//   and there is no -0.0. A dictionary term without an idf entry has idf 0.0.
// - Top-n takes, per query, exhaustive accumulation or the shared pruned scan
//   (ranking/pruned_scan.hpp) over the records in place, whichever its list lengths,
//   bounds and n say is cheaper (mmap_bm25_top_n.cpp); both give the same selection and
//   score bits. The scan's bounds (each term's largest weight and the largest of each
//   block of records) are found by the check of the term's records and kept with it; a
//   query whose products are not all non-negative numbers (a directory may hold any
//   weight or idf) is accumulated.
// - Every operation is const and safe on any thread; the index is the mapped
//   implementation of Bm25Reader, through which the shared rankings read it.
#pragma once

#include "fx_hash.hpp"
#include "search/bm25/bm25_reader.hpp"
#include "search/index_dir/index_dir_files.hpp"
#include "search/index_dir/memory_map.hpp"
#include "search/index_dir/mmap_meta.hpp"
#include "search/ranking/query_terms.hpp"

#include <absl/container/flat_hash_map.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::search {

class MappedCursor;

class MmapBM25Index final : public Bm25Reader {
public:
    /// Opens the directory `path`: parses "{path}/meta.json", maps "{path}/postings.bin" and
    /// "{path}/positions.bin", checks them (see above) and builds the text-to-document map.
    /// Throws std::system_error for a failure of the operating system and IndexDirError for
    /// a malformed or inconsistent file.
    static MmapBM25Index load(const std::string& path);

    MmapBM25Index(MmapBM25Index&&) noexcept;
    MmapBM25Index& operator=(MmapBM25Index&&) noexcept;
    ~MmapBM25Index() override;

    // ---- Bm25Reader ----
    std::size_t num_docs() const noexcept override { return meta_.corpus_size(); }
    std::string_view doc(std::size_t d) const noexcept override { return meta_.doc(d); }
    std::optional<uint64_t> doc_index(std::string_view text) const override;
    bool normalize() const noexcept override { return meta_.normalize; }
    std::vector<Scored> top_n(std::string_view query, uint64_t n, Mask allowed) const override;
    std::vector<TermValue> idf_map() const override;
    std::vector<TermValue> document_vector(std::size_t d) const override;
    std::vector<IdfWeight> term_weights(std::span<const std::string> tokens,
                                        std::size_t d) const override;
    void term_positions(std::span<const std::string> tokens, std::span<const uint64_t> docs,
                        const PositionsVisit& visit) const override;

protected:
    std::vector<double> all_scores(std::string_view query) const override;

private:
    friend class MappedCursor;
    MmapBM25Index() = default;

    /// What the check of a term's records finds for the pruned scan.
    struct TermBounds {
        bool prunable = true;          // every weight a finite non-negative number
        float max_weight = 0.0f;       // the largest weight
        std::vector<float> block_max;  // the largest weight of each block of kBlock records
    };
    /// Records per block of the block maxima.
    static constexpr std::size_t kBlock = 64;
    /// A token whose term has no records, in a resolved query.
    static constexpr uint32_t kNoTerm = UINT32_MAX;
    /// Per term, its TermBounds once its records passed the check (null before), set once
    /// by whichever thread finishes the check first.
    class CheckedTerms {
    public:
        CheckedTerms() = default;
        explicit CheckedTerms(std::size_t n);
        CheckedTerms(CheckedTerms&& o) noexcept;
        CheckedTerms& operator=(CheckedTerms&& o) noexcept;
        ~CheckedTerms();
        const TermBounds* get(uint32_t id) const noexcept {
            return slots_[id].load(std::memory_order_acquire);
        }
        /// Keeps `b` for term `id` unless another thread kept its own first; returns the kept.
        const TermBounds* publish(uint32_t id, std::unique_ptr<TermBounds> b) const;

    private:
        void clear() noexcept;
        std::size_t n_ = 0;
        std::unique_ptr<std::atomic<const TermBounds*>[]> slots_;
    };

    /// The dictionary term of `term` that has at least one record, if any.
    std::optional<uint32_t> term_with_records(std::string_view term) const;
    /// The records of term `id`, checked once (throws CorruptIndexError).
    PostingRecords records(uint32_t id) const;
    /// The bounds of term `id`, its records checked once (throws CorruptIndexError).
    const TermBounds& bounds(uint32_t id) const;
    /// The records of term `id` in the mapping, unchecked.
    PostingRecords mapped_records(uint32_t id) const;
    /// Checks the records of term `id` (see the file comment) and keeps their bounds;
    /// throws CorruptIndexError.
    const TermBounds& check_records(uint32_t id) const;
    /// Throw the CorruptIndexError of term `id` for a record of document `doc` beyond the
    /// corpus, and for records whose position counts add up to `sum`, not the term's range.
    [[noreturn]] void bad_document(uint32_t id, uint32_t doc) const;
    [[noreturn]] void bad_position_count(uint32_t id, uint64_t sum) const;
    /// The index of document d's record within the records of term `id`, if it has one.
    std::optional<std::size_t> find_record(uint32_t id, std::size_t d) const;
    /// The query's tokens, each as the id of its term when that has records, else kNoTerm.
    std::vector<uint32_t> resolve(std::string_view query) const;
    /// Adds the products of the resolved query's tokens into acc (one entry per document);
    /// marks every document reached in `touched` when it is given.
    void accumulate(std::span<const uint32_t> tokens, double* acc, uint64_t* touched) const;
    /// The two methods of top_n and the choice between them (mmap_bm25_top_n.cpp).
    std::vector<Scored> top_n_exhaustive(std::span<const uint32_t> tokens, uint64_t n, Mask allowed) const;
    std::vector<Scored> top_n_pruned(const QueryTerms& q, uint64_t n, Mask allowed) const;
    bool pruning_pays(const QueryTerms& q, uint64_t n) const;

    MmapMeta meta_;
    MemoryMap postings_;
    MemoryMap positions_;
    // The text-to-document map, built when first asked for (only the fusion rankings use
    // it), once, by whichever thread asks first.
    struct DocIndex {
        std::once_flag built;
        absl::flat_hash_map<std::string_view, uint64_t, FxHash> map;
    };
    std::unique_ptr<DocIndex> doc_index_;
    // Per term: whether its records passed check_records, and their bounds. A failed check
    // is not kept: each query that reads the term checks it again and throws.
    CheckedTerms checked_;
};

}  // namespace tarnwick::search
