#include "algorithms/lcs_lanes.hpp"

#include "cancel.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#define TARNWICK_LCS_LANES 1
#include <immintrin.h>
#else
#define TARNWICK_LCS_LANES 0
#endif

#include <algorithm>
#include <bit>
#include <cstring>
#include <cstdint>
#include <vector>

namespace tarnwick::algorithms {

#if TARNWICK_LCS_LANES
namespace {

#define TARNWICK_LANES_TARGET __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi")))

constexpr std::size_t kLanes = 64;
/// Bytes of every lane's text read per block.
constexpr std::size_t kBlock = 16;
/// How far ahead of its next byte each lane asks for its text: the 64 streams are more
/// than the processor's prefetcher follows.
constexpr std::size_t kPrefetch = 1024;
/// The work of a block in cancellation units (cancel::Budget): one per 64-bit word of
/// lane state a step moves, 8 a vector step, about as many nanoseconds as a block takes.
/// A lane's text may run to 4 GB, half a minute on its own, so the kernel spends them as
/// it goes rather than waiting for a text to end.
constexpr uint64_t kBlockUnits = kBlock * 8;
/// Where an idle lane points. A masked load, and a prefetch, of an address that is not
/// mapped is slow even when it reads nothing, so idle lanes keep a real one.
alignas(64) constexpr char kIdle[64] = {};

/// The byte permutations of the transposition of a block, lo and hi halves of each of its
/// four stages. A block starts as 16 vectors of 4 lanes' 16 bytes each (lane by lane);
/// each stage joins two vectors holding the same columns of consecutive lanes and splits
/// their columns in halves, so that after four stages each vector holds one column (one
/// byte position) of all 64 lanes, lane l at byte l.
struct Stages {
    alignas(64) uint8_t index[4][2][kLanes];
};

constexpr Stages make_stages() {
    Stages s{};
    // Stage 0: 4 lanes of 16 columns each, lane by lane (byte = lane * 16 + column).
    for (int h = 0; h < 2; ++h)
        for (int c = 0; c < 8; ++c)
            for (int l = 0; l < 8; ++l) {
                const int col = c + 8 * h;
                const int from = l < 4 ? l * 16 + col : 64 + (l - 4) * 16 + col;
                s.index[0][h][c * 8 + l] = static_cast<uint8_t>(from);
            }
    // Stages 1 to 3: L lanes of 64 / L columns, column by column (byte = column * L + lane).
    for (int st = 1; st < 4; ++st) {
        const int lanes = 4 << st, cols = 64 / lanes;
        for (int h = 0; h < 2; ++h)
            for (int c = 0; c < cols / 2; ++c)
                for (int l = 0; l < 2 * lanes; ++l) {
                    const int col = c + h * cols / 2;
                    s.index[st][h][c * 2 * lanes + l] =
                        static_cast<uint8_t>(l < lanes ? col * lanes + l : 64 + col * lanes + (l - lanes));
                }
    }
    return s;
}

constexpr Stages kStages = make_stages();
/// The vector that holds column c after the transposition: c with its four bits reversed.
constexpr int kColumnAt[kBlock] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};

TARNWICK_LANES_TARGET inline void transpose(__m512i (&r)[kBlock]) noexcept {
    for (int st = 0; st < 4; ++st) {
        const __m512i lo = _mm512_load_si512(kStages.index[st][0]);
        const __m512i hi = _mm512_load_si512(kStages.index[st][1]);
        __m512i t[kBlock];
#pragma GCC unroll 8
        for (int k = 0; k < 8; ++k) {
            t[k] = _mm512_permutex2var_epi8(r[2 * k], lo, r[2 * k + 1]);
            t[k + 8] = _mm512_permutex2var_epi8(r[2 * k], hi, r[2 * k + 1]);
        }
#pragma GCC unroll 16
        for (int k = 0; k < 16; ++k) r[k] = t[k];
    }
}

/// One LCS step of every lane: u = S & M; S = (S + u) | (S & ~M), the addition in lanes of
/// 8 bits (Word16 false) or 16 bits. 0xF4 is the truth table of a | (b & ~c).
template <bool Word16>
TARNWICK_LANES_TARGET inline __m512i step_states(__m512i s, __m512i m) noexcept {
    const __m512i u = _mm512_and_si512(s, m);
    const __m512i sum = Word16 ? _mm512_add_epi16(s, u) : _mm512_add_epi8(s, u);
    return _mm512_ternarylogic_epi64(sum, s, m, 0xF4);
}

/// The match masks of a pattern of 1 to 16 ASCII bytes, looked up by byte permutations:
/// bits 0-7 (positions 0 to 7) from lo_a/lo_b, bits 8-15 from hi_a/hi_b, each pair a
/// 128-entry table indexed by the byte's low 7 bits.
struct PatternTable {
    __m512i lo_a, lo_b, hi_a, hi_b;

