#include "search/index_dir/mmap_bm25_engine.hpp"

#include "cancel.hpp"
#include "search/index_dir/index_dir_files.hpp"
#include "search/tokenise/tokenise.hpp"

#include <algorithm>
#include <limits>
#include <utility>

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
        const FileBytes json = read_file(index_file(path, kMetaFile), meta_padding(), meta_max_bytes());
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
    index.checked_ = CheckedTerms(meta.terms.size());
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

void MmapBM25Index::bad_document(uint32_t id, uint32_t doc) const {
    throw CorruptIndexError("postings.bin: term " + quoted_term(meta_.terms.term(id)) +
                            " has a record of document " + std::to_string(doc) +
                            " but the index holds " + std::to_string(num_docs()) + " documents");
}

void MmapBM25Index::bad_position_count(uint32_t id, uint64_t sum) const {
    throw CorruptIndexError("positions.bin: the records of term " + quoted_term(meta_.terms.term(id)) +
                            " count " + std::to_string(sum) + " positions but the dictionary gives " +
                            std::to_string(meta_.dictionary[id].positions_count));
}

MmapBM25Index::CheckedTerms::CheckedTerms(std::size_t n)
    : n_(n), slots_(std::make_unique<std::atomic<const TermBounds*>[]>(n)) {}

MmapBM25Index::CheckedTerms::CheckedTerms(CheckedTerms&& o) noexcept
    : n_(std::exchange(o.n_, 0)), slots_(std::move(o.slots_)) {}

MmapBM25Index::CheckedTerms& MmapBM25Index::CheckedTerms::operator=(CheckedTerms&& o) noexcept {
    if (this != &o) {
        clear();
        n_ = std::exchange(o.n_, 0);
        slots_ = std::move(o.slots_);
    }
    return *this;
}

MmapBM25Index::CheckedTerms::~CheckedTerms() { clear(); }

void MmapBM25Index::CheckedTerms::clear() noexcept {
    for (std::size_t i = 0; i < n_; ++i) delete slots_[i].load(std::memory_order_relaxed);
    n_ = 0;
    slots_.reset();
}

auto MmapBM25Index::CheckedTerms::publish(uint32_t id, std::unique_ptr<TermBounds> b) const
    -> const TermBounds* {
    const TermBounds* expected = nullptr;
    if (slots_[id].compare_exchange_strong(expected, b.get(), std::memory_order_acq_rel))
        return b.release();
    return expected;
}

auto MmapBM25Index::check_records(uint32_t id) const -> const TermBounds& {
    const PostingRecords recs = mapped_records(id);
    const uint64_t docs = num_docs();
    auto bounds = std::make_unique<TermBounds>();
    bounds->block_max.assign((recs.size() + kBlock - 1) / kBlock, 0.0f);
    uint64_t sum = 0;
    for (std::size_t i = 0; i < recs.size(); ++i) {
        const MmapPosting r = recs[i];
        if (r.doc_id >= docs) bad_document(id, r.doc_id);
        if (i > 0 && r.doc_id <= recs.doc(i - 1))
            throw CorruptIndexError("postings.bin: the records of term " + quoted_term(meta_.terms.term(id)) +
                                    " are not in increasing document order");
        sum += r.n_positions;
        // NaN fails both comparisons; an infinite weight fails the second.
        if (!(r.weight >= 0.0f && r.weight <= std::numeric_limits<float>::max())) bounds->prunable = false;
        float& block = bounds->block_max[i / kBlock];
        block = std::max(block, r.weight);
        bounds->max_weight = std::max(bounds->max_weight, r.weight);
    }
    if (sum != meta_.dictionary[id].positions_count) bad_position_count(id, sum);
    return *checked_.publish(id, std::move(bounds));
}

PostingRecords MmapBM25Index::mapped_records(uint32_t id) const {
    const DictEntry& e = meta_.dictionary[id];
    return {postings_.bytes().data() + e.postings_offset * kPostingBytes,
            static_cast<std::size_t>(e.postings_count)};
}

PostingRecords MmapBM25Index::records(uint32_t id) const {
    if (!checked_.get(id)) check_records(id);
    return mapped_records(id);
}

auto MmapBM25Index::bounds(uint32_t id) const -> const TermBounds& {
    const TermBounds* b = checked_.get(id);
    return b ? *b : check_records(id);
}

