// Helpers shared by the token scorers and the weighted ratio: token lists, set
// decomposition into joined texts, and text comparison. Free of Python.
//
// Word pairs are the common case, so the lists keep their first tokens inline and the
// comparisons of short ASCII texts build no 256-entry tables.
#pragma once

#include "fuzz/fuzz_text.hpp"
#include "fuzz/fuzz_token.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace tarnwick::fuzz::token {

/// A list of token views with room for the first 16 inline. Not copyable. `Ch` is char
/// for tokens of UTF-8 text and char32_t for tokens of code points.
template <class Ch>
class BasicTokenList {
public:
    using View = std::basic_string_view<Ch>;

    BasicTokenList() = default;
    BasicTokenList(const BasicTokenList&) = delete;
    BasicTokenList& operator=(const BasicTokenList&) = delete;

    void push_back(View t) {
        if (heap_.empty() && n_ < kInline) [[likely]] {
            std::construct_at(&inline_.v[n_++], t);
            return;
        }
        spill(t);
    }
    /// The tokens as a contiguous range.
    View* begin() noexcept { return heap_.empty() ? inline_.v : heap_.data(); }
    View* end() noexcept { return begin() + n_; }
    const View* begin() const noexcept { return heap_.empty() ? inline_.v : heap_.data(); }
    const View* end() const noexcept { return begin() + n_; }
    std::size_t size() const noexcept { return n_; }
    bool empty() const noexcept { return n_ == 0; }
    /// Token `i` (i < size()).
    View operator[](std::size_t i) const noexcept { return begin()[i]; }
    /// Keeps the first `n` tokens (n <= size()).
    void truncate(std::size_t n) noexcept {
        n_ = n;
        if (!heap_.empty()) heap_.resize(n == 0 ? 0 : n);
    }

private:
    /// Appends past the inline room, moving the list to the heap on the first call.
    void spill(View t) {
        if (heap_.empty()) heap_.assign(inline_.v, inline_.v + n_);
        heap_.push_back(t);
        ++n_;
    }

    static constexpr std::size_t kInline = 16;
    // Left uninitialised: only the first n_ entries are ever constructed and read.
    union Inline {
        Inline() noexcept {}
        View v[kInline];
    } inline_;
    std::vector<View> heap_;
    std::size_t n_ = 0;
};

using TokenList = BasicTokenList<char>;
/// Tokens of code points.
using WideTokenList = BasicTokenList<char32_t>;

/// Order of two tokens (never empty): byte-wise for UTF-8, by code point for code points,
/// which is the same order, since UTF-8 keeps the order of code points. The first
/// elements decide most comparisons without a call into memcmp.
template <class Ch>
inline bool token_less(std::basic_string_view<Ch> x, std::basic_string_view<Ch> y) noexcept {
    using U = std::make_unsigned_t<Ch>;
    const auto cx = static_cast<U>(x[0]), cy = static_cast<U>(y[0]);
    if (cx != cy) return cx < cy;
    return x < y;
}

/// Fills `out` with the tokens of `s` sorted (see token_less), duplicates kept.
template <class Ch>
void sorted_tokens(std::basic_string_view<Ch> s, BasicTokenList<Ch>& out);

/// Removes consecutive duplicates of a sorted token list.
template <class Ch>
void dedup(BasicTokenList<Ch>& t);

/// Storage of a joined text: inline up to 64 elements (the keys of words and short
/// phrases), else on the heap.
template <class Ch>
using JoinBuffer = text::InlineBuffer<Ch, 64>;

/// The tokens joined by single spaces: a view of the only token when there is one (into
/// the text), else a view of `storage`, which receives the joined text.
template <class Ch>
std::basic_string_view<Ch> join(const BasicTokenList<Ch>& t, JoinBuffer<Ch>& storage);

/// Length of the tokens joined by single spaces.
template <class Ch>
std::size_t joined_length(const BasicTokenList<Ch>& t) noexcept;

