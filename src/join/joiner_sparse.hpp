// Dot products of id-sorted sparse vectors by merging them, four ids at a time.
//
// The targets' vectors are copied once per joined pair into two flat arrays (ids and
// weights). A merge compares a block of four ids of each side all against all; a block
// whose largest id is not above the other's is done and the merge moves past it. Every
// common id lies in one block of each side, and that pair of blocks is always compared,
// so each common id is found exactly once; and since the merge only moves forward on both
// sides, the common ids are found in ascending order. When one side has fewer than four
// ids left the merge goes on one id at a time. The sum is therefore exactly the one of the
// plain merge: the float products of the common ids' weights, added in ascending id order
// to a float sum that starts at 0.0.
#pragma once

#include "join/joiner_model.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnwick::join {

/// One sparse vector as two parallel arrays.
struct SparseView {
    const uint32_t* ids;
    const float* weights;
    std::size_t size;
};

/// The float dot product of two sparse vectors (ids strictly ascending).
float sparse_dot(SparseView a, SparseView b) noexcept;

/// The sparse vectors of a target array, laid out for sparse_dot.
class SparsePanel {
public:
    explicit SparsePanel(std::span<const JoinElement> targets);

    /// Positions, in ascending order, of the targets that have a non-empty sparse vector.
    std::span<const uint32_t> targets() const noexcept { return targets_; }
    /// The vector of targets()[i].
    SparseView vector(std::size_t i) const noexcept {
        return {ids_.data() + offsets_[i], weights_.data() + offsets_[i],
                offsets_[i + 1] - offsets_[i]};
    }

private:
    std::vector<uint32_t> targets_;
    std::vector<std::size_t> offsets_;  // targets_.size() + 1 entries
    std::vector<uint32_t> ids_;
    std::vector<float> weights_;
};

/// A source's sparse vector as parallel arrays (reused buffers).
class SparseSource {
public:
    SparseView set(const SparseVector& v);

private:
    std::vector<uint32_t> ids_;
    std::vector<float> weights_;
};

}  // namespace tarnwick::join
