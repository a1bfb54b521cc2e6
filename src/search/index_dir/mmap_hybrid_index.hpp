// The memory-mapped hybrid index: hybrid search (fusion.hpp) over an index directory
// written with embeddings. Its BM25 part is a MmapBM25Index of the directory; the
// embeddings are read in place from the mapped "embeddings.bin", one row of `dim` floats
// per document, and are never copied (on a big-endian processor they are converted once).
//
// What the index guarantees:
// - Without "embeddings.bin" (any failure to find it) the index has no vectors and a query
//   embedding is ignored. With it, "emb_dim.txt" gives `dim` (surrounding Unicode white
//   space removed, an optional "+" and decimal digits; anything else reads as 0), and load
//   checks that the file holds at least num_docs x dim floats: an IndexDirError names the
//   file otherwise, so every candidate's row lies inside the mapping.
// - The dense channel uses the norm floor of 2^-23 (NormRule::FloorEpsilon) and runs on
//   the calling thread; the fuzzy channel uses the pool from the usual threshold.
// - Nothing but the metadata changes after load; the metadata is replaced whole by a
//   caller that holds the index exclusively, and nothing reads it.
#pragma once

#include "search/rerank/fusion.hpp"
#include "json/json_value.hpp"
#include "search/index_dir/memory_map.hpp"
#include "search/index_dir/mmap_bm25_engine.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::search {

class MmapHybridSearchIndex {
public:
    /// Opens the directory `path` (see MmapBM25Index::load for the errors thrown).
    static MmapHybridSearchIndex load(const std::string& path);

    const MmapBM25Index& index() const noexcept { return index_; }
    std::size_t num_docs() const noexcept { return index_.num_docs(); }
    bool has_vectors() const noexcept { return has_vectors_; }
    uint64_t dim() const noexcept { return dim_; }

    /// The fused ranking of `query`: the dense channel runs when the index has vectors and
    /// `query_embedding` is given. At most n (document, fused score) pairs, best first.
    /// Throws EmbeddingDimMismatch for a query embedding whose length is not dim().
    std::vector<Scored> search_filtered(std::string_view query,
                                        std::optional<std::span<const float>> query_embedding,
                                        uint64_t n, uint64_t rrf_k, uint64_t bm25_candidates,
                                        Mask allowed) const;

    /// Per-document metadata: absent after load.
    const std::optional<JsonStore>& metadata() const noexcept { return metadata_; }
    void set_metadata(JsonStore metadata) { metadata_ = std::move(metadata); }

private:
    explicit MmapHybridSearchIndex(MmapBM25Index index) : index_(std::move(index)) {}

    MmapBM25Index index_;
    MemoryMap embeddings_;
    std::vector<float> converted_;  // the embeddings in native order (big-endian hosts)
    const float* rows_ = nullptr;
    bool has_vectors_ = false;
    uint64_t dim_ = 0;
    std::optional<JsonStore> metadata_;
};

/// The dimension written in "emb_dim.txt": the text with surrounding Unicode white space
/// removed, an optional "+" and at least one ASCII digit, within 64 bits; else 0.
uint64_t parse_dimension(std::string_view text) noexcept;

}  // namespace tarnwick::search
