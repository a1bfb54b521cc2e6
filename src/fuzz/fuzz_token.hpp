// Token scorers: texts compared as collections of whitespace-separated words, by their
// sorted tokens (token sort), their token sets (token set) or both, on a 0 to 100 scale;
// and the query token cache that the batch functions build once per query. Free of Python.
#pragma once

#include "fuzz/fuzz_ratio.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::fuzz {

/// What the batch functions compute once per query for the token scorers. Immutable after
/// construction, so worker threads may share it.
struct QueryTokenCache {
    /// Builds the cache of a query text (well-formed UTF-8).
    explicit QueryTokenCache(std::string_view query);
    /// Builds the cache of a byte string read as UTF-8 (lossily when malformed).
    static QueryTokenCache from_bytes(std::span<const uint8_t> query);

    std::string sorted_key;           // tokens sorted byte-wise, duplicates kept, joined by ' '
    std::vector<std::string> tokens;  // the distinct tokens in ascending order
    uint64_t masks[256] = {};         // bit i of masks[c]: byte i of sorted_key is c (valid only)
    uint32_t histogram[256] = {};     // occurrences of each byte value in sorted_key
    bool valid = false;               // sorted_key is pure ASCII and 1 to 64 bytes long
};

/// 100 * normalized Indel similarity of two texts, as bytes when both are pure ASCII and as
/// code points otherwise; 100 for two empty texts.
double indel_score_100(std::string_view a, std::string_view b);

// The token scorers on two well-formed UTF-8 texts, with the cut-off applied: the scores
// of the fuzz_ functions of the same names on inputs that read as these texts.
/// fuzz_token_sort_ratio.
double token_sort_ratio_text(std::string_view a, std::string_view b, std::optional<double> cutoff);
/// fuzz_token_set_ratio.
double token_set_ratio_text(std::string_view a, std::string_view b, std::optional<double> cutoff);
/// fuzz_token_ratio.
double token_ratio_text(std::string_view a, std::string_view b, std::optional<double> cutoff);
/// fuzz_partial_token_sort_ratio.
double partial_token_sort_ratio_text(std::string_view a, std::string_view b,
                                     std::optional<double> cutoff);
/// fuzz_partial_token_set_ratio.
double partial_token_set_ratio_text(std::string_view a, std::string_view b,
                                    std::optional<double> cutoff);
/// fuzz_partial_token_ratio.
double partial_token_ratio_text(std::string_view a, std::string_view b, std::optional<double> cutoff);

// The token scorers on two texts given as code points (no surrogates; not both pure
// ASCII), with the cut-off applied: the scores of the _text forms on their UTF-8 forms.
/// fuzz_token_sort_ratio.
double token_sort_ratio_wide(std::u32string_view a, std::u32string_view b,
                             std::optional<double> cutoff);
/// fuzz_token_set_ratio.
double token_set_ratio_wide(std::u32string_view a, std::u32string_view b,
                            std::optional<double> cutoff);
/// fuzz_token_ratio.
double token_ratio_wide(std::u32string_view a, std::u32string_view b, std::optional<double> cutoff);
/// fuzz_partial_token_sort_ratio.
double partial_token_sort_ratio_wide(std::u32string_view a, std::u32string_view b,
                                     std::optional<double> cutoff);
/// fuzz_partial_token_set_ratio.
double partial_token_set_ratio_wide(std::u32string_view a, std::u32string_view b,
                                    std::optional<double> cutoff);
/// fuzz_partial_token_ratio.
double partial_token_ratio_wide(std::u32string_view a, std::u32string_view b,
                                std::optional<double> cutoff);

// The token scorers on two converted sequences, read as text (Seq::to_string_lossy), with
// the cut-off applied: the scores of the fuzz_ functions of the same names.
/// fuzz_token_sort_ratio.
double token_sort_ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff);
/// fuzz_token_set_ratio.
double token_set_ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff);
/// fuzz_token_ratio.
double token_ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff);
/// fuzz_partial_token_sort_ratio.
double partial_token_sort_ratio(const types::Seq& a, const types::Seq& b,
                                std::optional<double> cutoff);
/// fuzz_partial_token_set_ratio.
double partial_token_set_ratio(const types::Seq& a, const types::Seq& b,
                               std::optional<double> cutoff);
/// fuzz_partial_token_ratio.
double partial_token_ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff);

// Byte-string token scorers for batch callers: `a` is the query, `b` the choice, both read
// as UTF-8 (lossily when malformed); `cache`, when given, was built from `a` and changes no
// score. Cut-off applied.
/// Token sort of two byte strings.
double token_sort_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                              std::optional<double> cutoff, const QueryTokenCache* cache = nullptr);
/// Partial token sort of two byte strings.
double partial_token_sort_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                                      std::optional<double> cutoff,
                                      const QueryTokenCache* cache = nullptr);
/// Token set of two byte strings.
double token_set_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                             std::optional<double> cutoff, const QueryTokenCache* cache = nullptr);
/// Partial token set of two byte strings (no cache: it needs no per-query work).
double partial_token_set_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                                     std::optional<double> cutoff);
/// Partial token ratio of two byte strings.
double partial_token_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                                 std::optional<double> cutoff,
                                 const QueryTokenCache* cache = nullptr);
/// Token ratio of two byte strings, by the pruned token pair with the cut-off (0.0: none).
double token_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                         std::optional<double> cutoff, const QueryTokenCache* cache = nullptr);

}  // namespace tarnwick::fuzz
