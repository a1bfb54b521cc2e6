#include "search/bm25/bm25_engine.hpp"

#include "parallel.hpp"
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

/// Appends every index of `terms` that holds ids[j] to positions[j] (the ids are distinct).
void scan_slots(DocTerms terms, std::span<const uint32_t> ids, std::vector<uint64_t>* positions) {
    std::size_t pos = 0;
    for (const uint32_t t : terms) {
        for (std::size_t j = 0; j < ids.size(); ++j)
            if (t == ids[j]) {
                positions[j].push_back(pos);
                break;
            }
        ++pos;
    }
}

}  // namespace

Bm25Engine::Bm25Engine(Variant variant, std::span<const std::string_view> corpus,
                       Bm25Params params)
    : variant_(variant), params_(params) {
    if (corpus.size() >= UINT32_MAX) throw std::length_error("corpus has too many documents");
    // The texts, one after another.
    std::size_t total_bytes = 0;
    for (const std::string_view s : corpus) total_bytes += s.size();
    text_.reserve(total_bytes);
    for (const std::string_view s : corpus) text_.insert(text_.end(), s.begin(), s.end());
    docs_->reserve(corpus.size());
    std::size_t at = 0;
    for (const std::string_view s : corpus) {
        docs_->emplace_back(text_.data() + at, s.size());
        at += s.size();
    }
    build();
}

Bm25Engine Bm25Engine::borrowing(Variant variant, std::vector<std::string_view> corpus,
                                 Bm25Params params) {
    if (corpus.size() >= UINT32_MAX) throw std::length_error("corpus has too many documents");
    Bm25Engine e(variant, params);
    *e.docs_ = std::move(corpus);
    e.build();
    return e;
}

void Bm25Engine::build() {
    const std::size_t n = num_docs();
    std::size_t total_bytes = 0;
    for (const std::string_view s : *docs_) total_bytes += s.size();

    // Tokenise every document once, interning its terms, and enter it as its text's
    // document (a later document of an equal text replaces the earlier one).
    corpus_.reserve(n, total_bytes / 3 + 16);  // about two bytes an id, an id every six bytes
    doc_index_.reserve(n);
    for (std::size_t d = 0; d < n; ++d) {
        cancel::cancellation_point();
        corpus_.add(doc(d), params_.normalize);
        const auto [it, inserted] = doc_index_.insert(static_cast<uint32_t>(d));
        if (!inserted) {
            doc_index_.erase(it);
            doc_index_.insert(static_cast<uint32_t>(d));
        }
    }
    corpus_.shrink_to_fit();

    // Postings (a term's df is its list's length), avgdl, idf, K(d) and BM25T's k1_t.
    CorpusStatistics stats = corpus_statistics(corpus_, variant_, variant_, params_.k1, params_.b);
    avgdl_ = stats.avgdl;
    post_offsets_ = std::move(stats.lists.offsets);
    postings_ = std::move(stats.lists.postings);
    idf_ = std::move(stats.idf);
    set_length_factors(std::move(stats.length_factor));
    term_k1_ = std::move(stats.term_k1);
    pack_postings();
    compute_max_weights();
}

void Bm25Engine::pack_postings() {
    for (std::size_t i = 0; i < postings_.size(); ++i) {
        Posting& p = postings_[i];
        if (p.tf >= kManyTf) many_tf_.emplace_back(i, p.tf);
        const uint32_t code = length_code_.empty() ? 0 : length_code_[p.doc];
        p.tf = std::min(p.tf, kManyTf) | code << 16;
    }
    many_tf_.shrink_to_fit();
}

uint32_t Bm25Engine::many_tf(const Posting* p) const noexcept {
    const uint64_t i = static_cast<uint64_t>(p - postings_.data());
    return std::lower_bound(many_tf_.begin(), many_tf_.end(), i,
                            [](const auto& e, uint64_t index) { return e.first < index; })
        ->second;
}

void Bm25Engine::set_length_factors(std::vector<double> by_doc) {
    // Values are told apart by their bits (each code stands for exactly one double).
    constexpr std::size_t kCodes = std::size_t{1} << 16;
    weight_table_.clear();
    absl::flat_hash_map<uint64_t, uint16_t> code_of;
    std::vector<uint16_t> code(by_doc.size());
    std::vector<double> table;
    for (std::size_t d = 0; d < by_doc.size(); ++d) {
        const auto [it, inserted] = code_of.try_emplace(std::bit_cast<uint64_t>(by_doc[d]),
                                                        static_cast<uint16_t>(table.size()));
        if (inserted) {
            if (table.size() == kCodes) {
                length_table_ = std::move(by_doc);
                length_code_.clear();
                return;
            }
            table.push_back(by_doc[d]);
        }
        code[d] = it->second;
    }
    length_table_ = std::move(table);
    length_code_ = std::move(code);
    if (variant_ == Variant::T) return;
    weight_table_.assign(length_table_.size() * kTableTf, 0.0);
    for (std::size_t c = 0; c < length_table_.size(); ++c)
        for (uint32_t tf = 1; tf < kTableTf; ++tf)
            weight_table_[c * kTableTf + tf] = bm25::weight(variant_, params_, 0.0, tf, length_table_[c]);
}

