#include "fuzz/fuzz_token.hpp"

#include "algorithms/lcs.hpp"
#include "algorithms/pattern_mask.hpp"
#include "fuzz/fuzz_partial.hpp"
#include "fuzz/fuzz_text.hpp"
#include "fuzz/fuzz_token_sets.hpp"
#include "fuzz/fuzz_wratio.hpp"

#include <algorithm>
#include <cstring>

namespace tarnwick::fuzz {

namespace token {

template <class Ch>
void sorted_tokens(std::basic_string_view<Ch> s, BasicTokenList<Ch>& out) {
    text::for_each_token(s, [&](std::basic_string_view<Ch> t) { out.push_back(t); });
    std::sort(out.begin(), out.end(), token_less<Ch>);
}

template <class Ch>
void dedup(BasicTokenList<Ch>& t) {
    t.truncate(static_cast<std::size_t>(std::unique(t.begin(), t.end()) - t.begin()));
}

template <class Ch>
std::size_t joined_length(const BasicTokenList<Ch>& t) noexcept {
    std::size_t len = t.empty() ? 0 : t.size() - 1;
    for (std::basic_string_view<Ch> x : t) len += x.size();
    return len;
}

template <class Ch>
std::basic_string_view<Ch> join(const BasicTokenList<Ch>& t, JoinBuffer<Ch>& storage) {
    if (t.size() == 1) return t[0];
    const std::size_t n = joined_length(t);
    Ch* const start = storage.reserve(n);
    Ch* out = start;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (i) *out++ = Ch(' ');
        std::memcpy(out, t[i].data(), t[i].size() * sizeof(Ch));
        out += t[i].size();
    }
    return {start, n};
}

#define TARNWICK_TOKEN_LIST_INSTANTIATE(Ch)                                                  \
    template void sorted_tokens<Ch>(std::basic_string_view<Ch>, BasicTokenList<Ch>&);          \
    template void dedup<Ch>(BasicTokenList<Ch>&);                                              \
    template std::size_t joined_length<Ch>(const BasicTokenList<Ch>&) noexcept;                \
    template std::basic_string_view<Ch> join<Ch>(const BasicTokenList<Ch>&, JoinBuffer<Ch>&);
TARNWICK_TOKEN_LIST_INSTANTIATE(char)
TARNWICK_TOKEN_LIST_INSTANTIATE(char32_t)
#undef TARNWICK_TOKEN_LIST_INSTANTIATE

bool length_prunes(std::size_t la, std::size_t lb, double c) noexcept {
    const std::size_t lensum = la + lb;
    if (lensum == 0) return false;
    const std::size_t diff = la > lb ? la - lb : lb - la;
    return ratio_from_distance(diff, lensum) < clamp_cutoff(c);
}


// When the shorter side has at most 64 bytes the masks are written only for the bytes that
// occur, instead of clearing a 256-word table.
double indel_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                   std::optional<double> cutoff) {
    const std::size_t lensum = a.size() + b.size();
    if (lensum == 0) return 100.0;
    const bool a_shorter = a.size() <= b.size();
    const std::span<const uint8_t> pat = a_shorter ? a : b;
    const std::span<const uint8_t> txt = a_shorter ? b : a;
    double c = 0.0;
    if (cutoff) {
        c = clamp_cutoff(*cutoff);
        // The distance is at least the length difference, and the score falls as the
        // distance grows.
        if (ratio_from_distance(txt.size() - pat.size(), lensum) < c) return 0.0;
    }
    if (pat.size() > 64 || txt.size() > 256) return 100.0 * indel_normalized_sim(a, b, cutoff);
    uint64_t lcs = 0;
    if (!pat.empty()) {
        uint64_t masks[256];
        algorithms::clear_byte_masks(masks, txt);
        algorithms::clear_byte_masks(masks, pat);
        algorithms::set_byte_masks(masks, pat);
        lcs = algorithms::lcs_from_pm64(masks, pat.size(), txt);
    }
    const double score = ratio_from_distance(lensum - 2 * lcs, lensum);
    return (cutoff && score < c) ? 0.0 : score;
}

