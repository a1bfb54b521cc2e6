#include "py/args.hpp"

#include <cstring>
#include <vector>

namespace tarnwick::py {
namespace detail {
namespace {

std::string quoted_list(const std::vector<const char*>& names) {
    std::string s;
    const std::size_t n = names.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) s += (n == 2) ? " and " : (i + 1 == n ? ", and " : ", ");
        s += '\'';
        s += names[i];
        s += '\'';
    }
    return s;
}

[[noreturn]] void type_error(std::string msg) { throw Error{PyExc_TypeError, std::move(msg), {}}; }

/// The name shown in binding errors: "owner.name()" or "name()". Built only when an
/// error is raised.
std::string display(const char* owner, const char* name) {
    std::string s;
    if (owner) {
        s += owner;
        s += '.';
    }
    s += name;
    s += "()";
    return s;
}

/// Index of the parameter named by the str `key`, or n when there is none.
std::size_t find_param(const Param* params, std::size_t n, PyObject* key) {
    Py_ssize_t len = 0;
    const char* k = PyUnicode_AsUTF8AndSize(key, &len);
    if (!k) {
        PyErr_Clear();
        return n;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (std::strlen(params[i].name) == static_cast<std::size_t>(len) &&
            std::memcmp(params[i].name, k, static_cast<std::size_t>(len)) == 0)
            return i;
    }
    return n;
}

}  // namespace

void bind(const char* owner, const char* name, const Param* params, std::size_t n,
          std::size_t positional, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** out) {
    const std::size_t given = static_cast<std::size_t>(nargs);
    if (given > positional) {
        std::size_t required = 0;
        for (std::size_t i = 0; i < positional; ++i) required += params[i].required() ? 1 : 0;
        std::string msg = display(owner, name);
        if (required == positional)
            msg += " takes " + std::to_string(positional);
        else
            msg += " takes from " + std::to_string(required) + " to " + std::to_string(positional);
        msg += " positional arguments but " + std::to_string(given) +
               (given == 1 ? " was given" : " were given");
        type_error(std::move(msg));
    }
    for (std::size_t i = 0; i < given; ++i) out[i] = args[i];
    if (kwnames) {
        const Py_ssize_t nkw = PyTuple_Size(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* key = PyTuple_GetItem(kwnames, k);
            const std::size_t idx = find_param(params, n, key);
            if (idx == n) {
                // %U keeps any str, lone surrogates included.
                PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'",
                             display(owner, name).c_str(), key);
                throw ErrorAlreadySet{};
            }
            if (out[idx]) {
                type_error(display(owner, name) + " got multiple values for argument '" +
                           params[idx].name + "'");
            }
            out[idx] = args[nargs + k];
        }
    }
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < positional; ++i)
        if (params[i].required() && !out[i]) missing.push_back(params[i].name);
    if (!missing.empty()) {
        type_error(display(owner, name) + " missing " + std::to_string(missing.size()) +
                   " required positional argument" + (missing.size() == 1 ? "" : "s") + ": " +
                   quoted_list(missing));
    }
    for (std::size_t i = positional; i < n; ++i)
        if (params[i].required() && !out[i]) missing.push_back(params[i].name);
    if (!missing.empty()) {
        type_error(display(owner, name) + " missing " + std::to_string(missing.size()) +
                   " required keyword argument" + (missing.size() == 1 ? "" : "s") + ": " +
                   quoted_list(missing));
    }
}

void bind_tuple(const char* owner, const char* name, const Param* params, std::size_t n,
                std::size_t positional, PyObject* args, PyObject* kwargs, PyObject** out) {
    std::vector<PyObject*> flat;
    const Py_ssize_t nargs = args ? PyTuple_Size(args) : 0;
    for (Py_ssize_t i = 0; i < nargs; ++i) flat.push_back(PyTuple_GetItem(args, i));
    Object kwnames;
    if (kwargs && PyDict_Size(kwargs) > 0) {
        kwnames = check(PyTuple_New(PyDict_Size(kwargs)));
        Py_ssize_t pos = 0, k = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            PyTuple_SetItem(kwnames.get(), k++, Py_NewRef(key));
            flat.push_back(value);
        }
    }
    bind(owner, name, params, n, positional, flat.data(), nargs, kwnames.get(), out);
}

std::string text_signature(Role role, const char* owner, const char* name, const Param* params,
                           std::size_t n, std::size_t positional, const char* doc) {
    std::string s = role == Role::Constructor ? owner : name;
    s += '(';
    if (role == Role::Method) s += n == 0 ? "$self" : "$self, ";
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) s += ", ";
        if (i == positional) s += "*, ";
        s += params[i].name;
        if (params[i].default_text) {
            s += '=';
            s += params[i].default_text;
        }
    }
    s += ")\n--\n\n";
    if (doc) s += doc;
    return s;
}

}  // namespace detail
}  // namespace tarnwick::py
