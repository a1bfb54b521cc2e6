#include "process/process_scorer.hpp"

#include "algorithms/lcs.hpp"
#include "algorithms/lcs_step.hpp"
#include "algorithms/pattern_mask.hpp"
#include "cancel.hpp"
#include "fuzz/fuzz_partial.hpp"
#include "fuzz/fuzz_wratio.hpp"

#include <algorithm>

namespace tarnwick::process {

namespace {

/// fuzz::ratio_from_distance(d, L) for every L up to kMaxLen and d up to L, computed once
/// (the same expression, so the same bits): the matrix and extraction loops score many
/// short choices, and the division would otherwise be a good part of each score's time.
class RatioTable {
public:
    static constexpr uint64_t kMaxLen = 128;

    static const RatioTable& get() {
        static const RatioTable table;
        return table;
    }
    /// The ratio of distance d <= L over L <= kMaxLen elements.
    double operator()(uint64_t d, uint64_t L) const noexcept { return values_[L * (L + 1) / 2 + d]; }

private:
    RatioTable() {
        for (uint64_t L = 0; L <= kMaxLen; ++L)
            for (uint64_t d = 0; d <= L; ++d) values_[L * (L + 1) / 2 + d] = fuzz::ratio_from_distance(d, L);
    }
    double values_[(kMaxLen + 1) * (kMaxLen + 2) / 2];
};

/// fuzz::ratio_from_distance(d, L), from the table when L is within it.
inline double ratio_of(uint64_t d, uint64_t L) noexcept {
    return L <= RatioTable::kMaxLen ? RatioTable::get()(d, L) : fuzz::ratio_from_distance(d, L);
}

}  // namespace

ScorerType ScorerType::from_str(std::string_view name) noexcept {
    static constexpr std::pair<std::string_view, Value> kNames[] = {
        {"ratio", Ratio},
        {"qratio", QRatio},
        {"wratio", WRatio},
        {"partial_ratio", PartialRatio},
        {"token_sort_ratio", TokenSortRatio},
        {"partial_token_sort_ratio", PartialTokenSortRatio},
        {"token_set_ratio", TokenSetRatio},
        {"partial_token_set_ratio", PartialTokenSetRatio},
        {"token_ratio", TokenRatio},
        {"partial_token_ratio", PartialTokenRatio},
    };
    if (name.starts_with("fuzz_")) name.remove_prefix(5);
    for (const auto& [n, v] : kNames)
        if (n == name) return ScorerType{v};
    return ScorerType{Unknown};
}

bool ScorerType::uses_token_cache() const noexcept {
    switch (value) {
        case WRatio:
        case TokenSortRatio:
        case PartialTokenSortRatio:
        case TokenSetRatio:
        case TokenRatio:
        case PartialTokenRatio: return true;
        default: return false;
    }
}

SeqScoreFn seq_scorer(ScorerType s) noexcept {
    switch (s.value) {
        case ScorerType::Ratio: return &fuzz::ratio;
        case ScorerType::QRatio: return &fuzz::qratio;
        case ScorerType::WRatio: return &fuzz::wratio;
        case ScorerType::PartialRatio: return &fuzz::partial_ratio;
        case ScorerType::TokenSortRatio: return &fuzz::token_sort_ratio;
        case ScorerType::PartialTokenSortRatio: return &fuzz::partial_token_sort_ratio;
        case ScorerType::TokenSetRatio: return &fuzz::token_set_ratio;
        case ScorerType::PartialTokenSetRatio: return &fuzz::partial_token_set_ratio;
        case ScorerType::TokenRatio: return &fuzz::token_ratio;
        case ScorerType::PartialTokenRatio: return &fuzz::partial_token_ratio;
        default: return nullptr;
    }
}

PreparedQuery::PreparedQuery(ScorerType scorer, const types::Seq& query)
    : scorer_(scorer), general_(seq_scorer(scorer)), seq_(query) {
    const bool ratio = scorer.value == ScorerType::Ratio || scorer.value == ScorerType::QRatio;
    if (ratio && query.kind() == types::SeqKind::Chars && !query.empty() && query.size() <= 64) {
        const auto cps = query.as_chars();
        const auto [lo, hi] = std::minmax_element(cps.begin(), cps.end());
        wide_valid_ = true;
        if (*hi - *lo < kWideSpan) {
            wide_lo_ = *lo;
            wide_masks_.assign(*hi - *lo + 1, 0);
            for (std::size_t i = 0; i < cps.size(); ++i) wide_masks_[cps[i] - *lo] |= uint64_t{1} << i;
            return;
        }
        wide_hashed_ = true;
        wide_masks_.assign(256, 0);
        hashed_.assign(std::size_t{1} << kHashedBits, HashedMask{});
        for (std::size_t i = 0; i < cps.size(); ++i) {
            const uint64_t c = cps[i], bit = uint64_t{1} << i;
            if (c < 256) {
                wide_masks_[c] |= bit;
                continue;
            }
            std::size_t h = hashed_slot(c);
            while (hashed_[h].mask != 0 && hashed_[h].code != c) h = (h + 1) & (hashed_.size() - 1);
            hashed_[h].code = c;
            hashed_[h].mask |= bit;
        }
        return;
    }
    if (query.kind() != types::SeqKind::Bytes || !scorer.known()) return;
    is_bytes_ = true;
    bytes_ = query.as_bytes();
    for (uint8_t c : bytes_) ++histogram_[c];
    if (!bytes_.empty() && bytes_.size() <= 64) {
        masks_valid_ = true;
        algorithms::set_byte_masks(masks_, bytes_);
    }
    lanes_ = ratio && algorithms::lcs_lanes_suit(lane_pattern());
    if (scorer.uses_token_cache()) cache_.emplace(fuzz::QueryTokenCache::from_bytes(bytes_));
}

Cutoff::Cutoff(std::optional<double> v) noexcept : value(v) {
    if (!v) return;
    clamped = fuzz::clamp_cutoff(*v);
    factor = 1.0 - clamped / 100.0;
}

double PreparedQuery::score(const types::Seq& choice, std::optional<double> cutoff) const {
    return score(choice, Cutoff(cutoff));
}

double PreparedQuery::score(std::span<const uint8_t> choice, std::optional<double> cutoff) const {
    return score(choice, Cutoff(cutoff));
}

double PreparedQuery::score(const types::Seq& choice, const Cutoff& cut) const {
    const std::optional<double> cutoff = cut.value;
    if (!general_) return 0.0;
    // Empty inputs follow each scorer's own rule (qratio and partial ratio give 0.0, the
    // plain ratio of two empty strings 100.0): the general computation has it.
    if (is_bytes_ && choice.kind() == types::SeqKind::Bytes && !bytes_.empty() && !choice.empty())
        return fuzz::apply_cutoff(score_bytes(choice.as_bytes(), cut), cutoff);
    if (wide_valid_ && !choice.empty()) {
        if (choice.kind() == types::SeqKind::Chars)
            return fuzz::apply_cutoff(ratio_wide(choice.as_chars(), cut), cutoff);
        if (choice.kind() == types::SeqKind::Bytes)
            return fuzz::apply_cutoff(ratio_wide(choice.as_bytes(), cut), cutoff);
    }
    return fuzz::apply_cutoff(general_(seq_, choice, cutoff), cutoff);
}

double PreparedQuery::score(std::span<const uint8_t> choice, const Cutoff& cut) const {
    const std::optional<double> cutoff = cut.value;
    if (is_bytes_ && !bytes_.empty() && !choice.empty())
        return fuzz::apply_cutoff(score_bytes(choice, cut), cutoff);
    if (wide_valid_ && !choice.empty()) return fuzz::apply_cutoff(ratio_wide(choice, cut), cutoff);
    return score(types::Seq::bytes(choice.data(), choice.size()), cut);
}

double PreparedQuery::score_bytes(std::span<const uint8_t> b, const Cutoff& cut) const {
    const std::optional<double> cutoff = cut.value;
    const fuzz::QueryTokenCache* cache = cache_ ? &*cache_ : nullptr;
    const std::span<const uint8_t> a = bytes_;
    switch (scorer_.value) {
        case ScorerType::Ratio:
        case ScorerType::QRatio: return ratio_bytes(b, cut);
        case ScorerType::WRatio: return fuzz::wratio_bytes(a, b, cutoff, cache);
        case ScorerType::PartialRatio: return fuzz::partial_ratio_bytes(a, b, cutoff);
        case ScorerType::TokenSortRatio: return fuzz::token_sort_ratio_bytes(a, b, cutoff, cache);
        case ScorerType::PartialTokenSortRatio:
            return fuzz::partial_token_sort_ratio_bytes(a, b, cutoff, cache);
        case ScorerType::TokenSetRatio: return fuzz::token_set_ratio_bytes(a, b, cutoff, cache);
        case ScorerType::PartialTokenSetRatio:
            return fuzz::partial_token_set_ratio_bytes(a, b, cutoff);
        case ScorerType::TokenRatio: return fuzz::token_ratio_bytes(a, b, cutoff, cache);
        case ScorerType::PartialTokenRatio:
            return fuzz::partial_token_ratio_bytes(a, b, cutoff, cache);
        default: return 0.0;
    }
}

namespace {

/// The distance bound of the simple ratio of lengths la and lb under a cut-off, as
/// fuzz::ratio derives it, and whether the length difference alone already exceeds it.
struct RatioBound {
    uint64_t bound = algorithms::kNoBound;  // the largest distance that may reach the cut-off
    double c = 0.0;                         // the clamped cut-off
    bool rejects = false;

