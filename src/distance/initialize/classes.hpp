// Type objects of the result classes, for registration and for the code that creates
// instances (Class<T>::create).
#pragma once

#include "distance/initialize/records.hpp"
#include "py/class.hpp"

namespace tarnwick::py {
template <>
struct ClassInfo<distance::initialize::MatchingBlock> {
    static constexpr const char* name = "MatchingBlock";
    static void slots(std::vector<PyType_Slot>& s);
    static Object args(const distance::initialize::MatchingBlock& v);
};
template <>
struct ClassInfo<distance::initialize::ScoreAlignment> {
    static constexpr const char* name = "ScoreAlignment";
    static void slots(std::vector<PyType_Slot>& s);
    static Object args(const distance::initialize::ScoreAlignment& v);
};
}  // namespace tarnwick::py
