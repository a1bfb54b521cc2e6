#include "py/function.hpp"

namespace tarnwick::py {

Object make_function(PyMethodDef* def, PyObject* module) {
    Object name = check(PyModule_GetNameObject(module));
    return check(PyCFunction_NewEx(def, module, name.get()));
}

}  // namespace tarnwick::py
