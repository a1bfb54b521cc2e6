#include "py/error.hpp"

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include <exception>

namespace tarnwick::py {

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
        PyErr_NoMemory();
    }
}

void set_error_from_current_exception() noexcept {
    try {
        throw;
    } catch (const ErrorAlreadySet&) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    } catch (const Error& e) {
        raise(e);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::system_error& e) {
        raise_os_error(e.code());
    } catch (const std::length_error& e) {
        // A size beyond what a structure or library can hold.
        PyErr_SetString(PyExc_OverflowError, e.what());
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_SystemError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown internal error");
    }
}

std::string exception_message(PyObject* exc) {
    Object s = Object::steal(PyObject_Str(exc));
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
