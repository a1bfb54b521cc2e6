// Python adapter of the ratio scorers: the scorer calling convention over raw Python
// objects, and the builtins registered by the module.
#pragma once

#include "fuzz.hpp"
#include "py/args.hpp"
#include "py/function.hpp"

#include <optional>

namespace tarnwick::fuzz {

/// A score computation over two converted sequences with an optional cut-off; it applies
/// the cut-off rule itself (the weighted ratio keeps a perfect score whatever the cut-off).
using ScoreFn = double (*)(const types::Seq&, const types::Seq&, std::optional<double>);

/// Parameters shared by every scorer: "(s1, s2, *, processor=None, score_cutoff=None)".
inline constexpr std::array<py::Param, 4> kScorerParams{
    {{"s1", true}, {"s2", true}, {"processor", false}, {"score_cutoff", false}}};

/// Two inputs after the missing-value test, the processor and conversion: the processed
/// objects are kept alive because a Bytes sequence views their buffers.
struct PreparedPair {
    py::Object p1, p2;
    types::Seq a, b;
};

/// Missing-value test on the raw inputs (nothing when either is missing), then the
/// processor and conversion of s1, then of s2. Errors propagate.
std::optional<PreparedPair> prepare_pair(PyObject* s1, PyObject* s2, PyObject* processor);

/// The calling convention on raw objects: missing inputs give 0.0, then the processor,
/// conversion of s1 then s2, and the score with its cut-off rule.
double call_scorer(ScoreFn score, PyObject* s1, PyObject* s2, PyObject* processor,
                   std::optional<double> cutoff);

/// `call_scorer` with each scorer; batch extraction calls these.
double fuzz_ratio(PyObject* s1, PyObject* s2, PyObject* processor, std::optional<double> cutoff);
double fuzz_qratio(PyObject* s1, PyObject* s2, PyObject* processor, std::optional<double> cutoff);
double fuzz_partial_ratio(PyObject* s1, PyObject* s2, PyObject* processor,
                          std::optional<double> cutoff);
double fuzz_token_sort_ratio(PyObject* s1, PyObject* s2, PyObject* processor,
                             std::optional<double> cutoff);
double fuzz_token_set_ratio(PyObject* s1, PyObject* s2, PyObject* processor,
                            std::optional<double> cutoff);
double fuzz_token_ratio(PyObject* s1, PyObject* s2, PyObject* processor,
                        std::optional<double> cutoff);
double fuzz_partial_token_sort_ratio(PyObject* s1, PyObject* s2, PyObject* processor,
                                     std::optional<double> cutoff);
double fuzz_partial_token_set_ratio(PyObject* s1, PyObject* s2, PyObject* processor,
                                    std::optional<double> cutoff);
double fuzz_partial_token_ratio(PyObject* s1, PyObject* s2, PyObject* processor,
                                std::optional<double> cutoff);
double fuzz_wratio(PyObject* s1, PyObject* s2, PyObject* processor, std::optional<double> cutoff);

/// Module builtins.
extern PyMethodDef fuzz_ratio_def;
extern PyMethodDef fuzz_qratio_def;
extern PyMethodDef fuzz_partial_ratio_def;
extern PyMethodDef fuzz_partial_ratio_alignment_def;
extern PyMethodDef fuzz_token_sort_ratio_def;
extern PyMethodDef fuzz_token_set_ratio_def;
extern PyMethodDef fuzz_token_ratio_def;
extern PyMethodDef fuzz_partial_token_sort_ratio_def;
extern PyMethodDef fuzz_partial_token_set_ratio_def;
extern PyMethodDef fuzz_partial_token_ratio_def;
extern PyMethodDef fuzz_wratio_def;

}  // namespace tarnwick::fuzz
