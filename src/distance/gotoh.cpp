#include "distance/gotoh.hpp"

#include "algorithms/gotoh.hpp"
#include "distance/metrics.hpp"
#include "distance/same_width.hpp"
#include "py/args.hpp"
#include "py/convert.hpp"
#include "py/function.hpp"

#include <optional>

namespace tarnwick::distance::gotoh {

uint64_t scale_penalty(double penalty) noexcept {
    const double p = penalty * 100.0;
    if (!(p > 0.0)) return 0;                           // negative, zero or NaN
    if (p >= 18446744073709551616.0) return ~uint64_t{0};  // 2^64 or more
    return static_cast<uint64_t>(p);
}

Raw gotoh_raw(const types::Seq& a, const types::Seq& b, uint64_t open, uint64_t extend) {
    return visit_same_width(a, b, [&](auto x, auto y) {
        const algorithms::GotohResult r = algorithms::gotoh(x, y, open, extend);
        return Raw{r.cost, r.maximum};
    });
}

namespace {

/// The four functions.
enum class Fn { Distance, Similarity, NormalizedDistance, NormalizedSimilarity };

constexpr std::array<py::Param, 6> kParams{{{"s1", true},
                                            {"s2", true},
                                            {"open_penalty", false},
                                            {"extend_penalty", false},
                                            {"processor", false},
                                            {"score_cutoff", false}}};

/// A penalty argument: its default when absent; None and non-numbers are TypeErrors
/// naming the argument.
double penalty(const char* name, PyObject* o, double fallback) {
    if (o == nullptr) return fallback;
    return py::arg(name, [o] { return py::to_f64(o); });
}

/// The value of `F` and its cutoff rule.
template <Fn F>
double result(Raw r, std::optional<double> cutoff) {
    const double cost = static_cast<double>(r.cost);
    const double maximum = static_cast<double>(r.maximum);
    if constexpr (F == Fn::Distance) {
        const double v = cost / 100.0;
        return cutoff && v > *cutoff ? *cutoff + 1.0 : v;
    } else if constexpr (F == Fn::Similarity) {
        const double v = r.maximum == 0 ? 0.0 : (maximum - cost) / 100.0;
        return cutoff && v < *cutoff ? 0.0 : v;
    } else if constexpr (F == Fn::NormalizedDistance) {
        const double v = r.maximum == 0 ? 0.0 : cost / maximum;
        return cutoff && v > *cutoff ? 1.0 : v;
    } else {
        const double v = r.maximum == 0 ? 1.0 : 1.0 - cost / maximum;
        return cutoff && v < *cutoff ? 0.0 : v;
    }
}

template <Fn F>
py::Object body(const char* display, PyObject* const* args, Py_ssize_t nargs,
                PyObject* kwnames) {
    const py::Signature<6> sig{display, kParams, 2};
    const auto a = py::bind(sig, args, nargs, kwnames);
    const double open = penalty("open_penalty", a[2], 1.0);
    const double extend = penalty("extend_penalty", a[3], 0.5);
    const std::optional<double> cutoff =
        py::arg("score_cutoff", [&] { return py::to_opt_f64(a[5]); });
    const uint64_t o = scale_penalty(open);
    const uint64_t e = scale_penalty(extend);
    const metrics::Prepared in = metrics::prepare_required(a[0], a[1], a[4]);
    return py::from_f64(result<F>(gotoh_raw(in.a, in.b, o, e), cutoff));
}

py::Object distance_body(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return body<Fn::Distance>("gotoh_distance()", args, nargs, kwnames);
}
py::Object similarity_body(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    return body<Fn::Similarity>("gotoh_similarity()", args, nargs, kwnames);
}
py::Object normalized_distance_body(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
    return body<Fn::NormalizedDistance>("gotoh_normalized_distance()", args, nargs, kwnames);
}
py::Object normalized_similarity_body(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
    return body<Fn::NormalizedSimilarity>("gotoh_normalized_similarity()", args, nargs, kwnames);
}

#define TARNWICK_GOTOH_DOC(name)                                                              \
    name "(s1, s2, *, open_penalty=1.0, extend_penalty=0.5, processor=None, score_cutoff=None)" \
         "\n--\n\n"

}  // namespace

PyMethodDef gotoh_distance_def =
    py::method_def<distance_body>("gotoh_distance", TARNWICK_GOTOH_DOC("gotoh_distance"));
PyMethodDef gotoh_similarity_def =
    py::method_def<similarity_body>("gotoh_similarity", TARNWICK_GOTOH_DOC("gotoh_similarity"));
PyMethodDef gotoh_normalized_distance_def = py::method_def<normalized_distance_body>(
    "gotoh_normalized_distance", TARNWICK_GOTOH_DOC("gotoh_normalized_distance"));
PyMethodDef gotoh_normalized_similarity_def = py::method_def<normalized_similarity_body>(
    "gotoh_normalized_similarity", TARNWICK_GOTOH_DOC("gotoh_normalized_similarity"));

}  // namespace tarnwick::distance::gotoh
