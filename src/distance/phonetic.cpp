#include "distance/phonetic.hpp"

#include "algorithms/soundex.hpp"
#include "py/args.hpp"
#include "py/convert.hpp"
#include "py/function.hpp"

namespace tarnwick::distance::phonetic {

std::string soundex(std::string_view text) {
    const algorithms::SoundexCode code = algorithms::soundex(text);
    return std::string(code.data(), code.size());
}

namespace {

using algorithms::SoundexCode;

constexpr std::array<py::Param, 2> kPairParams{{{"s1", true}, {"s2", true}}};

/// The UTF-8 of a str argument. Only ASCII letters matter to Soundex, so a str holding a
/// lone surrogate is read with the surrogate passed through as three non-ASCII bytes
/// (skipped like any other non-ASCII character) instead of failing; `keep` owns those
/// bytes.
std::string_view soundex_text(const char* name, PyObject* o, py::Object& keep) {
    if (PyUnicode_Check(o)) {
        Py_ssize_t n = 0;
        if (const char* p = PyUnicode_AsUTF8AndSize(o, &n)) return {p, static_cast<std::size_t>(n)};
        PyErr_Clear();
        keep = py::check(PyUnicode_AsEncodedString(o, "utf-8", "surrogatepass"));
        char* p = nullptr;
        if (PyBytes_AsStringAndSize(keep.get(), &p, &n) < 0) py::throw_already_set();
        return {p, static_cast<std::size_t>(n)};
    }
    return py::arg(name, [&] { return py::to_str(o); });
}

py::Object encode_body(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr py::Signature<1> sig{"soundex_encode()", {{{"s", true}}}, 1};
    const auto a = py::bind(sig, args, nargs, kwnames);
    py::Object keep;
    const std::string_view s = soundex_text("s", a[0], keep);
    const SoundexCode code = algorithms::soundex(s);
    return py::from_str({code.data(), code.size()});
}

/// Binds (s1, s2) for `display` and counts the positions where their codes agree.
int agreement(const char* display, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const py::Signature<2> sig{display, kPairParams, 2};
    const auto a = py::bind(sig, args, nargs, kwnames);
    py::Object keep1, keep2;
    const std::string_view s1 = soundex_text("s1", a[0], keep1);
    const std::string_view s2 = soundex_text("s2", a[1], keep2);
    return algorithms::soundex_agreement(algorithms::soundex(s1), algorithms::soundex(s2));
}

py::Object distance_body(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::from_u64(4 - agreement("soundex_distance()", args, nargs, kwnames));
}

py::Object similarity_body(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    return py::from_u64(agreement("soundex_similarity()", args, nargs, kwnames));
}

py::Object normalized_similarity_body(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
    const int e = agreement("soundex_normalized_similarity()", args, nargs, kwnames);
    return py::from_f64(static_cast<double>(e) / 4.0);
}

py::Object normalized_distance_body(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
    const int e = agreement("soundex_normalized_distance()", args, nargs, kwnames);
    return py::from_f64(1.0 - static_cast<double>(e) / 4.0);
}

}  // namespace

PyMethodDef soundex_encode_def =
    py::method_def<encode_body>("soundex_encode", "soundex_encode(s)\n--\n\n");
PyMethodDef soundex_distance_def =
    py::method_def<distance_body>("soundex_distance", "soundex_distance(s1, s2)\n--\n\n");
PyMethodDef soundex_similarity_def =
    py::method_def<similarity_body>("soundex_similarity", "soundex_similarity(s1, s2)\n--\n\n");
PyMethodDef soundex_normalized_similarity_def = py::method_def<normalized_similarity_body>(
    "soundex_normalized_similarity", "soundex_normalized_similarity(s1, s2)\n--\n\n");
PyMethodDef soundex_normalized_distance_def = py::method_def<normalized_distance_body>(
    "soundex_normalized_distance", "soundex_normalized_distance(s1, s2)\n--\n\n");

}  // namespace tarnwick::distance::phonetic
