// Partial ratio: the best Indel ratio between the shorter input and a window of the
// longer one.
//
// The window search needs the LCS of the needle with many windows. Its masks are built
// once per direction: the LCS of the needle with every growing prefix of the haystack is
// read off one bit-parallel pass (the state after k text elements holds the LCS with the
// first k), the shrinking suffixes likewise from one pass of the reversed needle over the
// reversed haystack. The full windows come from one comb of the needle against the whole
// haystack (algorithms/lcs_windows.hpp), or, when there are few of them, from one pass
// over each. The scores and the order in which windows are compared are those of trying
// every window in turn.
#include "fuzz/fuzz_partial.hpp"

#include "algorithms/common.hpp"
#include "algorithms/lcs_step.hpp"
#include "algorithms/lcs_windows.hpp"
#include "algorithms/pattern_mask.hpp"
#include "cancel.hpp"
#include "fuzz/fuzz_text.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

namespace tarnwick::fuzz {
namespace {

using algorithms::last_word_mask;

/// Score of a window of length w whose LCS with a needle of length n is `lcs`.
inline double window_score(std::size_t n, std::size_t w, uint64_t lcs) noexcept {
    const uint64_t lensum = n + w;
    return ratio_from_distance(lensum - 2 * lcs, lensum);
}

/// Bit-parallel LCS of one fixed pattern against many texts. Texts are read forwards or,
/// with Reverse, from their last element to their first.
template <class T>
class PatternScanner {
public:
    explicit PatternScanner(std::span<const T> pattern) : m_(pattern.size()) {
        if (m_ <= 64) {
            single_.build(pattern);
            live_ = last_word_mask(m_);
        } else {
            multi_.build(pattern);
            state_.resize(multi_.blocks());
            live_ = last_word_mask(m_);
        }
    }

    /// LCS of the pattern with `text`.
    uint64_t lcs(std::span<const T> text) {
        uint64_t result = 0;
        scan<false, false>(text, [&](std::size_t, uint64_t v) { result = v; });
        return result;
    }

    /// Calls f(k, lcs) for k = 1..len(text), lcs being the LCS of the pattern with the
    /// first k elements of `text` (the last k with Reverse).
    template <bool Reverse, class F>
    void prefixes(std::span<const T> text, F&& f) {
        scan<Reverse, true>(text, std::forward<F>(f));
    }

private:
    /// One bit-parallel pass; with Every, f(k, lcs) after each element, else once at the end.
    template <bool Reverse, bool Every, class F>
    void scan(std::span<const T> text, F&& f) {
        const std::size_t n = text.size();
        if (n == 0) return;
        if (m_ <= 64) {
            uint64_t S = algorithms::kLcsStart;
            for (algorithms::CancelChunks chunk(n); chunk.next();) {
                for (std::size_t j = chunk.begin(), end = chunk.end(); j < end; ++j) {
                    const T c = Reverse ? text[n - 1 - j] : text[j];
                    S = algorithms::lcs_word_step(S, single_.get(c));
                    if constexpr (Every) f(j + 1, algorithms::lcs_word_count(S, live_));
                }
            }
            if constexpr (!Every) f(n, algorithms::lcs_word_count(S, live_));
            return;
        }
        const std::size_t blocks = state_.size();
        uint64_t* state = state_.data();
        std::fill(state_.begin(), state_.end(), algorithms::kLcsStart);
        cancel::Budget budget;
        for (std::size_t j = 0; j < n; ++j) {
            budget.spend(blocks);
            const T c = Reverse ? text[n - 1 - j] : text[j];
            if constexpr (Every) {
                const uint64_t clear = algorithms::lcs_words_step<true>(state, multi_.get(c), blocks);
                f(j + 1, algorithms::lcs_words_count(clear, state[blocks - 1], live_));
            } else {
                algorithms::lcs_words_step(state, multi_.get(c), blocks);
            }
        }
        if constexpr (!Every) f(n, algorithms::lcs_words_count(state, blocks, live_));
    }

