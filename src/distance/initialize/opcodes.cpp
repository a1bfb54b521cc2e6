// Python class Opcodes: a list of runs with the two sequence lengths; indexing by integer
// and the conversions to the other forms.
#include "distance/initialize/edit_lists.hpp"

namespace tarnwick::distance::initialize {
namespace {

using Common = ListClass<Opcodes>;

constexpr py::Signature<3> kNew{"__new__", {{{"ops"}, {"src_len"}, {"dest_len"}}}};

// Items are read as opcodes first, then as editops. One opcode item makes the list a
// normalised run list and every editop item is dropped; editop items alone are
// converted as a script; no item at all gives one "equal" run over the lengths.
py::Object new_(PyTypeObject* type, const py::Args<3>& a) {
    Opcodes v;
    py::Object it = Common::lengths_and_iter(a[0], a[1], a[2], v);
    std::vector<Opcode> runs;
    std::vector<Editop> edits;
    while (py::Object item = py::Object::steal(py::iter_next(it.get()))) {
        if (auto o = read_opcode(item.get())) {
            runs.push_back(std::move(*o));
        } else if (auto e = read_editop(item.get())) {
            edits.push_back(std::move(*e));
        }
        cancel::cancellation_point();  // skipped items run no Python code (see Editops)
    }
    py::check_error();
    if (!runs.empty()) {
        v.ops = normalize_opcodes(runs, v.src_len, v.dest_len);
    } else if (!edits.empty()) {
        v.ops = editops_to_opcodes(edits, v.src_len, v.dest_len);
    } else if (v.src_len != 0 || v.dest_len != 0) {
        v.ops.push_back(Opcode{"equal", 0, v.src_len, 0, v.dest_len});
    }
    return py::Class<Opcodes>::create_in(type, std::move(v));
}

PyObject* getitem(PyObject* self, PyObject* key) noexcept {
    return py::guard([&]() -> PyObject* {
        int64_t idx;
        try {
            idx = py::to_i64(key);
        } catch (const py::ErrorAlreadySet&) {
            PyErr_Clear();
            throw py::Error{PyExc_TypeError, "invalid key", {}};
        }
        py::Ref<Opcodes> r(self);
        return py::Class<Opcode>::create(r->ops[py::normalize_index(idx, r->ops.size())]).release();
    });
}

PyObject* as_editops(PyObject* self, PyObject*) noexcept {
    return py::guard([&]() -> PyObject* {
        Editops v;
        {
            py::Ref<Opcodes> r(self);
            v.ops = opcodes_to_editops(r->ops);
            v.src_len = r->src_len;
            v.dest_len = r->dest_len;
        }
        return py::Class<Editops>::create(std::move(v)).release();
    });
}

PyObject* as_matching_blocks(PyObject* self, PyObject*) noexcept {
    return py::guard([&]() -> PyObject* {
        std::vector<MatchingBlock> blocks;
        {
            py::Ref<Opcodes> r(self);
            blocks = opcodes_matching_blocks(*r);
        }
        return matching_block_list(blocks).release();
    });
}

PyMethodDef methods[] = {
    py::noargs("as_editops", &as_editops),
    py::noargs("as_matching_blocks", &as_matching_blocks),
    py::noargs("as_list", &Common::as_list),
    py::noargs("copy", &Common::copy),
    py::noargs("inverse", &Common::inverse_),
    py::reduce_def<Opcodes>(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace
}  // namespace tarnwick::distance::initialize

namespace tarnwick::py {

void ClassInfo<distance::initialize::Opcodes>::slots(std::vector<PyType_Slot>& s) {
    using namespace distance::initialize;
    add_constructor<Opcodes, kNew, &new_>(s);
    Common::add_slots(s);
    s.push_back(slot(Py_mp_subscript, &getitem));
    s.push_back(slot(Py_tp_methods, methods));
}

Object ClassInfo<distance::initialize::Opcodes>::args(const distance::initialize::Opcodes& v) {
    return distance::initialize::ListClass<distance::initialize::Opcodes>::args(v);
}

}  // namespace tarnwick::py
