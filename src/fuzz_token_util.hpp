// Helpers shared by the token scorers and the weighted ratio: sorted token lists, set
// decomposition and text comparison. Free of Python.
#pragma once

#include "fuzz.hpp"

#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::fuzz::token {

/// The tokens of `s` sorted byte-wise, duplicates kept (views into `s`).
std::vector<std::string_view> sorted_tokens(std::string_view s);

/// Removes consecutive duplicates of a sorted token list.
void dedup(std::vector<std::string_view>& t);

/// The tokens joined by single spaces.
std::string join(const std::vector<std::string_view>& t);

/// Intersection and both differences of two ascending distinct token lists.
TokenSets decompose(const std::vector<std::string_view>& A, const std::vector<std::string_view>& B);

/// The token set of `s` (ascending, distinct), or the cache's tokens when given.
std::vector<std::string_view> token_set(std::string_view s, const QueryTokenCache* cache);

/// 100 * normalized Indel similarity of two texts with an optional cut-off: as bytes when
/// both are pure ASCII, else as code points. Below the cut-off: 0.0.
double indel_cmp(std::string_view a, std::string_view b, std::optional<double> cutoff);

/// Token set score of a decomposition, comparisons pruned by `cutoff`; with
/// `none_gives_zero`, 0.0 when neither text has a token.
double token_set_of(const TokenSets& d, bool none_gives_zero, std::optional<double> cutoff);

/// Partial token set score of a decomposition.
double partial_token_set_of(const TokenSets& d);

/// A cut-off usable as a pruning bound: none for an absent or NaN cut-off, since a NaN
/// never drops a score in the final check and so must not prune on the way either.
inline std::optional<double> pruning(std::optional<double> cutoff) noexcept {
    return (cutoff && !std::isnan(*cutoff)) ? cutoff : std::nullopt;
}

}  // namespace tarnwick::fuzz::token
