#include "py/convert.hpp"

#include <cmath>

namespace tarnwick::py {

uint64_t to_u64(PyObject* o) {
    if (PyLong_Check(o)) {
        const unsigned long long v = PyLong_AsUnsignedLongLong(o);
        if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_already_set();
        return v;
    }
    Object idx = check(PyNumber_Index(o));
    const unsigned long long v = PyLong_AsUnsignedLongLong(idx.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_already_set();
    return v;
}

double to_f64(PyObject* o) {
    const double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) throw_already_set();
    return v;
}

float to_f32(PyObject* o) {
    const double v = to_f64(o);
    // Below this magnitude a double rounds to a finite float; from it on, to an infinity.
    constexpr double kOverflow = 0x1.ffffffp127;
    if (std::fabs(v) >= kOverflow) return std::signbit(v) ? -INFINITY : INFINITY;
    return static_cast<float>(v);
}

void require_sequence(PyObject* o, const char* what) {
    if (PyUnicode_Check(o))
        throw Error{PyExc_TypeError, std::string("a str is not accepted as ") + what, {}};
    if (!PySequence_Check(o))
        throw Error{PyExc_TypeError,
                    "'" + type_name(o) + "' object cannot be converted to 'Sequence'", {}};
}

bool to_bool(PyObject* o) {
    if (o == Py_True) return true;
    if (o == Py_False) return false;
    throw Error{PyExc_TypeError, "'" + type_name(o) + "' object cannot be converted to 'PyBool'", {}};
}

std::string_view to_str(PyObject* o) {
    if (!PyUnicode_Check(o))
        throw Error{PyExc_TypeError,
                    "'" + type_name(o) + "' object cannot be converted to 'PyString'", {}};
    Py_ssize_t n = 0;
    const char* p = PyUnicode_AsUTF8AndSize(o, &n);
    if (!p) throw_already_set();
    return {p, static_cast<std::size_t>(n)};
}

Object from_f64(double v) { return check(PyFloat_FromDouble(v)); }
Object from_u64(uint64_t v) { return check(PyLong_FromUnsignedLongLong(v)); }
Object from_i64(int64_t v) { return check(PyLong_FromLongLong(v)); }
Object from_str(std::string_view s) {
    return check(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}
Object from_bool(bool b) { return Object::borrow(b ? Py_True : Py_False); }

void throw_argument_error(const char* name) {
    if (!PyErr_Occurred()) throw_already_set();
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw ErrorAlreadySet{};
    Object exc = fetch_error();
    if (reinterpret_cast<PyObject*>(Py_TYPE(exc.get())) != PyExc_TypeError) {
        // A subclass of TypeError passes unchanged.
        PyObject* type = Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())));
        PyObject* tb = PyException_GetTraceback(exc.get());
        PyErr_Restore(type, exc.release(), tb);
        throw ErrorAlreadySet{};
    }
    std::string msg = std::string("argument '") + name + "': " + exception_message(exc.get());
    throw Error{PyExc_TypeError, std::move(msg), std::move(exc)};
}

}  // namespace tarnwick::py
