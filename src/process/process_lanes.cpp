// The choices of a score matrix laid out for the lane kernel (LaneChoices), and the rows
// scored and coded on its transposed groups of short ASCII choices. Free of Python.
#include "process/process_scorer.hpp"

#include "algorithms/lcs_lanes.hpp"
#include "cancel.hpp"
#include "parallel.hpp"
#include "text/utf8.hpp"

#include <algorithm>
#include <bit>
#include <memory>
#include <vector>

namespace tarnwick::process {

namespace {

/// Fewest choices of a chunk of LaneChoices' building on the pool.
constexpr std::size_t kLaneChunk = 16384;

/// Fewest choices of a chunk of LaneChoices' building with the transposed layout, which
/// takes longer a choice: the rows wait for it. Each chunk ends in a group of its own.
constexpr std::size_t kGroupedChunk = 2048;

/// Lanes of a group of LaneChoices' transposed layout, and the longest text it takes.
constexpr std::size_t kGroupLanes = 64;
constexpr std::size_t kGroupedSize = 16;

}  // namespace

LaneChoices::LaneChoices(std::span<const ChoiceView> choices, bool use_pool, bool grouped) {
    grouped = grouped && algorithms::lcs_lanes_available();
    // In chunks: each chunk's choices are classified (one byte each), then, once each
    // chunk's first place in the lists is known, laid in place.
    enum : uint8_t { kOther, kText, kShort };
    const std::vector<std::size_t> bounds =
        parallel::chunk_bounds(choices.size(), grouped ? kGroupedChunk : kLaneChunk);
    const std::size_t chunks = bounds.size() - 1;
    const std::unique_ptr<uint8_t[]> kind(new uint8_t[choices.size()]);
    // Texts, others and groups before each chunk, then the totals.
    std::vector<std::size_t> text_at(chunks + 1), other_at(chunks + 1), group_at(chunks + 1);
    std::vector<uint32_t> lengths(chunks);  // group_lengths of each chunk
    parallel::for_each_index(chunks, use_pool, [&](std::size_t c) {
        std::size_t texts = 0, shorts = 0;
        for (std::size_t j = bounds[c]; j < bounds[c + 1]; ++j) {
            if (j % 256 == 0) cancel::cancellation_point();
            const ChoiceView& v = choices[j];
            uint8_t k = v.size != 0 && v.byte_string() ? kText : kOther;
            if (k == kText && grouped && v.size <= kGroupedSize &&
                text::is_ascii({reinterpret_cast<const char*>(v.data), v.size}))
                k = kShort;
            kind[j] = k;
            if (k == kShort) lengths[c] |= uint32_t{1} << v.size;
            texts += k == kText;
            shorts += k == kShort;
        }
        text_at[c + 1] = texts;
        other_at[c + 1] = bounds[c + 1] - bounds[c] - texts - shorts;
        group_at[c + 1] = (shorts + kGroupLanes - 1) / kGroupLanes;
    });
    for (std::size_t c = 0; c < chunks; ++c) {
        group_lengths |= lengths[c];
        text_at[c + 1] += text_at[c];
        other_at[c + 1] += other_at[c];
        group_at[c + 1] += group_at[c];
    }
    const std::size_t text_count = text_at[chunks], group_total = group_at[chunks];
    texts_.reset(new algorithms::LaneText[text_count]);
    if (group_total) {
        columns_.reset(new Columns[group_total]);
        widths_.reset(new uint8_t[group_total]);
        sizes_.reset(new uint8_t[group_total * kGroupLanes]);
        slots_.reset(new std::size_t[group_total * kGroupLanes]);
    }
    others_.reset(new std::size_t[other_at[chunks]]);
    parallel::for_each_index(chunks, use_pool, [&](std::size_t c) {
        algorithms::LaneText* t = texts_.get() + text_at[c];
        std::size_t* o = others_.get() + other_at[c];
        std::size_t g = group_at[c];
        algorithms::LaneText group[kGroupLanes];
        std::size_t filled = 0;
        // Lays out the texts gathered for group g (1 to 64 of them).
        const auto lay_out = [&] {
            widths_[g] = static_cast<uint8_t>(algorithms::lcs_lanes_transpose(group, filled, columns_[g].bytes));
            uint8_t* const sizes = sizes_.get() + g * kGroupLanes;
            std::size_t* const slots = slots_.get() + g * kGroupLanes;
            for (std::size_t l = 0; l < kGroupLanes; ++l) {
                sizes[l] = l < filled ? static_cast<uint8_t>(group[l].size) : 0;
                slots[l] = group[std::min(l, filled - 1)].slot;
            }
            ++g;
            filled = 0;
        };
        for (std::size_t j = bounds[c]; j < bounds[c + 1]; ++j) {
            const ChoiceView& v = choices[j];
            const algorithms::LaneText text{reinterpret_cast<const char*>(v.data), v.size, j};
            if (kind[j] == kText) {
                *t++ = text;
            } else if (kind[j] == kOther) {
                *o++ = j;
            } else {
                group[filled++] = text;
                if (filled == kGroupLanes) lay_out();
            }
        }
        if (filled) lay_out();
    });
    texts = {texts_.get(), text_count};
    others = {others_.get(), other_at[chunks]};
    group_count = group_total;
    columns = columns_.get();
    widths = widths_.get();
    sizes = sizes_.get();
    slots = slots_.get();
}

bool lanes_serve_query(const ChoiceView& v) noexcept {
    if (v.other != ChoiceView::kBytes && v.other != ChoiceView::kText) return false;
    return algorithms::lcs_lanes_suit({reinterpret_cast<const char*>(v.data), v.size});
}

namespace {

/// Entries of a row's table of scores by (length, LCS) of the grouped choices: the entry of
/// a choice of n bytes whose LCS is k is n * kPairRow + k.
constexpr std::size_t kPairRow = kGroupedSize + 1;
constexpr std::size_t kPairs = kPairRow * kPairRow;

/// Runs the lane kernel of `pattern` over the groups of `lanes` holding slots in
/// [begin, end), a few groups at a time, and calls cell(slot, pair) for each of their
/// choices in the range (pair: the choice's entry in the table of scores by length and LCS),
/// or, for a full group of 64 choices in a row all in the range, run(slot, sizes, lcs) with
/// the first slot and the 64 lengths and LCS.
template <class Cell, class Run>
void each_grouped(std::string_view pattern, const LaneChoices& lanes, std::size_t begin,
                  std::size_t end, Cell&& cell, Run&& run) {
    constexpr std::size_t kLanes = kGroupLanes;
    const std::size_t* const slots = lanes.slots;
    // The groups whose last slot is at or past `begin`, up to the first whose first slot is
    // at or past `end`.
    const auto first_group = [&](std::size_t from, auto in) {
        std::size_t lo = from, hi = lanes.group_count;
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (in(mid)) hi = mid;
            else lo = mid + 1;
        }
        return lo;
    };
    const std::size_t g0 = first_group(0, [&](std::size_t g) { return slots[g * kLanes + kLanes - 1] >= begin; });
    const std::size_t g1 = first_group(g0, [&](std::size_t g) { return slots[g * kLanes] >= end; });
    constexpr std::size_t kBatch = 16;  // groups per call of the kernel
    alignas(64) uint8_t lcs[kBatch * kLanes];
    cancel::Budget budget;
    for (std::size_t g = g0; g < g1; g += kBatch) {
        const std::size_t n = std::min(kBatch, g1 - g);
        algorithms::lcs_lanes_groups(pattern, lanes.columns[g].bytes, lanes.widths + g, n, lcs, budget);
        for (std::size_t k = 0; k < n; ++k) {
            const uint8_t* const size = lanes.sizes + (g + k) * kLanes;
            const std::size_t* const slot = slots + (g + k) * kLanes;
            const uint8_t* const found = lcs + k * kLanes;
            if (size[kLanes - 1] != 0 && slot[kLanes - 1] - slot[0] == kLanes - 1 && slot[0] >= begin &&
                slot[kLanes - 1] < end) {
                run(slot[0], size, found);
                continue;
            }
            for (std::size_t l = 0; l < kLanes; ++l) {
                if (size[l] == 0 || slot[l] < begin || slot[l] >= end) continue;
                cell(slot[l], size[l] * kPairRow + found[l]);
            }
        }
    }
}

}  // namespace

