// Per-element bit masks of a pattern for the bit-parallel kernels.
//
// Bit i of word w of the mask of value c is set exactly when pattern[64*w + i] == c.
// A pattern of at most 16 elements (a word) can be compared with an element in a few
// vector instructions, which costs less than building and clearing any table; on
// processors with AVX-512, so can a pattern of up to 64 code points. Patterns of
// up to 64 elements index a table of 256 masks: by value when every value is below 256,
// else with the value kept beside its mask, by low byte or (when values share one) by a
// second hashed entry, so that no lookup branches on the value. Longer patterns keep
// values of 256 and more in a hash map.
#pragma once

#include <absl/container/flat_hash_map.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE4_1__)
#include <smmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include <bit>
#include <cstring>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

namespace tarnwick::algorithms {

/// Hash of an element value: rotate_left(v * 0xf1357aea2e62a9c5, 26).
struct ElementHash {
    std::size_t operator()(uint64_t v) const noexcept {
        return static_cast<std::size_t>(std::rotl(v * 0xf1357aea2e62a9c5ULL, 26));
    }
};

/// Number of 64-bit words needed for a pattern of `len` elements.
inline constexpr std::size_t blocks_for(std::size_t len) noexcept { return (len + 63) / 64; }

/// Mask of the valid bits of the last word of a pattern of `len` (> 0) elements.
inline constexpr uint64_t last_word_mask(std::size_t len) noexcept {
    return (len % 64) == 0 ? ~uint64_t{0} : (uint64_t{1} << (len % 64)) - 1;
}

/// Sets bit i of `table[pattern[i]]` for each byte of a pattern of at most 64 bytes, in a
/// 256-entry table whose entries for those bytes are zero.
inline void set_byte_masks(uint64_t* table, std::span<const uint8_t> pattern) noexcept {
    uint64_t bit = 1;
    for (const uint8_t c : pattern) {
        table[c] |= bit;
        bit <<= 1;
    }
}

/// Zeroes the entries of a 256-entry table for each byte of `bytes`. A table is reused (per
/// query, per thread) by zeroing the entries its last pattern set; and for a short pair,
/// zeroing the entries of the bytes of both sides makes every entry the kernel reads valid
/// at less cost than clearing the 2 KiB table.
inline void clear_byte_masks(uint64_t* table, std::span<const uint8_t> bytes) noexcept {
    for (const uint8_t c : bytes) table[c] = 0;
}

/// Masks of values of a pattern of at most 64 elements that its 256-entry table leaves
/// out, in an open-addressing table without wrap-around (a slot with mask 0 is empty). A
/// value lies at its home slot or one of the next
/// kWindow - 1 slots whenever the pattern's values fit so (`far` is false): a lookup then
/// reads that fixed window and selects the match without a branch, so text that mixes
/// values below and above 256 costs no mispredictions. Otherwise lookups probe on to the
/// first empty slot.
struct WideSlots {
    static constexpr std::size_t kHome = 128;   // home slots
    static constexpr std::size_t kWindow = 4;   // slots read by a lookup
    static constexpr std::size_t kSize = kHome + 64;  // 64 values probe at most 64 slots on

    uint64_t keys[kSize];
    uint64_t vals[kSize];

    static std::size_t home(uint64_t v) noexcept { return ElementHash{}(v) & (kHome - 1); }

    /// Sets the bits of `bits` in the mask of `v`; returns the slot when it was empty
    /// before, else kSize. `far` becomes true when the slot lies outside the window of `v`.
    std::size_t add(uint64_t v, uint64_t bits, bool& far) noexcept {
        const std::size_t h = home(v);
        std::size_t i = h;
        while (vals[i] != 0 && keys[i] != v) ++i;
        far |= i - h >= kWindow;
        const bool fresh = vals[i] == 0;
        keys[i] = v;
        vals[i] |= bits;
        return fresh ? i : kSize;
    }

