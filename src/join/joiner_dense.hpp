// Dot products of dense vectors with every target of an array, vectorised across targets.
//
// The targets that have a dense vector are grouped, in ascending position, into blocks of
// kLanes; a block stores element k of its kLanes vectors next to each other. One vector
// register then holds kLanes running sums, one per target, and each sum still adds its
// products in increasing element order, starting from -0.0, each product rounded to a
// float before the addition (nothing is fused). The result for one target is therefore
// bit for bit the plain sequential dot over the common length min(len(source), len(target)).
// Within a block, elements below every lane's common length go through the vector loop;
// a lane whose vector is longer than the shortest one of its block finishes alone. Eight
// sources are multiplied with one block while it is in registers, and the panel is read a
// cache-sized chunk at a time by every group of sources of a call, which keeps its memory
// traffic per source low.
#pragma once

#include "join/joiner_model.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnwick::join {

/// One block of a DensePanel.
struct DenseBlock {
    std::size_t offset;  // first float of the block in the panel's data
    uint32_t shortest;   // length of the block's shortest vector
};

class DensePanel {
public:
    /// Lanes of one block (targets per vector register).
    static constexpr std::size_t kLanes = 8;
    /// Most sources of one call of dots().
    static constexpr std::size_t kMaxSources = 64;

    /// Lays out the dense vectors of `targets` (those that have one).
    explicit DensePanel(std::span<const JoinElement> targets);

    /// Positions, in ascending order, of the targets that have a dense vector.
    std::span<const uint32_t> targets() const noexcept { return targets_; }

    /// For each of the (at most kMaxSources) `sources`, the dot products with every panel
    /// target: row g of `out` (targets().size() floats, rows consecutive) for source g.
    void dots(std::span<const std::span<const float>> sources, float* out) const;

private:
    std::vector<uint32_t> targets_;
    std::vector<uint32_t> lengths_;  // per panel target
    std::vector<DenseBlock> blocks_;
    std::vector<float> data_;        // per block: (longest length) * kLanes floats, element-major
};

}  // namespace tarnwick::join
