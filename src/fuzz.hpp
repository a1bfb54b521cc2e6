// Fuzzy ratio scorers on a 0 to 100 scale, free of Python so that batch code can call
// them from worker threads: the simple and quick ratio (fuzz.cpp), the partial ratio
// (fuzz_partial.cpp), the token scorers (fuzz_token.cpp) and the weighted ratio
// (fuzz_wratio.cpp).
//
// Cut-off rule: a score below the cut-off is reported as 0.0; a score equal to it is kept.
// A NaN cut-off never counts as "less" in the final check; an Indel comparison given one
// prunes as with 100 (the token scorers therefore do not hand a NaN cut-off down).
#pragma once

#include "distance/initialize/records.hpp"
#include "types.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick::fuzz {

/// Normalized Indel similarity (0 to 1) of two sequences of any widths; 1.0 when both
/// are empty. With a cut-off (0 to 100 scale), 0.0 when 100 * similarity is below
/// min(cutoff, 100) (a NaN cut-off counts as 100).
double indel_normalized_sim(const types::Seq& a, const types::Seq& b,
                            std::optional<double> cutoff);

/// Same, over two element spans of one width.
template <class T>
double indel_normalized_sim(std::span<const T> a, std::span<const T> b,
                            std::optional<double> cutoff);

/// Largest Indel distance over `lensum` elements that may still reach the cut-off `c`
/// (0..100, already clamped): one above floor((1 - c/100) * lensum), so that rounding never
/// drops a score equal to the cut-off (the caller compares the final score with it).
uint64_t max_distance(double c, uint64_t lensum) noexcept;

/// Final cut-off check of every scorer: 0.0 when `score` is below the cut-off.
inline double apply_cutoff(double score, std::optional<double> cutoff) noexcept {
    return (cutoff && score < *cutoff) ? 0.0 : score;
}

/// Simple ratio: 100 * normalized Indel similarity, cut-off applied.
double ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff);

/// Quick ratio: as ratio, but 0.0 when either sequence is empty.
double qratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff);

// ---- Partial ratio (fuzz_partial.cpp) ----

/// The best window of a window search: its score and haystack offsets [start, end).
struct Window {
    double score = 0.0;
    std::size_t start = 0;
    std::size_t end = 0;
};

/// Window search: the best Indel ratio between `needle` and a window of `haystack`, over
/// the growing prefixes, the full windows and the shrinking suffixes in that order. A
/// window replaces the best only when it scores strictly more; a score of 100 ends the
/// search. Instantiated for 8-, 32- and 64-bit elements (all give the same result).
template <class T>
Window partial_ratio_short_long(std::span<const T> needle, std::span<const T> haystack);

/// Fast kernel for a needle of 0..64 bytes in a haystack not shorter than it: exact
/// occurrence, then full windows, then suffixes (no growing prefixes). Allocates nothing.
double partial_ratio_ascii_fast(std::span<const uint8_t> needle,
                                std::span<const uint8_t> haystack) noexcept;

/// Partial ratio of two sequences: the fast kernel when both are bytes and the shorter has
/// at most 64, else the window search (both directions when the lengths are equal).
double partial_ratio_vecs(const types::Seq& a, const types::Seq& b);

/// Same result as partial_ratio_vecs (the form the weighted ratio calls).
double partial_ratio_vecs_sc(const types::Seq& a, const types::Seq& b);

/// Partial ratio of two UTF-8 texts (token keys): the fast kernel for pure-ASCII texts
/// whose shorter side has at most 64 bytes, else one window search over code points.
double partial_ratio_str(std::string_view a, std::string_view b);

/// Partial ratio of two byte strings for batch callers: 0.0 when either is empty; cut-off
/// applied.
double partial_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                           std::optional<double> cutoff);

/// Score of fuzz_partial_ratio on two converted sequences, cut-off applied.
double partial_ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff);

/// fuzz_partial_ratio_alignment on two converted sequences: the best window of s1 (src)
/// and s2 (dest), or nothing when the score is below the cut-off.
std::optional<distance::initialize::ScoreAlignment> partial_ratio_alignment(
    const types::Seq& s1, const types::Seq& s2, std::optional<double> cutoff);

// ---- Token scorers (fuzz_token.cpp) ----

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

/// The three ascending token lists of a set decomposition (views into the inputs).
struct TokenSets {
    std::vector<std::string_view> intersection;  // tokens of both
    std::vector<std::string_view> a_minus_b;     // tokens of a only
    std::vector<std::string_view> b_minus_a;     // tokens of b only
};

/// Sort key of a text: its tokens, duplicates kept, sorted byte-wise, joined by one space.
std::string tokens_sort_key(std::string_view s);

/// Set decomposition of the token sets of `a` (or of the cache's tokens) and `b`.
TokenSets tokens_to_set_intersection_diff(std::string_view a, std::string_view b,
                                          const QueryTokenCache* cache = nullptr);

/// Joined set text: `s` when `diff` is empty, `diff` joined by spaces when `s` is empty,
/// else `s`, a space and the joined `diff`.
std::string build_token_set_strings_borrow(std::string_view s,
                                           const std::vector<std::string_view>& diff);

/// 100 * normalized Indel similarity of two texts, as bytes when both are pure ASCII and as
/// code points otherwise; 100 for two empty texts.
double indel_score_100(std::string_view a, std::string_view b);

// The six token algorithms on two texts (no cut-off).
/// Token sort: indel_score_100 of the two sort keys.
double token_sort_text(std::string_view a, std::string_view b);
/// Token set: 0 when neither text has a token, else the best comparison of the
/// intersection text and the two joined set texts.
double token_set_text(std::string_view a, std::string_view b);
/// Token ratio: the greater of token sort and token set (two token-less texts give 100).
double token_ratio_text(std::string_view a, std::string_view b);
/// Partial token sort: partial_ratio_str of the two sort keys.
double partial_token_sort_text(std::string_view a, std::string_view b);
/// Partial token set: 100 for a shared token, 0 when neither text has a token, else the
/// partial ratio of the two joined difference lists.
double partial_token_set_score(std::string_view a, std::string_view b);
/// Partial token ratio: the greater of partial token sort and partial token set.
double partial_token_ratio_text(std::string_view a, std::string_view b);

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

// ---- Weighted ratio and the pruned token pair (fuzz_wratio.cpp) ----

/// Token sort and token set scores of two texts with a running cut-off `c` (0.0: none):
/// a comparison that cannot reach the best score so far or `c` gives 0.0 instead.
std::pair<double, double> token_sort_and_set_cutoff(std::string_view a, std::string_view b,
                                                    double c,
                                                    const QueryTokenCache* cache = nullptr);

/// Partial token score of the weighted ratio: 100 for a shared token, 0 without tokens,
/// else the partial ratio of the two joined token sets.
double partial_token_ratio_sc(std::string_view a, std::string_view b,
                              const QueryTokenCache* cache = nullptr);

/// Weighted ratio of two converted sequences (fuzz_wratio), cut-off applied.
double wratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff);

/// Weighted ratio of two byte strings for batch callers (`cache` built from `a`).
double wratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                    std::optional<double> cutoff, const QueryTokenCache* cache = nullptr);

}  // namespace tarnwick::fuzz