    /// The mask of `v` (any value; 0 when it is not held).
    uint64_t get(uint64_t v, bool far) const noexcept {
        std::size_t i = home(v);
        if (far) [[unlikely]] {
            for (; vals[i] != 0; ++i)
                if (keys[i] == v) return vals[i];
            return 0;
        }
#if defined(__SSE4_1__)
        const __m128i key = _mm_set1_epi64x(static_cast<long long>(v));
        const __m128i m0 = _mm_and_si128(_mm_cmpeq_epi64(load(keys + i), key), load(vals + i));
        const __m128i m1 = _mm_and_si128(_mm_cmpeq_epi64(load(keys + i + 2), key), load(vals + i + 2));
        const __m128i m = _mm_or_si128(m0, m1);
        return static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_or_si128(m, _mm_unpackhi_epi64(m, m))));
#else
        uint64_t r = 0;
        for (std::size_t d = 0; d < kWindow; ++d)
            r |= vals[i + d] & (uint64_t{0} - static_cast<uint64_t>(keys[i + d] == v));
        return r;
#endif
    }

private:
#if defined(__SSE4_1__)
    static __m128i load(const uint64_t* p) noexcept {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }
#endif
};

/// `table[v]` for a value below 256, else 0, without a branch: a larger value reads some
/// entry of the 256 and masks it off.
inline uint64_t low_mask(const uint64_t* table, uint64_t v) noexcept {
    return table[v & 255] & (uint64_t{0} - static_cast<uint64_t>(v < 256));
}

/// `x` when `a == b`, else 0, by a conditional move written out: the compiler makes such a
/// selection a branch (mispredicted wherever the operands differ at random) or an AND with
/// the negated comparison, two instructions longer.
inline uint64_t if_equal(uint64_t a, uint64_t b, uint64_t x) noexcept {
#if defined(__GNUC__) && defined(__x86_64__)
    asm("cmpq %[a], %[b]\n\tcmovneq %[zero], %[x]"
        : [x] "+r"(x)
        : [a] "rm"(a), [b] "r"(b), [zero] "r"(uint64_t{0})
        : "cc");
    return x;
#else
    return x & (uint64_t{0} - static_cast<uint64_t>(a == b));
#endif
}

/// `a` when `z` is 0, else `b`, by a conditional move (see if_equal).
inline uint64_t if_zero(uint64_t z, uint64_t a, uint64_t b) noexcept {
#if defined(__GNUC__) && defined(__x86_64__)
    asm("testq %[z], %[z]\n\tcmovzq %[a], %[b]" : [b] "+r"(b) : [z] "r"(z), [a] "r"(a) : "cc");
    return b;
#else
    return z == 0 ? a : b;
#endif
}

/// Masks of a pattern of at most 16 elements, computed per lookup by comparing the element
/// with every pattern element at once: nothing is built but a copy of the pattern.
template <class T>
class ShortMask {
public:
    /// The longest pattern.
    static constexpr std::size_t kMax = 16;

    ShortMask() noexcept = default;
    explicit ShortMask(std::span<const T> pattern) noexcept { assign(pattern); }

    /// Takes `pattern` (at most kMax elements).
    void assign(std::span<const T> pattern) noexcept {
        const std::size_t m = pattern.size();
        std::memset(lanes_, 0, sizeof lanes_);  // lanes past the pattern: masked off by valid_
        copy_short(reinterpret_cast<uint8_t*>(lanes_), reinterpret_cast<const uint8_t*>(pattern.data()),
                   m * sizeof(T));
        valid_ = m == 0 ? 0 : (~uint64_t{0} >> (64 - m));
        m_ = m;
    }

