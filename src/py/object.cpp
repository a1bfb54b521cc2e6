#include "py/object.hpp"

#include <unistd.h>

namespace tarnwick::py {

void park_thread() noexcept {
    for (;;) pause();
}

void restore_thread(PyThreadState* state) noexcept {
    park_if_ended([&] { PyEval_RestoreThread(state); });
}

PyObject* call(PyObject* f, PyObject* arg) {
    return park_if_ended([&] { return PyObject_CallFunctionObjArgs(f, arg, nullptr); });
}

PyObject* call(PyObject* f, PyObject* args, PyObject* kwargs) {
    return park_if_ended([&] { return PyObject_Call(f, args, kwargs); });
}

}  // namespace tarnwick::py
