// Dot products of id-sorted sparse vectors by merging them a block of ids at a time.
//
// The targets' vectors are copied once per joined pair into two flat arrays (ids and
// weights). A merge step compares the next block of w ids of each side all against all,
// then moves past the block whose largest id is not above the other's (both when equal).
// Before every step, each common id that lies before the current position on either side
// has been counted once, and no other: a common id in a block that is moved past is either
// in the other side's current block (and was counted in this step) or before it (and was
// counted earlier). Each step's ids lie after all ids counted before, so the common ids are
// found in ascending order. This holds for any w, also when w changes between steps: eight
// (with AVX2, chosen at run time), then four, then one id at a time. The sum is therefore
// exactly the plain merge's: the float products of the common ids' weights, added in
// ascending id order to a float sum that starts at 0.0.
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