    RatioBound(uint64_t la, uint64_t lb, const Cutoff& cutoff) noexcept {
        if (!cutoff.value) return;
        c = cutoff.clamped;
        bound = fuzz::max_distance_of_factor(cutoff.factor, la + lb);
        rejects = (la > lb ? la - lb : lb - la) > bound;
    }
};

}  // namespace

/// The simple ratio of two non-empty byte strings, as fuzz::ratio computes it, with the
/// query's masks and histogram: a cut-off first rejects by length difference and (for long
/// queries) by the byte histograms, both lower bounds of the Indel distance, then bounds
/// the LCS computation.
double PreparedQuery::ratio_bytes(std::span<const uint8_t> b, const Cutoff& cut) const {
    const std::optional<double> cutoff = cut.value;
    const uint64_t la = bytes_.size(), lb = b.size(), L = la + lb;
    const RatioBound rb(la, lb, cut);
    if (rb.rejects) return 0.0;
    const uint64_t bound = rb.bound;
    const double c = rb.c;
    if (cutoff && !masks_valid_) {
        // Before the quadratic-time kernel: the histogram difference, L - 2 * (bytes the
        // two strings can share). (With masks the bounded LCS pass costs no more than
        // counting would.)
        uint32_t seen[256];
        for (uint8_t x : b) seen[x] = 0;
        uint64_t common = 0;
        for (uint8_t x : b)
            if (++seen[x] <= histogram_[x]) ++common;
        if (L - 2 * common > bound) return 0.0;
    }
    uint64_t d;
    if (masks_valid_ && bound >= L) {
        // Nothing to prune: the plain bit-parallel LCS step over the choice, inline.
        uint64_t S = algorithms::kLcsStart;
        for (algorithms::CancelChunks chunk(b.size()); chunk.next();)
            for (std::size_t j = chunk.begin(), end = chunk.end(); j < end; ++j)
                S = algorithms::lcs_word_step(S, masks_[b[j]]);
        d = L - 2 * algorithms::lcs_word_count(S, algorithms::last_word_mask(la));
    } else if (masks_valid_) {
        d = L - 2 * algorithms::lcs_from_pm64(masks_, la, b, bound);
        if (d > bound) return 0.0;
    } else {
        d = algorithms::indel_distance(bytes_, b, bound);
        if (d == algorithms::kNoBound) return 0.0;
    }
    const double score = ratio_of(d, L);
    return (cutoff && score < c) ? 0.0 : score;
}

/// The simple ratio of the byte query and a non-empty choice of `lb` bytes whose LCS with
/// it is `lcs`, as ratio_bytes gives it (its bounded pass either finds the LCS or gives up
/// only when the distance exceeds the bound, which then scores 0.0 either way).
double PreparedQuery::ratio_of_lcs(uint64_t lb, uint64_t lcs, const Cutoff& cut) const {
    const uint64_t la = bytes_.size(), L = la + lb;
    const uint64_t d = L - 2 * lcs;
    if (!cut.value && L <= RatioTable::kMaxLen) return RatioTable::get()(d, L);
    const RatioBound rb(la, lb, cut);
    if (rb.rejects) return 0.0;
    if (d > rb.bound) return 0.0;
    const double score = ratio_of(d, L);
    return (cut.value && score < rb.c) ? 0.0 : score;
}

namespace {

/// LCS of a pattern of 1..64 bytes (its mask table and `live` bits) with four texts at
/// once: the four bit-parallel passes are interleaved, so that each step waits less for
/// the previous step of its own pass. The texts are read in chunks with a cancellation
/// point between them (a cancelled call throws cancel::Cancelled).
void lcs_of_four(const uint64_t* masks, uint64_t live, const std::span<const uint8_t>* t,
                 uint64_t* lcs) {
    const std::size_t common = std::min({t[0].size(), t[1].size(), t[2].size(), t[3].size()});
    const uint8_t *p0 = t[0].data(), *p1 = t[1].data(), *p2 = t[2].data(), *p3 = t[3].data();
    uint64_t s0 = algorithms::kLcsStart, s1 = s0, s2 = s0, s3 = s0;
    for (algorithms::CancelChunks chunk(common); chunk.next();) {
        for (std::size_t j = chunk.begin(), end = chunk.end(); j < end; ++j) {
            s0 = algorithms::lcs_word_step(s0, masks[p0[j]]);
            s1 = algorithms::lcs_word_step(s1, masks[p1[j]]);
            s2 = algorithms::lcs_word_step(s2, masks[p2[j]]);
            s3 = algorithms::lcs_word_step(s3, masks[p3[j]]);
        }
    }
    const uint64_t S[4] = {s0, s1, s2, s3};
    for (int k = 0; k < 4; ++k) {
        const std::span<const uint8_t> rest = t[k].subspan(common);
        uint64_t s = S[k];
        for (algorithms::CancelChunks chunk(rest.size()); chunk.next();)
            for (std::size_t j = chunk.begin(), end = chunk.end(); j < end; ++j)
                s = algorithms::lcs_word_step(s, masks[rest[j]]);
        lcs[k] = algorithms::lcs_word_count(s, live);
    }
}

}  // namespace

bool PreparedQuery::scores_four() const noexcept {
    const bool ratio = scorer_.value == ScorerType::Ratio || scorer_.value == ScorerType::QRatio;
    return ratio && is_bytes_ && masks_valid_;
}

bool PreparedQuery::rejects_by_length(std::size_t choice_size, const Cutoff& cut) const noexcept {
    return RatioBound(bytes_.size(), choice_size, cut).rejects;
}

void PreparedQuery::score_four(const std::span<const uint8_t>* texts, const Cutoff& cut,
                               double* out) const {
    uint64_t lcs[4];
    lcs_of_four(masks_, algorithms::last_word_mask(bytes_.size()), texts, lcs);
    for (int k = 0; k < 4; ++k)
        out[k] = fuzz::apply_cutoff(ratio_of_lcs(texts[k].size(), lcs[k], cut), cut.value);
}

double PreparedQuery::score_of_lcs(std::size_t size, uint64_t lcs, const Cutoff& cut) const {
    return fuzz::apply_cutoff(ratio_of_lcs(size, lcs, cut), cut.value);
}

namespace {

/// A row's byte-string choices handed to the lane kernel (with a cut-off, those that their
/// length does not already reject; the others score 0.0), and their scores written as the
/// kernel reports them.
struct RowLanes {
    const PreparedQuery& q;
    const Cutoff& cut;
    const algorithms::LaneText* at;
    const algorithms::LaneText* end;
    double* out;
    cancel::Budget budget;

