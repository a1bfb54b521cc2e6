#include "search/bm25/bm25_engine.hpp"

#include "parallel.hpp"
#include "search/rerank/explain.hpp"
#include "search/ranking/score_scratch.hpp"
#include "search/tokenise/tokenise.hpp"

#include <absl/container/flat_hash_map.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace tarnwick::search {
namespace {

/// Documents per task when one query is scored on the pool; a multiple of 64, so that
/// tasks never share a word of the touched-document bits.
constexpr std::size_t kDocsPerTask = 8192;

}  // namespace

Bm25Engine::Bm25Engine(Variant variant, std::span<const std::string_view> corpus,
                       Bm25Params params)
    : variant_(variant), params_(params) {
    const std::size_t n = corpus.size();
    if (n >= UINT32_MAX) throw std::length_error("corpus has too many documents");

    // The texts, one after another.
    std::size_t total_bytes = 0;
    for (const std::string_view s : corpus) total_bytes += s.size();
    text_.reserve(total_bytes);
    doc_offsets_.reserve(n + 1);
    doc_offsets_.push_back(0);
    for (const std::string_view s : corpus) {
        text_.insert(text_.end(), s.begin(), s.end());
        doc_offsets_.push_back(text_.size());
    }
    if (n == 0) {
        tok_offsets_.push_back(0);
        post_offsets_.push_back(0);
        avgdl_ = 1.0;
        return;
    }

    // Tokenise every document once, interning its terms.
    doc_index_.reserve(n);
    tok_offsets_.reserve(n + 1);
    tok_offsets_.push_back(0);
    tokens_.reserve(total_bytes / 6 + 16);
    for (std::size_t d = 0; d < n; ++d) {
        cancel::cancellation_point();
        const std::string_view s = doc(d);
        for_each_term(s, params_.normalize, [&](std::string_view t) { tokens_.push_back(terms_.intern(t)); });
        tok_offsets_.push_back(tokens_.size());
        doc_index_.insert_or_assign(s, static_cast<uint32_t>(d));
    }
    tokens_.shrink_to_fit();

    avgdl_ = bm25::average_length(tokens_.size(), n);

    // The postings of every term in document order; a term's df is its list's length.
    const std::size_t v = terms_.size();
    {
        InvertedLists lists = invert(tok_offsets_, tokens_, v);
        post_offsets_ = std::move(lists.offsets);
        postings_ = std::move(lists.postings);
    }
    const auto df = [&](std::size_t t) { return post_offsets_[t + 1] - post_offsets_[t]; };

    // idf of every term.
    idf_.resize(v);
    for (std::size_t t = 0; t < v; ++t) idf_[t] = bm25::idf(variant_, n, df(t));

    // Length factor K(d) of every document.
    length_factor_.resize(n);
    for (std::size_t d = 0; d < n; ++d)
        length_factor_[d] = bm25::length_factor(params_.b, tok_offsets_[d + 1] - tok_offsets_[d], avgdl_);

    // BM25T: each term's own saturation from the mean of ln(c + 1) over its documents.
    if (variant_ == Variant::T) {
        const double g = bm25::saturation_base(params_.k1);
        term_k1_.resize(v);
        for (std::size_t t = 0; t < v; ++t) {
            double sum = 0.0;
            for (const Posting& p : postings(static_cast<uint32_t>(t)))
                sum += bm25::saturation_term(p.tf, length_factor_[p.doc]);
            term_k1_[t] = bm25::term_saturation(g, sum, df(t));
        }
    }
    compute_max_weights();
}

void Bm25Engine::compute_max_weights() {
    const std::size_t v = idf_.size();
    max_weight_.assign(v, 0.0);
    block_base_.assign(v + 1, 0);
    for (std::size_t t = 0; t < v; ++t)
        block_base_[t + 1] = block_base_[t] + (postings(static_cast<uint32_t>(t)).size() + kBlock - 1) / kBlock;
    block_max_.assign(block_base_[v], 0.0);
    prunable_ = true;
    for (std::size_t t = 0; t < v; ++t) {
        const auto id = static_cast<uint32_t>(t);
        const auto list = postings(id);
        double m = 0.0;
        for (std::size_t i = 0; i < list.size(); ++i) {
            const double w = weight(id, list[i].doc, list[i].tf);
            if (!(w >= 0.0)) prunable_ = false;  // negative or NaN
            if (w > m) m = w;
            double& bm = block_max_[block_base_[t] + i / kBlock];
            if (w > bm) bm = w;
        }
        max_weight_[t] = m;
    }
}

