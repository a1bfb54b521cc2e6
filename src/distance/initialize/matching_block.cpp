// Python class MatchingBlock: a mutable (a, b, size) record with value equality; neither
// indexable nor iterable, and unhashable.
#include "distance/initialize/classes.hpp"

namespace tarnwick::py {

void ClassInfo<distance::initialize::MatchingBlock>::slots(std::vector<PyType_Slot>& s) {
    using distance::initialize::MatchingBlock;
    add_record_slots<MatchingBlock>(s);
    s.push_back(slot(Py_tp_richcompare, &richcompare_value<MatchingBlock>));
    s.push_back(slot(Py_tp_hash, &PyObject_HashNotImplemented));
}

}  // namespace tarnwick::py