void decompose(const TokenList& A, const QueryTokenCache* cache, const TokenList& B, bool ascii,
               SetParts& out) {
    out.ascii = ascii;
    if (cache)
        merge_sets(cache->tokens, B, out);
    else
        merge_sets(A, B, out);
}

void decompose_texts(std::string_view a, std::string_view b, const QueryTokenCache* cache,
                     SetParts& out) {
    TokenList A, B;
    if (!cache) {
        sorted_tokens(a, A);
        dedup(A);
    }
    sorted_tokens(b, B);
    dedup(B);
    decompose(A, cache, B, text::is_ascii(a) && text::is_ascii(b), out);
}

double indel_cmp(std::string_view a, std::string_view b, std::optional<double> cutoff, bool ascii) {
    if (ascii || (text::is_ascii(a) && text::is_ascii(b))) {
        const std::span<const uint8_t> ba(reinterpret_cast<const uint8_t*>(a.data()), a.size());
        const std::span<const uint8_t> bb(reinterpret_cast<const uint8_t*>(b.data()), b.size());
        return indel_bytes(ba, bb, cutoff);
    }
    const text::CodePoints ca(a), cb(b);
    return 100.0 * indel_normalized_sim(ca.span(), cb.span(), cutoff);
}

namespace {

/// token_set_of for texts that are not both pure ASCII (nothing is pruned by lengths,
/// which are in bytes): each joined text is decoded once for the comparisons that read it.
/// A pair of ASCII texts among them scores as indel_cmp would score it, since indel_bytes
/// gives what the code point comparison gives.
double token_set_of_code_points(SetParts& d, std::optional<double> cutoff) {
    auto sim = [&](const text::CodePoints& x, const text::CodePoints& y) {
        return 100.0 * indel_normalized_sim(x.span(), y.span(), cutoff);
    };
    const text::CodePoints ab(d.t_ab()), ba(d.t_ba());
    if (d.inter.empty()) return sim(ab, ba);
    const text::CodePoints s(d.s());
    return std::max({sim(s, ab), sim(s, ba), sim(ab, ba)});
}

}  // namespace

double token_set_of(SetParts& d, bool none_gives_zero, std::optional<double> cutoff) {
    if (none_gives_zero && d.none()) return 0.0;
    if (!d.ascii) return token_set_of_code_points(d, cutoff);
    // Comparisons that the lengths alone put below the cut-off are not made.
    auto cmp = [&](std::size_t la, std::size_t lb, auto&& ta, auto&& tb) {
        if (cutoff && d.ascii && length_prunes(la, lb, *cutoff)) return 0.0;
        return indel_cmp(ta(), tb(), cutoff, d.ascii);
    };
    auto s = [&] { return d.s(); };
    auto t_ab = [&] { return d.t_ab(); };
    auto t_ba = [&] { return d.t_ba(); };
    if (d.inter.empty()) return cmp(d.len_t_ab(), d.len_t_ba(), t_ab, t_ba);
    return std::max({cmp(d.len_s, d.len_t_ab(), s, t_ab), cmp(d.len_s, d.len_t_ba(), s, t_ba),
                     cmp(d.len_t_ab(), d.len_t_ba(), t_ab, t_ba)});
}

double partial_token_set_of(SetParts& d) {
    if (!d.inter.empty()) return 100.0;
    if (d.ab.empty() || d.ba.empty()) return 0.0;
    return partial_ratio_text(d.d_ab(), d.d_ba());
}

}  // namespace token

using token::SetParts;
using token::TokenList;
using token::Tokenised;

double indel_score_100(std::string_view a, std::string_view b) {
    return token::indel_cmp(a, b, std::nullopt);
}

