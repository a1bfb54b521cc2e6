#include "distance/ngram.hpp"

#include "algorithms/ngram.hpp"
#include "distance/metrics.hpp"
#include "distance/same_width.hpp"
#include "py/args.hpp"
#include "py/convert.hpp"
#include "py/function.hpp"

#include <optional>

namespace tarnwick::distance::ngram {

double similarity(Measure measure, const types::Seq& a, const types::Seq& b, uint64_t n) {
    // The widths are checked before any emptiness or length test.
    if (a.kind() != b.kind()) throw py::Error{PyExc_ValueError, "Mismatched sequence types", {}};
    const uint64_t len1 = a.size();
    const uint64_t len2 = b.size();
    if (len1 == 0 && len2 == 0) return 1.0;
    if (len1 < n || len2 < n) return 0.0;
    const uint64_t shared = visit_same_width(
        a, b, [n](auto x, auto y) { return algorithms::ngram_intersection(x, y, n); });
    // Number of n-gram occurrences in the two sequences together.
    const uint64_t total = (len1 - n + 1) + (len2 - n + 1);
    if (measure == Measure::Jaccard) {
        const uint64_t union_ = total - shared;
        return union_ == 0 ? 1.0 : static_cast<double>(shared) / static_cast<double>(union_);
    }
    return (static_cast<double>(shared) * 2.0) / static_cast<double>(total);
}

namespace {

constexpr std::array<py::Param, 5> kParams{{{"s1", true},
                                            {"s2", true},
                                            {"n", false},
                                            {"processor", false},
                                            {"score_cutoff", false}}};

py::Object body(Measure measure, const char* display, PyObject* const* args, Py_ssize_t nargs,
                PyObject* kwnames) {
    const py::Signature<5> sig{display, kParams, 2};
    const auto a = py::bind(sig, args, nargs, kwnames);
    // None is no default here: only an absent n means 2.
    const uint64_t n = a[2] == nullptr ? 2 : py::arg("n", [&] { return py::to_u64(a[2]); });
    const std::optional<double> cutoff =
        py::arg("score_cutoff", [&] { return py::to_opt_f64(a[4]); });
    const metrics::Prepared in = metrics::prepare_required(a[0], a[1], a[3]);
    const double v = similarity(measure, in.a, in.b, n);
    return py::from_f64(cutoff && v < *cutoff ? 0.0 : v);
}

py::Object sorensen_dice_body(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    return body(Measure::SorensenDice, "sorensen_dice()", args, nargs, kwnames);
}

py::Object jaccard_body(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return body(Measure::Jaccard, "jaccard()", args, nargs, kwnames);
}

}  // namespace

PyMethodDef sorensen_dice_def = py::method_def<sorensen_dice_body>(
    "sorensen_dice", "sorensen_dice(s1, s2, *, n=2, processor=None, score_cutoff=None)\n--\n\n");
PyMethodDef jaccard_def = py::method_def<jaccard_body>(
    "jaccard", "jaccard(s1, s2, *, n=2, processor=None, score_cutoff=None)\n--\n\n");

}  // namespace tarnwick::distance::ngram
