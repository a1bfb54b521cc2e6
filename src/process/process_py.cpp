#include "process/process_py.hpp"

#include "py/convert.hpp"
#include "types_py.hpp"

#include <cstring>
#include <optional>
#include <vector>

namespace tarnwick::process {

/// With a Python error set: clears it when it is an ordinary exception (a subclass of
/// Exception); anything else (KeyboardInterrupt, SystemExit) is thrown on.
void discard_ordinary_error() {
    if (!PyErr_Occurred()) return;
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw py::ErrorAlreadySet{};
    PyErr_Clear();
}

/// The sequence of `obj`, or nothing when its conversion raises an ordinary exception.
/// A Bytes result views `obj`: keep it alive while the sequence is used.
std::optional<types::Seq> try_convert(PyObject* obj) {
    try {
        return types::extract_single(obj);
    } catch (const py::ErrorAlreadySet&) {
        discard_ordinary_error();
    } catch (const py::Error& e) {
        if (!PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(e.type),
                              reinterpret_cast<PyTypeObject*>(PyExc_Exception)))
            throw;
    }
    return std::nullopt;
}

/// A batch item as a sequence, or nothing when it is skipped: None and the other missing
/// values, and objects whose conversion raises an ordinary exception. Bytes and pure-ASCII
/// text are viewed without a copy (the result views `obj`: keep it alive while it is used).
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
    if (obj == Py_None || types::is_none(obj)) return std::nullopt;
    return try_convert(obj);
}

/// Every item of an iterable, in order, as owned references. The iteration's errors
/// propagate.
std::vector<py::Object> collect(PyObject* iterable) {
    py::Object it = py::check(py::get_iter(iterable));
    std::vector<py::Object> out;
    py::reserve_for(iterable, out);
    while (py::Object item = next_item(it.get())) out.push_back(std::move(item));
    return out;
}

py::Object next_item(PyObject* it) {
    // An endless iterator written in C (itertools.count()) runs no Python code that would
    // see Ctrl-C.
    cancel::cancellation_point();
    py::Object item = py::Object::steal(py::iter_next(it));
    if (!item) py::check_error();
    return item;
}

/// The scorer chosen by the `scorer_name` argument (TypeError naming it when it is not a
/// str).
ScorerType scorer_argument(PyObject* name) {
    return ScorerType::from_str(py::arg("scorer_name", [&] { return py::to_str(name); }));
}

}  // namespace tarnwick::process
