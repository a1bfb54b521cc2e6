#include "search/bm25/corpus_stats.hpp"

#include "cancel.hpp"

#include "search/tokenise/tokenise.hpp"

namespace tarnwick::search {

bool TokenisedCorpus::add(std::string_view text, bool normalize, uint64_t max_terms) {
    cancel::Budget budget;  // a document of hundreds of megabytes answers Ctrl-C
    for_each_term(text, normalize, [&](std::string_view t) {
        lists_.push(terms_.intern(t));
        budget.spend(t.size() + 1);
    });
    if (lists_.pending() > max_terms) {
        lists_.discard();
        return false;
    }
    lists_.finish();
    return true;
}

CorpusStatistics corpus_statistics(const TokenisedCorpus& corpus, Variant variant, Variant idf_rule,
                                   double k1, double b) {
    const std::size_t n = corpus.num_docs();
    const std::size_t v = corpus.terms().size();
    CorpusStatistics s;
    s.lists = invert(corpus);
    s.avgdl = bm25::average_length(corpus.num_tokens(), n);

    s.idf.resize(v);
    for (std::size_t t = 0; t < v; ++t) s.idf[t] = bm25::idf(idf_rule, n, s.postings(t).size());

    s.length_factor.resize(n);
    for (std::size_t d = 0; d < n; ++d) s.length_factor[d] = bm25::length_factor(b, corpus.length(d), s.avgdl);

    if (variant == Variant::T) {
        const double g = bm25::saturation_base(k1);
        s.term_k1.resize(v);
        for (std::size_t t = 0; t < v; ++t) {
            const auto list = s.postings(t);
            double sum = 0.0;
            for (const TermPosting& p : list) sum += bm25::saturation_term(p.tf, s.length_factor[p.doc]);
            s.term_k1[t] = bm25::term_saturation(g, sum, list.size());
        }
    }
    return s;
}

}  // namespace tarnwick::search
