#include "fuzz_py.hpp"

#include "py/convert.hpp"

namespace tarnwick::fuzz {

double call_scorer(ScoreFn score, PyObject* s1, PyObject* s2, PyObject* processor,
                   std::optional<double> cutoff) {
    if (types::is_none(s1) || types::is_none(s2)) return 0.0;
    PyObject *r1 = nullptr, *r2 = nullptr;
    types::get_processed_args(s1, s2, processor, &r1, &r2);
    const py::Object p1 = py::Object::steal(r1), p2 = py::Object::steal(r2);
    const types::Seq a = types::extract_single(p1.get());
    const types::Seq b = types::extract_single(p2.get());
    return apply_cutoff(score(a, b, cutoff), cutoff);
}

double fuzz_ratio(PyObject* s1, PyObject* s2, PyObject* processor, std::optional<double> cutoff) {
    return call_scorer(&ratio, s1, s2, processor, cutoff);
}

double fuzz_qratio(PyObject* s1, PyObject* s2, PyObject* processor, std::optional<double> cutoff) {
    return call_scorer(&qratio, s1, s2, processor, cutoff);
}

namespace {

/// Binds the scorer arguments of `display` and runs `score` on them.
py::Object scorer_entry(const char* display, ScoreFn score, PyObject* const* args,
                        Py_ssize_t nargs, PyObject* kwnames) {
    const py::Signature<4> sig{display, kScorerParams, 2};
    const auto a = py::bind(sig, args, nargs, kwnames);
    const std::optional<double> cutoff =
        py::arg("score_cutoff", [&] { return py::to_opt_f64(a[3]); });
    return py::from_f64(call_scorer(score, a[0], a[1], a[2], cutoff));
}

py::Object ratio_body(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return scorer_entry("fuzz_ratio()", &ratio, args, nargs, kwnames);
}

py::Object qratio_body(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return scorer_entry("fuzz_qratio()", &qratio, args, nargs, kwnames);
}

}  // namespace

PyMethodDef fuzz_ratio_def = py::method_def<ratio_body>(
    "fuzz_ratio", "fuzz_ratio(s1, s2, *, processor=None, score_cutoff=None)\n--\n\n");
PyMethodDef fuzz_qratio_def = py::method_def<qratio_body>(
    "fuzz_qratio", "fuzz_qratio(s1, s2, *, processor=None, score_cutoff=None)\n--\n\n");

}  // namespace tarnwick::fuzz
