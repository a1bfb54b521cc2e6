// Conversions shared by every entry point. Each throws ErrorAlreadySet or Error; messages
// come from the interpreter where it has one.
#pragma once

#include "cancel.hpp"
#include "py/error.hpp"
#include "round_f32.hpp"

#include <algorithm>
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

/// A double rounded to the nearest 32-bit float, as `to_f32` rounds it.
using tarnwick::round_f32;

/// Accepts any object that passes the interpreter's sequence check except a str: TypeError
/// "a str is not accepted as {what}" for a str, "'{type}' object cannot be converted to
/// 'Sequence'" for a non-sequence.
void require_sequence(PyObject* o, const char* what);

/// A boolean: True or False, or a numpy bool scalar through its truth value; anything
/// else (the ints 0 and 1 included) is refused.
bool to_bool(PyObject* o);

/// The UTF-8 text of a str; the view lives as long as the str.
std::string_view to_str(PyObject* o);

/// The number of code points of str `s`, of which the first min(count, `room`) are copied
/// to `out` (room for `room` code points): a caller with room for a whole word learns its
/// length and its code points from one call into the interpreter, which copies them from
/// the string's own storage. Only a str longer than `room` needs a second call (with room
/// for all of it).
std::size_t str_code_points(PyObject* s, uint32_t* out, std::size_t room);

/// Copies the code points of str `s`, whose length is `len`, to `out`.
void copy_code_points(PyObject* s, uint32_t* out, std::size_t len);

/// The UTF-8 text of a str in which every code point that UTF-8 cannot encode (a lone
/// surrogate) is replaced by U+FFFD; TypeError for anything but a str.
std::string to_str_lossy(PyObject* o);

/// The texts of a sequence of str, as UTF-8 views kept alive by the item objects held
/// beside them. A str itself and objects that are not sequences are refused.
struct StrList {
    std::vector<Object> objects;
    std::vector<std::string_view> views;
};
StrList to_str_list(PyObject* o);

/// The booleans of a sequence as 0/1 bytes (each converted by to_bool); a str and objects that are not
/// sequences are refused.
std::vector<uint8_t> to_bool_list(PyObject* o);

/// A new list of rows * cols empty slots, for a matrix result filled in row-major order;
/// a MemoryError that says which result did not fit ("out of memory for the {rows} x
/// {cols} {what}") when the list cannot be allocated.
Object new_matrix_list(std::size_t rows, std::size_t cols, const char* what);
/// The fill function of matrix_list: stores between 1 and `room` new references at `out`
/// and returns how many, or throws.
using ListFill = std::size_t (*)(void* ctx, PyObject** out, std::size_t room);
Object matrix_list(std::size_t rows, std::size_t cols, const char* what, ListFill fill, void* ctx);

/// A new list of rows * cols items in row-major order, as new_matrix_list says which
/// result did not fit, whose items `fill(out, room)` provides in order (see ListFill).
/// The interpreter builds the list from an iterator over the items, so its storage is
/// written once, without being cleared first, and each item costs no call that checks
/// the list and its index.
template <class Fill>
Object matrix_list(std::size_t rows, std::size_t cols, const char* what, Fill& fill) {
    return matrix_list(
        rows, cols, what,
        [](void* ctx, PyObject** out, std::size_t room) { return (*static_cast<Fill*>(ctx))(out, room); },
        &fill);
}

/// Room to reserve for the `n` items that `o` says it holds, of `item_bytes` bytes each
/// once converted: all of them for a list or tuple (whose items exist), at most about 1
/// MiB for any other object (its __len__ may claim what it does not hold; the vector grows
/// past that as items come). Throws TooLong when the claim is beyond the machine's memory,
/// before any item is read.
std::size_t room_for(PyObject* o, Py_ssize_t n, std::size_t item_bytes);

/// Reserves room in `v` for the items of `o` besides those `v` holds, when `o` reports a
/// length (see room_for), so that an iterable too long to hold (range(2**63 - 1)) fails
/// with TooLong before any item is read. An object without a length reserves nothing; an
/// error of its __len__ other than TypeError propagates, as list(o) lets it.
template <class T>
void reserve_for(PyObject* o, std::vector<T>& v) {
    const Py_ssize_t n = py::size(o);
    if (n < 0) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw_already_set();
        PyErr_Clear();
        return;
    }
    const std::size_t need = v.size() + room_for(o, n, sizeof(T));
    if (need > v.capacity()) v.reserve(std::max(need, 2 * v.capacity()));
}

/// Calls f(item) with each item of a sequence other than str, in iteration order; the item
/// is a borrowed reference that lives until f returns.
template <class F>
void for_each_item(PyObject* seq, F&& f) {
    require_sequence(seq, "a sequence");
    const Object it = check(py::get_iter(seq));
    while (Object item = Object::steal(py::iter_next(it.get()))) {
        f(item.get());
        // An endless iterator written in C runs no Python code that would see Ctrl-C.
        cancel::cancellation_point();
    }
    check_error();
}

/// Refuses anything but a tuple of exactly `n` items: TypeError "'{type}' object cannot be
/// converted to 'PyTuple'", ValueError "expected tuple of length {n}, but got tuple of
/// length {len}".
void check_tuple(PyObject* o, Py_ssize_t n);

/// Appends the items of a sequence of numbers (other than str) to `out`, each through the
/// float conversion and then rounded to the nearest 32-bit float. Exact floats in a list
/// are read without a call into Python code.
void append_f32(PyObject* seq, std::vector<float>& out);

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

/// Throws MemoryError "argument '{name}': {message of t}".
[[noreturn]] void throw_too_long(const char* name, const TooLong& t);

/// Runs the conversion `f` of argument `name`; a TypeError (exactly) becomes TypeError
/// "argument '{name}': {message}" with the original as __cause__, a TooLong becomes
/// MemoryError "argument '{name}': {message}", other errors pass.
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
    } catch (const TooLong& t) {
        throw_too_long(name, t);
    }
}

/// Runs `f`, the conversion of argument `name`, naming the argument in the MemoryError of
/// a TooLong only; every other error passes unchanged.
template <class F>
inline auto length_arg(const char* name, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const TooLong& t) {
        throw_too_long(name, t);
    }
}

}  // namespace tarnwick::py
