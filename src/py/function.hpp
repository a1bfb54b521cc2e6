// Module-level builtins: METH_FASTCALL | METH_KEYWORDS functions bound to the module, with
// the docstring "name(params)\n--\n\n" that gives them a __text_signature__.
#pragma once

#include "py/error.hpp"

namespace tarnwick::py {

/// Signature of the C++ body of a fastcall builtin: the bound arguments in, a new
/// reference out (or an exception).
using FastBody = Object (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames);

/// The fastcall entry point for `Body`, with the exception barrier around it.
template <FastBody Body>
PyObject* fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) noexcept {
    return guard([&]() -> PyObject* { return Body(self, args, nargs, kwnames).release(); });
}

/// A method definition for `Body`; `doc` starts with the signature block.
template <FastBody Body>
constexpr PyMethodDef method_def(const char* name, const char* doc) {
    return PyMethodDef{name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(&fastcall<Body>)),
                       METH_FASTCALL | METH_KEYWORDS, doc};
}

/// A builtin function bound to `module` (its __module__ is the module's name).
Object make_function(PyMethodDef* def, PyObject* module);

}  // namespace tarnwick::py
