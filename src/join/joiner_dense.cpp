#include "join/joiner_dense.hpp"

#include <algorithm>
#include <cstring>

namespace tarnwick::join {
namespace {

constexpr std::size_t kLanes = DensePanel::kLanes;
/// Sources multiplied with one block while it is in registers.
constexpr std::size_t kGroup = 8;
/// Bytes of panel read by every group of sources before moving on.
constexpr std::size_t kChunkBytes = std::size_t{1} << 18;
using Lanes = float __attribute__((vector_size(kLanes * sizeof(float))));

/// One block against G sources (G <= kGroup); see the header for why each lane's sum is
/// the sequential dot. `len[g]` is the common length of source g with the block's shortest
/// vector; `m` is the smallest of them.
template <std::size_t G>
[[gnu::always_inline]] inline void block_dots(const float* panel, const float* const* src, const std::size_t* len,
                       std::size_t m, Lanes* acc) {
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
[[gnu::always_inline]] inline void group_dots(const float* panel, const DenseBlock& block, std::size_t first,
                       std::size_t n_targets, const uint32_t* lengths, const float* const* src,
                       const std::size_t* src_len, std::size_t g_count, float* out) {
    std::size_t len[kGroup];
    std::size_t m = ~std::size_t{0};
    for (std::size_t g = 0; g < g_count; ++g) {
        len[g] = std::min<std::size_t>(src_len[g], block.shortest);
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
        float sums[kLanes];
        std::memcpy(sums, &acc[g], sizeof sums);
        float* row = out + g * n_targets + first;
        for (std::size_t lane = 0; lane < lanes; ++lane) {
            // A lane longer than the block's shortest vector finishes alone.
            const std::size_t end = std::min<std::size_t>(src_len[g], lengths[first + lane]);
            float sum = sums[lane];
            for (std::size_t k = len[g]; k < end; ++k) {
                const float prod = src[g][k] * panel[k * kLanes + lane];
                sum += prod;
            }
            row[lane] = sum;
        }
    }
}

/// All blocks against `count` sources. The blocks are taken a chunk of about kChunkBytes
/// at a time, which every group of sources then reads from the core's own cache. Compiled
/// for the baseline and, on x86-64, also with AVX2 (chosen at load time); both give the
/// same bits, since neither fuses nor reorders.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void panel_dots(const float* data, const DenseBlock* blocks, std::size_t n_blocks,
                const uint32_t* lengths, std::size_t n_targets, const float* const* src,
                const std::size_t* src_len, std::size_t count, float* out) {
    for (std::size_t cb = 0; cb < n_blocks;) {
        std::size_t ce = cb + 1;
        while (ce < n_blocks && (blocks[ce].offset - blocks[cb].offset) * sizeof(float) < kChunkBytes)
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

DensePanel::DensePanel(std::span<const JoinElement> targets) {
    for (std::size_t j = 0; j < targets.size(); ++j) {
        if (!targets[j].dense) continue;
        targets_.push_back(static_cast<uint32_t>(j));
        lengths_.push_back(static_cast<uint32_t>(targets[j].dense->size()));
    }
    std::size_t total = 0;
    for (std::size_t first = 0; first < targets_.size(); first += kLanes) {
        const std::size_t last = std::min(first + kLanes, targets_.size());
        const uint32_t depth = *std::max_element(lengths_.begin() + first, lengths_.begin() + last);
        const uint32_t shortest = *std::min_element(lengths_.begin() + first, lengths_.begin() + last);
        blocks_.push_back(DenseBlock{total, shortest});
        total += static_cast<std::size_t>(depth) * kLanes;
    }
    data_.assign(total, 0.0f);
    for (std::size_t i = 0; i < targets_.size(); ++i) {
        const DenseBlock& blk = blocks_[i / kLanes];
        const std::vector<float>& v = *targets[targets_[i]].dense;
        for (std::size_t k = 0; k < v.size(); ++k) data_[blk.offset + k * kLanes + i % kLanes] = v[k];
    }
}

void DensePanel::dots(std::span<const std::span<const float>> sources, float* out) const {
    const float* src[kMaxSources];
    std::size_t src_len[kMaxSources];
    const std::size_t g_count = std::min(sources.size(), kMaxSources);
    for (std::size_t g = 0; g < g_count; ++g) {
        src[g] = sources[g].data();
        src_len[g] = sources[g].size();
    }
    if (g_count == 0 || blocks_.empty()) return;
    panel_dots(data_.data(), blocks_.data(), blocks_.size(), lengths_.data(), targets_.size(),
               src, src_len, g_count, out);
}

}  // namespace tarnwick::join
