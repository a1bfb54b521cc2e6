// The fuzzy score of one short ASCII query against many ASCII documents, 64 documents at
// once, on the lane kernel of algorithms/lcs_lanes.hpp (x86-64 processors with AVX-512 BW,
// VL and VBMI, chosen at run time). Documents with a byte of 128 or more are given back
// to the caller, which scores them as code points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tarnwick::search {

/// 1 - distance / total, or 1.0 when total is 0: the fuzzy score of two texts of `total`
/// code points at Indel distance `distance`.
inline double indel_similarity(uint64_t distance, std::size_t total) noexcept {
    if (total == 0) return 1.0;
    return 1.0 - static_cast<double>(distance) / static_cast<double>(static_cast<uint64_t>(total));
}

namespace wide {

/// A document to score: its bytes (at least one) and its result slot.
struct Doc {
    const char* data;
    std::size_t size;
    std::size_t slot;
};

/// Fills `doc` with the next document and returns true, or returns false at the end.
using NextDoc = bool (*)(void* context, Doc& doc);

/// Whether the wide kernel runs on this processor for `query`: ASCII, 1 to 16 bytes, no
/// zero byte.
bool suits(std::string_view query) noexcept;

/// out[doc.slot] = the fuzzy score of `query` (which suits the kernel) against each
/// document that `next` gives, until it gives none. The slots of the documents the kernel
/// gives back (not pure ASCII, or of 2^32 bytes or more) are added to `given_back` instead,
/// their out[slot] left as it is.
void fuzzy_scores(std::string_view query, NextDoc next, void* context, double* out,
                  std::vector<std::size_t>& given_back);

}  // namespace wide
}  // namespace tarnwick::search