std::span<const std::size_t> LaneChoices::others_in(std::size_t begin, std::size_t end) const noexcept {
    const auto at = [&](std::size_t j) { return std::lower_bound(others.begin(), others.end(), j); };
    return {at(begin), at(end)};
}

std::span<const algorithms::LaneText> LaneChoices::texts_in(std::size_t begin, std::size_t end) const noexcept {
    const auto at = [&](std::size_t j) {
        return std::lower_bound(texts.begin(), texts.end(), j,
                                [](const algorithms::LaneText& t, std::size_t s) { return t.slot < s; });
    };
    return {at(begin), at(end)};
}

/// table[pair] = the score of a grouped choice of `lanes` for each pair of a length its
/// groups hold and an LCS up to it (kPairs entries, the others left unset).
void PreparedQuery::pair_scores(const LaneChoices& lanes, const Cutoff& cut, double* table) const {
    const std::size_t la = bytes_.size();
    for (uint32_t sizes = lanes.group_lengths; sizes; sizes &= sizes - 1) {
        const auto size = static_cast<std::size_t>(std::countr_zero(sizes));
        for (std::size_t lcs = 0; lcs <= std::min(size, la); ++lcs)
            table[size * kPairRow + lcs] = score_of_lcs(size, lcs, cut);
    }
}

