// Python adapter of the ratio scorers: the scorer calling convention over raw Python
// objects, and the builtins registered by the module.
#pragma once

#include "fuzz.hpp"
#include "types_py.hpp"

#include <optional>

namespace tarnwick::fuzz {

/// A score computation over two converted sequences with an optional cut-off; it applies
/// the cut-off rule itself (the weighted ratio keeps a perfect score whatever the cut-off).
using ScoreFn = double (*)(const types::Seq&, const types::Seq&, std::optional<double>);

/// The calling convention on raw objects: missing inputs give 0.0, then the processor,
/// conversion of s1 then s2, and the score with its cut-off rule.
double call_scorer(ScoreFn score, PyObject* s1, PyObject* s2, PyObject* processor,
                   std::optional<double> cutoff);

}  // namespace tarnwick::fuzz
