// Dot products of dense vectors with every target of an array: the targets that have a
// dense vector, in ascending position, laid out in a DotPanel (dense/dot_matrix.hpp, which
// says why each product is bit for bit the plain sequential dot over the common length).
#pragma once

#include "dense/dot_matrix.hpp"
#include "join/joiner_model.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnwick::join {

class DensePanel {
public:
    /// Most sources of one call of dots().
    static constexpr std::size_t kMaxSources = search::DotPanel::kMaxSources;

    /// Lays out the dense vectors of `targets` (those that have one).
    explicit DensePanel(std::span<const JoinElement> targets);

    /// Positions, in ascending order, of the targets that have a dense vector.
    std::span<const uint32_t> targets() const noexcept { return targets_; }

    /// For each of the (at most kMaxSources) `sources`, the dot products with every panel
    /// target: row g of `out` (targets().size() floats, rows consecutive) for source g.
    void dots(std::span<const std::span<const float>> sources, float* out) const noexcept {
        panel_.dots(sources, out);
    }

private:
    std::vector<uint32_t> targets_;
    search::DotPanel panel_;
};

}  // namespace tarnwick::join
