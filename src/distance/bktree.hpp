// Python class BKTree: a tree of distinct strings for near-duplicate removal, pickled as
// the list of its strings.
#pragma once

#include "distance/bktree_tree.hpp"
#include "py/class.hpp"

namespace tarnwick::py {
template <>
struct ClassInfo<distance::bktree::BKTree> {
    static constexpr const char* name = "BKTree";
    static void slots(std::vector<PyType_Slot>& s);
};
}  // namespace tarnwick::py
