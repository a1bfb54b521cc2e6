#include "fuzz_py.hpp"

#include "distance/initialize/classes.hpp"
#include "py/convert.hpp"

namespace tarnwick::fuzz {

std::optional<PreparedPair> prepare_pair(PyObject* s1, PyObject* s2, PyObject* processor) {
    if (types::is_none(s1) || types::is_none(s2)) return std::nullopt;
    PyObject *r1 = nullptr, *r2 = nullptr;
    types::get_processed_args(s1, s2, processor, &r1, &r2);
    std::optional<PreparedPair> p(std::in_place);
    p->p1 = py::Object::steal(r1);
    p->p2 = py::Object::steal(r2);
    p->a = types::extract_single(p->p1.get());
    p->b = types::extract_single(p->p2.get());
    return p;
}

double call_scorer(ScoreFn score, PyObject* s1, PyObject* s2, PyObject* processor,
                   std::optional<double> cutoff) {
    const std::optional<PreparedPair> p = prepare_pair(s1, s2, processor);
    if (!p) return 0.0;
    return score(p->a, p->b, cutoff);
}

#define TARNWICK_RAW_SCORER(NAME, FN)                                                    \
    double NAME(PyObject* s1, PyObject* s2, PyObject* processor,                         \
                std::optional<double> cutoff) {                                          \
        return call_scorer(&FN, s1, s2, processor, cutoff);                              \
    }
TARNWICK_RAW_SCORER(fuzz_ratio, ratio)
TARNWICK_RAW_SCORER(fuzz_qratio, qratio)
TARNWICK_RAW_SCORER(fuzz_partial_ratio, partial_ratio)
TARNWICK_RAW_SCORER(fuzz_token_sort_ratio, token_sort_ratio)
TARNWICK_RAW_SCORER(fuzz_token_set_ratio, token_set_ratio)
TARNWICK_RAW_SCORER(fuzz_token_ratio, token_ratio)
TARNWICK_RAW_SCORER(fuzz_partial_token_sort_ratio, partial_token_sort_ratio)
TARNWICK_RAW_SCORER(fuzz_partial_token_set_ratio, partial_token_set_ratio)
TARNWICK_RAW_SCORER(fuzz_partial_token_ratio, partial_token_ratio)
TARNWICK_RAW_SCORER(fuzz_wratio, wratio)
#undef TARNWICK_RAW_SCORER

namespace {

/// Bound scorer arguments: s1, s2, processor and the converted cut-off.
struct ScorerArgs {
    PyObject* s1;
    PyObject* s2;
    PyObject* processor;
    std::optional<double> cutoff;
};

/// Binds the scorer arguments of `display` ("name()").
ScorerArgs bind_scorer_args(const char* display, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    const py::Signature<4> sig{display, kScorerParams, 2};
    const auto a = py::bind(sig, args, nargs, kwnames);
    const std::optional<double> cutoff =
        py::arg("score_cutoff", [&] { return py::to_opt_f64(a[3]); });
    return ScorerArgs{a[0], a[1], a[2], cutoff};
}

/// Binds the scorer arguments of `display` and runs `score` on them.
py::Object scorer_entry(const char* display, ScoreFn score, PyObject* const* args,
                        Py_ssize_t nargs, PyObject* kwnames) {
    const ScorerArgs a = bind_scorer_args(display, args, nargs, kwnames);
    return py::from_f64(call_scorer(score, a.s1, a.s2, a.processor, a.cutoff));
}

#define TARNWICK_SCORER_BODY(NAME, FN)                                                   \
    py::Object NAME##_body(PyObject*, PyObject* const* args, Py_ssize_t nargs,           \
                           PyObject* kwnames) {                                          \
        return scorer_entry(#NAME "()", &FN, args, nargs, kwnames);                      \
    }
TARNWICK_SCORER_BODY(fuzz_ratio, ratio)
TARNWICK_SCORER_BODY(fuzz_qratio, qratio)
TARNWICK_SCORER_BODY(fuzz_partial_ratio, partial_ratio)
TARNWICK_SCORER_BODY(fuzz_token_sort_ratio, token_sort_ratio)
TARNWICK_SCORER_BODY(fuzz_token_set_ratio, token_set_ratio)
TARNWICK_SCORER_BODY(fuzz_token_ratio, token_ratio)
TARNWICK_SCORER_BODY(fuzz_partial_token_sort_ratio, partial_token_sort_ratio)
TARNWICK_SCORER_BODY(fuzz_partial_token_set_ratio, partial_token_set_ratio)
TARNWICK_SCORER_BODY(fuzz_partial_token_ratio, partial_token_ratio)
TARNWICK_SCORER_BODY(fuzz_wratio, wratio)
#undef TARNWICK_SCORER_BODY

/// fuzz_partial_ratio_alignment: None for a missing input or a score below the cut-off,
/// else a new ScoreAlignment (src positions in s1, dest positions in s2).
py::Object fuzz_partial_ratio_alignment_body(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                             PyObject* kwnames) {
    const ScorerArgs a = bind_scorer_args("fuzz_partial_ratio_alignment()", args, nargs, kwnames);
    const std::optional<PreparedPair> p = prepare_pair(a.s1, a.s2, a.processor);
    if (!p) return py::Object::borrow(Py_None);
    const auto al = partial_ratio_alignment(p->a, p->b, a.cutoff);
    if (!al) return py::Object::borrow(Py_None);
    return py::Class<distance::initialize::ScoreAlignment>::create(*al);
}

}  // namespace

#define TARNWICK_SCORER_DEF(NAME)                                                        \
    PyMethodDef NAME##_def = py::method_def<NAME##_body>(                                \
        #NAME, #NAME "(s1, s2, *, processor=None, score_cutoff=None)\n--\n\n");
TARNWICK_SCORER_DEF(fuzz_ratio)
TARNWICK_SCORER_DEF(fuzz_qratio)
TARNWICK_SCORER_DEF(fuzz_partial_ratio)
TARNWICK_SCORER_DEF(fuzz_partial_ratio_alignment)
TARNWICK_SCORER_DEF(fuzz_token_sort_ratio)
TARNWICK_SCORER_DEF(fuzz_token_set_ratio)
TARNWICK_SCORER_DEF(fuzz_token_ratio)
TARNWICK_SCORER_DEF(fuzz_partial_token_sort_ratio)
TARNWICK_SCORER_DEF(fuzz_partial_token_set_ratio)
TARNWICK_SCORER_DEF(fuzz_partial_token_ratio)
TARNWICK_SCORER_DEF(fuzz_wratio)
#undef TARNWICK_SCORER_DEF

}  // namespace tarnwick::fuzz
