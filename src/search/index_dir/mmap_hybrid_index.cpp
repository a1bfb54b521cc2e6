#include "search/index_dir/mmap_hybrid_index.hpp"

#include "search/index_dir/index_dir_files.hpp"
#include "text/utf8.hpp"

#include <simdjson.h>
#include <sys/stat.h>

#include <bit>

namespace tarnwick::search {
namespace {

/// `text` (valid UTF-8) without the white space at both ends.
std::string_view trim_white_space(std::string_view text) noexcept {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t next = begin;
        if (!text::is_white_space(text::decode_next(text, next))) break;
        begin = next;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        std::size_t next = start;
        if (!text::is_white_space(text::decode_next(text, next))) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

}  // namespace

uint64_t parse_dimension(std::string_view text) noexcept {
    text = trim_white_space(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return 0;
    uint64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return 0;
        const auto digit = static_cast<uint64_t>(c - '0');
        if (v > (UINT64_MAX - digit) / 10) return 0;
        v = v * 10 + digit;
    }
    return v;
}

MmapHybridSearchIndex MmapHybridSearchIndex::load(const std::string& path) {
    MmapHybridSearchIndex out(MmapBM25Index::load(path));
    const std::string emb_path = index_file(path, kEmbeddingsFile);
    struct stat st;
    if (::stat(emb_path.c_str(), &st) != 0) return out;

    // The writer puts a few digits there; a larger file is refused before it is read.
    constexpr std::size_t kDimTextMax = 4096;
    const FileBytes dim_text = read_file(index_file(path, kEmbDimFile), 0, kDimTextMax);
    if (!simdjson::validate_utf8(dim_text.data(), dim_text.size()))
        throw IndexDirError("stream did not contain valid UTF-8");
    out.dim_ = parse_dimension(dim_text.view());
    out.embeddings_ = MemoryMap::open(emb_path);
    out.has_vectors_ = true;

    const std::span<const char> bytes = out.embeddings_.bytes();
    const uint64_t floats = bytes.size() / 4;
    const uint64_t docs = out.num_docs();
    if (out.dim_ != 0 && docs > floats / out.dim_)
        throw IndexDirError("embeddings.bin: " + std::to_string(floats) + " floats, fewer than " +
                            std::to_string(docs) + " documents of " + std::to_string(out.dim_) +
                            " dimensions need");
    if constexpr (std::endian::native == std::endian::little) {
        out.rows_ = reinterpret_cast<const float*>(bytes.data());
    } else {
        out.converted_.resize(floats);
        for (uint64_t i = 0; i < floats; ++i) out.converted_[i] = load_f32(bytes.data() + 4 * i);
        out.rows_ = out.converted_.data();
    }
    return out;
}

std::vector<Scored> MmapHybridSearchIndex::search_filtered(
    std::string_view query, std::optional<std::span<const float>> query_embedding, uint64_t n,
    uint64_t rrf_k, uint64_t bm25_candidates, Mask allowed) const {
    const DenseRows rows{rows_, static_cast<std::size_t>(dim_), num_docs(), NormRule::FloorEpsilon};
    return hybrid_search(index_, {has_vectors_ ? &rows : nullptr, false}, query, query_embedding, n, rrf_k,
                         bm25_candidates, allowed);
}

}  // namespace tarnwick::search