    TARNWICK_LANES_TARGET explicit PatternTable(std::string_view pattern) noexcept {
        alignas(64) uint8_t table[2][128] = {};
        for (std::size_t i = 0; i < pattern.size(); ++i)
            table[i / 8][static_cast<uint8_t>(pattern[i])] |= static_cast<uint8_t>(1u << (i % 8));
        lo_a = _mm512_load_si512(table[0]);
        lo_b = _mm512_load_si512(table[0] + 64);
        hi_a = _mm512_load_si512(table[1]);
        hi_b = _mm512_load_si512(table[1] + 64);
    }

    /// One step of every lane over `b`, the next byte of each lane's text: one vector of
    /// 64 byte states (Word16 false) or two of 32 16-bit states, s0 holding byte lanes
    /// 16 q to 16 q + 7 and s1 16 q + 8 to 16 q + 15 (q the 128-bit lane).
    template <bool Word16>
    TARNWICK_LANES_TARGET void step(__m512i b, __m512i& s0, __m512i& s1) const noexcept {
        const __m512i lo = _mm512_permutex2var_epi8(lo_a, b, lo_b);
        if constexpr (Word16) {
            const __m512i hi = _mm512_permutex2var_epi8(hi_a, b, hi_b);
            s0 = step_states<true>(s0, _mm512_unpacklo_epi8(lo, hi));
            s1 = step_states<true>(s1, _mm512_unpackhi_epi8(lo, hi));
        } else {
            s0 = step_states<false>(s0, lo);
        }
    }
};

/// 16 bytes of each of 64 lanes, lane l from address at[l] under the byte mask mask[l]
/// (zero where the mask is clear; a masked load reads no byte outside its mask): vector k
/// holds lanes 4 k to 4 k + 3, 16 bytes each, as transpose() takes them.
TARNWICK_LANES_TARGET inline void gather_block(const uintptr_t* at, const uint16_t* mask,
                                               __m512i (&r)[kBlock]) noexcept {
    for (std::size_t k = 0; k < kBlock; ++k) {
        __m128i x[4];
        for (std::size_t j = 0; j < 4; ++j)
            x[j] = _mm_maskz_loadu_epi8(mask[4 * k + j], reinterpret_cast<const void*>(at[4 * k + j]));
        // Joined by vector shuffles (the intrinsics that widen a vector leave its upper
        // part formally undefined, which the compiler warns about).
        using V2 = long long __attribute__((vector_size(16)));
        using V4 = long long __attribute__((vector_size(32)));
        const V4 low = __builtin_shufflevector(V2(x[0]), V2(x[1]), 0, 1, 2, 3);
        const V4 high = __builtin_shufflevector(V2(x[2]), V2(x[3]), 0, 1, 2, 3);
        r[k] = __m512i(__builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7));
    }
}

/// Lanes of 32-bit and 16-bit integers (the compiler's vector types: the intrinsics for
/// these operations leave parts formally undefined, which it warns about).
using U32 = uint32_t __attribute__((vector_size(64)));
using U16 = uint16_t __attribute__((vector_size(32)));

/// The kernel for patterns of up to 8 bytes (Word16 false: one vector of 64 byte states) or
/// 16 (two vectors of 32 16-bit states: byte lane 16 q + j is state 8 q + j of the first
/// for j < 8, else state 8 q + j - 8 of the second). The lanes' texts are kept field by
/// field (address of the next byte, bytes left, length, slot), so that the per-block work
/// on them runs on vectors too; addresses are kept as integers.
template <bool Word16>
class Kernel {
public:
    TARNWICK_LANES_TARGET Kernel(std::string_view pattern, NextLaneTexts next, LaneLcsSink sink,
                                 void* context, std::vector<std::size_t>& given_back)
        : m_(pattern.size()), live_((uint64_t{1} << m_) - 1), table_(pattern), next_(next), sink_(sink),
          context_(context), given_back_(given_back) {}