    std::size_t m_;
    uint64_t live_ = 0;
    algorithms::PatternMask64<T> single_;
    algorithms::PatternMaskMulti<T> multi_;
    std::vector<uint64_t> state_;
};

/// Smallest LCS with which a window of length w scores strictly more than `best` against
/// a needle of length n; min(n, w) + 1 when no window of that length can.
inline uint64_t lcs_to_beat(double best, std::size_t n, std::size_t w) noexcept {
    const uint64_t top = std::min(n, w);
    const double est = best / 100.0 * static_cast<double>(n + w) / 2.0;
    uint64_t L = est <= 0.0 ? 0 : std::min<uint64_t>(static_cast<uint64_t>(est), top);
    while (L > 0 && window_score(n, w, L - 1) > best) --L;
    while (L <= top && !(window_score(n, w, L) > best)) ++L;
    return L;
}

/// Whether the full windows of a needle of n elements in a haystack of m >= n are scored
/// from one comb of the whole grid (about n * m cell steps) rather than by one
/// bit-parallel pass per window (n steps of blocks_for(n) words each, fewer when windows
/// are skipped). A word step costs about as much as four cell steps; a needle of one word
/// is always faster per window.
inline bool comb_full_windows(std::size_t n, std::size_t m) noexcept {
    if (n <= 64 || !algorithms::lcs_of_windows_fits(n, m)) return false;
    return (m - n + 1) * algorithms::blocks_for(n) * 4 >= m;
}

/// Position of the first occurrence of `needle` in `haystack`, or npos.
template <class T>
std::size_t find_exact(std::span<const T> needle, std::span<const T> haystack) {
    if constexpr (sizeof(T) == 1) {
        const std::string_view h(reinterpret_cast<const char*>(haystack.data()), haystack.size());
        const std::string_view nd(reinterpret_cast<const char*>(needle.data()), needle.size());
        return h.find(nd);
    } else {
        const auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end());
        return it == haystack.end() ? std::string_view::npos
                                    : static_cast<std::size_t>(it - haystack.begin());
    }
}

/// The low `n` (1..64) bits of `x` in reverse order (bit i to bit n - 1 - i); the bits of
/// `x` from n up are zero. The mask of a value in the reversed pattern is the reversed mask
/// of the value in the pattern.
inline uint64_t reverse_low_bits(uint64_t x, std::size_t n) noexcept {
    x = __builtin_bswap64(x);
    x = ((x >> 4) & 0x0F0F0F0F0F0F0F0FULL) | ((x & 0x0F0F0F0F0F0F0F0FULL) << 4);
    x = ((x >> 2) & 0x3333333333333333ULL) | ((x & 0x3333333333333333ULL) << 2);
    x = ((x >> 1) & 0x5555555555555555ULL) | ((x & 0x5555555555555555ULL) << 1);
    return x >> (64 - n);
}

/// The best of the windows of one needle, kept as the exact fraction lcs / len (len the
/// needle's and the window's lengths together): a window's score is ratio_from_distance(
/// len - 2 lcs, len), which rounds 2 lcs / len monotonically, so the best fraction gives
/// the best score and no score needs computing until the end.
struct BestFraction {
    uint64_t lcs = 0;
    uint64_t len = 1;