/// The tokens of a text, its sort key (built on first use) and its token set.
template <class Ch>
class BasicTokenised {
public:
    using View = std::basic_string_view<Ch>;

    explicit BasicTokenised(View s) {
        sorted_tokens(s, tokens_);
        key_length_ = joined_length(tokens_);
    }
    BasicTokenised(const BasicTokenised&) = delete;
    BasicTokenised& operator=(const BasicTokenised&) = delete;

    std::size_t key_length() const noexcept { return key_length_; }
    /// The sort key; valid while this object lives.
    View key() {
        if (!key_built_) {
            key_ = join(tokens_, key_storage_);
            key_built_ = true;
        }
        return key_;
    }
    /// The token set (the sorted tokens without repeats); the key stays available.
    const BasicTokenList<Ch>& set() {
        if (!key_built_ && std::adjacent_find(tokens_.begin(), tokens_.end()) != tokens_.end())
            key();  // the key keeps the repeats: build it before they go
        dedup(tokens_);
        return tokens_;
    }

private:
    BasicTokenList<Ch> tokens_;
    std::size_t key_length_ = 0;
    JoinBuffer<Ch> key_storage_;
    View key_;
    bool key_built_ = false;
};

using Tokenised = BasicTokenised<char>;
using WideTokenised = BasicTokenised<char32_t>;

/// The set decomposition of two token sets: intersection, a-minus-b and b-minus-a (each
/// ascending) with their joined lengths, and the joined texts built on first use: s (the
/// intersection), d_ab and d_ba (the differences), t_ab and t_ba (s, a space when both
/// parts are non-empty, then the difference).
template <class Ch>
class BasicSetParts {
public:
    using View = std::basic_string_view<Ch>;
    using Buffer = JoinBuffer<Ch>;

    BasicTokenList<Ch> inter, ab, ba;
    std::size_t len_s = 0, len_ab = 0, len_ba = 0;  // joined lengths of the three lists
    bool ascii = false;                              // both texts are pure ASCII

    BasicSetParts() = default;
    BasicSetParts(const BasicSetParts&) = delete;
    BasicSetParts& operator=(const BasicSetParts&) = delete;

    /// Neither text has a token.
    bool none() const noexcept { return inter.empty() && ab.empty() && ba.empty(); }
    /// Lengths of the joined set texts.
    std::size_t len_t_ab() const noexcept { return combined(len_s, len_ab); }
    std::size_t len_t_ba() const noexcept { return combined(len_s, len_ba); }

    /// The joined texts, built on first use and valid while this object lives.
    View s() { return lazy(s_, inter, s_storage_); }
    View d_ab() { return lazy(d_ab_, ab, d_ab_storage_); }
    View d_ba() { return lazy(d_ba_, ba, d_ba_storage_); }
    View t_ab() { return set_text(t_ab_, d_ab(), t_ab_storage_); }
    View t_ba() { return set_text(t_ba_, d_ba(), t_ba_storage_); }

private:
    static std::size_t combined(std::size_t a, std::size_t b) noexcept {
        return a == 0 ? b : b == 0 ? a : a + 1 + b;
    }
    static View lazy(std::optional<View>& v, const BasicTokenList<Ch>& t, Buffer& storage) {
        if (!v) v = join(t, storage);
        return *v;
    }
    View set_text(std::optional<View>& v, View d, Buffer& storage) {
        if (!v) {
            const View sv = s();
            if (d.empty()) {
                v = sv;
            } else if (sv.empty()) {
                v = d;
            } else {
                const std::size_t n = sv.size() + 1 + d.size();
                Ch* out = storage.reserve(n);
                std::copy(sv.begin(), sv.end(), out);
                out[sv.size()] = Ch(' ');
                std::copy(d.begin(), d.end(), out + sv.size() + 1);
                v = View(out, n);
            }
        }
        return *v;
    }

