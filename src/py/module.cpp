#include "py/module.hpp"

namespace tarnwick::py {

Module::Module(PyObject* module) : module_(module), all_(check(PyList_New(0))) {
    if (PyObject_SetAttrString(module_, "__all__", all_.get()) < 0) throw_already_set();
}

void Module::add(const char* name, Object value) {
    Object s = check(PyUnicode_FromString(name));
    if (PyList_Append(all_.get(), s.get()) < 0) throw_already_set();
    if (PyObject_SetAttr(module_, s.get(), value.get()) < 0) throw_already_set();
}

void Module::add_function(PyMethodDef* def) { add(def->ml_name, make_function(def, module_)); }

void Module::add_class(const char* name, PyTypeObject* type) {
    if (!type) {
        Object cause = fetch_error();
        throw Error{PyExc_RuntimeError,
                    std::string("An error occurred while initializing class ") + name,
                    std::move(cause)};
    }
    add(name, Object::borrow(reinterpret_cast<PyObject*>(type)));
}

}  // namespace tarnwick::py