    /// Takes lcs / len when it is greater than the best so far; returns whether it did.
    bool offer(uint64_t l, uint64_t w) noexcept {
        if (l * len <= lcs * w) return false;
        lcs = l;
        len = w;
        return true;
    }
    double score() const noexcept { return lcs == 0 ? 0.0 : ratio_from_distance(len - 2 * lcs, len); }
};

/// The best window score of a needle of 1..64 elements in a haystack of m elements not
/// shorter than it, from `mask(j)`, the needle's mask of haystack element j: the growing
/// prefixes (with Prefixes), the full windows and the shrinking suffixes. Only the best
/// score is kept, so the order of the windows does not matter; a full window equal to the
/// needle is the only one that scores 100 and ends the search. The LCS with every prefix
/// comes from one pass over the haystack's start, with every suffix from one pass of the
/// reversed needle (the masks bit-reversed) over its end read backwards.
template <bool Prefixes, class Mask>
double short_needle_best(std::size_t n, std::size_t m, Mask mask) {
    const uint64_t live = last_word_mask(n);
    BestFraction best;
    uint64_t S = algorithms::kLcsStart;
    if constexpr (Prefixes) {
        for (std::size_t k = 1; k < n; ++k) {
            S = algorithms::lcs_word_step(S, mask(k - 1));
            best.offer(algorithms::lcs_word_count(S, live), n + k);
        }
    }
    // As in the window search: neighbouring windows differ in LCS by at most one.
    uint64_t need = lcs_to_beat(best.score(), n, n);
    cancel::Budget budget;
    for (std::size_t s = 0; s + n <= m;) {
        budget.spend(n);
        S = algorithms::kLcsStart;
        for (std::size_t j = s; j < s + n; ++j) S = algorithms::lcs_word_step(S, mask(j));
        const uint64_t lcs = algorithms::lcs_word_count(S, live);
        if (lcs == n) return 100.0;
        if (best.offer(lcs, 2 * n)) need = lcs_to_beat(best.score(), n, n);
        s += lcs + 1 < need ? need - lcs : 1;
    }
    S = algorithms::kLcsStart;
    for (std::size_t k = 1; k < n; ++k) {
        S = algorithms::lcs_word_step(S, reverse_low_bits(mask(m - k), n));
        best.offer(algorithms::lcs_word_count(S, live), n + k);
    }
    return best.score();
}

/// Haystacks up to this many elements have their masks looked up once, into a buffer on
/// the stack, rather than once per window that reads them.
constexpr std::size_t kMaskedHaystack = 256;

/// short_needle_best with the masks `get(c)`.
template <bool Prefixes, class T, class Get>
double short_needle_with(std::size_t n, std::span<const T> haystack, Get get) {
    const std::size_t m = haystack.size();
    const T* h = haystack.data();
    if (m > kMaskedHaystack)
        return short_needle_best<Prefixes>(n, m, [&](std::size_t j) noexcept { return get(h[j]); });
    uint64_t masks[kMaskedHaystack];
    for (std::size_t j = 0; j < m; ++j) masks[j] = get(h[j]);
    return short_needle_best<Prefixes>(n, m, [&](std::size_t j) noexcept { return masks[j]; });
}

/// The score of the window search (Prefixes) or of the byte kernel (without) for a needle
/// of 1..64 elements and a haystack not shorter than it, with masks that cost no table
/// clearing: compared in place for up to 16 elements, else as with_masks64 gives them.
template <bool Prefixes, class T>
double short_needle_score(std::span<const T> needle, std::span<const T> haystack) {
    const std::size_t n = needle.size();
    if (n <= algorithms::ShortMask<T>::kMax) {
        const algorithms::ShortMask<T> pm(needle);
        return short_needle_with<Prefixes>(n, haystack, [&pm](T c) noexcept { return pm.get(c); });
    }
    return algorithms::with_masks64(
        needle, [&](auto get) { return short_needle_with<Prefixes>(n, haystack, get); });
}

/// Whether short_needle_score takes this needle and haystack.
inline bool short_needle(std::size_t n, std::size_t m) noexcept { return n >= 1 && n <= 64 && n <= m; }

/// Score of the window search of `needle` in `haystack`.
template <class T>
double window_search_score(std::span<const T> needle, std::span<const T> haystack) {
    if (short_needle(needle.size(), haystack.size()))
        return short_needle_score<true>(needle, haystack);
    return partial_ratio_short_long(needle, haystack).score;
}

/// The byte kernel on the shorter of two byte strings (`a` on equal lengths).
double fast_shorter_first(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    return a.size() <= b.size() ? partial_ratio_ascii_fast(a, b) : partial_ratio_ascii_fast(b, a);
}

}  // namespace