/// The part of score_row_lanes on the transposed groups: each choice's score from the
/// row's table of scores by (length, LCS).
void PreparedQuery::score_row_groups(const LaneChoices& lanes, std::size_t begin, std::size_t end,
                                     const Cutoff& cut, double* out) const {
    double table[kPairs];
    pair_scores(lanes, cut, table);
    each_grouped(
        lane_pattern(), lanes, begin, end, [&](std::size_t slot, std::size_t pair) { out[slot] = table[pair]; },
        [&](std::size_t slot, const uint8_t* size, const uint8_t* lcs) {
            double* const cells = out + slot;
            for (std::size_t l = 0; l < kGroupLanes; ++l) cells[l] = table[size[l] * kPairRow + lcs[l]];
        });
}

bool PreparedQuery::code_row(const LaneChoices& lanes, std::size_t begin, std::size_t end,
                             const Cutoff& cut, uint16_t* codes, std::vector<double>& values,
                             std::vector<std::size_t>& counts) const {
    if (!lanes_ || end - begin < kLaneMinChoices || end - begin > UINT32_MAX || !lanes.group_count ||
        !lanes.others_in(begin, end).empty() || !lanes.texts_in(begin, end).empty())
        return false;
    // Each cell's pair first, then the pairs met renumbered in increasing order. The cells
    // of a run of 64 are counted in four tallies in turn, so that a pair met in cells next
    // to each other does not wait for its own last count.
    uint32_t met[4][kPairs] = {};
    uint16_t* const at = codes - begin;
    each_grouped(
        lane_pattern(), lanes, begin, end,
        [&](std::size_t slot, std::size_t pair) {
            at[slot] = static_cast<uint16_t>(pair);
            ++met[0][pair];
        },
        [&](std::size_t slot, const uint8_t* size, const uint8_t* lcs) {
            uint16_t* const cells = at + slot;
            for (std::size_t l = 0; l < kGroupLanes; ++l)
                cells[l] = static_cast<uint16_t>(size[l] * kPairRow + lcs[l]);
            for (std::size_t l = 0; l < kGroupLanes; l += 4)
                for (std::size_t k = 0; k < 4; ++k) ++met[k][size[l + k] * kPairRow + lcs[l + k]];
        });
    double table[kPairs];
    pair_scores(lanes, cut, table);
    uint16_t code_of[kPairs];
    values.clear();
    counts.clear();
    for (std::size_t pair = 0; pair < kPairs; ++pair) {
        const std::size_t count = std::size_t{met[0][pair]} + met[1][pair] + met[2][pair] + met[3][pair];
        if (!count) continue;
        code_of[pair] = static_cast<uint16_t>(values.size());
        values.push_back(table[pair]);
        counts.push_back(count);
    }
    for (std::size_t j = 0; j < end - begin; ++j) codes[j] = code_of[codes[j]];
    return true;
}

}  // namespace tarnwick::process
