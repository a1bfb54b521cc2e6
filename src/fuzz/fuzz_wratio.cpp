// Weighted ratio: the plain ratio, improved by the token scores for inputs of similar
// length and by the scaled partial scores for inputs of different length, with the
// cut-off handed down so that comparisons that cannot matter stop early.
#include "fuzz/fuzz_wratio.hpp"

#include "algorithms/lcs.hpp"
#include "fuzz/fuzz_partial.hpp"
#include "fuzz/fuzz_text.hpp"
#include "fuzz/fuzz_token_sets.hpp"

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
    const double cc = clamp_cutoff(c);
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
    const double score = ratio_from_distance(d, L);
    return score < cc ? 0.0 : score;
}

/// 100 * normalized Indel similarity of two texts with cut-off `c` when both are pure
/// ASCII, else without a cut-off (the comparison the token pair makes without a match).
double ascii_pruned_cmp(std::string_view a, std::string_view b, double c, bool ascii) {
    if (ascii || (text::is_ascii(a) && text::is_ascii(b))) return token::indel_cmp(a, b, c, true);
    return indel_score_100(a, b);
}

/// Same for two texts given as code points.
double ascii_pruned_cmp(std::u32string_view a, std::u32string_view b, double c, bool) {
    if (text::is_ascii(a) && text::is_ascii(b)) return token::indel_cmp(a, b, c);
    return token::indel_cmp(a, b, std::nullopt);
}

/// The sort comparison of the token pair: by the query cache when it applies.
double sort_cmp(std::string_view key_a, std::string_view key_b, double c,
                const QueryTokenCache* cache, bool ascii) {
    if (cache && cache->valid && text::is_ascii(key_b)) return cached_sort_score(*cache, key_b, c);
    return ascii_pruned_cmp(key_a, key_b, c, ascii);
}

double sort_cmp(std::u32string_view key_a, std::u32string_view key_b, double c,
                const QueryTokenCache*, bool ascii) {
    return ascii_pruned_cmp(key_a, key_b, c, ascii);
}

/// Whether a text has a character that may separate tokens (see has_space_or_control).
bool may_split(std::string_view s, bool ascii) {
    return ascii ? text::has_ascii_space_or_control(s) : text::has_space_or_control(s);
}

bool may_split(std::u32string_view s, bool) { return text::has_space_or_control(s); }

/// The set score of the token pair from the decomposition `d`, once the sort score is
/// known: each comparison pruned by the best score so far. `len_a` and `len_b` are the
/// sort keys' lengths; `ascii`: both texts are pure ASCII.
template <class Ch>
double set_score(token::BasicSetParts<Ch>& d, double sort, double c, std::size_t len_a,
                 std::size_t len_b, bool ascii) {
    const double c1 = std::fmax(c, sort);
    if (d.inter.empty()) {
        // Without repeated tokens the set texts are the sort keys, compared again with a
        // cut-off of at least c: the answer is the sort score.
        // (A NaN c pruned the sort comparison as 100 but lets c1 = sort prune nothing, so
        // there the set texts are compared.)
        if (d.len_ab == len_a && d.len_ba == len_b && !std::isnan(c)) return sort;
        if (ascii && token::length_prunes(d.len_ab, d.len_ba, c1)) return 0.0;
        return ascii_pruned_cmp(d.t_ab(), d.t_ba(), c1, ascii);
    }
    // Texts that are not both pure ASCII: each UTF-8 set text is decoded once, on first
    // use, for the comparisons that read it (an ASCII pair among them scores as indel_cmp
    // would score it, since indel_bytes gives what the code point comparison gives); set
    // texts of code points are compared as they are.
    std::optional<text::CodePoints> code_points[3];  // s, t_ab, t_ba
    auto text_of = [&d](int k) { return k == 0 ? d.s() : k == 1 ? d.t_ab() : d.t_ba(); };
    auto decoded = [&](int k) {
        if constexpr (std::is_same_v<Ch, char>) {
            if (!code_points[k]) code_points[k].emplace(text_of(k));
            return code_points[k]->span();
        } else {
            return text::code_units(text_of(k));
        }
    };
    auto cmp = [&](std::size_t la, std::size_t lb, int x, int y, double cut) {
        if (ascii && token::length_prunes(la, lb, cut)) return 0.0;
        if constexpr (std::is_same_v<Ch, char>) {
            if (ascii) return token::indel_cmp(text_of(x), text_of(y), cut, true);
        }
        return 100.0 * indel_normalized_sim(decoded(x), decoded(y), std::optional<double>(cut));
    };
    const double s1 = cmp(d.len_s, d.len_t_ab(), 0, 1, c1);
    if (s1 == 100.0) return 100.0;
    const double c2 = std::fmax(c1, s1);
    const double s2 = cmp(d.len_s, d.len_t_ba(), 0, 2, c2);
    if (s2 == 100.0) return 100.0;
    const double c3 = std::fmax(c2, s2);
    const double s3 = cmp(d.len_t_ab(), d.len_t_ba(), 1, 2, c3);
    return std::max({s1, s2, s3});
}

