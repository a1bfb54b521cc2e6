// Registration of a module's functions and classes, each name appended to __all__ in the
// order of registration.
#pragma once

#include "py/class.hpp"
#include "py/function.hpp"

namespace tarnwick::py {

/// The module being initialised, with its __all__ list.
class Module {
public:
    /// Gives `module` an empty __all__.
    explicit Module(PyObject* module);

    /// Registers the module function `Sig` with `Body`.
    template <const auto& Sig, auto Body>
    void add_function() {
        add_function(function_def<Sig, Body>());
    }
    /// Registers a builtin from its method definition (which must outlive the module).
    void add_function(PyMethodDef* def);

    /// Registers the class holding a T; RuntimeError "An error occurred while initializing
    /// class {name}" (the cause attached) when its type cannot be built.
    template <class T>
    void add_class() {
        add_class(ClassInfo<T>::name, Class<T>::type());
    }

private:
    void add_class(const char* name, PyTypeObject* type);
    /// Appends `name` to __all__, then sets the module attribute.
    void add(const char* name, Object value);

    PyObject* module_;
    Object all_;
};

}  // namespace tarnwick::py
