// Signature descriptions and argument binding for METH_FASTCALL | METH_KEYWORDS builtins.
//
// A Signature is the one place where a function's name and parameters are written: the
// binder reads the parameter names from it, error messages show its display name
// ("name()", "Class.method()", "Class.__new__()"), and the text signature in the
// docstring ("name(s1, s2, *, processor=None)\n--\n\n") is generated from it, defaults
// included. Binding errors use the interpreter's own wording for missing, surplus,
// unknown and repeated arguments.
#pragma once

#include "py/error.hpp"

#include <array>
#include <cstddef>
#include <string>

namespace tarnwick::py {

/// One parameter: its name and, for an optional one, its default as the text signature
/// shows it ("None", "2", "\"equal\"", "..."). A parameter without a default is required.
struct Param {
    const char* name;
    const char* default_text = nullptr;
    constexpr bool required() const noexcept { return default_text == nullptr; }
};

/// A signature: the name (a function's or method's; "__new__" for a constructor), the
/// parameters in order, how many of them may be given by position (the rest are
/// keyword-only), and the docstring text that follows the signature block, if any.
template <std::size_t N>
struct Signature {
    const char* name;
    std::array<Param, N> params;
    std::size_t positional = N;
    const char* doc = nullptr;
};

/// Bound arguments: borrowed references, null where an optional argument was not given.
template <std::size_t N>
using Args = std::array<PyObject*, N>;

/// What the signature describes: a module function, a method (text signature with
/// "$self"), or a constructor (text signature under the class name, for tp_doc).
enum class Role { Function, Method, Constructor };

namespace detail {
/// Binds into `out` (size n); throws Error with the interpreter's wording, naming the
/// function "owner.name()" (or "name()" without an owner).
void bind(const char* owner, const char* name, const Param* params, std::size_t n,
          std::size_t positional, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** out);

/// "name(params)\n--\n\n" followed by `doc`; see text_signature.
std::string text_signature(Role role, const char* owner, const char* name, const Param* params,
                           std::size_t n, std::size_t positional, const char* doc);
}  // namespace detail

/// Binds the fastcall arguments (args, nargs, kwnames) to the parameters of `sig`;
/// `owner` is the class name of a method or constructor, null for a module function.
template <std::size_t N>
inline Args<N> bind(const Signature<N>& sig, const char* owner, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames) {
    Args<N> out{};
    detail::bind(owner, sig.name, sig.params.data(), N, sig.positional, args, nargs, kwnames,
                 out.data());
    return out;
}

/// Binds (args tuple, kwargs dict) calls such as tp_new to the parameters of `sig`. The
/// returned references are borrowed from `args`/`kwargs`.
template <std::size_t N>
Args<N> bind_tuple(const Signature<N>& sig, const char* owner, PyObject* args, PyObject* kwargs);

/// The docstring of `sig` in `role`: "name(s1, s2, *, processor=None)\n--\n\n" for a
/// function, "name($self, item)\n--\n\n" for a method, "Owner(params)\n--\n\n" for a
/// constructor, each followed by the signature's doc text.
template <std::size_t N>
std::string text_signature(const Signature<N>& sig, Role role, const char* owner = nullptr) {
    return detail::text_signature(role, owner, sig.name, sig.params.data(), N, sig.positional,
                                  sig.doc);
}

/// True when an optional argument is absent or None.
inline bool is_absent(PyObject* o) noexcept { return o == nullptr || o == Py_None; }

namespace detail {
/// Flattens (args tuple, kwargs dict) into fastcall form and binds it.
void bind_tuple(const char* owner, const char* name, const Param* params, std::size_t n,
                std::size_t positional, PyObject* args, PyObject* kwargs, PyObject** out);
}  // namespace detail

template <std::size_t N>
Args<N> bind_tuple(const Signature<N>& sig, const char* owner, PyObject* args, PyObject* kwargs) {
    Args<N> out{};
    detail::bind_tuple(owner, sig.name, sig.params.data(), N, sig.positional, args, kwargs,
                       out.data());
    return out;
}

}  // namespace tarnwick::py
