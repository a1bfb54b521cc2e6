// Batch matching engine: the scorer selector shared by cdist and the extraction functions,
// the per-query record that batch callers build once per query, and the scoring of one
// query against one choice. Free of Python, so workers of the pool call it.
//
// Every score here is the score of the scorer's fuzz_ function on the same two converted
// inputs, with the same cut-off rule: a score below the cut-off is 0.0, a score equal to
// it is kept. Byte strings take fast paths (bit masks and the token cache built once per
// query); any other pair of sequences takes the scorer's general computation.
#pragma once

#include "algorithms/lcs_lanes.hpp"
#include "fuzz/fuzz_token.hpp"
#include "text/utf8.hpp"
#include "types.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tarnwick::process {

/// A ratio scorer chosen by name.
struct ScorerType {
    /// The scorers, in the order of their numeric values.
    enum Value : uint8_t {
        Ratio = 0,
        QRatio = 1,
        WRatio = 2,
        PartialRatio = 3,
        TokenSortRatio = 4,
        PartialTokenSortRatio = 5,
        TokenSetRatio = 6,
        PartialTokenSetRatio = 7,
        TokenRatio = 8,
        PartialTokenRatio = 9,
        Unknown = 10,
    };
    Value value = Unknown;

    /// The scorer named `name`, after removing one leading "fuzz_"; Unknown for any other
    /// name (compared byte for byte, case-sensitive).
    static ScorerType from_str(std::string_view name) noexcept;

    /// Whether the name was recognised.
    bool known() const noexcept { return value != Unknown; }
    /// Whether the query's token cache serves this scorer.
    bool uses_token_cache() const noexcept;
};

/// A score computation over two converted sequences with an optional cut-off (the
/// computation behind each fuzz_ function), or null for Unknown.
using SeqScoreFn = double (*)(const types::Seq&, const types::Seq&, std::optional<double>);
SeqScoreFn seq_scorer(ScorerType s) noexcept;

/// What a batch call computes once per query: built before the query's choices are
/// scored, then only read (concurrently by workers). Views the query's sequence, which
/// must outlive it.
/// A cut-off with what the ratio's distance bound derives from it, computed once for the
/// many choices scored under it.
struct Cutoff {
    std::optional<double> value;
    double clamped = 0.0;  // fuzz::clamp_cutoff(*value)
    double factor = 1.0;   // 1 - clamped / 100
    Cutoff(std::optional<double> v) noexcept;  // NOLINT: implicit, as the plain cut-off
};

/// One batch item as the workers read it: a view of the bytes of a bytes object or of the
/// UTF-8 of a str (16 bytes, where a converted sequence takes about 100), or the index of
/// a sequence the caller converted.
struct ChoiceView {
    static constexpr int32_t kBytes = -1;  // raw bytes
    static constexpr int32_t kText = -2;   // the UTF-8 of a str: bytes when it is ASCII
    static constexpr int32_t kNone = -3;   // nothing to score
    static constexpr int32_t kMissing = -4;  // a missing value: scores 0.0

    const uint8_t* data = nullptr;
    uint32_t size = 0;
    int32_t other = kNone;  // kBytes, kText, kNone, kMissing, or an index into the sequences

    /// Whether the view is a byte string: bytes, or the UTF-8 of ASCII text.
    bool byte_string() const noexcept {
        return other == kBytes ||
               (other == kText && text::is_ascii({reinterpret_cast<const char*>(data), size}));
    }
};

/// Batch items as views (one per item) and the converted sequences their views index.
struct ItemViews {
    std::span<const ChoiceView> views;
    std::span<const types::Seq> others;

    std::size_t size() const noexcept { return views.size(); }
};

/// Fewest choices in a row for which the row takes the lane kernel: with fewer, most of
/// its 64 lanes would idle.
inline constexpr std::size_t kLaneMinChoices = 64;

/// The choices of the rows of a matrix as the lane kernel reads them, built once for all
/// the rows that share them: the non-empty byte strings (slot: the choice's position) and
/// the positions of the other choices, both in increasing order of position. Built on the
/// worker pool when `use_pool` (finding a text ASCII reads it: a million choices take
/// milliseconds).
///
/// With `grouped` (on a processor with the lane kernel), the byte strings of 1 to 16 ASCII
/// bytes are laid out as transposed groups of 64 (algorithms::lcs_lanes_transpose) instead
/// of listed in `texts`: the rows then run over them with no per-text work. Each group's
/// lanes hold increasing slots; a group's empty lanes (only in the last group of each
/// chunk the layout is built in) have size 0 and repeat the slot of the group's last text.
struct LaneChoices {
    std::span<const algorithms::LaneText> texts;
    std::span<const std::size_t> others;

