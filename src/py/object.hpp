// Owning references to Python objects, release of the interpreter lock, and calls into
// Python code.
//
// Threads ended at interpreter exit: before Python 3.14, a thread that takes the
// interpreter lock back after finalisation has started is ended by pthread_exit, whose
// forced unwind runs through the thread's C++ frames. Unwinding would abort at the first
// noexcept frame (every entry point is one) and would run destructors that touch Python
// objects without the lock. Where this module takes the lock back or calls Python code,
// such a thread is parked instead (as Python 3.14 does itself): it sleeps until the
// process exits and never touches a Python object again.
#pragma once

#include "py/python.hpp"

#include <utility>

namespace tarnwick::py {

/// An owning reference: one strong reference, moved but never copied implicitly.
class Object {
public:
    Object() noexcept = default;
    Object(std::nullptr_t) noexcept {}
    Object(Object&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Object& operator=(Object&& o) noexcept {
        if (this != &o) {
            Py_XDECREF(p_);
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    ~Object() { Py_XDECREF(p_); }

    /// Takes over a new reference (may be null).
    static Object steal(PyObject* p) noexcept { return Object(p); }
    /// Adds a reference to a borrowed object (may be null).
    static Object borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Object(p);
    }
    /// A second strong reference to the same object.
    Object copy() const noexcept { return borrow(p_); }

    PyObject* get() const noexcept { return p_; }
    /// Gives up ownership and returns the reference.
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    explicit Object(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

/// Sleeps until the process exits; for a thread that the interpreter ends at exit.
[[noreturn]] void park_thread() noexcept;

/// Runs f(), a call of the interpreter's C API; a thread that the interpreter ends at exit
/// while f runs is parked here, before any destructor of the calling frames runs. The C
/// API throws no C++ exception: anything unwinding out of f is that thread's end.
template <class F>
decltype(auto) park_if_ended(F&& f) {
    try {
        return f();
    } catch (...) {
        park_thread();
    }
}

/// Takes the interpreter lock back (PyEval_RestoreThread); a thread that the interpreter
/// ends at exit is parked.
void restore_thread(PyThreadState* state) noexcept;

/// Releases the interpreter lock for its lifetime. No Python object may be touched and
/// no reference count changed while it is alive (the stop test, below, takes the lock
/// for a moment itself).
class AllowThreads {
public:
    AllowThreads() noexcept;
    ~AllowThreads();
    AllowThreads(const AllowThreads&) = delete;
    AllowThreads& operator=(const AllowThreads&) = delete;

private:
    PyThreadState* state_;
};

/// The stop test of long calls (cancel.hpp): on the main thread, runs the interpreter's
/// signal handlers (taking the lock for a moment when an AllowThreads released it) and
/// says stop when one raised, its exception (KeyboardInterrupt) being set. Other threads
/// never stop: the interpreter handles signals on the main thread only.
bool stop_test();

/// Installs stop_test for the calling thread's interpreter; at module initialisation.
void install_stop_test();

/// f(arg): a new reference, or null with the error set (as PyObject_CallFunctionObjArgs).
PyObject* call(PyObject* f, PyObject* arg);

/// f(*args, **kwargs), `kwargs` may be null (as PyObject_Call).
PyObject* call(PyObject* f, PyObject* args, PyObject* kwargs);

// Calls of the interpreter that may run Python code of the caller's objects (__iter__,
// __next__, __hash__, __eq__, __len__, __float__, __index__, __bool__, __str__, attribute
// lookups). Each behaves as the C API function it wraps, and parks a thread that the
// interpreter ends at exit while that code runs (park_if_ended), before any frame of this
// module unwinds and releases objects without the lock.
inline PyObject* get_iter(PyObject* o) {
    return park_if_ended([&] { return PyObject_GetIter(o); });
}
inline PyObject* iter_next(PyObject* it) {
    return park_if_ended([&] { return PyIter_Next(it); });
}
inline Py_hash_t hash(PyObject* o) {
    return park_if_ended([&] { return PyObject_Hash(o); });
}
inline PyObject* rich_compare(PyObject* a, PyObject* b, int op) {
    return park_if_ended([&] { return PyObject_RichCompare(a, b, op); });
}
inline int rich_compare_bool(PyObject* a, PyObject* b, int op) {
    return park_if_ended([&] { return PyObject_RichCompareBool(a, b, op); });
}
inline int is_true(PyObject* o) {
    return park_if_ended([&] { return PyObject_IsTrue(o); });
}
inline Py_ssize_t size(PyObject* o) {
    return park_if_ended([&] { return PyObject_Size(o); });
}
inline PyObject* get_attr(PyObject* o, const char* name) {
    return park_if_ended([&] { return PyObject_GetAttrString(o, name); });
}
inline double float_value(PyObject* o) {
    return park_if_ended([&] { return PyFloat_AsDouble(o); });
}
inline PyObject* number_index(PyObject* o) {
    return park_if_ended([&] { return PyNumber_Index(o); });
}
inline PyObject* str(PyObject* o) {
    return park_if_ended([&] { return PyObject_Str(o); });
}

}  // namespace tarnwick::py