std::optional<std::size_t> MmapBM25Index::find_record(uint32_t id, std::size_t d) const {
    const PostingRecords recs = records(id);
    // Binary search by document number over the term's records, which are in increasing
    // order; whatever they hold, the index found lies among them.
    std::size_t base = 0, size = recs.size();
    if (size == 0) return std::nullopt;
    while (size > 1) {
        const std::size_t half = size / 2;
        if (recs.doc(base + half) <= d) base += half;
        size -= half;
    }
    if (recs.doc(base) != d) return std::nullopt;
    return base;
}

std::vector<uint32_t> MmapBM25Index::resolve(std::string_view query) const {
    std::vector<uint32_t> out;
    for_each_term(query, meta_.normalize, [&](std::string_view term) {
        const auto id = term_with_records(term);
        out.push_back(id ? *id : kNoTerm);
    });
    return out;
}

void MmapBM25Index::accumulate(std::span<const uint32_t> tokens, double* acc, uint64_t* touched) const {
    cancel::Budget budget;
    const uint64_t docs = num_docs();
    for (const uint32_t id : tokens) {
        if (id == kNoTerm) continue;
        const double idf = meta_.idf[id];
        const PostingRecords recs = records(id);
        // Each document number is compared with the bound where it is used: the records
        // were checked once, but the mapping may have been rewritten since.
        if (!touched) {
            for (std::size_t i = 0; i < recs.size(); ++i) {
                const uint32_t d = recs.doc(i);
                if (d >= docs) [[unlikely]] bad_document(id, d);
                acc[d] += idf * static_cast<double>(recs.weight(i));
            }
        } else {
            // The records are in increasing document order: the bits of one word of
            // `touched` are gathered in a register and stored once per word.
            uint64_t word = 0, bits = 0;
            for (std::size_t i = 0; i < recs.size(); ++i) {
                const uint32_t d = recs.doc(i);
                if (d >= docs) [[unlikely]] bad_document(id, d);
                acc[d] += idf * static_cast<double>(recs.weight(i));
                if ((d >> 6) != word) {
                    touched[word] |= bits;
                    word = d >> 6;
                    bits = 0;
                }
                bits |= uint64_t{1} << (d & 63);
            }
            touched[word] |= bits;
        }
        budget.spend(recs.size() * kPostingBytes);
    }
}

std::vector<double> MmapBM25Index::all_scores(std::string_view query) const {
    std::vector<double> out(num_docs(), 0.0);
    if (!out.empty()) accumulate(resolve(query), out.data(), nullptr);
    return out;
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
        if (const auto r = find_record(id, d)) out.push_back({meta_.terms.term(id), records(id).weight(*r)});
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
            if (const auto r = find_record(*t, d)) w.weight = records(*t).weight(*r);
        out.push_back(w);
    }
    return out;
}

void MmapBM25Index::term_positions(std::span<const std::string> tokens, std::span<const uint64_t> docs,
                                   const PositionsVisit& visit) const {
    // The distinct terms (with records) of the tokens, each with where every record's
    // positions start (after those of the term's earlier records) and how many there are,
    // copied once: their sum was compared with the term's range, which lies inside the file.
    struct Term {
        uint32_t id;
        std::vector<uint64_t> starts;  // by record; empty when the term has no positions
        std::vector<uint32_t> counts;  // by record, beside starts
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
        Term t{*id, {}, {}};
        const DictEntry& e = meta_.dictionary[*id];
        if (e.positions_count > 0) {
            const PostingRecords recs = records(*id);
            t.starts.reserve(recs.size());
            t.counts.reserve(recs.size());
            uint64_t at = e.positions_offset;
            const uint64_t end = e.positions_offset + e.positions_count;
            for (std::size_t i = 0; i < recs.size(); ++i) {
                const uint32_t count = recs.n_positions(i);
                if (count > end - at) bad_position_count(*id, at - e.positions_offset + count);
                t.starts.push_back(at);
                t.counts.push_back(count);
                at += count;
            }
            if (at != end) bad_position_count(*id, at - e.positions_offset);
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
            const char* from = positions_.bytes().data() + 4 * t.starts[*r];
            for (uint32_t k = 0; k < t.counts[*r]; ++k) positions[j].push_back(load_u32(from + 4 * k));
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
