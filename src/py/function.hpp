// Module-level builtins made from a signature description and a body: METH_FASTCALL |
// METH_KEYWORDS functions bound to the module, whose docstring "name(params)\n--\n\n"
// (generated from the signature) gives them a __text_signature__.
//
//   constexpr py::Signature<2> kSig{"default_process", {{{"s"}, {"processor", "None"}}}, 1};
//   py::Object body(const py::Args<2>& a);   // the bound arguments in, a new reference out
//   module.add_function<kSig, &body>();
#pragma once

#include "py/args.hpp"

#include <string>
#include <tuple>

namespace tarnwick::py {

/// Number of parameters of a signature.
template <const auto& Sig>
inline constexpr std::size_t kArity = std::tuple_size_v<decltype(Sig.params)>;

/// A C function pointer in the PyCFunction slot of a method table.
template <class F>
PyCFunction as_cfunction(F* f) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f));
}

/// The fastcall entry point of a module function: binds, runs `Body` on the bound
/// arguments, and turns any exception into a set Python error.
template <const auto& Sig, auto Body>
PyObject* function_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) noexcept {
    return guard([&]() -> PyObject* {
        return Body(bind(Sig, nullptr, args, nargs, kwnames)).release();
    });
}

/// The method definition of the module function `Sig` with `Body`, built once.
template <const auto& Sig, auto Body>
PyMethodDef* function_def() {
    static const std::string doc = text_signature(Sig, Role::Function);
    static PyMethodDef def{Sig.name, as_cfunction(&function_entry<Sig, Body>),
                           METH_FASTCALL | METH_KEYWORDS, doc.c_str()};
    return &def;
}

/// A builtin function bound to `module` (its __module__ is the module's name).
Object make_function(PyMethodDef* def, PyObject* module);

}  // namespace tarnwick::py
