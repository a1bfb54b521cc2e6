// Python class Editop: a mutable, hashable (tag, src_pos, dest_pos) record that compares
// equal to tuples, lists and objects of the same shape.
#include "distance/initialize/classes.hpp"

namespace tarnwick::distance::initialize {
namespace {

/// Whether `other` holds the same record: an Editop, a tuple or list of three items, or
/// any object with the three attributes; conversion errors only make a case fail.
bool equals(const Editop& e, PyObject* other) {
    if (py::Class<Editop>::check(other)) {
        py::Ref<Editop> o(other);
        return e == *o;
    }
    if (PyTuple_Check(other) || PyList_Check(other)) {
        const Py_ssize_t n = PyList_Check(other) ? PyList_Size(other) : PyTuple_Size(other);
        if (n == 3)
            if (const auto v = py::record_from_items<Editop>(other)) return *v == e;
    }
    const auto v = py::record_from_attributes<Editop>(other);
    return v && *v == e;
}

}  // namespace
}  // namespace tarnwick::distance::initialize

namespace tarnwick::py {

void ClassInfo<distance::initialize::Editop>::slots(std::vector<PyType_Slot>& s) {
    using namespace distance::initialize;
    add_record_slots<Editop>(s);
    s.push_back(slot(Py_tp_richcompare, &edit_record_richcompare<Editop, &equals>));
    s.push_back(slot(Py_tp_hash, &edit_record_hash<Editop>));
}

}  // namespace tarnwick::py