template <Variant V>
double Bm25Engine::weight_v(uint32_t id, std::size_t d, uint32_t tf) const noexcept {
    return bm25::weight<V>(params_, V == Variant::T ? term_k1_[id] : 0.0, tf, length_factor_[d]);
}

double Bm25Engine::weight(uint32_t id, std::size_t d, uint32_t tf) const noexcept {
    switch (variant_) {
        case Variant::Okapi: return weight_v<Variant::Okapi>(id, d, tf);
        case Variant::L: return weight_v<Variant::L>(id, d, tf);
        case Variant::Plus: return weight_v<Variant::Plus>(id, d, tf);
        case Variant::T: break;
    }
    return weight_v<Variant::T>(id, d, tf);
}

std::optional<uint64_t> Bm25Engine::doc_index(std::string_view text) const {
    const auto it = doc_index_.find(text);
    if (it == doc_index_.end()) return std::nullopt;
    return it->second;
}

uint32_t Bm25Engine::tf(uint32_t id, std::size_t d) const noexcept {
    const auto list = postings(id);
    const auto it = std::lower_bound(list.begin(), list.end(), d,
                                     [](const Posting& p, std::size_t doc) { return p.doc < doc; });
    return it != list.end() && it->doc == d ? it->tf : 0;
}

Query Bm25Engine::parse(std::string_view text) const {
    Query q;
    const auto resolve = [&](std::string_view term) {
        const auto id = term_id(term);
        q.terms.push_back(id ? *id : Query::kNoTerm);
    };
    for_each_term(text, params_.normalize, resolve);
    return q;
}

double Bm25Engine::doc_score(const Query& q, std::size_t d) const {
    double sum = -0.0;
    for (const uint32_t t : q.terms) {
        if (t == Query::kNoTerm) {
            sum += 0.0 * 0.0;
            continue;
        }
        const uint32_t f = tf(t, d);
        sum += idf_[t] * (f ? weight(t, d, f) : 0.0);
    }
    return sum;
}

template <Variant V>
void Bm25Engine::accumulate_v(const Query& q, std::size_t begin, std::size_t end, double* acc,
                              uint64_t* touched) const {
    for (const uint32_t t : q.terms) {
        if (t == Query::kNoTerm) continue;
        const double idf = idf_[t];
        auto list = postings(t);
        const Posting* p = list.data();
        const Posting* const stop = p + list.size();
        if (begin > 0)
            p = std::lower_bound(p, stop, begin,
                                 [](const Posting& x, std::size_t doc) { return x.doc < doc; });
        for (; p != stop && p->doc < end; ++p) {
            const std::size_t i = p->doc - begin;
            acc[i] += idf * weight_v<V>(t, p->doc, p->tf);
            touched[i >> 6] |= uint64_t{1} << (i & 63);
        }
    }
}

void Bm25Engine::accumulate(const Query& q, std::size_t begin, std::size_t end, double* acc,
                            uint64_t* touched) const {
    switch (variant_) {
        case Variant::Okapi: return accumulate_v<Variant::Okapi>(q, begin, end, acc, touched);
        case Variant::L: return accumulate_v<Variant::L>(q, begin, end, acc, touched);
        case Variant::Plus: return accumulate_v<Variant::Plus>(q, begin, end, acc, touched);
        case Variant::T: return accumulate_v<Variant::T>(q, begin, end, acc, touched);
    }
}

