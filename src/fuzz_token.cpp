// Token scorers: texts compared as collections of whitespace-separated words, by their
// sorted tokens (token sort), their token sets (token set) or both.
#include "fuzz.hpp"

#include "fuzz_text.hpp"
#include "fuzz_token_util.hpp"

#include <algorithm>

namespace tarnwick::fuzz {

namespace token {

std::vector<std::string_view> sorted_tokens(std::string_view s) {
    std::vector<std::string_view> t;
    text::split_tokens(s, t);
    std::sort(t.begin(), t.end());
    return t;
}

void dedup(std::vector<std::string_view>& t) { t.erase(std::unique(t.begin(), t.end()), t.end()); }

std::string join(const std::vector<std::string_view>& t) {
    std::size_t len = t.empty() ? 0 : t.size() - 1;
    for (std::string_view x : t) len += x.size();
    std::string out;
    out.reserve(len);
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (i) out += ' ';
        out += t[i];
    }
    return out;
}

TokenSets decompose(const std::vector<std::string_view>& A, const std::vector<std::string_view>& B) {
    TokenSets r;
    std::size_t i = 0, j = 0;
    while (i < A.size() && j < B.size()) {
        if (A[i] == B[j]) {
            r.intersection.push_back(A[i]);
            ++i;
            ++j;
        } else if (A[i] < B[j]) {
            r.a_minus_b.push_back(A[i++]);
        } else {
            r.b_minus_a.push_back(B[j++]);
        }
    }
    r.a_minus_b.insert(r.a_minus_b.end(), A.begin() + static_cast<std::ptrdiff_t>(i), A.end());
    r.b_minus_a.insert(r.b_minus_a.end(), B.begin() + static_cast<std::ptrdiff_t>(j), B.end());
    return r;
}

std::vector<std::string_view> token_set(std::string_view s, const QueryTokenCache* cache) {
    if (cache) return std::vector<std::string_view>(cache->tokens.begin(), cache->tokens.end());
    std::vector<std::string_view> t = sorted_tokens(s);
    dedup(t);
    return t;
}

double indel_cmp(std::string_view a, std::string_view b, std::optional<double> cutoff) {
    if (text::is_ascii(a) && text::is_ascii(b)) {
        const std::span<const uint8_t> ba(reinterpret_cast<const uint8_t*>(a.data()), a.size());
        const std::span<const uint8_t> bb(reinterpret_cast<const uint8_t*>(b.data()), b.size());
        return 100.0 * indel_normalized_sim(ba, bb, cutoff);
    }
    std::vector<uint32_t> ca, cb;
    text::decode(a, ca);
    text::decode(b, cb);
    return 100.0 * indel_normalized_sim(std::span<const uint32_t>(ca), std::span<const uint32_t>(cb),
                                        cutoff);
}

/// Token set score of a decomposition; `none_gives_zero` makes "no token on either side"
/// score 0.0 (the token set scorer) instead of comparing two empty texts.
double token_set_of(const TokenSets& d, bool none_gives_zero, std::optional<double> cutoff) {
    if (none_gives_zero && d.intersection.empty() && d.a_minus_b.empty() && d.b_minus_a.empty())
        return 0.0;
    const std::string s = join(d.intersection);
    const std::string t_ab = build_token_set_strings_borrow(s, d.a_minus_b);
    const std::string t_ba = build_token_set_strings_borrow(s, d.b_minus_a);
    if (d.intersection.empty()) return indel_cmp(t_ab, t_ba, cutoff);
    return std::max({indel_cmp(s, t_ab, cutoff), indel_cmp(s, t_ba, cutoff),
                     indel_cmp(t_ab, t_ba, cutoff)});
}

double partial_token_set_of(const TokenSets& d) {
    if (!d.intersection.empty()) return 100.0;
    if (d.a_minus_b.empty() || d.b_minus_a.empty()) return 0.0;
    return partial_ratio_str(join(d.a_minus_b), join(d.b_minus_a));
}

}  // namespace token

// ---- Building blocks ----

std::string tokens_sort_key(std::string_view s) { return token::join(token::sorted_tokens(s)); }

TokenSets tokens_to_set_intersection_diff(std::string_view a, std::string_view b,
                                          const QueryTokenCache* cache) {
    return token::decompose(token::token_set(a, cache), token::token_set(b, nullptr));
}

std::string build_token_set_strings_borrow(std::string_view s,
                                           const std::vector<std::string_view>& diff) {
    if (diff.empty()) return std::string(s);
    if (s.empty()) return token::join(diff);
    std::string out(s);
    out += ' ';
    out += token::join(diff);
    return out;
}

double indel_score_100(std::string_view a, std::string_view b) {
    return token::indel_cmp(a, b, std::nullopt);
}

QueryTokenCache::QueryTokenCache(std::string_view query) {
    std::vector<std::string_view> t = token::sorted_tokens(query);
    sorted_key = token::join(t);
    token::dedup(t);
    tokens.assign(t.begin(), t.end());
    for (unsigned char c : sorted_key) ++histogram[c];
    if (!sorted_key.empty() && sorted_key.size() <= 64 && text::is_ascii(sorted_key)) {
        for (std::size_t i = 0; i < sorted_key.size(); ++i)
            masks[static_cast<unsigned char>(sorted_key[i])] |= uint64_t{1} << i;
        valid = true;
    }
}

