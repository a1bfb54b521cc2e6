#include "search/bm25/postings.hpp"

#include "cancel.hpp"
#include "search/bm25/corpus_stats.hpp"

#include <algorithm>
#include <stdexcept>

namespace tarnwick::search {

InvertedLists invert(const TokenisedCorpus& corpus) {
    const std::size_t n = corpus.num_docs();
    const std::size_t num_terms = corpus.terms().size();
    const auto doc_terms = [&](std::size_t d) { return corpus.doc_terms(d); };
    // Document frequencies (each document counted once per term), then the lists.
    InvertedLists out;
    std::vector<uint32_t> last(num_terms, UINT32_MAX);
    std::vector<uint64_t> df(num_terms, 0);
    for (std::size_t d = 0; d < n; ++d) {
        if (d % 1024 == 0) cancel::cancellation_point();
        for (const uint32_t t : doc_terms(d))
            if (last[t] != d) {
                last[t] = static_cast<uint32_t>(d);
                ++df[t];
            }
    }
    out.offsets.resize(num_terms + 1);
    out.offsets[0] = 0;
    for (std::size_t t = 0; t < num_terms; ++t) out.offsets[t + 1] = out.offsets[t] + df[t];
    out.postings.resize(out.offsets[num_terms]);
    std::vector<uint64_t>& cursor = df;  // reused: the next free slot of each list
    std::copy(out.offsets.begin(), out.offsets.end() - 1, cursor.begin());
    std::fill(last.begin(), last.end(), UINT32_MAX);
    for (std::size_t d = 0; d < n; ++d) {
        if (d % 1024 == 0) cancel::cancellation_point();
        for (const uint32_t t : doc_terms(d)) {
            if (last[t] != d) {
                last[t] = static_cast<uint32_t>(d);
                out.postings[cursor[t]++] = TermPosting{static_cast<uint32_t>(d), 1};
            } else {
                TermPosting& p = out.postings[cursor[t] - 1];
                if (p.tf == UINT32_MAX) throw std::length_error("a document repeats a term too often");
                ++p.tf;
            }
        }
    }
    return out;
}

}  // namespace tarnwick::search
