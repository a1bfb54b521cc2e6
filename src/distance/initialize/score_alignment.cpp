// Python class ScoreAlignment: a mutable (score, src_start, src_end, dest_start, dest_end)
// record with value equality, iteration and indexing over its five fields; unhashable.
#include "distance/initialize/classes.hpp"

namespace tarnwick::py {

void ClassInfo<distance::initialize::ScoreAlignment>::slots(std::vector<PyType_Slot>& s) {
    using distance::initialize::ScoreAlignment;
    add_record_slots<ScoreAlignment>(s);
    s.push_back(slot(Py_tp_richcompare, &richcompare_value<ScoreAlignment>));
    s.push_back(slot(Py_tp_hash, &PyObject_HashNotImplemented));
}

}  // namespace tarnwick::py
