#include "dense/dot_matrix.hpp"

#include "cancel.hpp"
#include "cpu_dispatch.hpp"
#include "parallel.hpp"

#include <algorithm>
#include <cstring>

namespace tarnwick::search {
namespace {

constexpr std::size_t kLanes = DotPanel::kLanes;
using Block = DotPanel::Block;
/// Sources multiplied with one block while it is in registers.
constexpr std::size_t kGroup = 8;
/// Bytes of panel read by every group of sources before moving on.
constexpr std::size_t kChunkBytes = std::size_t{1} << 18;
using Lanes = float __attribute__((vector_size(kLanes * sizeof(float))));

/// One block against G sources (G <= kGroup); see the header for why each lane's sum is
/// the sequential dot. `len[g]` is the common length of source g with the block's shortest
/// row; `m` is the smallest of them.
template <std::size_t G>
[[gnu::always_inline]] inline void block_dots(const float* panel, const float* const* src,
                                              const std::size_t* len, std::size_t m, Lanes* acc) {
    // Local copies, so that the sums stay in registers: the panel is read through a float
    // pointer, which could otherwise alias them.
    const float* s[G];
    Lanes a[G];
    for (std::size_t g = 0; g < G; ++g) {
        s[g] = src[g];
        a[g] = -Lanes{};  // -0.0 in every lane
    }
    for (std::size_t k = 0; k < m; ++k) {
        Lanes p;
        std::memcpy(&p, panel + k * kLanes, sizeof p);
        for (std::size_t g = 0; g < G; ++g) {
            const Lanes prod = s[g][k] * p;
            a[g] += prod;
        }
    }
    for (std::size_t g = 0; g < G; ++g) {
        for (std::size_t k = m; k < len[g]; ++k) {
            Lanes p;
            std::memcpy(&p, panel + k * kLanes, sizeof p);
            const Lanes prod = s[g][k] * p;
            a[g] += prod;
        }
        acc[g] = a[g];
    }
}

/// One block against a group of at most kGroup sources.
[[gnu::always_inline]] inline void group_dots(const float* panel, const Block& block,
                                              std::size_t first, std::size_t n_targets,
                                              const std::size_t* lengths, const float* const* src,
                                              const std::size_t* src_len, std::size_t g_count,
                                              float* out) {
    std::size_t len[kGroup];
    std::size_t m = ~std::size_t{0};
    for (std::size_t g = 0; g < g_count; ++g) {
        len[g] = std::min(src_len[g], block.shortest);
        m = std::min(m, len[g]);
    }
    Lanes acc[kGroup];
    switch (g_count) {
        case 1: block_dots<1>(panel, src, len, m, acc); break;
        case 2: block_dots<2>(panel, src, len, m, acc); break;
        case 3: block_dots<3>(panel, src, len, m, acc); break;
        case 4: block_dots<4>(panel, src, len, m, acc); break;
        case 5: block_dots<5>(panel, src, len, m, acc); break;
        case 6: block_dots<6>(panel, src, len, m, acc); break;
        case 7: block_dots<7>(panel, src, len, m, acc); break;
        default: block_dots<8>(panel, src, len, m, acc); break;
    }
    const std::size_t lanes = std::min(kLanes, n_targets - first);
    for (std::size_t g = 0; g < g_count; ++g) {
        float* row = out + g * n_targets + first;
        if (block.uniform) {  // no lane is longer than the shortest: the sums are final
            std::memcpy(row, &acc[g], sizeof acc[g]);
            continue;
        }
        float sums[kLanes];
        std::memcpy(sums, &acc[g], sizeof sums);
        for (std::size_t lane = 0; lane < lanes; ++lane) {
            // A lane longer than the block's shortest row finishes alone.
            const std::size_t end = std::min(src_len[g], lengths[first + lane]);
            float sum = sums[lane];
            for (std::size_t k = len[g]; k < end; ++k) {
                const float prod = src[g][k] * panel[k * kLanes + lane];
                sum += prod;
            }
            row[lane] = sum;
        }
    }
}

/// Blocks [first_block, last_block) against `count` sources. The blocks are taken a chunk
/// of about kChunkBytes at a time, which every group of sources then reads from the core's
/// own cache.
TARNWICK_AVX2_CLONES
void panel_dots(const float* data, const Block* blocks, std::size_t first_block,
                std::size_t last_block, const std::size_t* lengths, std::size_t n_targets,
                const float* const* src, const std::size_t* src_len, std::size_t count,
                float* out) noexcept {
    for (std::size_t cb = first_block; cb < last_block;) {
        std::size_t ce = cb + 1;
        while (ce < last_block && (blocks[ce].offset - blocks[cb].offset) * sizeof(float) < kChunkBytes)
            ++ce;
        for (std::size_t g0 = 0; g0 < count; g0 += kGroup) {
            const std::size_t g_count = std::min(kGroup, count - g0);
            for (std::size_t blk = cb; blk < ce; ++blk)
                group_dots(data + blocks[blk].offset, blocks[blk], blk * kLanes, n_targets,
                           lengths, src + g0, src_len + g0, g_count, out + g0 * n_targets);
        }
        cb = ce;
    }
}

}  // namespace

float dot_f32(std::span<const float> x, std::span<const float> y) noexcept {
    const std::size_t n = std::min(x.size(), y.size());
    float acc = -0.0f;
    for (std::size_t k = 0; k < n; ++k) acc += x[k] * y[k];
    return acc;
}

DotPanel::DotPanel(std::span<const std::span<const float>> rows) {
    lengths_.reserve(rows.size());
    for (const std::span<const float> r : rows) lengths_.push_back(r.size());
    std::size_t total = 0;
    for (std::size_t first = 0; first < rows.size(); first += kLanes) {
        const auto b = lengths_.begin() + static_cast<std::ptrdiff_t>(first);
        const auto e = lengths_.begin() + static_cast<std::ptrdiff_t>(std::min(first + kLanes, rows.size()));
        const std::size_t shortest = *std::min_element(b, e), longest = *std::max_element(b, e);
        blocks_.push_back(Block{total, shortest, shortest == longest && e - b == kLanes});
        total += longest * kLanes;
    }
    data_.resize(total);
    // Below this many floats the pool's coordination costs more than the copy.
    constexpr std::size_t kPoolFloats = std::size_t{1} << 18;
    parallel::for_each_index(blocks_.size(), total >= kPoolFloats, [&](std::size_t blk) {
        const std::size_t first = blk * kLanes;
        const std::size_t depth =
            (blk + 1 < blocks_.size() ? blocks_[blk + 1].offset : total) - blocks_[blk].offset;
        float* dst = data_.data() + blocks_[blk].offset;
        std::fill(dst, dst + depth, 0.0f);
        for (std::size_t l = 0; l < kLanes && first + l < rows.size(); ++l) {
            const std::span<const float> row = rows[first + l];
            for (std::size_t k = 0; k < row.size(); ++k) dst[k * kLanes + l] = row[k];
        }
    });
}

void DotPanel::dots(std::span<const std::span<const float>> sources, float* out,
                    std::size_t first_block, std::size_t last_block) const noexcept {
    const float* src[kMaxSources];
    std::size_t src_len[kMaxSources];
    const std::size_t count = std::min(sources.size(), kMaxSources);
    for (std::size_t g = 0; g < count; ++g) {
        src[g] = sources[g].data();
        src_len[g] = sources[g].size();
    }
    if (count == 0 || first_block >= last_block) return;
    panel_dots(data_.data(), blocks_.data(), first_block, last_block, lengths_.data(), size(),
               src, src_len, count, out);
}

void dot_rows(const FloatRows& a, const DotPanel& b, std::size_t first, std::size_t last,
              float* out) {
    const std::size_t nc = b.size(), n_blocks = b.blocks();
    if (first >= last || n_blocks == 0) return;
    // Groups of up to kMaxSources rows of `a`, each against enough ranges of blocks that
    // every worker has several tasks.
    const std::size_t groups = (last - first + DotPanel::kMaxSources - 1) / DotPanel::kMaxSources;
    const std::size_t want = 4 * parallel::num_threads();
    const std::size_t parts = std::min(n_blocks, std::max<std::size_t>(1, (want + groups - 1) / groups));
    parallel::for_each_index(groups * parts, true, [&](std::size_t task) {
        cancel::cancellation_point();
        const std::size_t group = task / parts, part = task % parts;
        const std::size_t row0 = first + group * DotPanel::kMaxSources;
        const std::size_t rows = std::min(DotPanel::kMaxSources, last - row0);
        std::span<const float> sources[DotPanel::kMaxSources];
        for (std::size_t r = 0; r < rows; ++r) sources[r] = a.row(row0 + r);
        b.dots(std::span(sources, rows), out + (row0 - first) * nc, part * n_blocks / parts,
               (part + 1) * n_blocks / parts);
    });
}

}  // namespace tarnwick::search