/// The token pair. `ascii`: both texts are pure ASCII. `keys_below_c`: the caller knows
/// that the two texts differ and that comparing them scores below `c`, so when each sort
/// key is its text the sort comparison is 0.0 without being made. Texts given as code
/// points (Ch = char32_t) are never pure ASCII both and have no cache.
template <class Ch>
std::pair<double, double> token_pair(std::basic_string_view<Ch> a, std::basic_string_view<Ch> b,
                                     double c, const QueryTokenCache* cache, bool ascii,
                                     bool keys_below_c) {
    using View = std::basic_string_view<Ch>;
    // Two different single tokens: the sort keys and the set texts are the texts themselves.
    if (keys_below_c && !a.empty() && !b.empty() && !may_split(a, ascii) && !may_split(b, ascii))
        return {0.0, 0.0};

    token::BasicTokenised<Ch> tb(b);
    std::optional<token::BasicTokenised<Ch>> ta;
    if (!cache) ta.emplace(a);
    const std::size_t len_a = cache ? cache->sorted_key.size() : ta->key_length();
    const std::size_t len_b = tb.key_length();
    auto key_a = [&]() -> View {
        if constexpr (std::is_same_v<Ch, char>) {
            if (cache) return cache->sorted_key;
        }
        return ta->key();
    };

    // Sort score. Keys of equal length are compared first: equal keys score 100.
    double sort;
    if (len_a == len_b && key_a() == tb.key())
        return {100.0, 100.0};
    if (keys_below_c && len_a == a.size() && len_b == b.size() && key_a() == a && tb.key() == b)
        sort = 0.0;
    else if (ascii && token::length_prunes(len_a, len_b, c))
        sort = 0.0;
    else
        sort = sort_cmp(key_a(), tb.key(), c, cache, ascii);
    if (sort == 100.0) return {100.0, 100.0};

    // Set score.
    token::BasicSetParts<Ch> d;
    if constexpr (std::is_same_v<Ch, char>) {
        const token::TokenList empty;
        token::decompose(cache ? empty : ta->set(), cache, tb.set(), ascii, d);
    } else {
        token::merge_sets(ta->set(), tb.set(), d);
    }
    return {sort, set_score(d, sort, c, len_a, len_b, ascii)};
}

}  // namespace

std::pair<double, double> token_sort_and_set_cutoff(std::string_view a, std::string_view b,
                                                    double c, const QueryTokenCache* cache) {
    const text::Utf8Text wa = text::well_formed(a), wb = text::well_formed(b);
    return token_sort_and_set_text(wa.str(), wb.str(), c, cache);
}

std::pair<double, double> token_sort_and_set_text(std::string_view a, std::string_view b, double c,
                                                  const QueryTokenCache* cache) {
    return token_pair(a, b, c, cache, text::is_ascii(a) && text::is_ascii(b), false);
}

std::pair<double, double> token_sort_and_set_wide(std::u32string_view a, std::u32string_view b,
                                                  double c) {
    return token_pair(a, b, c, nullptr, false, false);
}

double partial_token_ratio_sc(std::string_view a, std::string_view b, const QueryTokenCache* cache) {
    const text::Utf8Text wa = text::well_formed(a), wb = text::well_formed(b);
    a = wa.str();
    b = wb.str();
    token::SetParts d;
    token::decompose_texts(a, b, cache, d);
    if (!d.inter.empty()) return 100.0;
    if (d.none()) return 0.0;
    return partial_ratio_text(d.d_ab(), d.d_ba());
}

double partial_token_ratio_sc(std::u32string_view a, std::u32string_view b) {
    token::WideSetParts d;
    token::decompose_texts(a, b, d);
    if (!d.inter.empty()) return 100.0;
    if (d.none()) return 0.0;
    return partial_ratio_text(d.d_ab(), d.d_ba());
}