    std::optional<View> s_, d_ab_, d_ba_, t_ab_, t_ba_;
    Buffer s_storage_, d_ab_storage_, d_ba_storage_, t_ab_storage_, t_ba_storage_;
};

using SetParts = BasicSetParts<char>;
using WideSetParts = BasicSetParts<char32_t>;

/// Fills `out` with the set decomposition of the ascending token sets `A` and `B`.
template <class RangeA, class Ch>
void merge_sets(const RangeA& A, const BasicTokenList<Ch>& B, BasicSetParts<Ch>& out) {
    std::size_t i = 0, j = 0;
    const std::size_t na = A.size(), nb = B.size();
    while (i < na && j < nb) {
        const std::basic_string_view<Ch> x = A[i], y = B[j];
        if (x == y) {
            out.inter.push_back(x);
            ++i;
            ++j;
        } else if (token_less(x, y)) {
            out.ab.push_back(x);
            ++i;
        } else {
            out.ba.push_back(y);
            ++j;
        }
    }
    for (; i < na; ++i) out.ab.push_back(A[i]);
    for (; j < nb; ++j) out.ba.push_back(B[j]);
    out.len_s = joined_length(out.inter);
    out.len_ab = joined_length(out.ab);
    out.len_ba = joined_length(out.ba);
}

/// Decomposes the token sets `A` (or the cache's tokens when given) and `B`; `ascii`
/// tells whether both texts are pure ASCII.
void decompose(const TokenList& A, const QueryTokenCache* cache, const TokenList& B, bool ascii,
               SetParts& out);

/// Set decomposition of two texts, the first one's tokens taken from `cache` when given.
void decompose_texts(std::string_view a, std::string_view b, const QueryTokenCache* cache,
                     SetParts& out);

/// Whether two pure-ASCII texts of lengths `la` and `lb` compared with cut-off `c` must
/// score below it on their lengths alone (the distance is at least their difference). A
/// NaN cut-off counts as 100.
bool length_prunes(std::size_t la, std::size_t lb, double c) noexcept;

/// 100 * normalized Indel similarity of two byte strings with an optional cut-off: what
/// 100 * indel_normalized_sim gives, faster for short strings.
double indel_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                   std::optional<double> cutoff);

/// 100 * normalized Indel similarity of two texts with an optional cut-off (0.0 below it;
/// a NaN cut-off prunes as 100): as bytes when both are pure ASCII, else as code points.
/// `ascii` tells that both are known to be pure ASCII.
double indel_cmp(std::string_view a, std::string_view b, std::optional<double> cutoff,
                 bool ascii = false);

/// 100 * normalized Indel similarity of two texts given as code points, with an optional
/// cut-off: what indel_cmp gives on their UTF-8 forms.
inline double indel_cmp(std::u32string_view a, std::u32string_view b, std::optional<double> cutoff) {
    return 100.0 * indel_normalized_sim(text::code_units(a), text::code_units(b), cutoff);
}

/// Token set score of a decomposition, comparisons pruned by `cutoff`; with
/// `none_gives_zero`, 0.0 when neither text has a token.
double token_set_of(SetParts& d, bool none_gives_zero, std::optional<double> cutoff);
/// Same for the decomposition of two texts given as code points (not both pure ASCII).
double token_set_of(WideSetParts& d, bool none_gives_zero, std::optional<double> cutoff);

/// Partial token set score of a decomposition.
double partial_token_set_of(SetParts& d);
double partial_token_set_of(WideSetParts& d);

/// Set decomposition of two texts given as code points.
void decompose_texts(std::u32string_view a, std::u32string_view b, WideSetParts& out);

/// A cut-off usable as a pruning bound: none for an absent or NaN cut-off, since a NaN
/// never drops a score in the final check and so must not prune on the way either.
inline std::optional<double> pruning(std::optional<double> cutoff) noexcept {
    return (cutoff && !std::isnan(*cutoff)) ? cutoff : std::nullopt;
}

}  // namespace tarnwick::fuzz::token
