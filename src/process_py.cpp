#include "process_py.hpp"

#include "py/convert.hpp"

#include <cstring>

namespace tarnwick::process::adapter {

void discard_ordinary_error() {
    if (!PyErr_Occurred()) return;
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw py::ErrorAlreadySet{};
    PyErr_Clear();
}

std::optional<types::Seq> try_convert(PyObject* obj) {
    try {
        return types::to_seq(obj);
    } catch (const py::ErrorAlreadySet&) {
        discard_ordinary_error();
    } catch (const py::Error& e) {
        if (!PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(e.type),
                              reinterpret_cast<PyTypeObject*>(PyExc_Exception)))
            throw;
    }
    return std::nullopt;
}

std::optional<types::Seq> fast_choice(PyObject* obj) {
    if (PyUnicode_CheckExact(obj)) {
        Py_ssize_t n = 0;
        const char* p = PyUnicode_AsUTF8AndSize(obj, &n);
        if (!p) {
            discard_ordinary_error();
            return std::nullopt;
        }
        if (n == 4 && std::memcmp(p, "<NA>", 4) == 0) return std::nullopt;
        // One UTF-8 byte per code point exactly when the text is ASCII.
        if (PyUnicode_GetLength(obj) == n)
            return types::Seq::bytes(reinterpret_cast<const uint8_t*>(p), static_cast<std::size_t>(n));
        return try_convert(obj);
    }
    if (PyBytes_CheckExact(obj)) {
        char* p = nullptr;
        Py_ssize_t n = 0;
        if (PyBytes_AsStringAndSize(obj, &p, &n) < 0) {
            discard_ordinary_error();
            return std::nullopt;
        }
        return types::Seq::bytes(reinterpret_cast<const uint8_t*>(p), static_cast<std::size_t>(n));
    }
    if (obj == Py_None || types::is_missing(obj)) return std::nullopt;
    return try_convert(obj);
}

std::vector<py::Object> collect(PyObject* iterable) {
    py::Object it = py::check(PyObject_GetIter(iterable));
    std::vector<py::Object> out;
    if (PyList_Check(iterable)) out.reserve(static_cast<std::size_t>(PyList_Size(iterable)));
    else if (PyTuple_Check(iterable)) out.reserve(static_cast<std::size_t>(PyTuple_Size(iterable)));
    while (true) {
        py::Object item = py::Object::steal(PyIter_Next(it.get()));
        if (!item) {
            py::check_error();
            break;
        }
        out.push_back(std::move(item));
    }
    return out;
}

ScorerType scorer_argument(PyObject* name) {
    return ScorerType::from_str(py::arg("scorer_name", [&] { return py::to_str(name); }));
}

}  // namespace tarnwick::process::adapter
