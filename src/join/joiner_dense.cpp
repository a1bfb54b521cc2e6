#include "join/joiner_dense.hpp"

namespace tarnwick::join {

namespace {

search::DotPanel panel_of(std::span<const JoinElement> targets, std::vector<uint32_t>& positions) {
    std::vector<std::span<const float>> rows;
    for (std::size_t j = 0; j < targets.size(); ++j) {
        if (!targets[j].dense) continue;
        positions.push_back(static_cast<uint32_t>(j));
        rows.emplace_back(*targets[j].dense);
    }
    return search::DotPanel(rows);
}

}  // namespace

DensePanel::DensePanel(std::span<const JoinElement> targets) : panel_(panel_of(targets, targets_)) {}

}  // namespace tarnwick::join
