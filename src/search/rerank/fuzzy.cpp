#include "search/rerank/fuzzy.hpp"

#include "algorithms/lcs.hpp"
#include "algorithms/lcs_step.hpp"
#include "algorithms/pattern_mask.hpp"
#include "cancel.hpp"
#include "search/rerank/fuzzy_wide.hpp"
#include "text/utf8.hpp"

#include <algorithm>

namespace tarnwick::search {
namespace {

std::span<const uint8_t> bytes(std::string_view s) noexcept {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

/// Documents scored together by the interleaved LCS step.
constexpr std::size_t kLanes = 4;

/// The pure-ASCII documents of a batch, scored kLanes at a time against a query of 1 to 64
/// bytes: each lane holds one document, its position and its LCS state. All lanes advance
/// together by the fewest bytes any of them has left, then every finished lane writes its
/// score and takes the next document.
class AsciiLanes {
public:
    AsciiLanes(const FuzzyQuery& query, double* out)
        : masks_(query.masks()), m_(query.text().size()), live_(algorithms::last_word_mask(m_)),
          out_(out) {}

    /// Queues document text `doc` for result slot `slot`.
    void push(std::string_view doc, std::size_t slot) {
        if (doc.empty()) {
            out_[slot] = 0.0;  // nothing in common with a non-empty query
            return;
        }
        std::size_t free = kLanes;
        for (std::size_t l = 0; l < kLanes; ++l)
            if (!busy_[l]) free = l;
        if (free == kLanes) {
            advance();
            for (std::size_t l = 0; l < kLanes; ++l)
                if (!busy_[l]) free = l;
        }
        lane_[free] = {reinterpret_cast<const uint8_t*>(doc.data()),
                       reinterpret_cast<const uint8_t*>(doc.data()) + doc.size(), doc.size(), slot,
                       algorithms::kLcsStart};
        busy_[free] = true;
    }

    /// Finishes every queued document.
    void finish() {
        for (std::size_t l = 0; l < kLanes; ++l) {
            if (!busy_[l]) continue;
            Lane& a = lane_[l];
            uint64_t S = a.state;
            for (const uint8_t* p = a.at; p != a.end; ++p) S = algorithms::lcs_word_step(S, masks_[*p]);
            a.state = S;
            a.at = a.end;
            done(l);
        }
    }

private:
    struct Lane {
        const uint8_t* at;
        const uint8_t* end;
        std::size_t length;
        std::size_t slot;
        uint64_t state;
    };

    /// All lanes busy: runs them together until at least one is done.
    void advance() {
        std::size_t steps = SIZE_MAX;
        for (const Lane& a : lane_) steps = std::min<std::size_t>(steps, a.end - a.at);
        const uint64_t* masks = masks_;
        const uint8_t *p0 = lane_[0].at, *p1 = lane_[1].at, *p2 = lane_[2].at, *p3 = lane_[3].at;
        uint64_t s0 = lane_[0].state, s1 = lane_[1].state, s2 = lane_[2].state, s3 = lane_[3].state;
        for (std::size_t i = 0; i < steps; ++i) {
            s0 = algorithms::lcs_word_step(s0, masks[p0[i]]);
            s1 = algorithms::lcs_word_step(s1, masks[p1[i]]);
            s2 = algorithms::lcs_word_step(s2, masks[p2[i]]);
            s3 = algorithms::lcs_word_step(s3, masks[p3[i]]);
        }
        const uint64_t states[kLanes] = {s0, s1, s2, s3};
        for (std::size_t l = 0; l < kLanes; ++l) {
            lane_[l].at += steps;
            lane_[l].state = states[l];
            if (lane_[l].at == lane_[l].end) done(l);
        }
    }

    void done(std::size_t l) {
        const Lane& a = lane_[l];
        const uint64_t lcs = algorithms::lcs_word_count(a.state, live_);
        const std::size_t total = m_ + a.length;
        out_[a.slot] = indel_similarity(total - 2 * lcs, total);
        busy_[l] = false;
    }

    const uint64_t* masks_;
    std::size_t m_;
    uint64_t live_;
    double* out_;
    Lane lane_[kLanes] = {};
    bool busy_[kLanes] = {};
};

}  // namespace

void FuzzyQuery::assign(std::string_view text) {
    text_ = text;
    ascii_ = text::is_ascii(text);
    code_points_.clear();
    masks_.clear();
    if (!ascii_) {
        text::decode(text, code_points_);
        return;
    }
    if (text.empty() || text.size() > 64) return;
    masks_.assign(256, 0);
    for (std::size_t i = 0; i < text.size(); ++i)
        masks_[static_cast<uint8_t>(text[i])] |= uint64_t{1} << i;
}

namespace {

/// Fewest documents for which a call takes the wide kernel (fuzzy_wide.hpp): with fewer,
/// most of its 64 lanes would idle.
constexpr std::size_t kWideMinDocs = 64;

/// The documents of a call handed to the wide kernel one at a time, the empty ones scored
/// on the way.
template <class DocAt>
struct WideSource {
    std::size_t count;
    const DocAt& doc_at;
    double* out;
    cancel::Budget budget;
    std::size_t i = 0;