    TARNWICK_LANES_TARGET void run() {
        for (std::size_t l = 0; l < kLanes; ++l) take(l);
        __m512i s0 = _mm512_set1_epi8(-1), s1 = s0;
        cancel::Budget budget;
        while (busy_) {
            // Between blocks: a stop leaves nothing half-reported.
            budget.spend(Word16 ? 2 * kBlockUnits : kBlockUnits);
            __m512i r[kBlock];
            // A block of every fourth reads a cache line of each lane: those ask for the
            // line kPrefetch bytes ahead.
            if (++blocks_ % 4 == 0) prefetch();
            load_block(r);
            transpose(r);
            // Lanes that met a byte of 128 or more leave the kernel.
            __m512i any = r[0];
            for (std::size_t k = 1; k < kBlock; ++k) any = _mm512_or_si512(any, r[k]);
            const uint64_t wide = _mm512_movepi8_mask(any);
#pragma GCC unroll 16
            for (std::size_t i = 0; i < kBlock; ++i) table_.step<Word16>(r[kColumnAt[i]], s0, s1);
            const uint64_t ended = (advance() | wide) & busy_;
            if (ended) finish(ended, wide, s0, s1);
        }
    }

private:
    /// Gives lane l the next text, or leaves it idle when there is none. A text of 2^32
    /// bytes or more (beyond a lane's count) is given back.
    void take(std::size_t l) {
        LaneText d;
        const uint64_t bit = uint64_t{1} << l;
        bool found = pop(d);
        for (; found && d.size > UINT32_MAX; found = pop(d)) given_back_.push_back(d.slot);
        if (!found) {
            more_ = false;
            busy_ &= ~bit;
            at_[l] = reinterpret_cast<uintptr_t>(kIdle);
            left_[l] = 0;
            return;
        }
        busy_ |= bit;
        at_[l] = reinterpret_cast<uintptr_t>(d.data);
        left_[l] = static_cast<uint32_t>(d.size);
        size_[l] = d.size;
        slot_[l] = d.slot;
        for (std::size_t at = 0; at < d.size && at < kPrefetch; at += 64)
            _mm_prefetch(d.data + at, _MM_HINT_T0);
    }

    /// The next text into `d`, from the queue refilled by the caller kLanes at a time;
    /// false at the end.
    bool pop(LaneText& d) {
        if (head_ == count_) {
            if (!more_) return false;
            count_ = next_(context_, queue_, kLanes);
            head_ = 0;
            if (count_ == 0) return false;
        }
        d = queue_[head_++];
        return true;
    }

    /// Asks for every busy lane's bytes kPrefetch ahead of its next byte (past the text's
    /// end the prefetch reads nothing).
    void prefetch() const noexcept {
        for (uint64_t busy = busy_; busy; busy &= busy - 1) {
            const uintptr_t at = at_[std::countr_zero(busy)];
            _mm_prefetch(reinterpret_cast<const char*>(at + kPrefetch), _MM_HINT_T0);
        }
    }

    /// The next 16 bytes of every lane, zero past its text's end: vector k holds lanes
    /// 4 k to 4 k + 3, 16 bytes each. A masked load reads no byte outside its mask.
    TARNWICK_LANES_TARGET void load_block(__m512i (&r)[kBlock]) noexcept {
        // Each lane's mask: its first min(left, 16) bytes.
        for (std::size_t q = 0; q < kLanes / 16; ++q) {
            U32 n;
            std::memcpy(&n, left_ + 16 * q, sizeof n);
            n = n < kBlock ? n : kBlock;
            const U16 bits = __builtin_convertvector((1u << n) - 1u, U16);
            std::memcpy(mask_ + 16 * q, &bits, sizeof bits);
        }
        gather_block(at_, mask_, r);
    }

    /// Moves every lane 16 bytes on; returns the lanes whose texts ended in this block
    /// (idle lanes among them).
    TARNWICK_LANES_TARGET uint64_t advance() noexcept {
        uint64_t ended = 0;
        for (std::size_t q = 0; q < kLanes / 16; ++q) {
            U32 left;
            std::memcpy(&left, left_ + 16 * q, sizeof left);
            ended |= uint64_t{_mm512_cmple_epu32_mask(__m512i(left), __m512i(U32{} + kBlock))} << (16 * q);
            left -= left < kBlock ? left : kBlock;
            std::memcpy(left_ + 16 * q, &left, sizeof left);
        }
        // Only the lanes going on: an idle lane stays on kIdle.
        const __m512i step = _mm512_set1_epi64(kBlock);
        for (std::size_t q = 0; q < kLanes / 8; ++q) {
            const __m512i at = _mm512_load_si512(at_ + 8 * q);
            const auto on = static_cast<__mmask8>(~ended >> (8 * q));
            _mm512_store_si512(at_ + 8 * q, _mm512_mask_add_epi64(at, on, at, step));
        }
        return ended;
    }

