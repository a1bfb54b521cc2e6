// Item readers shared by the Editops/Opcodes constructors and the record comparisons,
// and small helpers of the four edit-operation classes.
#include "distance/initialize/classes.hpp"
#include "distance/initialize/edit_classes.hpp"

namespace tarnwick::distance::initialize {

bool read_fields(PyObject* seq, bool is_list, std::string& tag, uint64_t* fields,
                 std::size_t n) noexcept {
    // A list is read from a snapshot: the conversions below may run Python code that
    // changes the list, and must never see an item that was dropped meanwhile.
    py::Object snapshot = is_list ? py::Object::steal(PyList_AsTuple(seq)) : py::Object::borrow(seq);
    if (!snapshot) {
        PyErr_Clear();
        return false;
    }
    PyObject* tuple = snapshot.get();
    if (PyTuple_Size(tuple) < static_cast<Py_ssize_t>(n + 1)) return false;
    try {
        tag = std::string(py::to_str(PyTuple_GetItem(tuple, 0)));
        for (std::size_t k = 0; k < n; ++k)
            fields[k] = py::to_u64(PyTuple_GetItem(tuple, static_cast<Py_ssize_t>(k + 1)));
        return true;
    } catch (...) {
        PyErr_Clear();
        return false;
    }
}

std::optional<Editop> read_editop(PyObject* item) noexcept {
    if (py::Class<Editop>::check(item)) {
        try {
            py::Ref<Editop> r(item);
            return *r;
        } catch (...) {
            PyErr_Clear();
            return std::nullopt;
        }
    }
    if (!PyTuple_Check(item) || PyTuple_Size(item) != 3) return std::nullopt;
    Editop e;
    uint64_t f[2];
    if (!read_fields(item, false, e.tag, f, 2)) return std::nullopt;
    e.src_pos = f[0];
    e.dest_pos = f[1];
    return e;
}

std::optional<Opcode> read_opcode(PyObject* item) noexcept {
    if (py::Class<Opcode>::check(item)) {
        try {
            py::Ref<Opcode> r(item);
            return *r;
        } catch (...) {
            PyErr_Clear();
            return std::nullopt;
        }
    }
    if (!PyTuple_Check(item)) return std::nullopt;
    Opcode o;
    uint64_t f[4];
    if (!read_fields(item, false, o.tag, f, 4)) return std::nullopt;
    o.src_start = f[0];
    o.src_end = f[1];
    o.dest_start = f[2];
    o.dest_end = f[3];
    return o;
}

py::Object matching_block_list(const std::vector<MatchingBlock>& blocks) {
    py::Object list = py::check(PyList_New(static_cast<Py_ssize_t>(blocks.size())));
    for (std::size_t i = 0; i < blocks.size(); ++i)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i),
                       py::Class<MatchingBlock>::create(blocks[i]).release());
    return list;
}

std::string editop_repr(const Editop& e) {
    return "Editop(tag='" + e.tag + "', src_pos=" + std::to_string(e.src_pos) +
           ", dest_pos=" + std::to_string(e.dest_pos) + ")";
}

std::string opcode_repr(const Opcode& o) {
    return "Opcode(tag='" + o.tag + "', src_start=" + std::to_string(o.src_start) +
           ", src_end=" + std::to_string(o.src_end) + ", dest_start=" + std::to_string(o.dest_start) +
           ", dest_end=" + std::to_string(o.dest_end) + ")";
}

}  // namespace tarnwick::distance::initialize