    /// The mask word of value `c`.
    uint64_t get(T c) const noexcept {
#if defined(__SSE2__)
        if constexpr (sizeof(T) == 1) {
            const __m128i eq = _mm_cmpeq_epi8(load(0), _mm_set1_epi8(static_cast<char>(c)));
            return movemask(eq) & valid_;
        } else if constexpr (sizeof(T) == 4) {
            const __m128i v = _mm_set1_epi32(static_cast<int>(c));
            const __m128i lo = _mm_packs_epi32(_mm_cmpeq_epi32(load(0), v), _mm_cmpeq_epi32(load(1), v));
            const __m128i hi = _mm_packs_epi32(_mm_cmpeq_epi32(load(2), v), _mm_cmpeq_epi32(load(3), v));
            return movemask(_mm_packs_epi16(lo, hi)) & valid_;
        }
#endif
#if defined(__SSE4_1__)
        if constexpr (sizeof(T) == 8) {
            // One 32-bit half of each 64-bit comparison, four lanes per register.
            const __m128i v = _mm_set1_epi64x(static_cast<long long>(c));
            __m128i q[4];
            for (int r = 0; r < 4; ++r) {
                const __m128 a = _mm_castsi128_ps(_mm_cmpeq_epi64(load(2 * r), v));
                const __m128 b = _mm_castsi128_ps(_mm_cmpeq_epi64(load(2 * r + 1), v));
                q[r] = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
            }
            const __m128i lanes = _mm_packs_epi16(_mm_packs_epi32(q[0], q[1]), _mm_packs_epi32(q[2], q[3]));
            return movemask(lanes) & valid_;
        }
#endif
        uint64_t x = 0;
        for (std::size_t i = 0; i < m_; ++i) x |= static_cast<uint64_t>(lanes_[i] == c) << i;
        return x;
    }

private:
    /// Copies `n` (at most sizeof lanes_) bytes in pieces of fixed size, the last ones
    /// overlapping the others: a copy of variable length would be a call or a string move,
    /// whose start costs more than copying a word.
    static void copy_short(uint8_t* d, const uint8_t* s, std::size_t n) noexcept {
        if (n >= 16) {
            for (std::size_t i = 0; i + 16 < n; i += 16) std::memcpy(d + i, s + i, 16);
            std::memcpy(d + n - 16, s + n - 16, 16);
        } else if (n >= 8) {
            std::memcpy(d, s, 8);
            std::memcpy(d + n - 8, s + n - 8, 8);
        } else if (n >= 4) {
            std::memcpy(d, s, 4);
            std::memcpy(d + n - 4, s + n - 4, 4);
        } else if (n != 0) {
            d[0] = s[0];
            d[n / 2] = s[n / 2];
            d[n - 1] = s[n - 1];
        }
    }
#if defined(__SSE2__)
    /// The `r`-th 16 bytes of the pattern.
    __m128i load(int r) const noexcept {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(lanes_) + r);
    }
    static uint64_t movemask(__m128i bytes) noexcept {
        return static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(bytes)));
    }
#endif

    alignas(16) T lanes_[kMax];
    uint64_t valid_ = 0;  // the bits of the pattern's positions
    std::size_t m_ = 0;
};

// The sanitizer build defines TARNWICK_VECTOR_MASKS as 0, so that its run of the tests
// covers the tables that processors without AVX-512 use.
#if !defined(TARNWICK_VECTOR_MASKS)
#if defined(__x86_64__) && defined(__GNUC__)
#define TARNWICK_VECTOR_MASKS 1
#else
#define TARNWICK_VECTOR_MASKS 0
#endif
#endif
#if TARNWICK_VECTOR_MASKS
#define TARNWICK_VECTOR_MASKS_TARGET __attribute__((target("avx512f")))
#endif

#if TARNWICK_VECTOR_MASKS
/// Whether this processor compares a code point with 64 others in four instructions
/// (AVX-512): then VectorMask64 serves patterns of code points that ShortMask does not.
inline bool vector_masks_available() noexcept {
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f");
    }();
    return available;
}

/// Masks of a pattern of up to 64 code points, compared with each text element in 16-lane
/// vectors as ShortMask compares patterns of up to 16: nothing to build but a copy,
/// nothing to clear. A pattern of CJK (whose values share low bytes) costs the keyed table of
/// ScratchMask64 about half its kernel time in building and clearing entries. Only for
/// code run on a processor where vector_masks_available(): its members are compiled for
/// AVX-512, and so must be the kernel that inlines get() (see with_vector_masks).
class VectorMask64 {
public:
    static constexpr std::size_t kMax = 64;

    TARNWICK_VECTOR_MASKS_TARGET explicit VectorMask64(std::span<const uint32_t> pattern) noexcept {
        const std::size_t m = pattern.size();
        std::memset(lanes_, 0, sizeof lanes_);
        std::memcpy(lanes_, pattern.data(), m * sizeof(uint32_t));
        valid_ = m == 64 ? ~uint64_t{0} : (uint64_t{1} << m) - 1;
        quads_ = (m + 15) / 16;
    }