    /// Reports the LCS of every lane in `ended` (or, for those in `wide`, gives its text
    /// back) and gives it the next text with a new state.
    TARNWICK_LANES_TARGET void finish(uint64_t ended, uint64_t wide, __m512i& s0, __m512i& s1) {
        alignas(64) uint8_t state[2][64];
        _mm512_store_si512(state[0], s0);
        _mm512_store_si512(state[1], s1);
        LaneLcs done[kLanes];
        std::size_t count = 0;
        for (; ended; ended &= ended - 1) {
            const std::size_t l = static_cast<std::size_t>(std::countr_zero(ended));
            const std::size_t at = state_index(l);
            uint64_t s = state[at / 64][at % 64];
            if constexpr (Word16) s |= uint64_t{state[at / 64][at % 64 + 1]} << 8;
            const uint64_t lcs = static_cast<uint64_t>(std::popcount(~s & live_));
            if (wide >> l & 1) given_back_.push_back(slot_[l]);
            else done[count++] = LaneLcs{slot_[l], size_[l], lcs};
            take(l);
            state[at / 64][at % 64] = 0xFF;
            if constexpr (Word16) state[at / 64][at % 64 + 1] = 0xFF;
        }
        s0 = _mm512_load_si512(state[0]);
        s1 = _mm512_load_si512(state[1]);
        if (count) sink_(context_, done, count);
    }

    /// The byte offset of lane l's state in the two stored state vectors (128 bytes).
    static std::size_t state_index(std::size_t l) noexcept {
        if constexpr (!Word16) return l;
        const std::size_t q = l / 16, j = l % 16;
        const std::size_t word = 8 * q + j % 8;
        return (j < 8 ? 0 : 64) + 2 * word;
    }

    std::size_t m_;
    uint64_t live_;
    PatternTable table_;
    NextLaneTexts next_;
    LaneLcsSink sink_;
    void* context_;
    std::vector<std::size_t>& given_back_;
    bool more_ = true;    // the caller may have more texts
    std::size_t head_ = 0, count_ = 0;  // the queue's next text and its end
    LaneText queue_[kLanes];
    std::size_t blocks_ = 0;
    uint64_t busy_ = 0;  // lanes holding a text
    alignas(64) uintptr_t at_[kLanes];
    alignas(64) uint32_t left_[kLanes];
    alignas(64) uint16_t mask_[kLanes];
    std::size_t size_[kLanes];
    std::size_t slot_[kLanes];
};

bool processor_has_kernel() noexcept {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
}

/// The LCS of each of 64 lanes from its final state, popcount(~state & live), as bytes in
/// lane order: one vector of byte states (Word16 false), or two of 16-bit states laid out
/// as PatternTable::step leaves them, which a pack of each 128-bit lane puts back in lane
/// order. The processor may lack a byte popcount: a table of the 16 nibbles counts them.
/// The bits set in each byte of `v`. The processor may lack a byte popcount: a table of
/// the 16 nibbles counts them.
TARNWICK_LANES_TARGET inline __m512i count_bytes(__m512i v) noexcept {
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    const __m512i ones = _mm512_set4_epi32(0x04030302, 0x03020201, 0x03020201, 0x02010100);
    const __m512i lo = _mm512_shuffle_epi8(ones, _mm512_and_si512(v, nibble));
    const __m512i hi = _mm512_shuffle_epi8(ones, _mm512_and_si512(_mm512_srli_epi16(v, 4), nibble));
    return _mm512_add_epi8(lo, hi);
}

/// ~s & live (the intrinsic of and-not leaves a part formally undefined, which the compiler
/// warns about).
TARNWICK_LANES_TARGET inline __m512i clear_bits(__m512i s, __m512i live) noexcept {
    return _mm512_and_si512(_mm512_xor_si512(s, _mm512_set1_epi8(-1)), live);
}

/// The bits of `live` clear in each 16-bit lane of `s`.
TARNWICK_LANES_TARGET inline __m512i count_clear_words(__m512i s, uint64_t live) noexcept {
    const __m512i c = count_bytes(clear_bits(s, _mm512_set1_epi16(static_cast<short>(live))));
    return _mm512_add_epi16(_mm512_and_si512(c, _mm512_set1_epi16(0xFF)), _mm512_srli_epi16(c, 8));
}

