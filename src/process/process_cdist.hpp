// The score matrix engine of cdist: rows of queries scored against every choice under one
// scorer, on the worker pool or the calling thread. Free of Python.
#pragma once

#include "process/process_scorer.hpp"
#include "types.hpp"

#include <cstddef>
#include <optional>
#include <span>

namespace tarnwick::process {

/// Scores the rows [first, last) of the matrix of `queries` against `choices` into `out`:
/// the cells of query i are out[(i - first) * m, (i - first + 1) * m) with m choices. A
/// missing query or choice (nothing) scores 0.0 in its cells. With `use_pool` the rows are
/// scored on the worker pool.
void score_rows(ScorerType scorer, std::span<const std::optional<types::Seq>> queries,
                std::span<const std::optional<types::Seq>> choices, std::optional<double> cutoff,
                std::size_t first, std::size_t last, bool use_pool, double* out);

}  // namespace tarnwick::process