template <class T>
Window partial_ratio_short_long(std::span<const T> needle, std::span<const T> haystack) {
    const std::size_t n = needle.size();
    const std::size_t m = haystack.size();
    if (n == 0) return Window{m == 0 ? 100.0 : 0.0, 0, 0};
    if (m == 0) return Window{};

    // Only a full window equal to the needle scores 100 (every other window differs from
    // the needle by at least one element), so the first exact occurrence is the answer.
    if (n <= m) {
        const std::size_t pos = find_exact(needle, haystack);
        if (pos != std::string_view::npos) return Window{100.0, pos, pos + n};
    }

    Window best;
    auto consider = [&](double score, std::size_t start, std::size_t end) {
        if (score > best.score) best = Window{score, start, end};
    };

    PatternScanner<T> forward(needle);
    // Growing prefixes haystack[0, k) for k = 1 .. min(n, m) - 1.
    const std::size_t kmax = std::min(n, m) - 1;
    if (kmax >= 1) {
        forward.template prefixes<false>(haystack.first(kmax), [&](std::size_t k, uint64_t lcs) {
            consider(window_score(n, k, lcs), 0, k);
        });
    }
    // Full windows haystack[s, s + n) (the whole haystack when it is the shorter).
    // Neighbouring full windows differ by one element at each end, so their LCS values
    // differ by at most one: after a window with LCS l, the next `need - l - 1` windows
    // cannot reach the `need` that beating the best takes, and are not scanned.
    if (n > m) {
        consider(window_score(n, m, forward.lcs(haystack)), 0, m);
    } else if (comb_full_windows(n, m)) {
        std::vector<uint32_t> lcs;
        algorithms::lcs_of_windows(needle, haystack, n, lcs);
        for (std::size_t s = 0; s < lcs.size(); ++s) consider(window_score(n, n, lcs[s]), s, s + n);
    } else {
        uint64_t need = lcs_to_beat(best.score, n, n);
        cancel::Budget budget;
        for (std::size_t s = 0; s + n <= m;) {
            budget.spend(n);
            const uint64_t lcs = forward.lcs(haystack.subspan(s, n));
            const double score = window_score(n, n, lcs);
            if (score > best.score) {
                best = Window{score, s, s + n};
                need = lcs_to_beat(best.score, n, n);
            }
            s += lcs + 1 < need ? need - lcs : 1;
        }
    }
    // Shrinking suffixes haystack[s, m) for s = s0 .. m - 1: the LCS with the last k
    // elements comes from the reversed needle read against the haystack read backwards.
    const std::size_t s0 = n > m ? 0 : m - n + 1;
    if (s0 < m) {
        std::vector<T> reversed(needle.rbegin(), needle.rend());
        PatternScanner<T> backward{std::span<const T>(reversed)};
        const std::size_t kcount = m - s0;
        std::vector<uint64_t> lcs_of_last(kcount + 1, 0);
        backward.template prefixes<true>(haystack.last(kcount), [&](std::size_t k, uint64_t lcs) {
            lcs_of_last[k] = lcs;
        });
        for (std::size_t s = s0; s < m; ++s) {
            const std::size_t k = m - s;
            consider(window_score(n, k, lcs_of_last[k]), s, m);
        }
    }
    return best;
}

template Window partial_ratio_short_long<uint8_t>(std::span<const uint8_t>, std::span<const uint8_t>);
template Window partial_ratio_short_long<uint32_t>(std::span<const uint32_t>,
                                                   std::span<const uint32_t>);
template Window partial_ratio_short_long<uint64_t>(std::span<const uint64_t>,
                                                   std::span<const uint64_t>);

double partial_ratio_ascii_fast(std::span<const uint8_t> needle,
                                std::span<const uint8_t> haystack) {
    const std::size_t n = needle.size();
    const std::size_t m = haystack.size();
    if (n == 0) return m == 0 ? 100.0 : 0.0;
    if (m < n || n > 64) return 0.0;
    return short_needle_score<false>(needle, haystack);
}

double partial_ratio_vecs(const types::Seq& a, const types::Seq& b) {
    const std::size_t la = a.size(), lb = b.size();
    if (a.kind() == types::SeqKind::Bytes && b.kind() == types::SeqKind::Bytes &&
        std::min(la, lb) <= 64)
        return fast_shorter_first(a.as_bytes(), b.as_bytes());
    return types::visit_pair(a, b, [&](auto sa, auto sb) {
        if (la > lb) return window_search_score(sb, sa);
        const double first = window_search_score(sa, sb);
        if (first == 100.0 || la != lb) return first;
        return std::max(first, window_search_score(sb, sa));
    });
}

