// The metadata of an index directory (record MmapMeta, the file "meta.json"): written in the
// writer's form, and read back.
//
// The writer's form: {"corpus":[texts],"idf":{term:idf},"dictionary":{term:[postings_offset,
// postings_count,positions_offset,positions_count]},"num_docs":N,"normalize":flag}, compact
// (json_write.hpp), terms in id order in "idf" and in "dictionary".
//
// Accepted forms: a JSON object with the members "corpus" (array of strings), "idf" (object
// of numbers), "dictionary" (object of arrays of exactly four non-negative integers),
// "num_docs" (non-negative integer) and "normalize" (boolean) in any order, unknown
// members skipped; or a JSON array of exactly those five values in that order. Only JSON
// whitespace may follow the value. Within "idf" and "dictionary" a key given twice keeps
// its last value.
//
// Refusals carry the decoder's wording followed by " at line {} column {}" (1-based, bytes)
// where the fault was found: "missing field `{}`", "duplicate field `{}`", "invalid type:
// {found}, expected {what}" (json_describe.hpp names the value found; a null idf is one),
// "invalid value: integer `{}`, expected {what}" for a negative count, "invalid length {},
// expected struct MmapMeta with 5 elements" for a short array form, "invalid length {},
// expected an array of length 4" for a short dictionary entry, "trailing characters" after
// the value or a fifth count, "EOF while parsing a value" for an empty text, and the JSON
// parser's own message for malformed JSON.
#pragma once

#include "search/bm25/term_table.hpp"
#include "search/index_dir/index_dir_files.hpp"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::search {

/// A term's range in "postings.bin" (in records) and in "positions.bin" (in positions).
struct DictEntry {
    uint64_t postings_offset = 0;
    uint64_t postings_count = 0;
    uint64_t positions_offset = 0;
    uint64_t positions_count = 0;
};

struct MmapMeta {
    std::shared_ptr<const void> storage;   // owns the bytes the corpus texts view
    std::vector<std::string_view> docs;    // the corpus texts
    TermTable terms;                       // every key of "idf" and of "dictionary"
    std::vector<double> idf;               // by term id; 0.0 for a term without an idf
    std::vector<uint8_t> has_idf;          // by term id: a key of "idf"
    std::vector<uint8_t> in_dictionary;    // by term id: a key of "dictionary"
    std::vector<DictEntry> dictionary;     // by term id
    uint64_t num_docs = 0;
    bool normalize = false;

    std::size_t corpus_size() const noexcept { return docs.size(); }
    std::string_view doc(std::size_t d) const noexcept { return docs[d]; }
};

/// What the writer stores in "meta.json".
struct MetaContent {
    std::string_view texts;                 // the corpus texts, one after another
    std::span<const uint64_t> text_offsets; // N + 1 offsets into texts
    const TermTable& terms;                 // every term, by id
    std::span<const double> idf;            // by term id
    std::span<const DictEntry> dictionary;  // by term id
    bool normalize;
};

/// Writes `meta` to `out` in the writer's form; a cancellation point (cancel.hpp).
void write_mmap_meta(DirectoryWrite::File& out, const MetaContent& meta);

/// The padding the parser reads after the text: `meta_padding()` bytes after the text's end
/// must be readable.
std::size_t meta_padding() noexcept;

/// The largest text the parser reads (4 GiB less one byte): a longer "meta.json" is refused
/// before it is read.
std::size_t meta_max_bytes() noexcept;

/// Parses the text of "meta.json" (followed by meta_padding() readable bytes). Throws
/// IndexDirError with the refusal's message.
MmapMeta parse_mmap_meta(std::string_view json);

}  // namespace tarnwick::search
