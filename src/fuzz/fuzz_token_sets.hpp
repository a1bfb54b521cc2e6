// Helpers shared by the token scorers and the weighted ratio: token lists, set
// decomposition into joined texts, and text comparison. Free of Python.
//
// Word pairs are the common case, so the lists keep their first tokens inline and the
// comparisons of short ASCII texts build no 256-entry tables.
#pragma once

#include "fuzz/fuzz_token.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::fuzz::token {

/// A list of token views with room for the first 16 inline. Not copyable.
class TokenList {
public:
    TokenList() = default;
    TokenList(const TokenList&) = delete;
    TokenList& operator=(const TokenList&) = delete;

    void push_back(std::string_view t) {
        if (heap_.empty() && n_ < kInline) [[likely]] {
            std::construct_at(&inline_.v[n_++], t);
            return;
        }
        spill(t);
    }
    /// The tokens as a contiguous range.
    std::string_view* begin() noexcept { return heap_.empty() ? inline_.v : heap_.data(); }
    std::string_view* end() noexcept { return begin() + n_; }
    const std::string_view* begin() const noexcept { return heap_.empty() ? inline_.v : heap_.data(); }
    const std::string_view* end() const noexcept { return begin() + n_; }
    std::size_t size() const noexcept { return n_; }
    bool empty() const noexcept { return n_ == 0; }
    /// Token `i` (i < size()).
    std::string_view operator[](std::size_t i) const noexcept { return begin()[i]; }
    /// Keeps the first `n` tokens (n <= size()).
    void truncate(std::size_t n) noexcept {
        n_ = n;
        if (!heap_.empty()) heap_.resize(n == 0 ? 0 : n);
    }

private:
    /// Appends past the inline room, moving the list to the heap on the first call.
    void spill(std::string_view t) {
        if (heap_.empty()) heap_.assign(inline_.v, inline_.v + n_);
        heap_.push_back(t);
        ++n_;
    }

    static constexpr std::size_t kInline = 16;
    // Left uninitialised: only the first n_ entries are ever constructed and read.
    union Inline {
        Inline() noexcept {}
        std::string_view v[kInline];
    } inline_;
    std::vector<std::string_view> heap_;
    std::size_t n_ = 0;
};

/// Byte-wise order of two tokens (never empty): the first bytes decide most comparisons
/// without a call into memcmp.
inline bool token_less(std::string_view x, std::string_view y) noexcept {
    const auto cx = static_cast<unsigned char>(x[0]), cy = static_cast<unsigned char>(y[0]);
    if (cx != cy) return cx < cy;
    return x < y;
}

/// Fills `out` with the tokens of `s` sorted byte-wise, duplicates kept.
void sorted_tokens(std::string_view s, TokenList& out);

/// Removes consecutive duplicates of a sorted token list.
void dedup(TokenList& t);

/// The tokens joined by single spaces: a view of the only token when there is one (into
/// the text), else a view of `storage`, which receives the joined text.
std::string_view join(const TokenList& t, std::string& storage);

/// Length of the tokens joined by single spaces.
std::size_t joined_length(const TokenList& t) noexcept;

/// The tokens of a text, its sort key (built on first use) and its token set.
class Tokenised {
public:
    explicit Tokenised(std::string_view s) {
        sorted_tokens(s, tokens_);
        key_length_ = joined_length(tokens_);
    }
    Tokenised(const Tokenised&) = delete;
    Tokenised& operator=(const Tokenised&) = delete;

    std::size_t key_length() const noexcept { return key_length_; }
    /// The sort key; valid while this object lives.
    std::string_view key() {
        if (!key_built_) {
            key_ = join(tokens_, key_storage_);
            key_built_ = true;
        }
        return key_;
    }
    /// The token set (the sorted tokens without repeats); the key stays available.
    const TokenList& set() {
        if (!key_built_ && std::adjacent_find(tokens_.begin(), tokens_.end()) != tokens_.end())
            key();  // the key keeps the repeats: build it before they go
        dedup(tokens_);
        return tokens_;
    }

private:
    TokenList tokens_;
    std::size_t key_length_ = 0;
    std::string key_storage_;
    std::string_view key_;
    bool key_built_ = false;
};

/// The set decomposition of two token sets: intersection, a-minus-b and b-minus-a (each
/// ascending) with their joined lengths, and the joined texts built on first use: s (the
/// intersection), d_ab and d_ba (the differences), t_ab and t_ba (s, a space when both
/// parts are non-empty, then the difference).
class SetParts {
public:
    TokenList inter, ab, ba;
    std::size_t len_s = 0, len_ab = 0, len_ba = 0;  // joined lengths of the three lists
    bool ascii = false;                              // both texts are pure ASCII

    SetParts() = default;
    SetParts(const SetParts&) = delete;
    SetParts& operator=(const SetParts&) = delete;

    /// Neither text has a token.
    bool none() const noexcept { return inter.empty() && ab.empty() && ba.empty(); }
    /// Lengths of the joined set texts.
    std::size_t len_t_ab() const noexcept { return combined(len_s, len_ab); }
    std::size_t len_t_ba() const noexcept { return combined(len_s, len_ba); }

    /// The joined texts, built on first use and valid while this object lives.
    std::string_view s() { return lazy(s_, inter, s_storage_); }
    std::string_view d_ab() { return lazy(d_ab_, ab, d_ab_storage_); }
    std::string_view d_ba() { return lazy(d_ba_, ba, d_ba_storage_); }
    std::string_view t_ab() { return set_text(t_ab_, d_ab(), t_ab_storage_); }
    std::string_view t_ba() { return set_text(t_ba_, d_ba(), t_ba_storage_); }

private:
    static std::size_t combined(std::size_t a, std::size_t b) noexcept {
        return a == 0 ? b : b == 0 ? a : a + 1 + b;
    }
    static std::string_view lazy(std::optional<std::string_view>& v, const TokenList& t,
                                 std::string& storage) {
        if (!v) v = join(t, storage);
        return *v;
    }
    std::string_view set_text(std::optional<std::string_view>& v, std::string_view d,
                              std::string& storage) {
        if (!v) {
            const std::string_view sv = s();
            if (d.empty()) {
                v = sv;
            } else if (sv.empty()) {
                v = d;
            } else {
                storage.reserve(sv.size() + 1 + d.size());
                storage.assign(sv);
                storage += ' ';
                storage += d;
                v = storage;
            }
        }
        return *v;
    }

    std::optional<std::string_view> s_, d_ab_, d_ba_, t_ab_, t_ba_;
    std::string s_storage_, d_ab_storage_, d_ba_storage_, t_ab_storage_, t_ba_storage_;
};

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

/// Token set score of a decomposition, comparisons pruned by `cutoff`; with
/// `none_gives_zero`, 0.0 when neither text has a token.
double token_set_of(SetParts& d, bool none_gives_zero, std::optional<double> cutoff);

/// Partial token set score of a decomposition.
double partial_token_set_of(SetParts& d);

/// A cut-off usable as a pruning bound: none for an absent or NaN cut-off, since a NaN
/// never drops a score in the final check and so must not prune on the way either.
inline std::optional<double> pruning(std::optional<double> cutoff) noexcept {
    return (cutoff && !std::isnan(*cutoff)) ? cutoff : std::nullopt;
}

}  // namespace tarnwick::fuzz::token
