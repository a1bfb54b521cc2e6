#include "py/error.hpp"

#include "cancel.hpp"

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <exception>
#include <system_error>

namespace tarnwick::py {
namespace {

/// In a catch block: parks the thread when the exception being handled is no C++
/// exception, which for this module means the forced unwind of a thread that the
/// interpreter ends at exit (see object.hpp); it must be neither stopped nor let through.
void park_if_foreign() noexcept {
#if defined(__GLIBCXX__)
    if (!abi::__cxa_current_exception_type()) park_thread();
#endif
}

}  // namespace

std::string too_long_message(const TooLong& t) {
    return "a length of " + std::to_string(t.length) + " items is more than memory holds";
}

void throw_already_set() {
    if (!PyErr_Occurred())
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    throw ErrorAlreadySet{};
}

Object fetch_error() {
    PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
    PyErr_Fetch(&type, &value, &tb);
    if (!type) return {};
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb && value) PyException_SetTraceback(value, tb);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    return Object::steal(value);
}

void raise(const Error& e) {
    PyErr_SetString(e.type, e.message.c_str());
    if (e.cause) {
        Object exc = fetch_error();
        if (exc) {
            // PyException_SetCause steals the reference to the cause.
            PyException_SetCause(exc.get(), e.cause.copy().release());
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
        }
    }
}

namespace {

/// The OSError subclass of an errno value: the kinds that have their own exception class,
/// plain OSError for every other.
PyObject* os_error_type(int err) noexcept {
    switch (err) {
        case ENOENT: return PyExc_FileNotFoundError;
        case EACCES:
        case EPERM: return PyExc_PermissionError;
        case EEXIST: return PyExc_FileExistsError;
        case EINTR: return PyExc_InterruptedError;
        case ETIMEDOUT: return PyExc_TimeoutError;
        case EAGAIN: return PyExc_BlockingIOError;
        case EPIPE: return PyExc_BrokenPipeError;
        case ECONNABORTED: return PyExc_ConnectionAbortedError;
        case ECONNRESET: return PyExc_ConnectionResetError;
        case ECONNREFUSED: return PyExc_ConnectionRefusedError;
        default: return PyExc_OSError;
    }
}

}  // namespace

void raise_os_error(const std::error_code& code) noexcept {
    try {
        if (code.category() != std::generic_category() && code.category() != std::system_category()) {
            PyErr_SetString(PyExc_OSError, code.message().c_str());
            return;
        }
        const std::string message =
            code.message() + " (os error " + std::to_string(code.value()) + ")";
        PyErr_SetString(os_error_type(code.value()), message.c_str());
    } catch (...) {
        PyErr_SetString(PyExc_MemoryError, "out of memory");
    }
}

void set_error_from_current_exception() noexcept {
    park_if_foreign();
    try {
        throw;
    } catch (const cancel::Cancelled&) {
        // The stop test set the error (a signal handler's exception) when it stopped the call.
        cancel::reset();
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const ErrorAlreadySet&) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    } catch (const Error& e) {
        raise(e);
    } catch (const TooLong& t) {
        PyErr_SetString(PyExc_MemoryError, too_long_message(t).c_str());
    } catch (const std::bad_alloc&) {
        // Said in words: a caller cannot tell an empty MemoryError from a failed check.
        PyErr_SetString(PyExc_MemoryError, "out of memory");
    } catch (const std::system_error& e) {
        raise_os_error(e.code());
    } catch (const std::length_error& e) {
        // A size beyond what a structure or library can hold. The standard library's own
        // texts name its functions ("vector::reserve"): said in words instead.
        const bool library = std::string_view(e.what()).find("::") != std::string_view::npos;
        PyErr_SetString(PyExc_OverflowError, library ? "a size beyond what memory can hold" : e.what());
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_SystemError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown internal error");
    }
}

void drop_current_exception() noexcept {
    park_if_foreign();
}

namespace {

/// Whether an exception of type `type` must reach the caller (see error_must_propagate).
bool must_propagate(PyObject* type) noexcept {
    return PyErr_GivenExceptionMatches(type, PyExc_MemoryError) ||
           !PyErr_GivenExceptionMatches(type, PyExc_Exception);
}

}  // namespace

bool error_must_propagate() noexcept {
    PyObject* const type = PyErr_Occurred();
    return type && must_propagate(type);
}

void clear_ordinary_error() {
    if (error_must_propagate()) throw ErrorAlreadySet{};
    PyErr_Clear();
}

bool failure_must_propagate() noexcept {
    park_if_foreign();
    try {
        throw;
    } catch (const ErrorAlreadySet&) {
        return error_must_propagate();
    } catch (const Error& e) {
        return must_propagate(e.type);
    } catch (const cancel::Cancelled&) {
        return true;
    } catch (const TooLong&) {
        return true;
    } catch (const std::bad_alloc&) {
        return true;
    } catch (...) {
        return false;
    }
}

namespace {

/// The calling thread's stack: lowest and highest address, and the address below which an
/// entry point refuses to run. All zero when the bounds are unknown.
struct StackBounds {
    uintptr_t low = 0, high = 0, limit = 0;
};

/// Space kept free below the deepest entry point: enough for the deepest computation the
/// module runs without calling Python, and for the Python frames between two entries.
constexpr uintptr_t kStackMargin = uintptr_t{64} << 10;

StackBounds read_stack_bounds() noexcept {
    StackBounds b;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return b;
    void* addr = nullptr;
    std::size_t size = 0;
    if (pthread_attr_getstack(&attr, &addr, &size) == 0 && addr && size) {
        b.low = reinterpret_cast<uintptr_t>(addr);
        b.high = b.low + size;
        b.limit = b.low + std::min<uintptr_t>(kStackMargin, size / 4);
    }
    pthread_attr_destroy(&attr);
    return b;
}

}  // namespace

void check_stack() {
    static thread_local const StackBounds bounds = read_stack_bounds();
    const auto sp = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    // A frame outside the thread's own stack (a coroutine library's stack) is not checked.
    if (sp < bounds.limit && sp >= bounds.low)
        throw Error{PyExc_RecursionError, "maximum recursion depth exceeded", {}};
}

std::string exception_message(PyObject* exc) {
    Object s = Object::steal(py::str(exc));
    if (!s) {
        PyErr_Clear();
        return {};
    }
    Py_ssize_t n = 0;
    const char* p = PyUnicode_AsUTF8AndSize(s.get(), &n);
    if (!p) {
        PyErr_Clear();
        return {};
    }
    return std::string(p, static_cast<std::size_t>(n));
}

std::string type_name(PyObject* obj) {
    Object name = Object::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__"));
    if (!name) {
        PyErr_Clear();
        return "<unknown>";
    }
    Py_ssize_t n = 0;
    const char* p = PyUnicode_AsUTF8AndSize(name.get(), &n);
    if (!p) {
        PyErr_Clear();
        return "<unknown>";
    }
    return std::string(p, static_cast<std::size_t>(n));
}

}  // namespace tarnwick::py
