// Python class MultiJoiner: a fuzzy full join across named arrays of texts, sparse vectors
// and dense vectors.
#pragma once

#include "join/joiner_model.hpp"
#include "py/class.hpp"

namespace tarnwick::py {
template <>
struct ClassInfo<join::MultiJoiner> {
    static constexpr const char* name = "MultiJoiner";
    static void slots(std::vector<PyType_Slot>& s);
};
}  // namespace tarnwick::py
