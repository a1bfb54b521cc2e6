// Dot products of a source's sparse vector with every target's, through an inverted index.
//
// The targets' vectors are inverted once per joined pair: for every sparse id, the targets
// holding it (in ascending target order) with their weights. A source's products are then
// accumulated id by id, in the ascending id order of its vector, into one float sum per
// target that starts at 0.0: each target's sum receives the products of exactly the ids it
// shares with the source, each once, in ascending id order, which is the plain merge of the
// two vectors to the last bit. The work is the number of (id, target) pairs the source
// shares, not the number of targets.
#pragma once

#include "join/joiner_model.hpp"

#include <absl/container/flat_hash_map.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnwick::join {

/// One target holding an id: its position among the panel's targets and its weight.
struct SparsePosting {
    uint32_t slot;
    float weight;
};

/// Per-worker sums of one source against the panel's targets (reused buffers; all zero
/// between sources).
class SparseSource {
private:
    friend class SparsePanel;
    std::vector<float> sums;       // by panel slot
    std::vector<uint64_t> reached;  // bit per panel slot
};

/// The sparse vectors of a target array, inverted by id.
class SparsePanel {
public:
    explicit SparsePanel(std::span<const JoinElement> targets);

    /// Positions, in ascending order, of the targets that have a non-empty sparse vector.
    std::span<const uint32_t> targets() const noexcept { return targets_; }

    /// Calls f(slot, dot) for every slot of targets() sharing an id with `source`, in
    /// ascending slot order, where dot is the float sum, from 0.0, of the products of the
    /// shared ids' weights in ascending id order. Leaves `scratch` all zero again.
    template <class F>
    void for_each_dot(const SparseVector& source, SparseSource& scratch, F&& f) const {
        const std::size_t words = (targets_.size() + 63) / 64;
        if (scratch.sums.size() < targets_.size()) {
            scratch.sums.assign(targets_.size(), 0.0f);
            scratch.reached.assign(words, 0);
        }
        float* sums = scratch.sums.data();
        uint64_t* reached = scratch.reached.data();
        for (const SparseEntry& e : source) {
            const auto it = lists_.find(e.id);
            if (it == lists_.end()) continue;
            const SparsePosting* p = postings_.data() + offsets_[it->second];
            const SparsePosting* const stop = postings_.data() + offsets_[it->second + 1];
            for (; p != stop; ++p) {
                const float prod = e.weight * p->weight;
                sums[p->slot] += prod;
                reached[p->slot >> 6] |= uint64_t{1} << (p->slot & 63);
            }
        }
        for (std::size_t w = 0; w < words; ++w) {
            uint64_t word = reached[w];
            reached[w] = 0;
            while (word) {
                const std::size_t slot = w * 64 + static_cast<std::size_t>(std::countr_zero(word));
                word &= word - 1;
                const float dot = sums[slot];
                sums[slot] = 0.0f;
                f(slot, dot);
            }
        }
    }

private:
    std::vector<uint32_t> targets_;
    absl::flat_hash_map<uint32_t, uint32_t> lists_;  // sparse id -> its list number
    std::vector<std::size_t> offsets_;                // lists_.size() + 1 offsets into postings_
    std::vector<SparsePosting> postings_;             // each list in ascending slot order
};

}  // namespace tarnwick::join