std::vector<double> Bm25Engine::scores(const Query& q) const {
    const std::size_t n = num_docs();
    if (n == 0) return {};
    // Without tokens every sum stays at its start, -0.0.
    if (q.terms.empty()) return std::vector<double>(n, -0.0);
    // With tokens, a document that none of them reaches sums only +0.0 products: +0.0.
    std::vector<double> out(n, 0.0);
    std::vector<uint64_t> touched((n + 63) / 64, 0);
    const std::size_t tasks = (n + kDocsPerTask - 1) / kDocsPerTask;
    parallel::for_each_index(tasks, n >= parallel::kBm25MinDocs, [&](std::size_t k) {
        cancel::cancellation_point();
        const std::size_t begin = k * kDocsPerTask, end = std::min(n, begin + kDocsPerTask);
        accumulate(q, begin, end, out.data() + begin, touched.data() + begin / 64);
    });
    // A reached document whose sum of products is zero may have the other sign of zero
    // than its full sum (which also adds +0.0 for every token it lacks): settle it there.
    for_each_bit(touched.data(), touched.size(), [&](std::size_t d) {
        if (out[d] == 0.0) out[d] = doc_score(q, d);
    });
    return out;
}

// The pruned heap path (document at a time, "max-score" pruning).
//
// With every weight non-negative, the product of a query term with a document is at most
// U(t) = idf(t) * (the term's largest weight), and floating-point products and sums are
// monotone, so a document's score is at most the same sum in query order with U(t) in
// place of the products of the terms it may contain and +0.0 for the others. Terms are
// ranked by U; once the heap is full, the longest prefix of that ranking whose bound is at
// most the heap minimum is "non-essential": a document holding only those terms cannot
// enter the heap, so only documents of the essential terms' postings are visited, in
// document order, and the others are looked up in them. A visited document whose bound
// with its essential products is still at most the minimum is skipped without the
// look-ups. Every document skipped is one the heap would have dropped, so the heap sees
// the same sequence of changes as in the plain selection.
template <Variant V>
void Bm25Engine::pruned_scan(const Query& q, std::size_t begin, std::size_t end,
                             std::optional<std::span<const uint8_t>> allowed, TopHeap& heap) const {
    // Distinct known terms, and for each token its term's slot (or -1 when unknown).
    std::vector<uint32_t> ids;
    std::vector<int> slot_of_token;
    slot_of_token.reserve(q.terms.size());
    for (const uint32_t t : q.terms) {
        if (t == Query::kNoTerm) {
            slot_of_token.push_back(-1);
            continue;
        }
        const auto it = std::find(ids.begin(), ids.end(), t);
        slot_of_token.push_back(static_cast<int>(it - ids.begin()));
        if (it == ids.end()) ids.push_back(t);
    }
    const std::size_t m = ids.size();
    std::vector<double> bound(m);       // U(t) by slot
    std::vector<const Posting*> first(m), cur(m), stop(m);
    const auto by_doc = [](const Posting& x, std::size_t doc) { return x.doc < doc; };
    for (std::size_t j = 0; j < m; ++j) {
        bound[j] = idf_[ids[j]] * max_weight_[ids[j]];
        const auto list = postings(ids[j]);
        first[j] = list.data();
        cur[j] = std::lower_bound(list.data(), list.data() + list.size(), begin, by_doc);
        stop[j] = std::lower_bound(cur[j], list.data() + list.size(), end, by_doc);
    }
    // Slots by increasing bound; the first `k` of them are non-essential.
    std::vector<std::size_t> order(m);
    for (std::size_t j = 0; j < m; ++j) order[j] = j;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return bound[a] < bound[b] || (bound[a] == bound[b] && a < b);
    });
    std::vector<uint8_t> essential(m, 1);
    std::size_t k = 0;
    // The sum in query order with `value(slot)` for each known token and +0.0 otherwise.
    const auto fold = [&](auto&& value) {
        double sum = -0.0;
        for (const int j : slot_of_token) sum += j < 0 ? 0.0 * 0.0 : value(static_cast<std::size_t>(j));
        return sum;
    };
    const auto prefix_bound = [&](std::size_t count) {
        return fold([&](std::size_t j) {
            for (std::size_t i = 0; i < count; ++i)
                if (order[i] == j) return bound[j];
            return 0.0;
        });
    };

    // The block of each cursor: the largest product of its postings and where it ends.
    std::vector<const Posting*> block_end(m);
    std::vector<double> block_bound(m);
    const auto enter_block = [&](std::size_t j) {
        if (cur[j] == stop[j]) {
            block_bound[j] = 0.0;
            block_end[j] = stop[j];
            return;
        }
        const std::size_t i = static_cast<std::size_t>(cur[j] - first[j]) / kBlock;
        block_end[j] = std::min(first[j] + (i + 1) * kBlock, stop[j]);
        block_bound[j] = idf_[ids[j]] * block_max_[block_base_[ids[j]] + i];
    };
    for (std::size_t j = 0; j < m; ++j) enter_block(j);
    std::vector<std::size_t> ess(order), rest;  // essential and non-essential slots

    const std::size_t mask_len = allowed ? allowed->size() : 0;
    std::vector<double> product(m, 0.0);
    double theta = 0.0;
    bool blocks_changed = true;
    double block_upper = 0.0;  // bound of every document up to block_last
    uint32_t block_last = 0;
    for (;;) {
        // The next document of the essential terms.
        uint32_t d = UINT32_MAX;
        for (const std::size_t j : ess)
            if (cur[j] != stop[j] && cur[j]->doc < d) d = cur[j]->doc;
        if (d == UINT32_MAX) break;
        if (heap.full()) {
            // Every document from d to the end of the essential block that ends first
            // holds at most each essential term's block maximum: when even that cannot
            // beat the heap, all of them are skipped.
            if (blocks_changed) {
                block_last = UINT32_MAX;
                for (const std::size_t j : ess)
                    if (cur[j] != stop[j]) block_last = std::min(block_last, block_end[j][-1].doc);
                block_upper = fold([&](std::size_t j) { return essential[j] ? block_bound[j] : bound[j]; });
                blocks_changed = false;
            }
            if (!(block_upper > theta)) {
                for (const std::size_t j : ess) {
                    if (cur[j] == stop[j]) continue;
                    cur[j] = std::upper_bound(cur[j], block_end[j], block_last,
                                              [](uint32_t doc, const Posting& x) { return doc < x.doc; });
                    if (cur[j] == block_end[j]) enter_block(j);
                }
                blocks_changed = true;
                continue;
            }
        }
        for (const std::size_t j : ess) {
            product[j] = 0.0;
            if (cur[j] != stop[j] && cur[j]->doc == d) {
                product[j] = idf_[ids[j]] * weight_v<V>(ids[j], d, cur[j]->tf);
                if (++cur[j] == block_end[j]) {
                    enter_block(j);
                    blocks_changed = true;
                }
            }
        }
        if (d < mask_len && !(*allowed)[d]) continue;
        for (const std::size_t j : rest) product[j] = 0.0;
        if (heap.full() && !rest.empty()) {
            const double upper = fold([&](std::size_t j) { return essential[j] ? product[j] : bound[j]; });
            if (!(upper > theta)) continue;
        }
        for (const std::size_t j : rest) {
            // Gallop the non-essential cursor to the first posting at or after d.
            const Posting* p = cur[j];
            std::size_t step = 1;
            while (p + step < stop[j] && p[step].doc < d) {
                p += step;
                step *= 2;
            }
            const Posting* hi = std::min(p + step + 1, stop[j]);
            p = std::lower_bound(p, hi, d, [](const Posting& x, uint32_t doc) { return x.doc < doc; });
            cur[j] = p;
            if (p != stop[j] && p->doc == d) product[j] = idf_[ids[j]] * weight_v<V>(ids[j], d, p->tf);
        }
        const double score = fold([&](std::size_t j) { return product[j]; });
        if (!(score > 0.0)) continue;
        heap.offer({d, score});
        if (heap.full() && heap.min_score() != theta) {
            theta = heap.min_score();
            blocks_changed = true;
            bool moved = false;
            while (k < m && prefix_bound(k + 1) <= theta) {
                essential[order[k++]] = 0;
                moved = true;
            }
            if (moved) {
                ess.assign(order.begin() + static_cast<std::ptrdiff_t>(k), order.end());
                rest.assign(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(k));
                // A term leaving the essential set may have fallen behind; its block is
                // found again from its cursor when it is next galloped (the bound of a
                // non-essential term is its global one).
            }
        }
    }
}

