#include "search/fuzzy.hpp"

#include "algorithms/lcs.hpp"
#include "fuzz/fuzz_text.hpp"

#include <algorithm>

namespace tarnwick::search {
namespace {

std::span<const uint8_t> bytes(std::string_view s) noexcept {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

double similarity(uint64_t distance, std::size_t total) noexcept {
    if (total == 0) return 1.0;
    return 1.0 - static_cast<double>(distance) / static_cast<double>(static_cast<uint64_t>(total));
}

}  // namespace

FuzzyQuery::FuzzyQuery(std::string_view text) : text_(text), ascii_(fuzz::text::is_ascii(text)) {
    if (!ascii_) fuzz::text::decode(text, code_points_);
}

double compute_fuzzy_score(const FuzzyQuery& query, std::string_view doc) {
    if (query.ascii() && fuzz::text::is_ascii(doc)) {
        const uint64_t d = algorithms::indel_distance<uint8_t>(bytes(query.text()), bytes(doc));
        return similarity(d, query.text().size() + doc.size());
    }
    // A pure-ASCII query meeting a wide document is compared as code points too.
    thread_local std::vector<uint32_t> query_chars, doc_chars;
    std::span<const uint32_t> a = query.code_points();
    if (query.ascii()) {
        query_chars.assign(query.text().begin(), query.text().end());
        a = query_chars;
    }
    fuzz::text::decode(doc, doc_chars);
    const uint64_t d = algorithms::indel_distance<uint32_t>(a, doc_chars);
    return similarity(d, a.size() + doc_chars.size());
}

uint64_t candidate_pool_size(uint64_t n, uint64_t bm25_candidates) noexcept {
    uint64_t ten_n;
    if (__builtin_mul_overflow(n, uint64_t{10}, &ten_n)) ten_n = UINT64_MAX;
    return std::max(ten_n, bm25_candidates);
}

std::vector<Scored> fuzzy_only(const Bm25Reader& index, std::string_view query, uint64_t n) {
    const FuzzyQuery q(query);
    const std::size_t docs = index.num_docs();
    std::vector<double> scores(docs);
    for (std::size_t d = 0; d < docs; ++d) scores[d] = compute_fuzzy_score(q, index.doc(d));
    if (use_sort_path(docs, n)) {
        std::vector<Scored> all(docs);
        for (std::size_t d = 0; d < docs; ++d) all[d] = {d, scores[d]};
        take_ranked(all, n);
        return all;
    }
    TopHeap heap(static_cast<std::size_t>(n));
    for (std::size_t d = 0; d < docs; ++d) heap.offer({d, scores[d]});
    return std::move(heap).take_sorted();
}

std::vector<Scored> top_n_fuzzy(const Bm25Reader& index, std::string_view query, uint64_t n,
                                uint64_t bm25_candidates, double fuzzy_weight) {
    std::vector<Scored> c = index.top_n(query, candidate_pool_size(n, bm25_candidates), std::nullopt);
    if (c.empty()) return fuzzy_only(index, query, n);
    double hi = c[0].score, lo = c[0].score;
    for (const Scored& e : c) {
        if (e.score > hi) hi = e.score;
        if (e.score < lo) lo = e.score;
    }
    // A NaN difference (infinite scores) also takes the floor.
    const double spread = hi - lo;
    const double range = spread > 1e-10 ? spread : 1e-10;
    const FuzzyQuery q(query);
    const double w = fuzzy_weight;
    for (Scored& e : c) {
        const double f = compute_fuzzy_score(q, index.doc(static_cast<std::size_t>(e.doc)));
        const double scaled = (e.score - lo) / range;
        e.score = (1.0 - w) * scaled + w * f;
    }
    take_ranked(c, n);
    return c;
}

}  // namespace tarnwick::search
