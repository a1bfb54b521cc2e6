// The fuzzy score of one short ASCII query against many ASCII documents, 64 documents at
// once in the lanes of 512-bit vectors (x86-64 processors with AVX-512 BW, VL and VBMI,
// chosen at run time).
//
// Each lane holds one document and runs the bit-parallel LCS step (lcs_step.hpp) on a state
// of 8 bits (queries of 1 to 8 bytes) or 16 bits (9 to 16 bytes): the low bits of the sum
// and difference of the step do not depend on the bits above them, so a state as wide as
// the query counts the same LCS as the 64-bit state of the one-at-a-time kernel. A block of
// 16 bytes of every lane's document is loaded (masked at the document's end, so nothing
// past it is read) and transposed so that one vector holds the next byte of all 64
// documents; a byte's match mask is looked up in a 128-entry table by a byte permutation.
// Bytes past a document's end are zero, whose mask is empty (the query has no zero byte),
// so they leave the state as it is. A lane whose document ends in a block gives its score
// after the block and takes the next document. A lane that meets a byte of 128 or more
// gives its document back to the caller, which scores it as code points.
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