template <Variant V>
std::vector<Scored> Bm25Engine::top_n_pruned(const Query& q, uint64_t n,
                                             std::optional<std::span<const uint8_t>> allowed) const {
    const std::size_t docs = num_docs();
    const std::size_t size = static_cast<std::size_t>(n);
    const std::size_t chunks = std::min<std::size_t>(docs / kDocsPerTask, 8 * parallel::num_threads());
    if (docs >= parallel::kBm25MinDocs && chunks > 1) {
        // Every part of the corpus keeps its own top n on the pool. The n-th best score T
        // of their union is the n-th best of the whole corpus. When no part that filled
        // its heap kept a minimum as high as T, every score of at least T is in the
        // union; when exactly n of them reach T (or there are fewer than n candidates in
        // all) they are the selection, and when their scores also differ from each other
        // (or more than 20 are sorted, where ties are unordered) the order is theirs by
        // score. Otherwise, which of several tied documents the heap keeps, and in what
        // order, depends on its history: the selection runs again over the whole corpus.
        std::vector<std::vector<Scored>> parts(chunks);
        std::vector<double> part_min(chunks);
        std::vector<uint8_t> part_full(chunks);
        parallel::for_each_index(chunks, true, [&](std::size_t c) {
            cancel::cancellation_point();
            const std::size_t b = docs * c / chunks, e = docs * (c + 1) / chunks;
            TopHeap heap(size);
            pruned_scan<V>(q, b, e, allowed, heap);
            part_full[c] = heap.full();
            part_min[c] = heap.full() ? heap.min_score() : 0.0;
            parts[c] = std::move(heap).take_sorted();
        });
        std::vector<Scored> all;
        for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
        std::sort(all.begin(), all.end(), [](const Scored& a, const Scored& b) {
            return a.score > b.score || (a.score == b.score && a.doc < b.doc);
        });
        bool exact = true;
        if (all.size() <= size) {
            // Fewer than n kept: exact only when no part dropped anything.
            for (std::size_t c = 0; c < chunks; ++c)
                if (part_full[c]) exact = false;
        } else {
            const double t = all[size - 1].score;
            exact = all[size].score < t;
            for (std::size_t c = 0; c < chunks && exact; ++c)
                if (part_full[c] && !(part_min[c] < t)) exact = false;
            all.resize(size);
        }
        if (exact && all.size() <= kStableSortMax)
            for (std::size_t i = 1; i < all.size(); ++i)
                if (all[i].score == all[i - 1].score) exact = false;
        if (exact) return all;
    }
    TopHeap heap(size);
    pruned_scan<V>(q, 0, docs, allowed, heap);
    return std::move(heap).take_sorted();
}

