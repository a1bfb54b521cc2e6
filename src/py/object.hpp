// Owning references to Python objects and release of the interpreter lock.
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

/// Releases the interpreter lock for its lifetime. No Python object may be touched and
/// no reference count changed while it is alive.
class AllowThreads {
public:
    AllowThreads() noexcept : state_(PyEval_SaveThread()) {}
    ~AllowThreads() { PyEval_RestoreThread(state_); }
    AllowThreads(const AllowThreads&) = delete;
    AllowThreads& operator=(const AllowThreads&) = delete;

private:
    PyThreadState* state_;
};

}  // namespace tarnwick::py