    /// The mask word of value `c`: the lanes past the pattern are masked off.
    TARNWICK_VECTOR_MASKS_TARGET uint64_t get(uint32_t c) const noexcept {
        const __m512i v = _mm512_set1_epi32(static_cast<int>(c));
        uint64_t x = uint64_t{_mm512_cmpeq_epi32_mask(load(0), v)} |
                     uint64_t{_mm512_cmpeq_epi32_mask(load(1), v)} << 16;
        if (quads_ > 2)
            x |= uint64_t{_mm512_cmpeq_epi32_mask(load(2), v)} << 32 |
                 uint64_t{_mm512_cmpeq_epi32_mask(load(3), v)} << 48;
        return x & valid_;
    }

private:
    TARNWICK_VECTOR_MASKS_TARGET __m512i load(int q) const noexcept {
        return _mm512_load_si512(lanes_ + 16 * q);
    }

    alignas(64) uint32_t lanes_[kMax];
    uint64_t valid_;
    std::size_t quads_;  // 16-lane vectors holding the pattern: 2 (17-32 elements) or 4
};

/// Returns f(lookup) with `lookup(c)` the VectorMask64 mask of `pattern`: compiled for
/// AVX-512 with f and everything it calls inlined, so that the comparisons sit in f's
/// loops (the kernels themselves are compiled for the baseline).
template <class F>
[[gnu::flatten]] TARNWICK_VECTOR_MASKS_TARGET decltype(auto) with_vector_masks(
    std::span<const uint32_t> pattern, F&& f) {
    const VectorMask64 pm(pattern);
    return f([&pm](uint32_t c) noexcept { return pm.get(c); });
}
#endif

/// Masks of a pattern of at most 64 elements: one word per value. A pattern of 32- or
/// 64-bit elements of at most ShortMask::kMax elements is held as a ShortMask; a longer
/// one with values of 256 and more keys its 256 masks by low byte.
/// The tables live inside the object (on the stack for callers); nothing is allocated.
template <class T>
class PatternMask64 {
public:
    PatternMask64() = default;
    explicit PatternMask64(std::span<const T> pattern) { build(pattern); }

    /// Fills the masks from `pattern` (at most 64 elements); previous content is kept,
    /// so call it on a fresh object.
    void build(std::span<const T> pattern) noexcept {
        if constexpr (sizeof(T) > 1) {
            if (pattern.size() <= ShortMask<T>::kMax) {
                short_.assign(pattern);
                is_short_ = true;
                return;
            }
            is_short_ = false;
        }
        std::memset(table_, 0, sizeof table_);
        if constexpr (sizeof(T) > 1) {
            T all = 0;  // in the elements' own width: four 32-bit elements per vector step
            for (T c : pattern) all |= c;
            keyed_ = all >= 256;
            if (keyed_) {
                build_keyed(pattern);
                return;
            }
        }
        uint64_t bit = 1;
        for (T c : pattern) {
            table_[static_cast<std::size_t>(c)] |= bit;
            bit <<= 1;
        }
    }

    /// The mask word of value `c` (0 when `c` does not occur).
    uint64_t get(T c) const noexcept {
        if constexpr (sizeof(T) > 1) {
            if (is_short_) return short_.get(c);
        }
        if constexpr (sizeof(T) == 1) {
            return table_[c];
        } else {
            const uint64_t v = static_cast<uint64_t>(c);
            if (!keyed_) return low_mask(table_, v);
            const std::size_t e = v & 255;
            const uint64_t direct = table_[e] & (uint64_t{0} - static_cast<uint64_t>(keys_[e] == v));
            return wide_.used() ? direct | wide_.get(v) : direct;
        }
    }

private:
    /// A pattern with values of 256 and more: every value indexes the masks by its low
    /// byte and is kept as the key of its entry; a value whose entry another value holds
    /// goes to `wide_`.
    void build_keyed(std::span<const T> pattern) noexcept {
        if constexpr (sizeof(T) > 1) {
            std::memset(keys_, 0, sizeof keys_);
            uint64_t bit = 1;
            for (T c : pattern) {
                const uint64_t v = static_cast<uint64_t>(c);
                const std::size_t e = v & 255;
                const bool own = (table_[e] == 0) | (keys_[e] == v);
                if (own) [[likely]] {
                    keys_[e] = v;
                    table_[e] |= bit;
                } else {
                    wide_.add(v, bit);
                }
                bit <<= 1;
            }
        }
    }

