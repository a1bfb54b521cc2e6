// Weighted ratio: the plain ratio, improved by the token scores for inputs of similar
// length and by the scaled partial scores for inputs of different length, on a 0 to 100
// scale. Free of Python.
#pragma once

#include "fuzz/fuzz_token.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

namespace tarnwick::fuzz {

// Entries that take texts as string_view read them as UTF-8, lossily when malformed.

/// Token sort and token set scores of two texts with a running cut-off `c` (0.0: none):
/// a comparison that cannot reach the best score so far or `c` gives 0.0 instead.
std::pair<double, double> token_sort_and_set_cutoff(std::string_view a, std::string_view b,
                                                    double c,
                                                    const QueryTokenCache* cache = nullptr);

/// token_sort_and_set_cutoff of two texts known to be well-formed UTF-8.
std::pair<double, double> token_sort_and_set_text(std::string_view a, std::string_view b, double c,
                                                  const QueryTokenCache* cache = nullptr);

/// token_sort_and_set_text of two texts given as code points (no surrogates; not both
/// pure ASCII).
std::pair<double, double> token_sort_and_set_wide(std::u32string_view a, std::u32string_view b,
                                                  double c);

/// Partial token score of the weighted ratio: 100 for a shared token, 0 without tokens,
/// else the partial ratio of the two joined token sets.
double partial_token_ratio_sc(std::string_view a, std::string_view b,
                              const QueryTokenCache* cache = nullptr);
/// Same for two texts given as code points (no surrogates).
double partial_token_ratio_sc(std::u32string_view a, std::u32string_view b);

/// Weighted ratio of two converted sequences (fuzz_wratio), cut-off applied.
double wratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff);

/// Weighted ratio of two byte strings for batch callers (`cache` built from `a`).
double wratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                    std::optional<double> cutoff, const QueryTokenCache* cache = nullptr);

}  // namespace tarnwick::fuzz
