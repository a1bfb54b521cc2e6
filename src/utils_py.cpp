// Python adapter of the default string processor.
#include "py/args.hpp"
#include "py/convert.hpp"
#include "py/function.hpp"
#include "utils.hpp"

namespace tarnwick::utils {
namespace {

constexpr py::Signature<2> kSig{"default_process()", {{{"s", true}, {"processor", false}}}, 1};

py::Object default_process_body(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
    const auto a = py::bind(kSig, args, nargs, kwnames);
    PyObject* s = a[0];
    if (s == Py_None) return py::from_str("");
    if (PyBytes_Check(s)) {
        char* p = nullptr;
        Py_ssize_t n = 0;
        if (PyBytes_AsStringAndSize(s, &p, &n) < 0) py::throw_already_set();
        return py::from_str(default_process_latin1({p, static_cast<std::size_t>(n)}));
    }
    const std::string_view text = py::to_str(s);
    return py::from_str(default_process(text));
}

}  // namespace

PyMethodDef default_process_def = py::method_def<default_process_body>(
    "default_process", "default_process(s, *, processor=None)\n--\n\n");

}  // namespace tarnwick::utils
