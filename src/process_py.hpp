// Helpers shared by the Python adapters of cdist and the extraction functions: reading
// the items of a collection, converting them with ordinary errors absorbed, and the scorer
// name argument.
#pragma once

#include "process.hpp"
#include "py/error.hpp"
#include "types_py.hpp"

#include <optional>
#include <vector>

namespace tarnwick::process::adapter {

/// With a Python error set: clears it when it is an ordinary exception (a subclass of
/// Exception); anything else (KeyboardInterrupt, SystemExit) is thrown on.
void discard_ordinary_error();

/// The sequence of `obj`, or nothing when its conversion raises an ordinary exception.
/// A Bytes result views `obj`: keep it alive while the sequence is used.
std::optional<types::Seq> try_convert(PyObject* obj);

/// A choice of the fast extraction route as a sequence, or nothing when it is skipped:
/// None and the other missing values, and objects whose conversion raises an ordinary
/// exception. Bytes and pure-ASCII text are viewed without a copy.
std::optional<types::Seq> fast_choice(PyObject* obj);

/// Every item of an iterable, in order, as owned references. The iteration's errors
/// propagate.
std::vector<py::Object> collect(PyObject* iterable);

/// The scorer chosen by the `scorer_name` argument (TypeError naming it when it is not a
/// str).
ScorerType scorer_argument(PyObject* name);

}  // namespace tarnwick::process::adapter
