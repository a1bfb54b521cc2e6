// The score matrix engine of cdist: rows of queries scored against every choice under one
// scorer, on the worker pool or the calling thread. Free of Python.
#pragma once

#include "process/process_scorer.hpp"
#include "types.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tarnwick::process {

/// The scores of one part of a row (a run of its cells, or the whole row) and how many of
/// the part's cells hold each (at least one): with the cells given as indices into
/// `values`, the caller builds the result with one object per listed score instead of one
/// look-up per cell. code_row lists each distinct score once, in order of first
/// appearance; a part coded from the lengths and LCS of its choices
/// (PreparedQuery::code_row) may list an equal score more than once.
struct RowValues {
    /// Parts with more distinct scores than this are not coded.
    static constexpr std::size_t kMax = 2048;

    std::vector<double> values;
    std::vector<std::size_t> counts;
    bool coded = false;  // false: the part has more than kMax distinct scores
};

/// Codes the `m` scores at `row` (a row or a part of one): codes[j] is the index of row[j]
/// in out.values (equal
/// when their bits are equal), out.counts the cells per value. With more than
/// RowValues::kMax distinct scores out.coded is false and `codes` unspecified.
void code_row(const double* row, std::size_t m, uint16_t* codes, RowValues& out);

/// The number of parts of `segment` cells (the last one shorter) a row of `m` cells is
/// split into; `segment` is at least 1.
inline std::size_t row_parts(std::size_t m, std::size_t segment) noexcept {
    return m <= segment ? 1 : (m + segment - 1) / segment;
}

/// Scores the rows [first, last) of the matrix of `queries` against `choices` into `out`:
/// the cells of query i are out[(i - first) * m, (i - first + 1) * m) with m choices. A
/// missing query or choice (kNone or kMissing) scores 0.0 in its cells; a query's view is
/// a byte string or an index (not text beyond ASCII). Each row is split into parts of
/// `segment` columns (row_parts; `segment` >= m: the whole row), each part one task; with
/// `use_pool` the tasks run on the worker pool. With `codes` and `values` each part is
/// also coded (code_row): its codes at the same offset in `codes` as its scores in `out`,
/// its values at values[(i - first) * parts + p] for part p. With `lanes` (LaneChoices of
/// `choices`), the rows whose query the lane kernel serves are scored on it; a coded part
/// whose choices are all in its groups is coded without its scores written to `out`.
void score_rows(ScorerType scorer, const ItemViews& queries, const ItemViews& choices,
                std::optional<double> cutoff, std::size_t first, std::size_t last,
                std::size_t segment, bool use_pool, double* out, uint16_t* codes = nullptr,
                RowValues* values = nullptr, const LaneChoices* lanes = nullptr);

}  // namespace tarnwick::process