/// The LCS of each of 64 lanes from its final state, popcount(~state & live), as bytes in
/// lane order: one vector of byte states (Word16 false), or two of 16-bit states laid out
/// as PatternTable::step leaves them, which a pack of each 128-bit lane puts back in lane
/// order.
template <bool Word16>
TARNWICK_LANES_TARGET inline __m512i lane_counts(__m512i s0, __m512i s1, uint64_t live) noexcept {
    if constexpr (!Word16)
        return count_bytes(clear_bits(s0, _mm512_set1_epi8(static_cast<char>(live))));
    else
        return _mm512_packus_epi16(count_clear_words(s0, live), count_clear_words(s1, live));
}

/// lcs_lanes_groups for patterns of up to 8 bytes (Word16 false) or 16.
template <bool Word16>
TARNWICK_LANES_TARGET void run_groups(std::string_view pattern, const uint8_t* groups,
                                      const uint8_t* widths, std::size_t count, uint8_t* lcs,
                                      cancel::Budget& budget) {
    const PatternTable table(pattern);
    const uint64_t live = (uint64_t{1} << pattern.size()) - 1;
    for (std::size_t g = 0; g < count; ++g) {
        budget.spend(Word16 ? 2 * kBlockUnits : kBlockUnits);
        const uint8_t* const group = groups + g * kLaneGroupBytes;
        __m512i s0 = _mm512_set1_epi8(-1), s1 = s0;
        // The columns past the width are zero, which would leave the states as they are.
        for (std::size_t c = 0, w = widths[g]; c < w; ++c)
            table.step<Word16>(_mm512_load_si512(group + c * kLanes), s0, s1);
        _mm512_storeu_si512(lcs + g * kLanes, lane_counts<Word16>(s0, s1, live));
    }
}

}  // namespace

bool lcs_lanes_suit(std::string_view pattern) noexcept {
    if (!lcs_lanes_available() || pattern.empty() || pattern.size() > 16) return false;
    for (const char c : pattern)
        if (c == 0 || static_cast<unsigned char>(c) >= 128) return false;
    return true;
}

void lcs_lanes(std::string_view pattern, NextLaneTexts next, LaneLcsSink sink, void* context,
               std::vector<std::size_t>& given_back) {
    if (pattern.size() <= 8) Kernel<false>(pattern, next, sink, context, given_back).run();
    else Kernel<true>(pattern, next, sink, context, given_back).run();
}

bool lcs_lanes_available() noexcept {
    static const bool has_kernel = processor_has_kernel();
    return has_kernel;
}

TARNWICK_LANES_TARGET std::size_t lcs_lanes_transpose(const LaneText* texts, std::size_t count,
                                                      uint8_t* group) {
    alignas(64) uintptr_t at[kLanes];
    alignas(64) uint16_t mask[kLanes];
    std::size_t width = 0;
    for (std::size_t l = 0; l < kLanes; ++l) {
        const bool used = l < count;
        const std::size_t size = used ? texts[l].size : 0;
        at[l] = reinterpret_cast<uintptr_t>(used ? texts[l].data : kIdle);
        mask[l] = static_cast<uint16_t>((uint32_t{1} << size) - 1);
        width = std::max(width, size);
    }
    __m512i r[kBlock];
    gather_block(at, mask, r);
    transpose(r);
    for (std::size_t c = 0; c < kBlock; ++c)
        _mm512_store_si512(group + c * kLanes, r[kColumnAt[c]]);
    return width;
}

void lcs_lanes_groups(std::string_view pattern, const uint8_t* groups, const uint8_t* widths,
                      std::size_t count, uint8_t* lcs, cancel::Budget& budget) {
    if (pattern.size() <= 8) run_groups<false>(pattern, groups, widths, count, lcs, budget);
    else run_groups<true>(pattern, groups, widths, count, lcs, budget);
}

#else

bool lcs_lanes_available() noexcept { return false; }
std::size_t lcs_lanes_transpose(const LaneText*, std::size_t, uint8_t*) { return 0; }
void lcs_lanes_groups(std::string_view, const uint8_t*, const uint8_t*, std::size_t, uint8_t*,
                      cancel::Budget&) {}
bool lcs_lanes_suit(std::string_view) noexcept { return false; }
void lcs_lanes(std::string_view, NextLaneTexts, LaneLcsSink, void*, std::vector<std::size_t>&) {}

#endif

}  // namespace tarnwick::algorithms
