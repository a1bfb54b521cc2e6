// Python class Opcode: a mutable, hashable run record (tag, src_start, src_end,
// dest_start, dest_end) that compares equal to tuples and lists of the same shape.
#include "distance/initialize/classes.hpp"

namespace tarnwick::distance::initialize {
namespace {

/// Whether `other` holds the same record: an Opcode, or a tuple or list of five items.
bool equals(const Opcode& o, PyObject* other) {
    if (py::Class<Opcode>::check(other)) {
        py::Ref<Opcode> r(other);
        return o == *r;
    }
    if (!PyTuple_Check(other) && !PyList_Check(other)) return false;
    const Py_ssize_t n = PyList_Check(other) ? PyList_Size(other) : PyTuple_Size(other);
    if (n != 5) return false;
    const auto v = py::record_from_items<Opcode>(other);
    return v && *v == o;
}

}  // namespace
}  // namespace tarnwick::distance::initialize

namespace tarnwick::py {

void ClassInfo<distance::initialize::Opcode>::slots(std::vector<PyType_Slot>& s) {
    using namespace distance::initialize;
    add_record_slots<Opcode>(s);
    s.push_back(slot(Py_tp_richcompare, &edit_record_richcompare<Opcode, &equals>));
    s.push_back(slot(Py_tp_hash, &edit_record_hash<Opcode>));
}

}  // namespace tarnwick::py
