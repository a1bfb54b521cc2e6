// C++ exceptions that carry Python errors, and the barrier at every entry point.
//
// No C++ exception ever crosses into the interpreter: each entry point runs its body in
// `guard`, which turns an exception into a set Python error and a null return.
#pragma once

#include "py/object.hpp"

#include <new>
#include <string>
#include <system_error>

namespace tarnwick::py {

/// A Python error is already set (by the interpreter or by code that set it directly).
struct ErrorAlreadySet {};

/// A Python exception to raise: its type, message and optional cause.
struct Error {
    PyObject* type;
    std::string message;
    Object cause;  // becomes __cause__ when set
};

/// An object whose length (its __len__) claims more items than the machine's memory
/// holds: MemoryError, naming the argument when it reaches an `arg` conversion.
struct TooLong {
    std::size_t length;
};

/// The message of a TooLong, without the argument's name.
std::string too_long_message(const TooLong& t);

/// Throws ErrorAlreadySet; if no error is set, sets SystemError first.
[[noreturn]] void throw_already_set();

/// Returns `p` as a new reference, or throws when it is null (the error already set).
inline Object check(PyObject* p) {
    if (!p) throw_already_set();
    return Object::steal(p);
}

/// Throws when a Python error is set.
inline void check_error() {
    if (PyErr_Occurred()) throw_already_set();
}

/// Fetches the set Python error as a normalized exception object (clearing it).
Object fetch_error();

/// Sets `e` as the current Python error.
void raise(const Error& e);

/// Sets the OSError of an operating-system error: for an errno value, the subclass of its
/// kind (FileNotFoundError, PermissionError, ...) or OSError, with the message "{system's
/// description} (os error {errno})".
void raise_os_error(const std::error_code& code) noexcept;

/// Sets the error of the exception currently being handled; for use in catch blocks; a
/// std::system_error becomes the OSError of raise_os_error. A thread ended at interpreter
/// exit (see object.hpp) is parked.
void set_error_from_current_exception() noexcept;

/// Drops the exception currently being handled; for catch (...) blocks around code that
/// may run Python code. A thread ended at interpreter exit (see object.hpp) is parked.
void drop_current_exception() noexcept;

/// Whether the set Python error must reach the caller even where a failed conversion
/// only means "no match": a MemoryError, or anything that is no Exception
/// (KeyboardInterrupt, SystemExit). False when no error is set.
bool error_must_propagate() noexcept;

/// Clears the set Python error where a failure only means "no match"; throws
/// ErrorAlreadySet instead when the error must reach the caller (error_must_propagate).
void clear_ordinary_error();

/// The same in a catch block, for the exception being handled: also true when memory ran
/// out, a length was beyond memory, or the call was cancelled. A thread ended at
/// interpreter exit (see object.hpp) is parked.
bool failure_must_propagate() noexcept;

/// Throws RecursionError when the calling thread's stack is nearly used up: a recursion
/// through Python code that calls this module again ends with RecursionError rather
/// than a stack overflow, whatever the thread's stack size.
void check_stack();

/// Runs `body` (which returns PyObject* or a value convertible to it) and turns any
/// exception into a set Python error and a null (or `fail`) return.
template <class F, class R = decltype(std::declval<F&>()())>
inline R guard(F&& body, R fail = R{}) noexcept {
    try {
        check_stack();
        return body();
    } catch (...) {
        set_error_from_current_exception();
        return fail;
    }
}

/// Message of an exception object, as by str().
std::string exception_message(PyObject* exc);

/// Qualified name of the type of `obj` (as type(obj).__qualname__).
std::string type_name(PyObject* obj);

}  // namespace tarnwick::py
