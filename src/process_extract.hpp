// Best-match extraction: the engine behind extract, extract_one and extract_iter.
//
// Two routes. The fast route, for a byte-string query with a known scorer and neither a
// processor nor a scorer object, reads lists, tuples and dicts directly, calls no Python
// code for str and bytes choices, prunes with a running cut-off and scores a list of
// parallel::kExtractMinChoices choices or more on the worker pool with the interpreter
// lock released. The general route serves every other call through the iteration protocol.
#pragma once

#include "process.hpp"
#include "py/object.hpp"

#include <optional>
#include <vector>

namespace tarnwick::process::extract {

/// A kept choice: the object that was scored, its score and its reading position.
using Cand = Candidate<py::Object>;

/// One extraction call after argument conversion (all pointers borrowed from the call).
struct Request {
    ScorerType scorer;
    PyObject* choices = nullptr;
    PyObject* scorer_obj = nullptr;  // null when None
    PyObject* processor = nullptr;   // null when None
    std::optional<uint64_t> limit;   // nothing: no limit
    std::optional<double> cutoff;
};

/// Runs the engine: the candidates in result order, at most `limit` of them.
std::vector<Cand> run(PyObject* query, const Request& req);

/// The fast route, for a query converted to bytes (called by `run`).
std::vector<Cand> fast_route(const types::Seq& query, const Request& req);

}  // namespace tarnwick::process::extract
