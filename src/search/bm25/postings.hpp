// Inverted lists from a forward list: for every term, the documents holding it in
// increasing order, each with the term's frequency there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnwick::search {

/// One document of a term's list.
struct TermPosting {
    uint32_t doc;
    uint32_t tf;  // occurrences of the term in the document (>= 1)
};

struct InvertedLists {
    std::vector<uint64_t> offsets;      // V + 1 offsets into postings: term t's list is
                                        // postings[offsets[t], offsets[t + 1])
    std::vector<TermPosting> postings;
};

class TokenisedCorpus;

/// The lists of a corpus of fewer than 2^32 - 1 documents. Throws std::length_error when a
/// document holds one term 2^32 - 1 times or more. A cancellation point (cancel.hpp).
InvertedLists invert(const TokenisedCorpus& corpus);

}  // namespace tarnwick::search