QueryTokenCache::QueryTokenCache(std::string_view query) {
    Tokenised q(query);
    sorted_key = std::string(q.key());
    for (std::string_view t : q.set()) tokens.emplace_back(t);
    for (unsigned char c : sorted_key) ++histogram[c];
    if (!sorted_key.empty() && sorted_key.size() <= 64 && text::is_ascii(sorted_key)) {
        algorithms::set_byte_masks(masks, {reinterpret_cast<const uint8_t*>(sorted_key.data()),
                                           sorted_key.size()});
        valid = true;
    }
}

QueryTokenCache QueryTokenCache::from_bytes(std::span<const uint8_t> query) {
    const text::Utf8Text t = text::from_bytes(query);
    return QueryTokenCache(t.str());
}

// ---- The six algorithms on texts, optionally with the query cache of `a` ----

namespace {

double token_sort_impl(std::string_view a, std::string_view b, std::optional<double> prune,
                       const QueryTokenCache* cache) {
    Tokenised tb(b);
    std::optional<Tokenised> ta;
    if (!cache) ta.emplace(a);
    const bool ascii = text::is_ascii(a) && text::is_ascii(b);
    const std::size_t len_a = cache ? cache->sorted_key.size() : ta->key_length();
    if (prune && ascii && token::length_prunes(len_a, tb.key_length(), *prune)) return 0.0;
    const std::string_view key_a = cache ? std::string_view(cache->sorted_key) : ta->key();
    return token::indel_cmp(key_a, tb.key(), prune, ascii);
}

double token_set_impl(std::string_view a, std::string_view b, std::optional<double> prune,
                      const QueryTokenCache* cache) {
    SetParts d;
    token::decompose_texts(a, b, cache, d);
    return token::token_set_of(d, true, prune);
}

double partial_token_sort_impl(std::string_view a, std::string_view b, const QueryTokenCache* cache) {
    Tokenised tb(b);
    if (cache) return partial_ratio_text(cache->sorted_key, tb.key());
    Tokenised ta(a);
    return partial_ratio_text(ta.key(), tb.key());
}

double partial_token_ratio_impl(std::string_view a, std::string_view b, const QueryTokenCache* cache) {
    Tokenised tb(b);
    std::optional<Tokenised> ta;
    if (!cache) ta.emplace(a);
    SetParts d;
    const TokenList empty;
    token::decompose(cache ? empty : ta->set(), cache, tb.set(), false, d);
    const double set = token::partial_token_set_of(d);
    if (set == 100.0) return 100.0;
    const std::string_view key_a = cache ? std::string_view(cache->sorted_key) : ta->key();
    return std::max(partial_ratio_text(key_a, tb.key()), set);
}

// The three partial token algorithms on two well-formed UTF-8 texts (what on_texts and
// on_bytes hand on), without a cut-off.

/// Partial token sort: the partial ratio of the two sort keys.
double partial_token_sort_score(std::string_view a, std::string_view b) {
    return partial_token_sort_impl(a, b, nullptr);
}

/// Partial token set: 100 for a shared token, 0 when neither text has a token, else the
/// partial ratio of the two joined difference lists.
double partial_token_set_score(std::string_view a, std::string_view b) {
    SetParts d;
    token::decompose_texts(a, b, nullptr, d);
    return token::partial_token_set_of(d);
}

/// Partial token ratio: the greater of partial token sort and partial token set.
double partial_token_ratio_score(std::string_view a, std::string_view b) {
    return partial_token_ratio_impl(a, b, nullptr);
}

}  // namespace

// ---- On converted sequences (the Python scorers) ----

namespace {

/// Runs `f` on two byte strings read as text and applies the cut-off.
template <class F>
double on_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b, std::optional<double> cutoff,
                F&& f) {
    const text::Utf8Text ta = text::from_bytes(a), tb = text::from_bytes(b);
    return apply_cutoff(f(ta.str(), tb.str()), cutoff);
}

}  // namespace

double token_sort_ratio_text(std::string_view a, std::string_view b, std::optional<double> cutoff) {
    return apply_cutoff(token_sort_impl(a, b, token::pruning(cutoff), nullptr), cutoff);
}

