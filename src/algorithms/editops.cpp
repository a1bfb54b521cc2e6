#include "algorithms/editops.hpp"

#include "algorithms/common.hpp"
#include "algorithms/dense_codes.hpp"
#include "algorithms/lcs_step.hpp"
#include "algorithms/levenshtein.hpp"
#include "algorithms/levenshtein_band.hpp"
#include "algorithms/myers_step.hpp"
#include "algorithms/pattern_mask.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <sys/mman.h>
#include <new>

namespace tarnwick::algorithms {
namespace {

/// a * b for a buffer size, throwing std::bad_alloc when it cannot be represented.
std::size_t checked_words(std::size_t a, std::size_t b) {
    std::size_t p;
    if (__builtin_mul_overflow(a, b, &p) || p > (~std::size_t{0}) / 16) throw std::bad_alloc();
    return p;
}

/// Operations for sequences whose middle on one side is empty: the other middle is
/// inserted or deleted at offset `p`.
void trivial_script(std::vector<EditOp>& out, std::size_t p, std::size_t n, std::size_t m) {
    for (std::size_t k = 0; k < m; ++k) out.push_back({EditType::Insert, p, p + k});
    for (std::size_t k = 0; k < n; ++k) out.push_back({EditType::Delete, p + k, p});
}

/// Uninitialised word storage for the recorded columns (every word is written before it
/// is read). Large buffers are 2 MiB aligned and offered to the kernel for huge pages:
/// a trace of long inputs touches tens of megabytes once, and faulting them in 4 KiB
/// pages costs more than computing them.
class RecordBuffer {
public:
    explicit RecordBuffer(std::size_t words) {
        constexpr std::size_t kHuge = std::size_t{2} << 20;
        const std::size_t bytes = words * sizeof(uint64_t);
        if (bytes >= 2 * kHuge) {
            const std::size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
            p_ = static_cast<uint64_t*>(std::aligned_alloc(kHuge, rounded));
            if (!p_) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
            madvise(p_, rounded, MADV_HUGEPAGE);
#endif
        } else {
            p_ = static_cast<uint64_t*>(std::malloc(bytes == 0 ? 1 : bytes));
            if (!p_) throw std::bad_alloc();
        }
    }
    ~RecordBuffer() { std::free(p_); }
    RecordBuffer(const RecordBuffer&) = delete;
    RecordBuffer& operator=(const RecordBuffer&) = delete;
    uint64_t* data() const noexcept { return p_; }

private:
    uint64_t* p_;
};

inline bool bit(const uint64_t* words, std::size_t r) noexcept {
    return (words[r / 64] >> (r % 64)) & 1;
}

}  // namespace

template <class T>
std::vector<EditOp> hamming_editops_trace(std::span<const T> s1, std::span<const T> s2) {
    std::vector<EditOp> out;
    const std::size_t common = std::min(s1.size(), s2.size());
    for (std::size_t i = 0; i < common; ++i)
        if (s1[i] != s2[i]) out.push_back({EditType::Replace, i, i});
    for (std::size_t j = s1.size(); j < s2.size(); ++j)
        out.push_back({EditType::Insert, s1.size(), j});
    for (std::size_t i = s2.size(); i < s1.size(); ++i)
        out.push_back({EditType::Delete, i, s2.size()});
    return out;
}

// The Indel backtrack reads only vertical differences of the LCS table, L[i][j] minus
// L[i-1][j], which are 0 or 1. Bit i-1 of the bit-parallel LCS state after b[0..j) is
// clear exactly when that difference is 1, so one state vector per column of b replaces
// the full (n+1) x (m+1) table.
template <class T>
std::vector<EditOp> indel_editops_trace(std::span<const T> s1, std::span<const T> s2) {
    // Wide elements: the byte codes take the dense mask tables (positions are the same).
    const auto coded = [](auto x, auto y) { return indel_editops_trace(x, y); };
    if (auto ops = with_dense_codes(s1, s2, coded)) return std::move(*ops);
    std::vector<EditOp> out;
    const Affix<T> ax = strip_affix(s1, s2);
    const std::size_t p = ax.prefix;
    const std::span<const T> a = ax.a;
    const std::span<const T> b = ax.b;
    const std::size_t n = a.size();
    const std::size_t m = b.size();
    if (n == 0 || m == 0) {
        trivial_script(out, p, n, m);
        return out;
    }

    const PatternMaskMulti<T> pm(a);
    const std::size_t blocks = pm.blocks();
    const RecordBuffer record(checked_words(m, blocks));
    uint64_t* const cols = record.data();
    {
        std::vector<uint64_t> S(blocks, ~uint64_t{0});
        cancel::Budget budget;  // one unit per word step
        for (std::size_t j = 0; j < m; ++j) {
            budget.spend(blocks);
            lcs_words_step(S.data(), pm.get(b[j]), blocks);
            std::copy(S.begin(), S.end(), cols + j * blocks);
        }
    }
    // L[i][j] == L[i-1][j], for 1 <= i <= n and 1 <= j <= m.
    auto flat = [&](std::size_t i, std::size_t j) noexcept {
        return bit(cols + (j - 1) * blocks, i - 1);
    };

    out.reserve(n + m);
    std::size_t i = n;
    std::size_t j = m;
    while (i > 0) {
        if (flat(i, j)) {
            out.push_back({EditType::Delete, p + i - 1, p + j});
            --i;
            continue;
        }
        --j;
        if (j == 0) {
            // a[i-1] is matched with b[0]: everything above it is deleted.
            for (std::size_t k = i - 1; k-- > 0;) out.push_back({EditType::Delete, p + k, p});
            i = 0;
            break;
        }
        if (flat(i, j)) {
            --i;  // a[i-1] matched with b[j]
        } else {
            out.push_back({EditType::Insert, p + i, p + j});
        }
    }
    for (std::size_t k = j; k-- > 0;) out.push_back({EditType::Insert, p, p + k});
    std::reverse(out.begin(), out.end());
    return out;
}

// Levenshtein trace: the bit-parallel columns of the unit-cost table for `a` (pattern)
// against `b` (text) are recorded, then walked back from the last cell.
//
// Only a diagonal band of each column is computed and kept (see levenshtein_band.hpp).
// With d the distance and k >= d + 2, every cell on an optimal path and every neighbour the backtrack reads lies
// in the band |i - j| + |(n - m) - (i - j)| <= k, and every cell there has an optimal
// path inside the band, so those cells come out exact and the backtrack makes the same
// choices as over the full table.
template <class T>
std::vector<EditOp> levenshtein_editops_trace(std::span<const T> s1, std::span<const T> s2) {
    // Wide elements: the byte codes take the dense mask tables (positions are the same).
    const auto coded = [](auto x, auto y) { return levenshtein_editops_trace(x, y); };
    if (auto ops = with_dense_codes(s1, s2, coded)) return std::move(*ops);
    std::vector<EditOp> out;
    const Affix<T> ax = strip_affix(s1, s2);
    const std::size_t p = ax.prefix;
    const std::span<const T> a = ax.a;
    const std::span<const T> b = ax.b;
    const std::size_t n = a.size();
    const std::size_t m = b.size();
    if (n == 0 || m == 0) {
        trivial_script(out, p, n, m);
        return out;
    }

    const PatternMaskMulti<T> pm(a);
    const std::size_t blocks = pm.blocks();
    auto none = [](std::size_t, std::size_t, std::size_t, const uint64_t*, const uint64_t*) {};

    // The band needs a bound k >= distance + 2. A narrow first band gives the distance
    // (or an upper bound of it) cheaply; pairs that are plainly far apart keep every row.
    uint64_t k = kNoBound;
    if (blocks > 2) {
        const uint64_t k0 = first_band_bound(n, m);
        const uint64_t r = detail::band_columns(pm, n, b, k0, true, none);
        if (r != kNoBound) k = r + 2;
    }
    const detail::Band band(n, m, k);

    std::vector<std::size_t> offset(m + 1);
    offset[0] = 0;
    for (std::size_t j = 1; j <= m; ++j) {
        const std::size_t count = band.last(j) - band.first(j) + 1;
        if (__builtin_add_overflow(offset[j - 1], count, &offset[j])) throw std::bad_alloc();
    }
    const std::size_t words = offset[m];
    RecordBuffer record(checked_words(words, 2));
    uint64_t* const rec_vp = record.data();
    uint64_t* const rec_vn = record.data() + words;
    detail::band_columns(pm, n, b, k, false,
                         [&](std::size_t j, std::size_t first, std::size_t last, const uint64_t* VP,
                             const uint64_t* VN) noexcept {
                             uint64_t* dvp = rec_vp + offset[j - 1];
                             uint64_t* dvn = rec_vn + offset[j - 1];
                             for (std::size_t w = first; w <= last; ++w) {
                                 dvp[w - first] = VP[w];
                                 dvn[w - first] = VN[w];
                             }
                         });
    auto first_block = [&](std::size_t j) noexcept { return band.first(j); };
    // Bit r of the recorded VP / VN of column j (1-based); r lies inside the column's band.
    auto vp_bit = [&](std::size_t j, std::size_t r) noexcept {
        const std::size_t first = first_block(j);
        return (rec_vp[offset[j - 1] + r / 64 - first] >> (r % 64)) & 1;
    };
    auto vn_bit = [&](std::size_t j, std::size_t r) noexcept {
        const std::size_t first = first_block(j);
        return (rec_vn[offset[j - 1] + r / 64 - first] >> (r % 64)) & 1;
    };

    std::size_t i = n;
    std::size_t j = m;
    while (i > 0 && j > 0) {
        if (vp_bit(j, i - 1)) {
            out.push_back({EditType::Delete, p + i - 1, p + j});
            --i;
        } else if (j >= 2 && vn_bit(j - 1, i - 1)) {
            out.push_back({EditType::Insert, p + i, p + j - 1});
            --j;
        } else {
            if (a[i - 1] != b[j - 1]) out.push_back({EditType::Replace, p + i - 1, p + j - 1});
            --i;
            --j;
        }
    }
    for (std::size_t k = i; k-- > 0;) out.push_back({EditType::Delete, p + k, p});
    for (std::size_t k = j; k-- > 0;) out.push_back({EditType::Insert, p, p + k});
    std::reverse(out.begin(), out.end());
    return out;
}

#define TARNWICK_EDITOPS_INSTANTIATE(T)                                                     \
    template std::vector<EditOp> hamming_editops_trace<T>(std::span<const T>,              \
                                                          std::span<const T>);             \
    template std::vector<EditOp> indel_editops_trace<T>(std::span<const T>,                \
                                                        std::span<const T>);               \
    template std::vector<EditOp> levenshtein_editops_trace<T>(std::span<const T>,          \
                                                              std::span<const T>);
TARNWICK_EDITOPS_INSTANTIATE(uint8_t)
TARNWICK_EDITOPS_INSTANTIATE(uint32_t)
TARNWICK_EDITOPS_INSTANTIATE(uint64_t)

}  // namespace tarnwick::algorithms