    static std::size_t next(void* self, algorithms::LaneText* texts, std::size_t room) {
        auto& r = *static_cast<RowLanes*>(self);
        // In locals: the stores to `texts` might otherwise change them, for all the
        // compiler knows.
        const algorithms::LaneText* at = r.at;
        std::size_t k = 0, bytes = 0;
        if (!r.cut.value) {
            for (const auto* end = at + std::min<std::size_t>(room, r.end - at); at != end; ++at, ++k) {
                texts[k] = *at;
                bytes += 16 + at->size;
            }
        } else {
            for (; at != r.end && k < room; ++at) {
                bytes += 16 + at->size;
                if (r.q.rejects_by_length(at->size, r.cut))
                    r.out[at->slot] = fuzz::apply_cutoff(0.0, r.cut.value);
                else
                    texts[k++] = *at;
            }
        }
        r.at = at;
        r.budget.spend(bytes);
        return k;
    }

    static void scores(void* self, const algorithms::LaneLcs* done, std::size_t count) {
        const auto& r = *static_cast<const RowLanes*>(self);
        const uint64_t la = r.q.lane_pattern().size();
        if (!r.cut.value) {
            // Without a cut-off, the score of every choice of up to the table's length.
            const RatioTable& table = RatioTable::get();
            for (std::size_t k = 0; k < count; ++k) {
                const algorithms::LaneLcs& d = done[k];
                const uint64_t L = la + d.size;
                r.out[d.slot] = L <= RatioTable::kMaxLen ? table(L - 2 * d.lcs, L)
                                                         : r.q.score_of_lcs(d.size, d.lcs, r.cut);
            }
            return;
        }
        for (std::size_t k = 0; k < count; ++k)
            r.out[done[k].slot] = r.q.score_of_lcs(done[k].size, done[k].lcs, r.cut);
    }
};

}  // namespace

/// score_row on the lane kernel; the other choices, and those the kernel gives back
/// (bytes of 128 or more), one by one. The range's texts and others are found by their
/// slots, which both lists hold in increasing order.
void PreparedQuery::score_row_lanes(const ItemViews& choices, const LaneChoices& lanes,
                                    std::size_t begin, std::size_t end, const Cutoff& cut,
                                    double* out) const {
    std::vector<uint32_t> code_points;
    // One at a time: the others, then those the kernel gives back.
    auto one_by_one = [&](std::span<const std::size_t> positions) {
        for (std::size_t k = 0; k < positions.size(); ++k) {
            if (k % 16 == 0) cancel::cancellation_point();
            const std::size_t j = positions[k];
            const ChoiceView& v = choices.views[j];
            out[j] = v.other == ChoiceView::kNone ? 0.0 : score(v, choices.others, code_points, cut);
        }
    };
    one_by_one(lanes.others_in(begin, end));
    const std::span<const algorithms::LaneText> texts = lanes.texts_in(begin, end);
    RowLanes row{*this, cut, texts.data(), texts.data() + texts.size(), out, {}};
    std::vector<std::size_t> given_back;
    if (row.at != row.end)
        algorithms::lcs_lanes(lane_pattern(), &RowLanes::next, &RowLanes::scores, &row, given_back);
    one_by_one(given_back);
    if (lanes.group_count) score_row_groups(lanes, begin, end, cut, out);
}

void PreparedQuery::score_row(const ItemViews& choices, std::size_t begin, std::size_t end,
                              const Cutoff& cut, double* out, const LaneChoices* lanes) const {
    if (lanes_ && lanes && end - begin >= kLaneMinChoices) {
        score_row_lanes(choices, *lanes, begin, end, cut, out);
        return;
    }
    const ChoiceView* const views = choices.views.data();
    std::vector<uint32_t> code_points;
    if (!scores_four()) {
        for (std::size_t j = begin; j < end; ++j) {
            if ((j - begin) % 16 == 0) cancel::cancellation_point();
            const ChoiceView& v = views[j];
            out[j] = v.other == ChoiceView::kNone ? 0.0 : score(v, choices.others, code_points, cut);
        }
        return;
    }
    std::size_t group[4];
    std::span<const uint8_t> texts[4];
    std::size_t filled = 0;
    for (std::size_t j = begin; j < end; ++j) {
        if ((j - begin) % 16 == 0) cancel::cancellation_point();
        const ChoiceView& v = views[j];
        if (v.size == 0 || !v.byte_string()) {
            out[j] = v.other == ChoiceView::kNone ? 0.0 : score(v, choices.others, code_points, cut);
            continue;
        }
        group[filled] = j;
        texts[filled] = std::span<const uint8_t>(v.data, v.size);
        if (++filled < 4) continue;
        double scores[4];
        score_four(texts, cut, scores);
        for (int k = 0; k < 4; ++k) out[group[k]] = scores[k];
        filled = 0;
    }
    for (std::size_t k = 0; k < filled; ++k) out[group[k]] = score(texts[k], cut);
}

/// The mask of a code point of 256 or more in the open-addressing table (0 when the query
/// does not hold it): the probe ends at the code point or at an empty slot.
uint64_t PreparedQuery::hashed_mask(uint64_t c) const noexcept {
    const std::size_t last = hashed_.size() - 1;
    for (std::size_t h = hashed_slot(c);; h = (h + 1) & last) {
        const HashedMask& s = hashed_[h];
        if (s.code == c || s.mask == 0) return s.mask;
    }
}

/// The simple ratio of the wide query and a non-empty choice, with the query's masks from
/// whichever table it has.
template <class T>
double PreparedQuery::ratio_wide(std::span<const T> b, const Cutoff& cut) const {
    const uint64_t* masks = wide_masks_.data();
    if (wide_hashed_) {
        return ratio_wide(b, cut, [this, masks](uint64_t c) {
            return c < 256 ? masks[c] : hashed_mask(c);
        });
    }
    const uint64_t span = wide_masks_.size();
    const uint64_t lo = wide_lo_;
    return ratio_wide(b, cut, [masks, span, lo](uint64_t c) {
        const uint64_t off = c - lo;
        return off < span ? masks[off] : 0;
    });
}

/// The simple ratio of the wide query and a non-empty choice of code points or bytes, as
/// fuzz::ratio computes it: the length bound, then one bit-parallel LCS pass over the
/// choice with the query's masks (`mask(c)`: the bits of the query's positions holding
/// code point c), stopping once the LCS the cut-off needs is out of reach.
template <class T, class Mask>
double PreparedQuery::ratio_wide(std::span<const T> b, const Cutoff& cut, Mask mask) const {
    const std::optional<double> cutoff = cut.value;
    const uint64_t la = seq_.size(), lb = b.size(), L = la + lb;
    const RatioBound rb(la, lb, cut);
    if (rb.rejects) return 0.0;
    const uint64_t bound = rb.bound;
    const double c = rb.c;
    const uint64_t live = algorithms::last_word_mask(la);
    // LCS of at least `need` keeps the distance L - 2 LCS within the bound.
    const uint64_t need = bound >= L ? 0 : (L - bound + 1) / 2;
    uint64_t S = algorithms::kLcsStart;
    for (algorithms::CancelChunks chunk(lb); chunk.next();) {
        for (std::size_t j = chunk.begin(), end = chunk.end(); j < end; ++j) {
            S = algorithms::lcs_word_step(S, mask(static_cast<uint64_t>(b[j])));
            if (need && algorithms::lcs_word_count(S, live) + (lb - 1 - j) < need) return 0.0;
        }
    }
    const uint64_t d = L - 2 * algorithms::lcs_word_count(S, live);
    if (d > bound) return 0.0;
    const double score = ratio_of(d, L);
    return (cutoff && score < c) ? 0.0 : score;
}

}  // namespace tarnwick::process