std::vector<Scored> Bm25Engine::top_n(const Query& q, uint64_t n,
                                      std::optional<std::span<const uint8_t>> allowed) const {
    const std::size_t docs = num_docs();
    // Without tokens no score is positive.
    if (docs == 0 || q.terms.empty() || n == 0) return {};
    if (prunable_ && !use_sort_path(docs, n)) {
        switch (variant_) {
            case Variant::Okapi: return top_n_pruned<Variant::Okapi>(q, n, allowed);
            case Variant::L: return top_n_pruned<Variant::L>(q, n, allowed);
            case Variant::Plus: return top_n_pruned<Variant::Plus>(q, n, allowed);
            case Variant::T: return top_n_pruned<Variant::T>(q, n, allowed);
        }
    }
    const ScoreScratch scratch(docs);
    double* acc = scratch.acc();
    uint64_t* touched = scratch.touched();
    const std::size_t tasks = (docs + kDocsPerTask - 1) / kDocsPerTask;
    parallel::for_each_index(tasks, docs >= parallel::kBm25MinDocs, [&](std::size_t k) {
        cancel::cancellation_point();
        const std::size_t begin = k * kDocsPerTask, end = std::min(docs, begin + kDocsPerTask);
        accumulate(q, begin, end, acc + begin, touched + begin / 64);
    });
    // Only positive scores are candidates, and a document that no token reaches scores
    // zero, so the selection visits the reached documents in index order.
    const std::size_t mask_len = allowed ? allowed->size() : 0;
    return select_top_n(docs, n, [&](auto&& visit) {
        scratch.for_each_reached([&](std::size_t d) {
            if (d < mask_len && !(*allowed)[d]) return;
            visit(d, acc[d]);
        });
    });
}

