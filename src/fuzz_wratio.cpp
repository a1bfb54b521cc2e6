// Weighted ratio: the plain ratio, improved by the token scores for inputs of similar
// length and by the scaled partial scores for inputs of different length, with the
// cut-off handed down so that comparisons that cannot matter stop early.
#include "fuzz.hpp"

#include "algorithms/lcs.hpp"
#include "fuzz_text.hpp"
#include "fuzz_token_util.hpp"

#include <algorithm>
#include <cmath>

namespace tarnwick::fuzz {
namespace {

constexpr double kTokenBranchBelow = 1.5;  // length ratio below which token scores count
constexpr double kPartialScaleUpTo = 8.0;  // length ratio up to which partial scale is 0.9
constexpr double kPartialScale = 0.9;
constexpr double kPartialScaleLong = 0.6;
constexpr double kTokenScale = 0.95;
constexpr double kSkipTokensAbove = 95.0;  // token scores, scaled, never exceed this

/// The cut-off handed to the token pair when the result needs kTokenScale * t >= c: c
/// divided by the scale, lowered by a relative 1e-12 so that no token score whose scaled
/// value reaches c (after rounding) is dropped.
double token_cutoff(double c) noexcept { return (c / kTokenScale) * (1.0 - 1e-12); }

/// Sort score by the query cache: histogram bound, then one bit-parallel LCS pass over
/// key_b with the cache's masks, stopping once the needed LCS is out of reach. Gives what
/// 100 * indel_normalized_sim(cache key, key_b, c) gives.
double cached_sort_score(const QueryTokenCache& cache, std::string_view key_b, double c) {
    const uint64_t la = cache.sorted_key.size();
    const uint64_t L = la + key_b.size();
    const double cc = std::isnan(c) ? 100.0 : std::min(c, 100.0);
    const uint64_t bound = max_distance(cc, L);
    uint32_t hist_b[256] = {};
    for (unsigned char ch : key_b) ++hist_b[ch];
    uint64_t diff = 0;
    for (std::size_t i = 0; i < 256; ++i)
        diff += cache.histogram[i] > hist_b[i] ? cache.histogram[i] - hist_b[i]
                                               : hist_b[i] - cache.histogram[i];
    if (diff > bound) return 0.0;
    const std::span<const uint8_t> text(reinterpret_cast<const uint8_t*>(key_b.data()), key_b.size());
    const uint64_t lcs = algorithms::lcs_from_pm64(cache.masks, la, text, bound);
    const uint64_t d = L - 2 * lcs;
    if (d > bound) return 0.0;
    const double score = 100.0 * (1.0 - static_cast<double>(d) / static_cast<double>(L));
    return score < cc ? 0.0 : score;
}

/// 100 * normalized Indel similarity of two texts with cut-off `c` when both are pure
/// ASCII, else without a cut-off (the comparison the token pair makes without a match).
double ascii_pruned_cmp(std::string_view a, std::string_view b, double c) {
    if (text::is_ascii(a) && text::is_ascii(b)) return token::indel_cmp(a, b, c);
    return indel_score_100(a, b);
}

}  // namespace

std::pair<double, double> token_sort_and_set_cutoff(std::string_view a, std::string_view b,
                                                    double c, const QueryTokenCache* cache) {
    std::vector<std::string_view> tokens_b = token::sorted_tokens(b);
    const std::string key_b = token::join(tokens_b);
    std::string own_key_a;
    if (!cache) own_key_a = tokens_sort_key(a);
    const std::string_view key_a = cache ? std::string_view(cache->sorted_key) : own_key_a;

    double sort;
    if (cache && cache->valid && text::is_ascii(key_b))
        sort = cached_sort_score(*cache, key_b, c);
    else
        sort = ascii_pruned_cmp(key_a, key_b, c);
    if (sort == 100.0) return {100.0, 100.0};

    token::dedup(tokens_b);
    const TokenSets d = token::decompose(token::token_set(a, cache), tokens_b);
    const double c1 = std::fmax(c, sort);
    const std::string s = token::join(d.intersection);
    const std::string t_ab = build_token_set_strings_borrow(s, d.a_minus_b);
    const std::string t_ba = build_token_set_strings_borrow(s, d.b_minus_a);
    if (d.intersection.empty()) return {sort, ascii_pruned_cmp(t_ab, t_ba, c1)};

    const double s1 = token::indel_cmp(s, t_ab, c1);
    if (s1 == 100.0) return {sort, 100.0};
    const double c2 = std::fmax(c1, s1);
    const double s2 = token::indel_cmp(s, t_ba, c2);
    if (s2 == 100.0) return {sort, 100.0};
    const double c3 = std::fmax(c2, s2);
    const double s3 = token::indel_cmp(t_ab, t_ba, c3);
    return {sort, std::max({s1, s2, s3})};
}

double partial_token_ratio_sc(std::string_view a, std::string_view b, const QueryTokenCache* cache) {
    const TokenSets d = tokens_to_set_intersection_diff(a, b, cache);
    if (!d.intersection.empty()) return 100.0;
    if (d.a_minus_b.empty() && d.b_minus_a.empty()) return 0.0;
    return partial_ratio_str(token::join(d.a_minus_b), token::join(d.b_minus_a));
}

namespace {

/// The weighted ratio once the plain ratio is known and below 100: `partial` computes the
/// partial ratio, `texts` yields the two texts of the token steps.
template <class Partial, class Texts>
double weighted(std::size_t la, std::size_t lb, double ratio, double c0, Partial&& partial,
                Texts&& texts, const QueryTokenCache* cache) {
    const double r = static_cast<double>(std::max(la, lb)) / static_cast<double>(std::min(la, lb));
    if (r < kTokenBranchBelow) {
        const auto [ta, tb] = texts();
        const auto [sort, set] = token_sort_and_set_cutoff(
            ta.str(), tb.str(), token_cutoff(std::fmax(c0, ratio)), cache);
        const double t = std::max(sort, set);
        return t > 0.0 ? std::max(ratio, kTokenScale * t) : ratio;
    }
    const double scale = r <= kPartialScaleUpTo ? kPartialScale : kPartialScaleLong;
    const double best = std::max(ratio, scale * partial());
    if (best == 100.0) return 100.0;
    const auto [ta, tb] = texts();
    const double pt = partial_token_ratio_sc(ta.str(), tb.str(), cache);
    return std::max(best, scale * (pt * kTokenScale));
}

}  // namespace

double wratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff) {
    const std::size_t la = a.size(), lb = b.size();
    if (la == 0 || lb == 0) return 0.0;
    const double ratio = 100.0 * indel_normalized_sim(a, b, cutoff);
    if (ratio == 100.0) return 100.0;
    const double result = weighted(
        la, lb, ratio, cutoff.value_or(0.0), [&] { return partial_ratio_vecs_sc(a, b); },
        [&] { return std::pair{text::from_seq(a), text::from_seq(b)}; }, nullptr);
    return apply_cutoff(result, cutoff);
}

double wratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                    std::optional<double> cutoff, const QueryTokenCache* cache) {
    const std::size_t la = a.size(), lb = b.size();
    if (la == 0 || lb == 0) return 0.0;
    const double ratio = 100.0 * indel_normalized_sim(a, b, cutoff);
    if (ratio == 100.0) return 100.0;
    const double c0 = cutoff.value_or(0.0);
    const double r = static_cast<double>(std::max(la, lb)) / static_cast<double>(std::min(la, lb));
    // The token branch scales its scores by 0.95, so it cannot reach a cut-off above 95.
    if (r < kTokenBranchBelow && c0 > kSkipTokensAbove && ratio < c0) return 0.0;
    const double result = weighted(
        la, lb, ratio, c0,
        [&] {
            return partial_ratio_vecs(types::Seq::bytes(a.data(), a.size()),
                                      types::Seq::bytes(b.data(), b.size()));
        },
        [&] { return std::pair{text::from_bytes(a), text::from_bytes(b)}; }, cache);
    return apply_cutoff(result, cutoff);
}

}  // namespace tarnwick::fuzz