    /// The masks of values of 256 and more, set up when the first such value arrives.
    class Wide {
    public:
        void add(uint64_t v, uint64_t bit) noexcept {
            if (!used_) {
                std::memset(&slots_, 0, sizeof slots_);
                used_ = true;
            }
            slots_.add(v, bit, far_);
        }
        bool used() const noexcept { return used_; }
        uint64_t get(uint64_t v) const noexcept { return slots_.get(v, far_); }

    private:
        bool used_ = false;
        bool far_ = false;
        WideSlots slots_;
    };

    struct Empty {};
    // The table is cleared by build(): a short pattern never reads it.
    uint64_t table_[256];
    // Wider elements, keyed patterns only: the value of each entry of `table_`.
    [[no_unique_address]] std::conditional_t<sizeof(T) == 1, Empty, uint64_t[256]> keys_;
    [[no_unique_address]] std::conditional_t<sizeof(T) == 1, Empty, Wide> wide_;
    [[no_unique_address]] std::conditional_t<sizeof(T) == 1, Empty, ShortMask<T>> short_;
    // Set by build(); a default-constructed object is to be built before use.
    bool is_short_ = true;
    bool keyed_ = false;  // the pattern holds a value of 256 or more
};

/// Masks of a pattern of at most 64 elements in per-thread tables that stay all zero
/// between uses: building costs O(len) instead of clearing 2 KiB, and the destructor
/// clears exactly what was set. One instance per thread at a time: the kernels that use it
/// never nest.
///
/// Bytes index a table of 256 masks. Wider elements keep their value beside its mask, as
/// the key of the entry, and a lookup compares it and selects the mask without a branch,
/// whatever the script (text mixing values below and above 256 costs no mispredictions).
/// A value has two entries it may take: its low byte, and the top byte of its product with
/// an odd constant. While every value of the pattern sits at its low byte (all of a
/// script whose values differ in it, and every pattern of values below 256), a lookup
/// reads that entry only. Otherwise it reads both: a script spread over many blocks of 256
/// (CJK) nearly always has two values of a pattern of 17 to 64 sharing a low byte, and
/// they rarely share the other entry too. A value whose two entries other values hold
/// displaces one of them to its other entry, and so on down a short chain; a value left
/// without an entry at the end of a long one (many values sharing both) goes to a
/// WideSlots table, read only for such patterns.
template <class T>
class ScratchMask64 {
public:
    explicit ScratchMask64(std::span<const T> pattern) noexcept
        : pattern_(pattern), tables_(&tables()) {
        Tables& t = *tables_;
        uint64_t bit = 1;
        if constexpr (sizeof(T) == 1) {
            for (T c : pattern) {
                t.low[c] |= bit;
                bit <<= 1;
            }
        } else {
            // First every value whose low byte's entry is free or its own takes it, without
            // a branch: a pattern of CJK would mispredict at each value sharing a low byte,
            // and a store whose entry came from loads would hold back the loads after it.
            // The entry keeps its key unless it is free; the bits of the other values'
            // positions are kept aside.
            uint64_t placed = 0;
            for (T c : pattern) {
                const uint64_t v = static_cast<uint64_t>(c);
                const std::size_t e = v & 255;
                const uint64_t low = t.low[e];
                const uint64_t key = if_zero(low, v, t.keys[e]);
                t.keys[e] = key;
                const uint64_t own = if_equal(key, v, bit);
                t.low[e] = low | own;
                placed |= own;
                bit <<= 1;
            }
            const uint64_t rest = (bit - 1) ^ placed;
            // Then the others, in order: each takes its second entry or displaces the
            // holder (see settle). A chain may send a value back to its low byte's entry
            // and a later occurrence then take the second one: the value's bits are then
            // split between its entries, which every lookup of such a pattern ORs.
            for (uint64_t r = rest; r != 0; r &= r - 1) {
                const unsigned i = static_cast<unsigned>(std::countr_zero(r));
                const uint64_t v = static_cast<uint64_t>(pattern[i]);
                const std::size_t e = second_entry(v);
                const uint64_t low = t.low[e];
                // Free or this value's own, tested without a branch (as in the first pass).
                if ((if_equal(t.keys[e], v, 1) | (low == 0)) != 0) [[likely]] {
                    taken_[ntaken_] = static_cast<uint8_t>(e);
                    ntaken_ += low == 0;
                    t.keys[e] = v;
                    t.low[e] = low | (uint64_t{1} << i);
                } else {
                    settle(t, v, uint64_t{1} << i);
                }
            }
            const bool moved = rest != 0;
            mode_ = nslots_ != 0 ? Mode::overflow : moved ? Mode::two : Mode::one;
        }
    }
    ~ScratchMask64() {
        Tables& t = *tables_;
        // The entries set are the low bytes' of the values (or zero) and those taken after
        // the first pass, which are listed.
        if constexpr (sizeof(T) == 1) {
            for (T c : pattern_) t.low[c] = 0;
        } else {
            for (T c : pattern_) t.low[static_cast<uint64_t>(c) & 255] = 0;
            for (std::size_t i = 0; i < ntaken_; ++i) t.low[taken_[i]] = 0;
            for (std::size_t i = 0; i < nslots_; ++i) t.wide.vals[slots_[i]] = 0;
        }
    }
    ScratchMask64(const ScratchMask64&) = delete;
    ScratchMask64& operator=(const ScratchMask64&) = delete;

