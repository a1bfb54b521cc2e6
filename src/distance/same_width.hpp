// Pairs of input sequences that must share one element width: the Gotoh and n-gram
// functions refuse to widen.
#pragma once

#include "py/error.hpp"
#include "types.hpp"

#include <span>
#include <type_traits>

namespace tarnwick::distance {

/// Calls f(std::span<const T>, std::span<const T>) with both sequences in their common
/// width; ValueError "Mismatched sequence types" when their widths differ.
template <class F>
decltype(auto) visit_same_width(const types::Seq& a, const types::Seq& b, F&& f) {
    if (a.kind() != b.kind()) throw py::Error{PyExc_ValueError, "Mismatched sequence types", {}};
    return a.visit([&](auto x) -> decltype(auto) {
        using T = typename decltype(x)::value_type;
        if constexpr (std::is_same_v<T, uint8_t>) return f(x, b.as_bytes());
        else if constexpr (std::is_same_v<T, uint32_t>) return f(x, b.as_chars());
        else return f(x, b.as_items());
    });
}

}  // namespace tarnwick::distance