void Bm25Engine::compute_max_weights() {
    const std::size_t v = idf_.size();
    max_weight_.assign(v, 0.0);
    block_base_.assign(v + 1, 0);
    for (std::size_t t = 0; t < v; ++t)
        block_base_[t + 1] = block_base_[t] + (postings(static_cast<uint32_t>(t)).size() + kBlock - 1) / kBlock;
    block_max_.assign(block_base_[v], 0.0);
    prunable_ = true;
    bm25::with_variant(variant_, [&]<Variant V>() {
        for (std::size_t t = 0; t < v; ++t) {
            const auto id = static_cast<uint32_t>(t);
            const auto list = postings(id);
            double m = 0.0;
            for (std::size_t i = 0; i < list.size(); ++i) {
                const double w = posting_weight<V>(id, list[i]);
                if (!(w >= 0.0)) prunable_ = false;  // negative or NaN
                if (w > m) m = w;
                double& bm = block_max_[block_base_[t] + i / kBlock];
                if (w > bm) bm = w;
            }
            max_weight_[t] = m;
        }
    });
}

double Bm25Engine::weight(uint32_t id, std::size_t d, uint32_t tf) const noexcept {
    return bm25::with_variant(variant_, [&]<Variant V>() { return weight_v<V>(id, d, tf); });
}

std::optional<uint64_t> Bm25Engine::doc_index(std::string_view text) const {
    const auto it = doc_index_.find(text);
    if (it == doc_index_.end()) return std::nullopt;
    return *it;
}

uint32_t Bm25Engine::tf(uint32_t id, std::size_t d) const noexcept {
    const auto list = postings(id);
    const auto it = std::lower_bound(list.begin(), list.end(), d,
                                     [](const Posting& p, std::size_t doc) { return p.doc < doc; });
    return it != list.end() && it->doc == d ? tf_of(*it) : 0;
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
        const auto list = postings(t);
        const auto by_doc = [](const Posting& x, std::size_t doc) { return x.doc < doc; };
        const Posting* p = list.data();
        const Posting* stop = p + list.size();
        if (begin > 0) p = std::lower_bound(p, stop, begin, by_doc);
        if (end < num_docs()) stop = std::lower_bound(p, stop, end, by_doc);
        // The list is in increasing document order: the bits of one word of `touched` are
        // gathered in a register and stored once per word (an update of the word in memory
        // per posting would wait for the previous one).
        std::size_t word = 0;
        uint64_t bits = 0;
        const auto add = [&](std::size_t d, double product) {
            const std::size_t i = d - begin;
            acc[i] += product;
            if ((i >> 6) != word) {
                touched[word] |= bits;
                word = i >> 6;
                bits = 0;
            }
            bits |= uint64_t{1} << (i & 63);
        };
        for_each_product<V>(t, p, static_cast<std::size_t>(stop - p),
                            [&](std::size_t i, double product) { add(p[i].doc, product); });
        touched[word] |= bits;
    }
}

void Bm25Engine::accumulate(const Query& q, std::size_t begin, std::size_t end, double* acc,
                            uint64_t* touched) const {
    bm25::with_variant(variant_, [&]<Variant V>() { accumulate_v<V>(q, begin, end, acc, touched); });
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

std::vector<TermValue> Bm25Engine::idf_map() const {
    std::vector<TermValue> out;
    out.reserve(corpus_.terms().size());
    for (std::size_t t = 0; t < corpus_.terms().size(); ++t) out.push_back({corpus_.terms().term(static_cast<uint32_t>(t)), idf_[t]});
    return out;
}

std::vector<TermValue> Bm25Engine::document_vector(std::size_t d) const {
    // Term frequencies from the forward list, then each distinct term's weight.
    absl::flat_hash_map<uint32_t, uint32_t> tf_of;
    for (const uint32_t t : doc_terms(d)) ++tf_of[t];
    std::vector<TermValue> out;
    out.reserve(tf_of.size());
    for (const auto& [t, f] : tf_of) out.push_back({corpus_.terms().term(t), weight(t, d, f)});
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

void Bm25Engine::term_positions(std::span<const std::string> tokens, std::span<const uint64_t> docs,
                                const PositionsVisit& visit) const {
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
    std::size_t k = 0;
    for (const uint64_t d : docs) {
        // One scan of the document's forward list gives every slot its ascending positions.
        for (auto& p : positions) p.clear();
        const DocTerms terms = doc_terms(static_cast<std::size_t>(d));
        if (ids.size() > kLinearSlots) {
            std::size_t pos = 0;
            for (const uint32_t t : terms) {
                const auto it = slot_of_id.find(t);
                if (it != slot_of_id.end()) positions[it->second].push_back(pos);
                ++pos;
            }
        } else {
            scan_slots(terms, ids, positions.data());
        }
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            const int j = slot_of_token[i];
            per_token[i] = j < 0 || positions[static_cast<std::size_t>(j)].empty()
                               ? TokenPositions{}
                               : TokenPositions{true, positions[static_cast<std::size_t>(j)]};
        }
        visit(k++, per_token);
    }
}

std::size_t Bm25Engine::memory_bytes() const noexcept {
    std::size_t bytes = text_.capacity() + docs_->capacity() * sizeof(std::string_view) + corpus_.memory_bytes() +
                        length_table_.capacity() * 8 + length_code_.capacity() * 2 +
                        weight_table_.capacity() * 8 + post_offsets_.capacity() * 8 +
                        postings_.capacity() * sizeof(Posting) + many_tf_.capacity() * 16 + idf_.capacity() * 8 +
                        term_k1_.capacity() * 8;
    bytes += text_id_set_bytes(doc_index_);
    return bytes;
}

}  // namespace tarnwick::search
