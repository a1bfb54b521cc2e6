// The result classes' shared readers and their registration in the module's fixed order.
#include "distance/initialize/classes.hpp"
#include "module.hpp"
#include "py/module.hpp"

namespace tarnwick::distance::initialize {
namespace {

/// A copy of the record held by an instance of its class; nothing (and no error left
/// set) when the instance is being changed.
template <class T>
std::optional<T> copy_of(PyObject* item) noexcept {
    try {
        py::Ref<T> r(item);
        return *r;
    } catch (...) {
        PyErr_Clear();
        return std::nullopt;
    }
}

}  // namespace

std::optional<Editop> read_editop(PyObject* item) {
    if (py::Class<Editop>::check(item)) return copy_of<Editop>(item);
    if (!PyTuple_Check(item) || PyTuple_Size(item) != 3) return std::nullopt;
    return py::record_from_items<Editop>(item);
}

std::optional<Opcode> read_opcode(PyObject* item) {
    if (py::Class<Opcode>::check(item)) return copy_of<Opcode>(item);
    if (!PyTuple_Check(item)) return std::nullopt;
    return py::record_from_items<Opcode>(item);
}

py::Object matching_block_list(const std::vector<MatchingBlock>& blocks) {
    py::Object list = py::check(PyList_New(static_cast<Py_ssize_t>(blocks.size())));
    for (std::size_t i = 0; i < blocks.size(); ++i)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i),
                       py::Class<MatchingBlock>::create(blocks[i]).release());
    return list;
}

void register_classes(py::Module& m) {
    m.add_class<Editop>();
    m.add_class<Editops>();
    m.add_class<Opcode>();
    m.add_class<Opcodes>();
    m.add_class<MatchingBlock>();
    m.add_class<ScoreAlignment>();
}

}  // namespace tarnwick::distance::initialize
