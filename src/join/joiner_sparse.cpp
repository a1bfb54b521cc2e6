#include "join/joiner_sparse.hpp"

namespace tarnwick::join {

SparsePanel::SparsePanel(std::span<const JoinElement> targets) {
    // Number the ids in order of first appearance and count their targets.
    std::vector<std::size_t> counts;
    for (std::size_t t = 0; t < targets.size(); ++t) {
        const auto& v = targets[t].sparse;
        if (!v || v->empty()) continue;
        targets_.push_back(static_cast<uint32_t>(t));
        for (const SparseEntry& e : *v) {
            const auto [it, inserted] = lists_.try_emplace(e.id, static_cast<uint32_t>(counts.size()));
            if (inserted) counts.push_back(0);
            ++counts[it->second];
        }
    }
    offsets_.assign(counts.size() + 1, 0);
    for (std::size_t l = 0; l < counts.size(); ++l) offsets_[l + 1] = offsets_[l] + counts[l];
    // Fill the lists target by target, so that each is in ascending slot order.
    postings_.resize(offsets_.back());
    std::vector<std::size_t> fill(offsets_.begin(), offsets_.end() - 1);
    for (std::size_t slot = 0; slot < targets_.size(); ++slot)
        for (const SparseEntry& e : *targets[targets_[slot]].sparse)
            postings_[fill[lists_.find(e.id)->second]++] = {static_cast<uint32_t>(slot), e.weight};
}

}  // namespace tarnwick::join
