#include "process/process_cdist.hpp"

#include "cancel.hpp"
#include "parallel.hpp"

#include <algorithm>
#include <bit>
#include <memory>

namespace tarnwick::process {

namespace {

/// The open-addressing table of code_row, one per thread, emptied for each row by moving
/// on to the next generation (a slot of an older generation is empty). Each slot counts
/// the cells of its value.
struct CodeTable {
    static constexpr int kBits = 12;  // 4096 slots: at most half full with RowValues::kMax values
    static constexpr std::size_t kSlots = std::size_t{1} << kBits;
    struct Slot {
        uint64_t bits;
        uint32_t count;
        uint16_t gen;
        uint16_t code;
    };
    std::unique_ptr<Slot[]> slots{new Slot[kSlots]()};
    uint16_t slot_of[RowValues::kMax];  // the slot of each code
    uint16_t gen = 0;

    /// Starts a row: every slot empty.
    void next_row() noexcept {
        if (++gen != 0) return;
        std::fill(slots.get(), slots.get() + kSlots, Slot{});
        gen = 1;
    }
    static std::size_t slot_of_bits(uint64_t bits) noexcept {
        return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15ULL) >> (64 - kBits));
    }
};

}  // namespace

void code_row(const double* row, std::size_t m, uint16_t* codes, RowValues& out) {
    static_assert(RowValues::kMax <= CodeTable::kSlots / 2 && RowValues::kMax <= 65536);
    thread_local CodeTable table;
    out.values.clear();
    out.counts.clear();
    out.coded = false;
    if (m == 0 || m > UINT32_MAX) return;
    table.next_row();
    CodeTable::Slot* const slots = table.slots.get();
    const uint16_t gen = table.gen;
    std::size_t distinct = 0;
    for (std::size_t j = 0; j < m; ++j) {
        const uint64_t bits = std::bit_cast<uint64_t>(row[j]);
        std::size_t h = CodeTable::slot_of_bits(bits);
        // Almost every cell finds its value in the first slot it looks at.
        while (!(slots[h].bits == bits && slots[h].gen == gen)) [[unlikely]] {
            if (slots[h].gen != gen) {
                if (distinct == RowValues::kMax) return;
                slots[h] = CodeTable::Slot{bits, 0, gen, static_cast<uint16_t>(distinct)};
                table.slot_of[distinct++] = static_cast<uint16_t>(h);
                break;
            }
            h = (h + 1) & (CodeTable::kSlots - 1);
        }
        codes[j] = slots[h].code;
        ++slots[h].count;
    }
    out.values.resize(distinct);
    out.counts.resize(distinct);
    for (std::size_t c = 0; c < distinct; ++c) {
        const CodeTable::Slot& s = slots[table.slot_of[c]];
        out.values[c] = std::bit_cast<double>(s.bits);
        out.counts[c] = s.count;
    }
    out.coded = true;
}

void score_rows(ScorerType scorer, const ItemViews& queries, const ItemViews& choices,
                std::optional<double> cutoff, std::size_t first, std::size_t last,
                std::size_t segment, bool use_pool, double* out, uint16_t* codes,
                RowValues* values, const LaneChoices* lanes) {
    const std::size_t m = choices.size(), parts = row_parts(m, segment);
    parallel::for_each_index((last - first) * parts, use_pool, [&](std::size_t t) {
        const std::size_t k = t / parts, begin = t % parts * segment;
        const std::size_t end = std::min(m, begin + segment);
        double* row = out + k * m;
        const ChoiceView& v = queries.views[first + k];
        if (v.other == ChoiceView::kNone || v.other == ChoiceView::kMissing) {
            std::fill(row + begin, row + end, 0.0);
        } else {
            const types::Seq bytes = v.other < 0 ? types::Seq::bytes(v.data, v.size) : types::Seq();
            const types::Seq& query =
                v.other < 0 ? bytes : queries.others[static_cast<std::size_t>(v.other)];
            // Built inside the task, so that only the parts being computed hold one.
            const PreparedQuery q(scorer, query);
            // A part of grouped choices only is coded straight from each cell's length and
            // LCS, with no scores written.
            if (codes && lanes) {
                RowValues& part = values[t];
                part.coded = q.code_row(*lanes, begin, end, cutoff, codes + k * m + begin, part.values,
                                        part.counts);
                if (part.coded) return;
            }
            q.score_row(choices, begin, end, cutoff, row, lanes);
        }
        if (codes) code_row(row + begin, end - begin, codes + k * m + begin, values[t]);
    });
}

}  // namespace tarnwick::process
