// Conversions shared by every entry point. Each throws ErrorAlreadySet or Error; messages
// come from the interpreter where it has one.
#pragma once

#include "py/error.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::py {

/// Unsigned 64-bit integer: int or any object with __index__; OverflowError when negative
/// or too large.
uint64_t to_u64(PyObject* o);

/// Float by the interpreter's float conversion (int, float, __float__, __index__).
double to_f64(PyObject* o);

/// Float by the interpreter's float conversion, rounded to the nearest 32-bit float (values
/// beyond the float range become infinities, NaN stays NaN).
float to_f32(PyObject* o);

/// Accepts any object that passes the interpreter's sequence check except a str: TypeError
/// "a str is not accepted as {what}" for a str, "'{type}' object cannot be converted to
/// 'Sequence'" for a non-sequence.
void require_sequence(PyObject* o, const char* what);

/// A bool object (True/False only).
bool to_bool(PyObject* o);

/// The UTF-8 text of a str; the view lives as long as the str.
std::string_view to_str(PyObject* o);

/// Optional float: absent or None gives nothing.
inline std::optional<double> to_opt_f64(PyObject* o) {
    if (o == nullptr || o == Py_None) return std::nullopt;
    return to_f64(o);
}

/// New Python objects from C++ values.
Object from_f64(double v);
Object from_u64(uint64_t v);
Object from_i64(int64_t v);
Object from_str(std::string_view s);
Object from_bool(bool b);

/// Rewraps the set error as an argument error when it is exactly TypeError; always throws.
[[noreturn]] void throw_argument_error(const char* name);

/// Runs the conversion `f` of argument `name`; a TypeError (exactly) becomes TypeError
/// "argument '{name}': {message}" with the original as __cause__, other errors pass.
template <class F>
inline auto arg(const char* name, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const ErrorAlreadySet&) {
        throw_argument_error(name);
    } catch (const Error& e) {
        if (e.type != PyExc_TypeError) throw;
        raise(e);
        throw_argument_error(name);
    }
}

}  // namespace tarnwick::py
