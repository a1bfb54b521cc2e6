// Type objects of the result classes, for registration and for the code that creates
// instances (Class<T>::create).
#pragma once

#include "distance/initialize/records.hpp"
#include "py/class.hpp"

namespace tarnwick::py {
template <>
struct ClassInfo<distance::initialize::MatchingBlock> {
    static constexpr const char* name = "MatchingBlock";
    static const char* doc() { return "MatchingBlock(a, b, size)\n--\n\n"; }
    static void slots(std::vector<PyType_Slot>& s);
    static Object args(const distance::initialize::MatchingBlock& v);
};
template <>
struct ClassInfo<distance::initialize::ScoreAlignment> {
    static constexpr const char* name = "ScoreAlignment";
    static const char* doc() {
        return "ScoreAlignment(score, src_start, src_end, dest_start, dest_end)\n--\n\n";
    }
    static void slots(std::vector<PyType_Slot>& s);
    static Object args(const distance::initialize::ScoreAlignment& v);
};
}  // namespace tarnwick::py
