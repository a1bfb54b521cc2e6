// Python adapter of the default string processor.
#include "utils_default_process.hpp"

#include "py/convert.hpp"
#include "py/module.hpp"

namespace tarnwick::utils {
namespace {

constexpr py::Signature<2> kDefaultProcess{"default_process", {{{"s"}, {"processor", "None"}}}, 1};

py::Object default_process_body(const py::Args<2>& a) {
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

void register_functions(py::Module& m) { m.add_function<kDefaultProcess, &default_process_body>(); }

}  // namespace tarnwick::utils