    /// Returns f(lookup), `lookup(c)` being the mask of c read as this pattern's tables
    /// need (one entry, two, or two and the overflow slots), chosen once so that a loop
    /// over a text tests none of that at each element.
    template <class F>
    decltype(auto) visit(F&& f) const {
        const Tables& t = *tables_;
        if constexpr (sizeof(T) == 1) {
            return f([&t](T c) noexcept { return t.low[c]; });
        } else {
            if (mode_ == Mode::one)
                return f([&t](T c) noexcept {
                    const uint64_t v = static_cast<uint64_t>(c);
                    return keyed_entry(t, v & 255, v);
                });
            if (mode_ == Mode::two)
                return f([&t](T c) noexcept {
                    const uint64_t v = static_cast<uint64_t>(c);
                    return keyed_entry(t, v & 255, v) | keyed_entry(t, second_entry(v), v);
                });
            const bool far = far_;
            return f([&t, far](T c) noexcept {
                const uint64_t v = static_cast<uint64_t>(c);
                return keyed_entry(t, v & 255, v) | keyed_entry(t, second_entry(v), v) |
                       t.wide.get(v, far);
            });
        }
    }

private:
    struct NoWide {};
    struct Tables {
        uint64_t low[256] = {};
        // Wider elements only: the value of each entry of `low` (a key left by an earlier
        // pattern has mask 0), and the values left without an entry; every mask is 0
        // between uses.
        [[no_unique_address]] std::conditional_t<sizeof(T) == 1, NoWide, uint64_t[256]> keys{};
        [[no_unique_address]] std::conditional_t<sizeof(T) == 1, NoWide, WideSlots> wide{};
    };
    // Out of line: inlined, the compiler recomputes the thread-local address (a call to
    // __tls_get_addr in a shared library) at every use inside the loops.
    [[gnu::noinline]] static Tables& tables() noexcept {
        static thread_local Tables t;
        return t;
    }
    /// The mask of `v` if entry `e` holds it, else 0.
    static uint64_t keyed_entry(const Tables& t, std::size_t e, uint64_t v) noexcept {
        return if_equal(t.keys[e], v, t.low[e]);
    }
    /// The other entry a wide value may take: the top byte of its product with an odd
    /// constant, in 32 bits for 32-bit elements (code points), whose products then need
    /// no 64-bit constant.
    static std::size_t second_entry(uint64_t v) noexcept {
        if constexpr (sizeof(T) <= 4)
            return static_cast<uint32_t>(static_cast<uint32_t>(v) * 0x9E3779B1u) >> 24;
        else
            return static_cast<std::size_t>((v * 0x9E3779B97F4A7C15ULL) >> 56);
    }
    /// Sets `bit` for `v`, whose second entry another value holds: in the overflow table if
    /// `v` is there already; else `v` takes that entry, the value it displaces takes its
    /// own other entry, and so on until one finds a free entry. A value still without an
    /// entry after kChain steps goes to the overflow table.
    [[gnu::noinline]] void settle(Tables& t, uint64_t v, uint64_t bit) noexcept {
        if (nslots_ != 0 && t.wide.get(v, far_) != 0) {
            t.wide.add(v, bit, far_);
            return;
        }
        static constexpr int kChain = 32;
        uint64_t key = v;
        uint64_t mask = bit;
        std::size_t e = second_entry(v);
        for (int step = 0; step < kChain; ++step) {
            std::swap(key, t.keys[e]);
            std::swap(mask, t.low[e]);
            // The displaced value's other entry (the same one when both coincide: it then
            // displaces the value that just came, which the next step sends back).
            const std::size_t e1 = key & 255;
            e = e1 == e ? second_entry(key) : e1;
            if (t.low[e] == 0) {
                taken_[ntaken_++] = static_cast<uint8_t>(e);
                t.keys[e] = key;
                t.low[e] = mask;
                return;
            }
        }
        const std::size_t slot = t.wide.add(key, mask, far_);
        if (slot != WideSlots::kSize) slots_[nslots_++] = static_cast<uint8_t>(slot);
    }