    static bool next(void* context, wide::Doc& doc) {
        auto& self = *static_cast<WideSource*>(context);
        for (; self.i < self.count; ++self.i) {
            const std::string_view text = self.doc_at(self.i);
            self.budget.spend(16 + text.size());
            if (!text.empty()) {
                doc = {text.data(), text.size(), self.i++};
                return true;
            }
            self.out[self.i] = 0.0;  // nothing in common with the query
        }
        return false;
    }
};

/// out[i] = compute_fuzzy_score(query, doc_at(i)) for i < count.
template <class DocAt>
void fuzzy_scores(const FuzzyQuery& query, std::size_t count, DocAt doc_at, double* out) {
    if (query.masks() && count >= kWideMinDocs && wide::suits(query.text())) {
        WideSource<DocAt> source{count, doc_at, out, {}};
        std::vector<std::size_t> given_back;
        wide::fuzzy_scores(query.text(), &WideSource<DocAt>::next, &source, out, given_back);
        for (const std::size_t i : given_back) out[i] = compute_fuzzy_score(query, doc_at(i));
        return;
    }
    // A document costs from a few nanoseconds (a short text in a lane) upwards: the budget
    // counts its bytes, so that the clock behind a cancellation point is not read for
    // every short document (a fallback over a million documents read it often enough to
    // cost 4% of the call).
    cancel::Budget budget;
    if (!query.masks()) {
        for (std::size_t i = 0; i < count; ++i) {
            const std::string_view doc = doc_at(i);
            budget.spend(16 + doc.size());
            out[i] = compute_fuzzy_score(query, doc);
        }
        return;
    }
    AsciiLanes lanes(query, out);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view doc = doc_at(i);
        budget.spend(16 + doc.size());
        if (text::is_ascii(doc)) lanes.push(doc, i);
        else out[i] = compute_fuzzy_score(query, doc);
    }
    lanes.finish();
}

}  // namespace

void compute_fuzzy_scores(const FuzzyQuery& query, const Bm25Reader& index,
                          std::span<const uint64_t> docs, double* out) {
    fuzzy_scores(query, docs.size(),
                 [&](std::size_t i) { return index.doc(static_cast<std::size_t>(docs[i])); }, out);
}

void compute_fuzzy_scores(const FuzzyQuery& query, std::span<const std::string_view> docs,
                          double* out) {
    fuzzy_scores(query, docs.size(), [&](std::size_t i) { return docs[i]; }, out);
}

double compute_fuzzy_score(const FuzzyQuery& query, std::string_view doc) {
    if (query.ascii() && text::is_ascii(doc)) {
        const uint64_t d = algorithms::indel_distance<uint8_t>(bytes(query.text()), bytes(doc));
        return indel_similarity(d, query.text().size() + doc.size());
    }
    // A pure-ASCII query meeting a wide document is compared as code points too.
    thread_local std::vector<uint32_t> query_chars, doc_chars;
    std::span<const uint32_t> a = query.code_points();
    if (query.ascii()) {
        query_chars.assign(query.text().begin(), query.text().end());
        a = query_chars;
    }
    text::decode(doc, doc_chars);
    const uint64_t d = algorithms::indel_distance<uint32_t>(a, doc_chars);
    return indel_similarity(d, a.size() + doc_chars.size());
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
    // The documents in index order, a block of numbers at a time.
    constexpr std::size_t kBlock = 4096;
    std::vector<uint64_t> block;
    for (std::size_t first = 0; first < docs; first += kBlock) {
        block.resize(std::min(kBlock, docs - first));
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = first + i;
        compute_fuzzy_scores(q, index, block, scores.data() + first);
    }
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
    std::vector<uint64_t> docs(c.size());
    for (std::size_t i = 0; i < c.size(); ++i) docs[i] = c[i].doc;
    std::vector<double> fuzzy(c.size());
    compute_fuzzy_scores(FuzzyQuery(query), index, docs, fuzzy.data());
    const double w = fuzzy_weight;
    for (std::size_t i = 0; i < c.size(); ++i) {
        const double scaled = (c[i].score - lo) / range;
        c[i].score = (1.0 - w) * scaled + w * fuzzy[i];
    }
    take_ranked(c, n);
    return c;
}

}  // namespace tarnwick::search
