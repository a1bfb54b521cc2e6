// The metadata of an index directory (record MmapMeta, the file "meta.json") read back.
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

#include "search/term_table.hpp"

#include <cstdint>
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
    std::vector<char> text;                // the corpus texts, one after another
    std::vector<uint64_t> doc_offsets{0};  // corpus text d is text[doc_offsets[d], [d + 1])
    TermTable terms;                       // every key of "idf" and of "dictionary"
    std::vector<double> idf;               // by term id; 0.0 for a term without an idf
    std::vector<uint8_t> has_idf;          // by term id: a key of "idf"
    std::vector<uint8_t> in_dictionary;    // by term id: a key of "dictionary"
    std::vector<DictEntry> dictionary;     // by term id
    uint64_t num_docs = 0;
    bool normalize = false;

    std::size_t corpus_size() const noexcept { return doc_offsets.size() - 1; }
    std::string_view doc(std::size_t d) const noexcept {
        return {text.data() + doc_offsets[d], doc_offsets[d + 1] - doc_offsets[d]};
    }
};

/// The padding the parser needs after the text: `json` must have at least this much spare
/// capacity beyond its size.
std::size_t meta_padding() noexcept;

/// Parses the text of "meta.json". Throws IndexDirError with the refusal's message.
MmapMeta parse_mmap_meta(const std::string& json);

}  // namespace tarnwick::search