    // Entries a lookup reads: the low byte's, both, or both and the overflow table.
    enum class Mode : uint8_t { one, two, overflow };

    std::span<const T> pattern_;
    Tables* tables_;  // this thread's tables, looked up once
    uint8_t slots_[64];
    std::size_t nslots_ = 0;
    // Entries taken after the first pass: at most one for each element it left aside.
    uint8_t taken_[64];
    std::size_t ntaken_ = 0;
    Mode mode_ = Mode::one;
    bool far_ = false;  // some value in `wide` lies outside its lookup window
};

/// Returns f(lookup) with `lookup(c)` the mask of c in `pattern` (at most 64 elements): by
/// vector comparison for code points where the processor allows (VectorMask64), else from
/// the keyed table of ScratchMask64 (visit).
template <class T, class F>
decltype(auto) with_masks64(std::span<const T> pattern, F&& f) {
#if TARNWICK_VECTOR_MASKS
    if constexpr (std::is_same_v<T, uint32_t>)
        if (vector_masks_available()) return with_vector_masks(pattern, f);
#endif
    const ScratchMask64<T> pm(pattern);
    return pm.visit(f);
}

/// Masks of a pattern of any length (used from 65 elements on): `blocks` words per value.
template <class T>
class PatternMaskMulti {
public:
    PatternMaskMulti() = default;
    explicit PatternMaskMulti(std::span<const T> pattern) { build(pattern); }

    /// Builds the masks of `pattern`, replacing any previous content.
    void build(std::span<const T> pattern) {
        blocks_ = blocks_for(pattern.size());
        table_.assign(256 * blocks_, 0);
        zero_.assign(blocks_, 0);
        if constexpr (sizeof(T) > 1) {
            map_.clear();
            extra_.clear();
        }
        for (std::size_t i = 0; i < pattern.size(); ++i) {
            const uint64_t c = static_cast<uint64_t>(pattern[i]);
            const std::size_t w = i / 64;
            const uint64_t bit = uint64_t{1} << (i % 64);
            if (c < 256) {
                table_[c * blocks_ + w] |= bit;
            } else if constexpr (sizeof(T) > 1) {
                auto [it, inserted] = map_.try_emplace(c, extra_.size());
                if (inserted) extra_.resize(extra_.size() + blocks_, 0);
                extra_[it->second + w] |= bit;
            }
        }
    }

    /// Number of 64-bit words per value.
    std::size_t blocks() const noexcept { return blocks_; }

    /// The `blocks()` mask words of value `c` (all zero when `c` does not occur).
    const uint64_t* get(T c) const noexcept {
        const uint64_t v = static_cast<uint64_t>(c);
        if (v < 256) return table_.data() + v * blocks_;
        if constexpr (sizeof(T) > 1) {
            auto it = map_.find(v);
            if (it != map_.end()) return extra_.data() + it->second;
        }
        return zero_.data();
    }

    /// Mask word `w` of value `c`.
    uint64_t get(std::size_t w, T c) const noexcept { return get(c)[w]; }

private:
    std::size_t blocks_ = 0;
    std::vector<uint64_t> table_;
    std::vector<uint64_t> zero_;
    struct Empty {};
    using Map = std::conditional_t<sizeof(T) == 1, Empty,
                                   absl::flat_hash_map<uint64_t, std::size_t, ElementHash>>;
    [[no_unique_address]] Map map_;
    std::vector<uint64_t> extra_;  // map values: offsets into this vector
};

}  // namespace tarnwick::algorithms