namespace {

/// The weighted ratio once the plain ratio is known and below 100: `partial` computes the
/// partial ratio; `with_texts(f)` calls f(a, b, ascii) on the texts of the token steps
/// (views of UTF-8 or of code points; ascii: both pure ASCII) and returns its result.
/// `texts_as_ratio`: comparing the two texts gives what the plain ratio compared.
template <class Partial, class WithTexts>
double weighted(std::size_t la, std::size_t lb, double ratio, double c0, Partial&& partial,
                WithTexts&& with_texts, const QueryTokenCache* cache, bool texts_as_ratio) {
    const double r = static_cast<double>(std::max(la, lb)) / static_cast<double>(std::min(la, lb));
    if (r < kTokenBranchBelow) {
        // Token scores count scaled by 0.95, so never above 95: they cannot raise a ratio of
        // 95 or more, nor reach a cut-off above 95.
        if (ratio >= kSkipTokensAbove || c0 > kSkipTokensAbove) return ratio;
        // The cut-off handed down exceeds the plain ratio (or the caller's cut-off that it
        // missed), so comparing the texts themselves again can only give 0.0.
        const bool keys_below_c = texts_as_ratio && !std::isnan(c0);
        const double t = with_texts([&](auto a, auto b, bool ascii) {
            const auto [sort, set] =
                token_pair(a, b, token_cutoff(std::fmax(c0, ratio)), cache, ascii, keys_below_c);
            return std::max(sort, set);
        });
        return t > 0.0 ? std::max(ratio, kTokenScale * t) : ratio;
    }
    const double scale = r <= kPartialScaleUpTo ? kPartialScale : kPartialScaleLong;
    const double best = std::max(ratio, scale * partial());
    if (best == 100.0) return 100.0;
    const double pt = with_texts([&](auto a, auto b, bool) {
        if constexpr (std::is_same_v<decltype(a), std::u32string_view>)
            return partial_token_ratio_sc(a, b);
        else
            return partial_token_ratio_sc(a, b, cache);
    });
    return std::max(best, scale * (pt * kTokenScale));
}

/// The bytes of a Bytes sequence as a string view.
std::string_view ascii_view(const types::Seq& s) {
    const auto b = s.as_bytes();
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

/// Whether a sequence reads as text with one code point per element.
bool text_like(const types::Seq& s) {
    if (s.kind() == types::SeqKind::Chars) return true;
    if (s.kind() != types::SeqKind::Bytes) return false;
    const auto b = s.as_bytes();
    return text::is_ascii(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
}

/// Whether a text-like sequence (see text_like) has its code points at hand with the
/// UTF-8 text they encode: a str's code points (recorded with its UTF-8 form, so free of
/// surrogates) or pure-ASCII bytes.
bool has_code_points(const types::Seq& s) {
    return s.kind() == types::SeqKind::Bytes || s.text() != nullptr;
}

/// The code points of a sequence for which has_code_points holds, widened into `buf`
/// when it holds bytes.
std::u32string_view code_points_of(const types::Seq& s, text::WideBuffer& buf) {
    if (s.kind() == types::SeqKind::Bytes) return buf.widen(ascii_view(s));
    const auto c = s.as_chars();
    return {reinterpret_cast<const char32_t*>(c.data()), c.size()};
}

}  // namespace

double wratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff) {
    const std::size_t la = a.size(), lb = b.size();
    if (la == 0 || lb == 0) return 0.0;
    const bool bytes = a.kind() == types::SeqKind::Bytes && b.kind() == types::SeqKind::Bytes;
    const double ratio = bytes ? token::indel_bytes(a.as_bytes(), b.as_bytes(), cutoff)
                               : 100.0 * indel_normalized_sim(a, b, cutoff);
    if (ratio == 100.0) return 100.0;
    const bool as_text = text_like(a) && text_like(b);
    const double result = weighted(
        la, lb, ratio, cutoff.value_or(0.0), [&] { return partial_ratio_vecs(a, b); },
        [&](auto&& f) {
            if (bytes && as_text) return f(ascii_view(a), ascii_view(b), true);
            if (as_text && has_code_points(a) && has_code_points(b)) {
                // Read as code points, with no UTF-8 to decode.
                text::WideBuffer wa, wb;
                return f(code_points_of(a, wa), code_points_of(b, wb), false);
            }
            const text::Utf8Text ta = text::from_seq(a), tb = text::from_seq(b);
            return f(ta.str(), tb.str(), false);
        },
        nullptr, as_text);
    return apply_cutoff(result, cutoff);
}

double wratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                    std::optional<double> cutoff, const QueryTokenCache* cache) {
    const std::size_t la = a.size(), lb = b.size();
    if (la == 0 || lb == 0) return 0.0;
    const double ratio = token::indel_bytes(a, b, cutoff);
    if (ratio == 100.0) return 100.0;
    const double c0 = cutoff.value_or(0.0);
    const double r = static_cast<double>(std::max(la, lb)) / static_cast<double>(std::min(la, lb));
    // The token branch scales its scores by 0.95, so it cannot reach a cut-off above 95.
    if (r < kTokenBranchBelow && c0 > kSkipTokensAbove && ratio < c0) return 0.0;
    const std::string_view sa(reinterpret_cast<const char*>(a.data()), la);
    const std::string_view sb(reinterpret_cast<const char*>(b.data()), lb);
    const bool ascii = text::is_ascii(sa) && text::is_ascii(sb);
    const double result = weighted(
        la, lb, ratio, c0,
        [&] {
            return partial_ratio_vecs(types::Seq::bytes(a.data(), la), types::Seq::bytes(b.data(), lb));
        },
        [&](auto&& f) {
            if (ascii) return f(sa, sb, true);
            const text::Utf8Text ta = text::from_bytes(a), tb = text::from_bytes(b);
            return f(ta.str(), tb.str(), false);
        },
        cache, ascii);
    return apply_cutoff(result, cutoff);
}

}  // namespace tarnwick::fuzz
