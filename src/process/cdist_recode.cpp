#include "process/cdist_recode.hpp"

#include "algorithms/dense_codes.hpp"
#include "cancel.hpp"
#include "parallel.hpp"

#include <algorithm>
#include <atomic>
#include <numeric>
#include <vector>

namespace tarnwick::process {
namespace {

/// Items per chunk of the count and of the copy, at least: fewer items are counted on
/// one thread, which costs less than waking the pool.
constexpr std::size_t kRecodeChunk = 1024;

/// Values below this are numbered and coded through a direct table: the alphabets of
/// Latin, Greek and Cyrillic text.
constexpr std::size_t kDirect = 2048;

/// Leading items counted on the calling thread before the pool is woken.
constexpr std::size_t kProbeItems = 256;

/// Codes for the values of 128 and more: 127 below 128 (0 is never given) and 128 above.
constexpr std::size_t kMaxCodes = 127 + 128;

/// The items of both sides as one range: the queries, then the choices.
struct BothSides {
    std::span<ChoiceView> views[2];
    std::span<const types::Seq> others[2];

    std::size_t size() const noexcept { return views[0].size() + views[1].size(); }
    /// The view of item i and the sequences it may index.
    std::pair<ChoiceView*, std::span<const types::Seq>> at(std::size_t i) const noexcept {
        const std::size_t n = views[0].size();
        return i < n ? std::pair{&views[0][i], others[0]} : std::pair{&views[1][i - n], others[1]};
    }
};

enum class Elements { None, Visited, Refused };

/// Calls f(span) with the elements of the view `v` in their own width: None for an item
/// with nothing to score, Refused for one that is not recoded (text viewed as its UTF-8, a
/// sequence of items, or one too long for a view).
template <class F>
Elements visit_elements(const ChoiceView& v, std::span<const types::Seq> others, F&& f) {
    if (v.other == ChoiceView::kNone || v.other == ChoiceView::kMissing) return Elements::None;
    if (v.other == ChoiceView::kBytes) {
        f(std::span<const uint8_t>(v.data, v.size));
        return Elements::Visited;
    }
    if (v.other < 0) return Elements::Refused;
    const types::Seq& s = others[static_cast<std::size_t>(v.other)];
    if (s.kind() != types::SeqKind::Chars || s.size() > UINT32_MAX) return Elements::Refused;
    f(s.as_chars());
    return Elements::Visited;
}

/// What the count of one chunk found: its distinct values of 128 and more with the
/// elements holding each, the values below 128 that occur, and the bytes of the copies of
/// its items that hold a value of 128 or more.
struct ChunkCount {
    std::vector<uint64_t> values;
    std::vector<std::size_t> counts;
    bool low[128] = {};
    std::size_t copy_bytes = 0;
};

/// Counts the items [begin, end) into `out` and sets copied[i] for each item i that holds
/// a value of 128 or more; false (the count left unfinished) for an item refused or more
/// distinct values than there are codes, or once `stop` is set.
bool count_items(const BothSides& items, std::size_t begin, std::size_t end, ChunkCount& out,
                 uint8_t* copied, const std::atomic<bool>& stop) {
    algorithms::ValueNumbering high(kMaxCodes + 1);
    // The number of each value below kDirect met (-1: none yet; values below 128 are only
    // marked), so that most elements of alphabetic text need no hashing.
    int16_t direct[kDirect];
    std::fill(direct, direct + kDirect, int16_t{-1});
    std::size_t counts[kMaxCodes + 1] = {};
    bool low[128] = {};
    std::size_t copy_bytes = 0;
    bool over = false;
    // The number of v (128 or more), given now if it is new; -1 past the codes.
    const auto number = [&](uint64_t v) -> int {
        if (v < kDirect && direct[v] >= 0) return direct[v];
        const int k = high.add(v);
        if (k < 0 || static_cast<std::size_t>(k) >= kMaxCodes) return -1;
        if (v < kDirect) direct[v] = static_cast<int16_t>(k);
        return k;
    };
    for (std::size_t i = begin; i < end && !over; ++i) {
        if (i % 256 == 0) {
            cancel::cancellation_point();
            if (stop.load(std::memory_order_relaxed)) return false;
        }
        const auto [view, others] = items.at(i);
        bool holds_high = false;
        std::size_t size = 0;
        const Elements e = visit_elements(*view, others, [&](auto s) {
            for (const auto x : s) {
                const uint64_t v = x;
                if (v < 128) {
                    low[v] = true;
                    continue;
                }
                const int k = number(v);
                if (k < 0) {
                    over = true;
                    return;
                }
                ++counts[k];
                holds_high = true;
            }
            size = s.size();
        });
        over = over || e == Elements::Refused;
        copied[i] = holds_high;
        if (holds_high) copy_bytes += size;
    }
    if (over) return false;
    const std::span<const uint64_t> values = high.values();
    out.values.assign(values.begin(), values.end());
    out.counts.assign(counts, counts + values.size());
    std::copy(low, low + 128, out.low);
    out.copy_bytes = copy_bytes;
    return true;
}

}  // namespace

std::unique_ptr<uint8_t[]> recode_small_alphabet(std::span<ChoiceView> queries,
                                                 std::span<const types::Seq> query_others,
                                                 std::span<ChoiceView> choices,
                                                 std::span<const types::Seq> choice_others,
                                                 bool use_pool) {
    const BothSides items{{queries, choices}, {query_others, choice_others}};
    const std::size_t n = items.size();
    const std::vector<std::size_t> bounds = parallel::chunk_bounds(n, kRecodeChunk);
    const std::size_t chunks = bounds.size() - 1;
    std::vector<ChunkCount> counted(chunks);
    // copied[i]: item i holds a value of 128 or more.
    const std::unique_ptr<uint8_t[]> copied(new uint8_t[n]);
    // Set by the first chunk that finds an item refused or more values than there are
    // codes; the other chunks then stop.
    std::atomic<bool> stop{false};

    // A first look at the leading items, in this task, turns down a large alphabet
    // (text in CJK) without waking the pool.
    if (ChunkCount probe; chunks > 1 && !count_items(items, 0, std::min(n, kProbeItems), probe, copied.get(), stop))
        return nullptr;
    parallel::for_each_index(chunks, use_pool, [&](std::size_t c) {
        if (!count_items(items, bounds[c], bounds[c + 1], counted[c], copied.get(), stop))
            stop.store(true, std::memory_order_relaxed);
    });
    if (stop.load()) return nullptr;

    // The distinct values of all chunks, with the elements holding each, and the codes
    // below 128 that no item uses.
    algorithms::ValueNumbering all(kMaxCodes + 1);
    std::size_t totals[kMaxCodes + 1] = {};
    bool low[128] = {};
    for (const ChunkCount& cc : counted) {
        for (std::size_t k = 0; k < cc.values.size(); ++k) {
            const int a = all.add(cc.values[k]);
            if (a < 0 || static_cast<std::size_t>(a) >= kMaxCodes) return nullptr;
            totals[a] += cc.counts[k];
        }
        for (std::size_t v = 0; v < 128; ++v) low[v] = low[v] || cc.low[v];
    }
    const std::span<const uint64_t> values = all.values();
    std::vector<uint8_t> free_low;
    for (std::size_t v = 1; v < 128; ++v)
        if (!low[v]) free_low.push_back(static_cast<uint8_t>(v));
    if (values.empty() || values.size() > free_low.size() + 128) return nullptr;
    // The codes below 128 go to the values held by the most elements (ties: the smaller
    // value first, so that the coding does not depend on the chunks).
    std::vector<std::size_t> order(values.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return totals[a] != totals[b] ? totals[a] > totals[b] : values[a] < values[b];
    });
    uint8_t code_of[kMaxCodes + 1];
    for (std::size_t r = 0; r < order.size(); ++r)
        code_of[order[r]] = r < free_low.size() ? free_low[r] : static_cast<uint8_t>(128 + r - free_low.size());
    // The code of each value below kDirect, the values below 128 as themselves (0 for a
    // value of 128 or more that no item holds: no value is given code 0).
    uint8_t direct[kDirect];
    for (std::size_t v = 0; v < kDirect; ++v) direct[v] = v < 128 ? static_cast<uint8_t>(v) : 0;
    for (std::size_t k = 0; k < values.size(); ++k)
        if (values[k] < kDirect) direct[values[k]] = code_of[k];

    // Each chunk's copies start after those of the chunks before it.
    std::vector<std::size_t> copy_at(chunks + 1, 0);
    for (std::size_t c = 0; c < chunks; ++c) copy_at[c + 1] = copy_at[c] + counted[c].copy_bytes;
    std::unique_ptr<uint8_t[]> storage(new uint8_t[std::max<std::size_t>(copy_at[chunks], 1)]);
    // No cancellation point below: once started, every view of a copied item is rewritten.
    parallel::for_each_index(chunks, use_pool, [&](std::size_t c) {
        uint8_t* out = storage.get() + copy_at[c];
        for (std::size_t i = bounds[c]; i < bounds[c + 1]; ++i) {
            if (!copied[i]) continue;
            const auto [view, others] = items.at(i);
            std::size_t size = 0;
            visit_elements(*view, others, [&](auto s) {
                for (std::size_t k = 0; k < s.size(); ++k) {
                    const uint64_t v = s[k];
                    out[k] = v < kDirect ? direct[v] : code_of[all.find(v)];
                }
                size = s.size();
            });
            *view = ChoiceView{out, static_cast<uint32_t>(size), ChoiceView::kBytes};
            out += size;
        }
    });
    return storage;
}

}  // namespace tarnwick::process
