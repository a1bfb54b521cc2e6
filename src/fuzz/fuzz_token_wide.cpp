// The token scorers on texts held as code points, for text that is not pure ASCII: the
// tokens are split, sorted and joined as code points, so that no joined text is decoded
// from UTF-8 again. The scores are those of the UTF-8 forms: UTF-8 keeps the order of
// code points, and the comparisons of text that is not pure ASCII are made on code points.
#include "fuzz/fuzz_partial.hpp"
#include "fuzz/fuzz_text.hpp"
#include "fuzz/fuzz_token.hpp"
#include "fuzz/fuzz_token_sets.hpp"
#include "fuzz/fuzz_wratio.hpp"

#include <algorithm>

namespace tarnwick::fuzz {

namespace token {

void decompose_texts(std::u32string_view a, std::u32string_view b, WideSetParts& out) {
    WideTokenList A, B;
    sorted_tokens(a, A);
    dedup(A);
    sorted_tokens(b, B);
    dedup(B);
    out.ascii = false;
    merge_sets(A, B, out);
}

double token_set_of(WideSetParts& d, bool none_gives_zero, std::optional<double> cutoff) {
    if (none_gives_zero && d.none()) return 0.0;
    if (d.inter.empty()) return indel_cmp(d.t_ab(), d.t_ba(), cutoff);
    return std::max({indel_cmp(d.s(), d.t_ab(), cutoff), indel_cmp(d.s(), d.t_ba(), cutoff),
                     indel_cmp(d.t_ab(), d.t_ba(), cutoff)});
}

double partial_token_set_of(WideSetParts& d) {
    if (!d.inter.empty()) return 100.0;
    if (d.ab.empty() || d.ba.empty()) return 0.0;
    return partial_ratio_text(d.d_ab(), d.d_ba());
}

}  // namespace token

using token::WideSetParts;
using token::WideTokenised;

double token_sort_ratio_wide(std::u32string_view a, std::u32string_view b,
                             std::optional<double> cutoff) {
    WideTokenised ta(a), tb(b);
    return apply_cutoff(token::indel_cmp(ta.key(), tb.key(), token::pruning(cutoff)), cutoff);
}

double token_set_ratio_wide(std::u32string_view a, std::u32string_view b,
                            std::optional<double> cutoff) {
    WideSetParts d;
    token::decompose_texts(a, b, d);
    return apply_cutoff(token::token_set_of(d, true, token::pruning(cutoff)), cutoff);
}

double token_ratio_wide(std::u32string_view a, std::u32string_view b, std::optional<double> cutoff) {
    const auto [sort, set] = token_sort_and_set_wide(a, b, token::pruning(cutoff).value_or(0.0));
    return apply_cutoff(std::max(sort, set), cutoff);
}

double partial_token_sort_ratio_wide(std::u32string_view a, std::u32string_view b,
                                     std::optional<double> cutoff) {
    WideTokenised ta(a), tb(b);
    return apply_cutoff(partial_ratio_text(ta.key(), tb.key()), cutoff);
}

double partial_token_set_ratio_wide(std::u32string_view a, std::u32string_view b,
                                    std::optional<double> cutoff) {
    WideSetParts d;
    token::decompose_texts(a, b, d);
    return apply_cutoff(token::partial_token_set_of(d), cutoff);
}

double partial_token_ratio_wide(std::u32string_view a, std::u32string_view b,
                                std::optional<double> cutoff) {
    WideTokenised ta(a), tb(b);
    WideSetParts d;
    d.ascii = false;
    token::merge_sets(ta.set(), tb.set(), d);
    const double set = token::partial_token_set_of(d);
    if (set == 100.0) return apply_cutoff(100.0, cutoff);
    return apply_cutoff(std::max(partial_ratio_text(ta.key(), tb.key()), set), cutoff);
}

}  // namespace tarnwick::fuzz
