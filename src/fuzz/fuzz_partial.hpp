// Partial ratio: the best Indel ratio between the shorter input and a window of the
// longer one, on a 0 to 100 scale. Free of Python.
#pragma once

#include "distance/initialize/records.hpp"
#include "fuzz/fuzz_ratio.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tarnwick::fuzz {

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
                                std::span<const uint8_t> haystack);

/// Partial ratio of two sequences: the fast kernel when both are bytes and the shorter has
/// at most 64, else the window search (both directions when the lengths are equal).
double partial_ratio_vecs(const types::Seq& a, const types::Seq& b);

/// Partial ratio of two UTF-8 texts (token keys): the fast kernel for pure-ASCII texts
/// whose shorter side has at most 64 bytes, else one window search over code points.
double partial_ratio_str(std::string_view a, std::string_view b);

/// partial_ratio_str of two texts that are well-formed UTF-8 (token keys built from such
/// texts), without checking them again.
double partial_ratio_text(std::string_view a, std::string_view b);

/// partial_ratio_text of the UTF-8 forms of two texts given as code points (without
/// surrogates).
double partial_ratio_text(std::u32string_view a, std::u32string_view b);

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

}  // namespace tarnwick::fuzz
