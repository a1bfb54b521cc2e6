#include "py/object.hpp"

#include "cancel.hpp"
#include "py/error.hpp"

#include <unistd.h>

#include <atomic>
#include <utility>

namespace tarnwick::py {
namespace {

/// The thread state that an AllowThreads of this thread saved, while the lock is released.
thread_local PyThreadState* t_released = nullptr;

/// The interpreter's main thread (PyThread_get_thread_ident), once known.
std::atomic<unsigned long> g_main_thread{0};

}  // namespace

AllowThreads::AllowThreads() noexcept : state_(PyEval_SaveThread()) { t_released = state_; }

AllowThreads::~AllowThreads() {
    t_released = nullptr;
    restore_thread(state_);
}

bool stop_test() {
    const unsigned long main = g_main_thread.load(std::memory_order_relaxed);
    if (main == 0 || PyThread_get_thread_ident() != main) return false;
    // Cleared while the lock is held: a signal handler may call this module again.
    PyThreadState* const released = std::exchange(t_released, nullptr);
    if (released) restore_thread(released);
    const bool stop = PyErr_CheckSignals() != 0;
    if (released) {
        PyThreadState* const again = PyEval_SaveThread();
        t_released = again;
    }
    return stop;
}

void install_stop_test() {
    Object threading = check(PyImport_ImportModule("threading"));
    Object main = check(PyObject_CallMethod(threading.get(), "main_thread", nullptr));
    Object ident = check(PyObject_GetAttrString(main.get(), "ident"));
    const unsigned long id = PyLong_AsUnsignedLong(ident.get());
    if (id == static_cast<unsigned long>(-1) && PyErr_Occurred()) throw_already_set();
    g_main_thread.store(id, std::memory_order_relaxed);
    cancel::set_stop_test(&stop_test);
}

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