    /// The columns of a group of the layout.
    struct alignas(64) Columns {
        uint8_t bytes[algorithms::kLaneGroupBytes];
    };
    std::size_t group_count = 0;
    const Columns* columns = nullptr;  // group_count
    const uint8_t* widths = nullptr;   // group_count: each group's longest text
    const uint8_t* sizes = nullptr;    // 64 per group: each lane's length
    const std::size_t* slots = nullptr;  // 64 per group: each lane's slot
    uint32_t group_lengths = 0;          // bit n: some group holds a text of n bytes

    LaneChoices(std::span<const ChoiceView> choices, bool use_pool, bool grouped = false);

    /// The others and the texts of the choices in [begin, end).
    std::span<const std::size_t> others_in(std::size_t begin, std::size_t end) const noexcept;
    std::span<const algorithms::LaneText> texts_in(std::size_t begin, std::size_t end) const noexcept;
    LaneChoices(const LaneChoices&) = delete;
    LaneChoices& operator=(const LaneChoices&) = delete;

private:
    std::unique_ptr<algorithms::LaneText[]> texts_;
    std::unique_ptr<std::size_t[]> others_;
    std::unique_ptr<Columns[]> columns_;
    std::unique_ptr<uint8_t[]> widths_;
    std::unique_ptr<uint8_t[]> sizes_;
    std::unique_ptr<std::size_t[]> slots_;
};

/// Whether the lane kernel serves the query of the view `v` under the simple and quick
/// ratio (PreparedQuery::scores_lanes()), for views of queries as score_rows takes them.
bool lanes_serve_query(const ChoiceView& v) noexcept;

class PreparedQuery {
public:
    PreparedQuery(ScorerType scorer, const types::Seq& query);
    PreparedQuery(const PreparedQuery&) = delete;
    PreparedQuery& operator=(const PreparedQuery&) = delete;

    /// Score of `choice` against the query under the scorer, with the cut-off rule of
    /// the fuzz_ functions applied. Unknown gives 0.0.
    double score(const types::Seq& choice, std::optional<double> cutoff) const;

    /// Same, for a choice given as a byte string (a Bytes sequence without building one).
    double score(std::span<const uint8_t> choice, std::optional<double> cutoff) const;

    /// The two above with a prepared cut-off.
    double score(const types::Seq& choice, const Cutoff& cutoff) const;
    double score(std::span<const uint8_t> choice, const Cutoff& cutoff) const;

    /// The score of the view `v` (not kNone; kMissing scores 0.0) as score() gives it for
    /// its sequence: a byte string as bytes, other text decoded into `code_points` (a
    /// buffer that only grows), anything else from `others`.
    double score(const ChoiceView& v, std::span<const types::Seq> others,
                 std::vector<uint32_t>& code_points, const Cutoff& cutoff) const;

    /// out[j] = the score of choice j (0.0 for kNone and kMissing), as score() gives it,
    /// for the choices j in [begin, end); the simple and quick ratio of a query of 1 to 64
    /// bytes score four byte strings at a time. With `lanes` (LaneChoices of the same
    /// views), a query the lane kernel serves scores a range of 64 choices or more on it,
    /// 64 byte strings at a time (those in the layout's groups a group at a time).
    void score_row(const ItemViews& choices, std::size_t begin, std::size_t end,
                   const Cutoff& cutoff, double* out, const LaneChoices* lanes = nullptr) const;

    /// The scores of the choices [begin, end) of `lanes` coded as code_row (process_cdist.hpp)
    /// codes them, but with a score listed once per pair of length and LCS that gives it
    /// (so possibly more than once), in `values` with the cells of each in `counts`; only
    /// when the lane kernel serves the query and every choice of the range is in a group
    /// (64 of them at least), and false otherwise (nothing done).
    bool code_row(const LaneChoices& lanes, std::size_t begin, std::size_t end, const Cutoff& cutoff,
                  uint16_t* codes, std::vector<double>& values, std::vector<std::size_t>& counts) const;