std::vector<TermValue> Bm25Engine::idf_map() const {
    std::vector<TermValue> out;
    out.reserve(terms_.size());
    for (std::size_t t = 0; t < terms_.size(); ++t) out.push_back({terms_.term(static_cast<uint32_t>(t)), idf_[t]});
    return out;
}

std::vector<TermValue> Bm25Engine::document_vector(std::size_t d) const {
    // Term frequencies from the forward list, then each distinct term's weight.
    absl::flat_hash_map<uint32_t, uint32_t> tf_of;
    for (const uint32_t t : doc_terms(d)) ++tf_of[t];
    std::vector<TermValue> out;
    out.reserve(tf_of.size());
    for (const auto& [t, f] : tf_of) out.push_back({terms_.term(t), weight(t, d, f)});
    return out;
}

std::vector<IdfWeight> Bm25Engine::term_weights(std::span<const std::string> tokens,
                                                std::size_t d) const {
    std::vector<IdfWeight> out;
    out.reserve(tokens.size());
    for (const std::string& token : tokens) {
        const auto id = term_id(token);
        if (!id) {
            out.push_back({0.0, 0.0});
            continue;
        }
        const uint32_t f = tf(*id, d);
        out.push_back({idf_[*id], f ? weight(*id, d, f) : 0.0});
    }
    return out;
}

std::vector<double> Bm25Engine::proximities(std::span<const std::string> tokens,
                                            std::span<const uint64_t> docs,
                                            uint64_t window) const {
    // The query's distinct known terms, and each token's slot among them.
    std::vector<uint32_t> ids;
    std::vector<int> slot_of_token;
    slot_of_token.reserve(tokens.size());
    for (const std::string& token : tokens) {
        const auto id = term_id(token);
        if (!id) {
            slot_of_token.push_back(-1);
            continue;
        }
        const auto it = std::find(ids.begin(), ids.end(), *id);
        slot_of_token.push_back(static_cast<int>(it - ids.begin()));
        if (it == ids.end()) ids.push_back(*id);
    }
    // A few terms are found by comparing ids, many through a map from id to slot.
    constexpr std::size_t kLinearSlots = 8;
    absl::flat_hash_map<uint32_t, std::size_t> slot_of_id;
    if (ids.size() > kLinearSlots)
        for (std::size_t j = 0; j < ids.size(); ++j) slot_of_id.emplace(ids[j], j);
    std::vector<std::vector<uint64_t>> positions(ids.size());
    std::vector<TokenPositions> per_token(tokens.size());
    std::vector<double> out;
    out.reserve(docs.size());
    for (const uint64_t d : docs) {
        // One scan of the document's forward list gives every slot its ascending positions.
        for (auto& p : positions) p.clear();
        const std::span<const uint32_t> terms = doc_terms(static_cast<std::size_t>(d));
        for (std::size_t pos = 0; pos < terms.size(); ++pos) {
            if (ids.size() > kLinearSlots) {
                const auto it = slot_of_id.find(terms[pos]);
                if (it != slot_of_id.end()) positions[it->second].push_back(pos);
                continue;
            }
            for (std::size_t j = 0; j < ids.size(); ++j)
                if (terms[pos] == ids[j]) {
                    positions[j].push_back(pos);
                    break;
                }
        }
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            const int j = slot_of_token[i];
            per_token[i] = j < 0 || positions[static_cast<std::size_t>(j)].empty()
                               ? TokenPositions{}
                               : TokenPositions{true, positions[static_cast<std::size_t>(j)]};
        }
        out.push_back(phrase_proximity_boost(per_token, window));
    }
    return out;
}

std::size_t Bm25Engine::memory_bytes() const noexcept {
    std::size_t bytes = text_.capacity() + doc_offsets_.capacity() * 8 +
                        tok_offsets_.capacity() * 8 + tokens_.capacity() * 4 +
                        length_factor_.capacity() * 8 + post_offsets_.capacity() * 8 +
                        postings_.capacity() * sizeof(Posting) + idf_.capacity() * 8 +
                        term_k1_.capacity() * 8 + terms_.memory_bytes();
    bytes += doc_index_.capacity() * (sizeof(std::pair<std::string_view, uint32_t>) + 1);
    return bytes;
}

}  // namespace tarnwick::search