QueryTokenCache QueryTokenCache::from_bytes(std::span<const uint8_t> query) {
    const text::Utf8Text t = text::from_bytes(query);
    return QueryTokenCache(t.str());
}

// ---- The six algorithms on texts ----

double token_sort_text(std::string_view a, std::string_view b) {
    return indel_score_100(tokens_sort_key(a), tokens_sort_key(b));
}

double token_set_text(std::string_view a, std::string_view b) {
    return token::token_set_of(tokens_to_set_intersection_diff(a, b), true, std::nullopt);
}

double token_ratio_text(std::string_view a, std::string_view b) {
    const double sort = token_sort_text(a, b);
    const double set = token::token_set_of(tokens_to_set_intersection_diff(a, b), false, std::nullopt);
    return std::max(sort, set);
}

double partial_token_sort_text(std::string_view a, std::string_view b) {
    return partial_ratio_str(tokens_sort_key(a), tokens_sort_key(b));
}

double partial_token_set_score(std::string_view a, std::string_view b) {
    return token::partial_token_set_of(tokens_to_set_intersection_diff(a, b));
}

double partial_token_ratio_text(std::string_view a, std::string_view b) {
    const double set = partial_token_set_score(a, b);
    if (set == 100.0) return 100.0;
    return std::max(partial_token_sort_text(a, b), set);
}

// ---- On converted sequences (the Python scorers) ----

namespace {

/// Runs `f` on the texts of two sequences and applies the cut-off.
template <class F>
double on_texts(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff, F&& f) {
    const text::Utf8Text ta = text::from_seq(a), tb = text::from_seq(b);
    return apply_cutoff(f(ta.str(), tb.str()), cutoff);
}

/// Runs `f` on two byte strings read as text and applies the cut-off.
template <class F>
double on_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b, std::optional<double> cutoff,
                F&& f) {
    const text::Utf8Text ta = text::from_bytes(a), tb = text::from_bytes(b);
    return apply_cutoff(f(ta.str(), tb.str()), cutoff);
}

}  // namespace

double token_sort_ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff) {
    return on_texts(a, b, cutoff, [&](std::string_view x, std::string_view y) {
        return token::indel_cmp(tokens_sort_key(x), tokens_sort_key(y), token::pruning(cutoff));
    });
}

double token_set_ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff) {
    return on_texts(a, b, cutoff, [&](std::string_view x, std::string_view y) {
        return token::token_set_of(tokens_to_set_intersection_diff(x, y), true,
                                   token::pruning(cutoff));
    });
}

double token_ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff) {
    return on_texts(a, b, cutoff, [&](std::string_view x, std::string_view y) {
        const auto [sort, set] =
            token_sort_and_set_cutoff(x, y, token::pruning(cutoff).value_or(0.0));
        return std::max(sort, set);
    });
}

double partial_token_sort_ratio(const types::Seq& a, const types::Seq& b,
                                std::optional<double> cutoff) {
    return on_texts(a, b, cutoff, partial_token_sort_text);
}

double partial_token_set_ratio(const types::Seq& a, const types::Seq& b,
                               std::optional<double> cutoff) {
    return on_texts(a, b, cutoff, partial_token_set_score);
}

double partial_token_ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff) {
    return on_texts(a, b, cutoff, partial_token_ratio_text);
}

// ---- Byte-string variants for the batch functions ----

double token_sort_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                              std::optional<double> cutoff, const QueryTokenCache* cache) {
    return on_bytes(a, b, cutoff, [&](std::string_view x, std::string_view y) {
        const std::string key_b = tokens_sort_key(y);
        if (cache) return token::indel_cmp(cache->sorted_key, key_b, token::pruning(cutoff));
        return token::indel_cmp(tokens_sort_key(x), key_b, token::pruning(cutoff));
    });
}

double partial_token_sort_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                                      std::optional<double> cutoff, const QueryTokenCache* cache) {
    return on_bytes(a, b, cutoff, [&](std::string_view x, std::string_view y) {
        const std::string key_b = tokens_sort_key(y);
        if (cache) return partial_ratio_str(cache->sorted_key, key_b);
        return partial_ratio_str(tokens_sort_key(x), key_b);
    });
}

double token_set_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                             std::optional<double> cutoff, const QueryTokenCache* cache) {
    return on_bytes(a, b, cutoff, [&](std::string_view x, std::string_view y) {
        return token::token_set_of(tokens_to_set_intersection_diff(x, y, cache), true,
                                   token::pruning(cutoff));
    });
}

double partial_token_set_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                                     std::optional<double> cutoff) {
    return on_bytes(a, b, cutoff, partial_token_set_score);
}

double partial_token_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                                 std::optional<double> cutoff, const QueryTokenCache* cache) {
    return on_bytes(a, b, cutoff, [&](std::string_view x, std::string_view y) {
        const double set = token::partial_token_set_of(tokens_to_set_intersection_diff(x, y, cache));
        if (set == 100.0) return 100.0;
        const std::string key_b = tokens_sort_key(y);
        const double sort = cache ? partial_ratio_str(cache->sorted_key, key_b)
                                  : partial_ratio_str(tokens_sort_key(x), key_b);
        return std::max(sort, set);
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