    /// Whether score_four serves the query: the simple or quick ratio of 1 to 64 bytes.
    bool scores_four() const noexcept;
    /// Whether the lane kernel (algorithms/lcs_lanes.hpp) serves the query on this
    /// processor: the simple or quick ratio of 1 to 16 ASCII bytes other than zero.
    bool scores_lanes() const noexcept { return lanes_; }
    /// The query's bytes as the lane kernel's pattern (when scores_lanes()).
    std::string_view lane_pattern() const noexcept {
        return {reinterpret_cast<const char*>(bytes_.data()), bytes_.size()};
    }
    /// The score of a non-empty byte choice of `size` bytes whose LCS with the query is
    /// `lcs`, as score() gives it (only when scores_four()).
    double score_of_lcs(std::size_t size, uint64_t lcs, const Cutoff& cutoff) const;
    /// Whether the length of a byte choice alone puts it below the cut-off (score_four's
    /// callers leave such choices out).
    bool rejects_by_length(std::size_t choice_size, const Cutoff& cutoff) const noexcept;
    /// out[k] = the score of texts[k], four non-empty byte strings, as score() gives it
    /// (only when scores_four()); the four bit-parallel passes run interleaved.
    void score_four(const std::span<const uint8_t>* texts, const Cutoff& cutoff, double* out) const;

    ScorerType scorer() const noexcept { return scorer_; }

private:
    void score_row_lanes(const ItemViews& choices, const LaneChoices& lanes, std::size_t begin,
                         std::size_t end, const Cutoff& cutoff, double* out) const;
    void score_row_groups(const LaneChoices& lanes, std::size_t begin, std::size_t end,
                          const Cutoff& cutoff, double* out) const;
    void pair_scores(const LaneChoices& lanes, const Cutoff& cutoff, double* table) const;
    double score_bytes(std::span<const uint8_t> b, const Cutoff& cutoff) const;
    double ratio_bytes(std::span<const uint8_t> b, const Cutoff& cutoff) const;
    double ratio_of_lcs(uint64_t lb, uint64_t lcs, const Cutoff& cutoff) const;
    template <class T>
    double ratio_wide(std::span<const T> b, const Cutoff& cutoff) const;
    template <class T, class Mask>
    double ratio_wide(std::span<const T> b, const Cutoff& cutoff, Mask mask) const;

    /// Code points of a wide query spanning at most this many values get a direct table;
    /// a query of code points further apart gets a direct table for the code points below
    /// 256 and an open-addressing table for the others.
    static constexpr uint64_t kWideSpan = 4096;
    static constexpr int kHashedBits = 7;  // 128 slots: at most half full with 64 code points

    /// A slot of the open-addressing table: a code point of 256 or more and its mask
    /// (mask 0: an empty slot).
    struct HashedMask {
        uint64_t code = 0;
        uint64_t mask = 0;
    };
    static std::size_t hashed_slot(uint64_t c) noexcept {
        return static_cast<std::size_t>((c * 0x9E3779B97F4A7C15ULL) >> (64 - kHashedBits));
    }
    uint64_t hashed_mask(uint64_t c) const noexcept;

    ScorerType scorer_;
    SeqScoreFn general_;
    const types::Seq& seq_;
    bool is_bytes_ = false;
    std::span<const uint8_t> bytes_;
    bool masks_valid_ = false;             // the query has 1 to 64 bytes
    bool lanes_ = false;                   // scores_lanes()
    uint32_t histogram_[256] = {};         // occurrences of each byte value
    uint64_t masks_[256] = {};             // bit i of masks_[c]: byte i is c (when valid)
    std::optional<fuzz::QueryTokenCache> cache_;
    // A query of 1 to 64 code points beyond ASCII under the simple or quick ratio: the mask
    // of code point c is wide_masks_[c - wide_lo_], 0 outside the table.
    bool wide_valid_ = false;
    bool wide_hashed_ = false;  // the two tables below, not the direct table
    uint64_t wide_lo_ = 0;
    std::vector<uint64_t> wide_masks_;  // direct: wide_lo_ on; hashed: code points below 256
    std::vector<HashedMask> hashed_;
};

// Inline: the pool's loops call it for every choice.
[[gnu::always_inline]] inline double PreparedQuery::score(const ChoiceView& v,
                                                          std::span<const types::Seq> others,
                                                          std::vector<uint32_t>& code_points,
                                                          const Cutoff& cut) const {
    if (v.other == ChoiceView::kMissing) return 0.0;
    if (v.other >= 0) return score(others[static_cast<std::size_t>(v.other)], cut);
    if (v.byte_string()) return score(std::span<const uint8_t>(v.data, v.size), cut);
    // Text with other characters: its code points, as the conversion of a str gives them
    // (the UTF-8 of a str is well formed).
    const std::string_view t(reinterpret_cast<const char*>(v.data), v.size);
    if (code_points.size() < t.size()) code_points.resize(t.size());
    const std::size_t n = text::decode_well_formed_into(t, code_points.data());
    types::Seq seq = types::Seq::chars_view(std::span<const uint32_t>(code_points.data(), n));
    seq.set_text(t);
    return score(seq, cut);
}

}  // namespace tarnwick::process