double partial_ratio_str(std::string_view a, std::string_view b) {
    const text::Utf8Text wa = text::well_formed(a), wb = text::well_formed(b);
    return partial_ratio_text(wa.str(), wb.str());
}

namespace {

/// partial_ratio_text of two pure-ASCII texts, as bytes.
double ascii_partial(std::span<const uint8_t> ba, std::span<const uint8_t> bb) {
    if (std::min(ba.size(), bb.size()) <= 64) return fast_shorter_first(ba, bb);
    // One code point per byte: the byte width gives the same window search.
    return ba.size() <= bb.size() ? partial_ratio_short_long(ba, bb).score
                                  : partial_ratio_short_long(bb, ba).score;
}

/// The window search over code points, the shorter text as the needle (the first on a tie).
double code_point_partial(std::span<const uint32_t> sa, std::span<const uint32_t> sb) {
    return sa.size() <= sb.size() ? window_search_score(sa, sb) : window_search_score(sb, sa);
}

}  // namespace

double partial_ratio_text(std::string_view a, std::string_view b) {
    const bool ascii = text::is_ascii(a) && text::is_ascii(b);
    if (ascii) {
        const std::span<const uint8_t> ba(reinterpret_cast<const uint8_t*>(a.data()), a.size());
        const std::span<const uint8_t> bb(reinterpret_cast<const uint8_t*>(b.data()), b.size());
        return ascii_partial(ba, bb);
    }
    const text::CodePoints ca(a), cb(b);
    return code_point_partial(ca.span(), cb.span());
}

double partial_ratio_text(std::u32string_view a, std::u32string_view b) {
    if (text::is_ascii(a) && text::is_ascii(b)) {
        // The byte path of the UTF-8 form, which is the narrowed code points.
        std::vector<uint8_t> heap;
        uint8_t inline_bytes[256];
        uint8_t* buf = inline_bytes;
        if (a.size() + b.size() > sizeof inline_bytes) {
            heap.resize(a.size() + b.size());
            buf = heap.data();
        }
        std::copy(a.begin(), a.end(), buf);
        std::copy(b.begin(), b.end(), buf + a.size());
        return ascii_partial({buf, a.size()}, {buf + a.size(), b.size()});
    }
    return code_point_partial(text::code_units(a), text::code_units(b));
}

double partial_ratio_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b,
                           std::optional<double> cutoff) {
    if (a.empty() || b.empty()) return 0.0;
    double score;
    if (std::min(a.size(), b.size()) <= 64)
        score = fast_shorter_first(a, b);
    else
        score = partial_ratio_vecs(types::Seq::bytes(a.data(), a.size()),
                                   types::Seq::bytes(b.data(), b.size()));
    return apply_cutoff(score, cutoff);
}

double partial_ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff) {
    return apply_cutoff(partial_ratio_vecs(a, b), cutoff);
}

std::optional<distance::initialize::ScoreAlignment> partial_ratio_alignment(
    const types::Seq& s1, const types::Seq& s2, std::optional<double> cutoff) {
    const std::size_t l1 = s1.size(), l2 = s2.size();
    const distance::initialize::ScoreAlignment al = types::visit_pair(s1, s2, [&](auto a, auto b) {
        distance::initialize::ScoreAlignment r;
        if (l1 <= l2) {
            const Window w = partial_ratio_short_long(a, b);
            r = {w.score, 0, l1, w.start, w.end};
            if (w.score != 100.0 && l1 == l2) {
                const Window w2 = partial_ratio_short_long(b, a);
                if (w2.score > w.score) r = {w2.score, w2.start, w2.end, 0, l2};
            }
        } else {
            const Window w = partial_ratio_short_long(b, a);
            r = {w.score, w.start, w.end, 0, l2};
        }
        return r;
    });
    if (cutoff && al.score < *cutoff) return std::nullopt;
    return al;
}

}  // namespace tarnwick::fuzz
