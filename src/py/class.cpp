#include "py/class.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tarnwick::py {

int64_t to_i64(PyObject* o) {
    Object idx = PyLong_Check(o) ? Object::borrow(o) : check(py::number_index(o));
    const long long v = PyLong_AsLongLong(idx.get());
    if (v == -1 && PyErr_Occurred()) throw_already_set();
    return v;
}

std::string format_float(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string sci(buf, res.ptr);
    // sci is [-]d[.ddd]e[+-]XX: lay the digits out positionally.
    std::string out;
    std::size_t i = 0;
    if (sci[0] == '-') {
        out += '-';
        i = 1;
    }
    const std::size_t e = sci.find('e');
    std::string digits;
    for (std::size_t k = i; k < e; ++k)
        if (sci[k] != '.') digits += sci[k];
    const int exp = std::atoi(sci.c_str() + e + 1);
    // value = 0.d1d2d3... * 10^(exp+1)
    const int point = exp + 1;  // digits before the decimal point
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
        out += digits;
        out.append(static_cast<std::size_t>(point) - digits.size(), '0');
    } else {
        out += digits.substr(0, static_cast<std::size_t>(point));
        out += '.';
        out += digits.substr(static_cast<std::size_t>(point));
    }
    return out;
}

}  // namespace tarnwick::py
