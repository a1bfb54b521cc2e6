#include "search/index_dir/mmap_bm25_engine.hpp"

#include "cancel.hpp"
#include "search/index_dir/index_dir_files.hpp"
#include "search/ranking/score_scratch.hpp"
#include "search/tokenise/tokenise.hpp"
#include "search/ranking/top_n.hpp"

#include <algorithm>

namespace tarnwick::search {
namespace {

/// Whether [offset, offset + count) lies inside [0, size), without overflow.
bool range_inside(uint64_t offset, uint64_t count, uint64_t size) noexcept {
    return count <= size && offset <= size - count;
}

std::string quoted_term(std::string_view term) {
    std::string out = "'";
    out.append(term);
    out.push_back('\'');
    return out;
}

}  // namespace

MmapBM25Index::MmapBM25Index(MmapBM25Index&&) noexcept = default;
MmapBM25Index& MmapBM25Index::operator=(MmapBM25Index&&) noexcept = default;
MmapBM25Index::~MmapBM25Index() = default;

MmapBM25Index MmapBM25Index::load(const std::string& path) {
    MmapBM25Index index;
    {
        const FileBytes json = read_file(index_file(path, kMetaFile), meta_padding());
        index.meta_ = parse_mmap_meta(json.view());
    }
    const MmapMeta& meta = index.meta_;
    if (meta.num_docs != meta.corpus_size())
        throw IndexDirError("meta.json: num_docs is " + std::to_string(meta.num_docs) +
                            " but the corpus holds " + std::to_string(meta.corpus_size()) + " texts");
    index.postings_ = MemoryMap::open(index_file(path, kPostingsFile));
    index.positions_ = MemoryMap::open(index_file(path, kPositionsFile));

    const uint64_t records = index.postings_.bytes().size() / kPostingBytes;
    const uint64_t positions = index.positions_.bytes().size() / 4;
    for (uint32_t id = 0; id < meta.terms.size(); ++id) {
        if (!meta.in_dictionary[id]) continue;
        const DictEntry& e = meta.dictionary[id];
        if (!range_inside(e.postings_offset, e.postings_count, records))
            throw IndexDirError("postings.bin: the records of term " + quoted_term(meta.terms.term(id)) +
                                " (" + std::to_string(e.postings_count) + " from record " +
                                std::to_string(e.postings_offset) + ") lie beyond the end of the file (" +
                                std::to_string(records) + " records)");
        if (!range_inside(e.positions_offset, e.positions_count, positions))
            throw IndexDirError("positions.bin: the positions of term " + quoted_term(meta.terms.term(id)) +
                                " (" + std::to_string(e.positions_count) + " from position " +
                                std::to_string(e.positions_offset) + ") lie beyond the end of the file (" +
                                std::to_string(positions) + " positions)");
    }

    index.doc_index_ = std::make_unique<DocIndex>();
    index.checked_ = std::make_unique<std::atomic<uint8_t>[]>(meta.terms.size());
    return index;
}

std::optional<uint64_t> MmapBM25Index::doc_index(std::string_view text) const {
    DocIndex& index = *doc_index_;
    std::call_once(index.built, [&] {
        index.map.reserve(meta_.corpus_size());
        for (std::size_t d = 0; d < meta_.corpus_size(); ++d) index.map.insert_or_assign(meta_.doc(d), d);
    });
    const auto it = index.map.find(text);
    if (it == index.map.end()) return std::nullopt;
    return it->second;
}

std::optional<uint32_t> MmapBM25Index::term_with_records(std::string_view term) const {
    const auto id = meta_.terms.find(term);
    if (!id || !meta_.in_dictionary[*id] || meta_.dictionary[*id].postings_count == 0) return std::nullopt;
    return id;
}

void MmapBM25Index::check_records(uint32_t id) const {
    const DictEntry& e = meta_.dictionary[id];
    const char* p = postings_.bytes().data() + e.postings_offset * kPostingBytes;
    const uint64_t docs = num_docs();
    uint64_t sum = 0;
    for (uint64_t i = 0; i < e.postings_count; ++i, p += kPostingBytes) {
        const MmapPosting r = load_posting(p);
        if (r.doc_id >= docs)
            throw CorruptIndexError("postings.bin: term " + quoted_term(meta_.terms.term(id)) +
                                    " has a record of document " + std::to_string(r.doc_id) +
                                    " but the index holds " + std::to_string(docs) + " documents");
        if (i > 0 && r.doc_id <= load_u32(p - kPostingBytes))
            throw CorruptIndexError("postings.bin: the records of term " + quoted_term(meta_.terms.term(id)) +
                                    " are not in increasing document order");
        sum += r.n_positions;
    }
    if (sum != e.positions_count)
        throw CorruptIndexError("positions.bin: the records of term " + quoted_term(meta_.terms.term(id)) +
                                " count " + std::to_string(sum) + " positions but the dictionary gives " +
                                std::to_string(e.positions_count));
    checked_[id].store(1, std::memory_order_release);
}

std::span<const char> MmapBM25Index::records(uint32_t id) const {
    if (checked_[id].load(std::memory_order_acquire) == 0) check_records(id);
    const DictEntry& e = meta_.dictionary[id];
    return postings_.bytes().subspan(e.postings_offset * kPostingBytes, e.postings_count * kPostingBytes);
}

std::optional<std::size_t> MmapBM25Index::find_record(uint32_t id, std::size_t d) const {
    const std::span<const char> recs = records(id);
    // Binary search by document number over the term's records, which are in increasing order.
    std::size_t base = 0, size = recs.size() / kPostingBytes;
    if (size == 0) return std::nullopt;
    while (size > 1) {
        const std::size_t half = size / 2;
        if (load_u32(recs.data() + (base + half) * kPostingBytes) <= d) base += half;
        size -= half;
    }
    if (load_u32(recs.data() + base * kPostingBytes) != d) return std::nullopt;
    return base;
}

void MmapBM25Index::accumulate(std::string_view query, double* acc, uint64_t* touched) const {
    cancel::Budget budget;
    for_each_term(query, meta_.normalize, [&](std::string_view term) {
        const auto id = term_with_records(term);
        if (!id) return;
        const double idf = meta_.idf[*id];
        const std::span<const char> recs = records(*id);
        const char* const end = recs.data() + recs.size();
        if (!touched) {
            for (const char* p = recs.data(); p != end; p += kPostingBytes)
                acc[load_u32(p)] += idf * static_cast<double>(load_f32(p + 4));
        } else {
            // The records are in increasing document order: the bits of one word of
            // `touched` are gathered in a register and stored once per word.
            uint64_t word = 0, bits = 0;
            for (const char* p = recs.data(); p != end; p += kPostingBytes) {
                const uint32_t d = load_u32(p);
                acc[d] += idf * static_cast<double>(load_f32(p + 4));
                if ((d >> 6) != word) {
                    touched[word] |= bits;
                    word = d >> 6;
                    bits = 0;
                }
                bits |= uint64_t{1} << (d & 63);
            }
            touched[word] |= bits;
        }
        budget.spend(recs.size());
    });
}

std::vector<double> MmapBM25Index::all_scores(std::string_view query) const {
    std::vector<double> out(num_docs(), 0.0);
    if (!out.empty()) accumulate(query, out.data(), nullptr);
    return out;
}

std::vector<Scored> MmapBM25Index::top_n(std::string_view query, uint64_t n, Mask allowed) const {
    const std::size_t docs = num_docs();
    if (docs == 0 || n == 0) return {};
    ScoreScratch scratch(docs);
    accumulate(query, scratch.acc(), scratch.touched());
    // A document that no token reaches scores +0.0 and is never a candidate.
    const std::size_t mask_len = allowed ? allowed->size() : 0;
    return select_top_n(docs, n, [&](auto&& visit) {
        scratch.drain([&](std::size_t d, double score) {
            if (d < mask_len && !(*allowed)[d]) return;
            visit(d, score);
        });
    });
}

std::vector<TermValue> MmapBM25Index::idf_map() const {
    std::vector<TermValue> out;
    for (uint32_t id = 0; id < meta_.terms.size(); ++id)
        if (meta_.has_idf[id]) out.push_back({meta_.terms.term(id), meta_.idf[id]});
    return out;
}

std::vector<TermValue> MmapBM25Index::document_vector(std::size_t d) const {
    std::vector<TermValue> out;
    for (uint32_t id = 0; id < meta_.terms.size(); ++id) {
        if (!meta_.in_dictionary[id] || meta_.dictionary[id].postings_count == 0) continue;
        if (const auto r = find_record(id, d))
            out.push_back({meta_.terms.term(id), load_f32(records(id).data() + *r * kPostingBytes + 4)});
    }
    return out;
}

std::vector<IdfWeight> MmapBM25Index::term_weights(std::span<const std::string> tokens,
                                                   std::size_t d) const {
    std::vector<IdfWeight> out;
    out.reserve(tokens.size());
    for (const std::string& token : tokens) {
        const auto id = meta_.terms.find(token);
        IdfWeight w{id ? meta_.idf[*id] : 0.0, 0.0};
        if (const auto t = term_with_records(token))
            if (const auto r = find_record(*t, d))
                w.weight = load_f32(records(*t).data() + *r * kPostingBytes + 4);
        out.push_back(w);
    }
    return out;
}

void MmapBM25Index::term_positions(std::span<const std::string> tokens, std::span<const uint64_t> docs,
                                   const PositionsVisit& visit) const {
    // The distinct terms (with records) of the tokens, each with where every record's
    // positions start: after those of the term's earlier records.
    struct Term {
        uint32_t id;
        std::vector<uint64_t> starts;  // by record; empty when the term has no positions
    };
    std::vector<Term> terms;
    std::vector<int> slot_of_token;
    slot_of_token.reserve(tokens.size());
    for (const std::string& token : tokens) {
        const auto id = term_with_records(token);
        if (!id) {
            slot_of_token.push_back(-1);
            continue;
        }
        const auto it = std::find_if(terms.begin(), terms.end(), [&](const Term& t) { return t.id == *id; });
        slot_of_token.push_back(static_cast<int>(it - terms.begin()));
        if (it != terms.end()) continue;
        Term t{*id, {}};
        const DictEntry& e = meta_.dictionary[*id];
        if (e.positions_count > 0) {
            const std::span<const char> recs = records(*id);
            t.starts.reserve(e.postings_count);
            uint64_t at = e.positions_offset;
            for (const char* p = recs.data(); p != recs.data() + recs.size(); p += kPostingBytes) {
                t.starts.push_back(at);
                at += load_u32(p + 8);
            }
        }
        terms.push_back(std::move(t));
    }
    std::vector<std::vector<uint64_t>> positions(terms.size());
    std::vector<uint8_t> present(terms.size());
    std::vector<TokenPositions> per_token(tokens.size());
    for (std::size_t k = 0; k < docs.size(); ++k) {
        const uint64_t d = docs[k];
        for (std::size_t j = 0; j < terms.size(); ++j) {
            const Term& t = terms[j];
            positions[j].clear();
            const auto r = find_record(t.id, static_cast<std::size_t>(d));
            present[j] = r.has_value();
            if (!r || t.starts.empty()) continue;
            const uint32_t count = load_u32(records(t.id).data() + *r * kPostingBytes + 8);
            const char* from = positions_.bytes().data() + 4 * t.starts[*r];
            for (uint32_t k = 0; k < count; ++k) positions[j].push_back(load_u32(from + 4 * k));
        }
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            const int j = slot_of_token[i];
            per_token[i] = j < 0 || !present[static_cast<std::size_t>(j)]
                               ? TokenPositions{}
                               : TokenPositions{true, positions[static_cast<std::size_t>(j)]};
        }
        visit(k, per_token);
    }
}

}  // namespace tarnwick::search