double token_set_ratio_text(std::string_view a, std::string_view b, std::optional<double> cutoff) {
    return apply_cutoff(token_set_impl(a, b, token::pruning(cutoff), nullptr), cutoff);
}

double token_ratio_text(std::string_view a, std::string_view b, std::optional<double> cutoff) {
    const auto [sort, set] = token_sort_and_set_text(a, b, token::pruning(cutoff).value_or(0.0));
    return apply_cutoff(std::max(sort, set), cutoff);
}

double partial_token_sort_ratio_text(std::string_view a, std::string_view b,
                                     std::optional<double> cutoff) {
    return apply_cutoff(partial_token_sort_score(a, b), cutoff);
}

double partial_token_set_ratio_text(std::string_view a, std::string_view b,
                                    std::optional<double> cutoff) {
    return apply_cutoff(partial_token_set_score(a, b), cutoff);
}

double partial_token_ratio_text(std::string_view a, std::string_view b,
                                std::optional<double> cutoff) {
    return apply_cutoff(partial_token_ratio_score(a, b), cutoff);
}

namespace {

/// Runs the text form `f` of a token scorer on the texts of two sequences.
double on_texts(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff,
                double (*f)(std::string_view, std::string_view, std::optional<double>)) {
    const text::Utf8Text ta = text::from_seq(a), tb = text::from_seq(b);
    return f(ta.str(), tb.str(), cutoff);
}

}  // namespace

double token_sort_ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff) {
    return on_texts(a, b, cutoff, token_sort_ratio_text);
}

double token_set_ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff) {
    return on_texts(a, b, cutoff, token_set_ratio_text);
}

double token_ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff) {
    return on_texts(a, b, cutoff, token_ratio_text);
}

double partial_token_sort_ratio(const types::Seq& a, const types::Seq& b,
                                std::optional<double> cutoff) {
    return on_texts(a, b, cutoff, partial_token_sort_ratio_text);
}

double partial_token_set_ratio(const types::Seq& a, const types::Seq& b,
                               std::optional<double> cutoff) {
    return on_texts(a, b, cutoff, partial_token_set_ratio_text);
}

double partial_token_ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff) {
    return on_texts(a, b, cutoff, partial_token_ratio_text);
}

// ---- Byte-string variants for the batch functions ----

double token_sort_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                              std::optional<double> cutoff, const QueryTokenCache* cache) {
    return on_bytes(a, b, cutoff, [&](std::string_view x, std::string_view y) {
        return token_sort_impl(x, y, token::pruning(cutoff), cache);
    });
}

double partial_token_sort_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                                      std::optional<double> cutoff, const QueryTokenCache* cache) {
    return on_bytes(a, b, cutoff, [&](std::string_view x, std::string_view y) {
        return partial_token_sort_impl(x, y, cache);
    });
}

double token_set_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                             std::optional<double> cutoff, const QueryTokenCache* cache) {
    return on_bytes(a, b, cutoff, [&](std::string_view x, std::string_view y) {
        return token_set_impl(x, y, token::pruning(cutoff), cache);
    });
}

double partial_token_set_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                                     std::optional<double> cutoff) {
    return on_bytes(a, b, cutoff, partial_token_set_score);
}

double partial_token_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                                 std::optional<double> cutoff, const QueryTokenCache* cache) {
    return on_bytes(a, b, cutoff, [&](std::string_view x, std::string_view y) {
        return partial_token_ratio_impl(x, y, cache);
    });
}

double token_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                         std::optional<double> cutoff, const QueryTokenCache* cache) {
    return on_bytes(a, b, cutoff, [&](std::string_view x, std::string_view y) {
        const auto [sort, set] = token_sort_and_set_cutoff(x, y, cutoff.value_or(0.0), cache);
        return std::max(sort, set);
    });
}

}  // namespace tarnwick::fuzz
