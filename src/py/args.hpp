// Argument binding for METH_FASTCALL | METH_KEYWORDS builtins, with the interpreter's own
// wording for missing, surplus, unknown and repeated arguments.
#pragma once

#include "py/error.hpp"

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace tarnwick::py {

/// One parameter of a signature.
struct Param {
    const char* name;
    bool required = false;
};

/// A signature: the name shown in messages ("name()", "Class.method()",
/// "Class.__new__()"), the parameters in order, and how many of them may be given by
/// position (the rest are keyword-only).
template <std::size_t N>
struct Signature {
    const char* display;
    std::array<Param, N> params;
    std::size_t positional;
};

/// Bound arguments: borrowed references, null where an optional argument was not given.
template <std::size_t N>
using Args = std::array<PyObject*, N>;

namespace detail {
/// Binds into `out` (size n); throws Error with the interpreter's wording.
void bind(const char* display, const Param* params, std::size_t n, std::size_t positional,
          PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out);
}  // namespace detail

/// Binds the fastcall arguments (args, nargs, kwnames) to the parameters of `sig`.
template <std::size_t N>
inline Args<N> bind(const Signature<N>& sig, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) {
    Args<N> out{};
    detail::bind(sig.display, sig.params.data(), N, sig.positional, args, nargs, kwnames,
                 out.data());
    return out;
}

/// True when an optional argument is absent or None.
inline bool is_absent(PyObject* o) noexcept { return o == nullptr || o == Py_None; }

}  // namespace tarnwick::py

namespace tarnwick::py {

/// Binds (args tuple, kwargs dict) calls such as tp_new to the parameters of `sig`. The
/// returned references are borrowed from `args`/`kwargs`.
template <std::size_t N>
inline Args<N> bind_tuple(const Signature<N>& sig, PyObject* args, PyObject* kwargs) {
    std::vector<PyObject*> flat;
    const Py_ssize_t nargs = args ? PyTuple_Size(args) : 0;
    for (Py_ssize_t i = 0; i < nargs; ++i) flat.push_back(PyTuple_GetItem(args, i));
    Object kwnames;
    if (kwargs && PyDict_Size(kwargs) > 0) {
        kwnames = check(PyTuple_New(PyDict_Size(kwargs)));
        Py_ssize_t pos = 0, k = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            PyTuple_SetItem(kwnames.get(), k++, Py_NewRef(key));
            flat.push_back(value);
        }
    }
    return bind(sig, flat.data(), nargs, kwnames.get());
}

}  // namespace tarnwick::py
