// Python class Opcodes: a list of runs with the two sequence lengths; indexing by integer
// and the conversions to the other forms.
#include "distance/initialize/edit_lists.hpp"

namespace tarnwick::py {
namespace {

using distance::initialize::Editop;
using distance::initialize::Editops;
using distance::initialize::Opcode;
using distance::initialize::Opcodes;
using Common = distance::initialize::ListClass<Opcodes>;

constexpr Signature<3> kNew{"__new__", {{{"ops"}, {"src_len"}, {"dest_len"}}}};

// Items are read as opcodes first, then as editops. One opcode item makes the list a
// normalised run list and every editop item is dropped; editop items alone are
// converted as a script; no item at all gives one "equal" run over the lengths.
Object new_(PyTypeObject* type, const Args<3>& a) {
    Opcodes v;
    Object it = Common::lengths_and_iter(a[0], a[1], a[2], v);
    std::vector<Opcode> runs;
    std::vector<Editop> edits;
    while (Object item = Object::steal(PyIter_Next(it.get()))) {
        if (auto o = distance::initialize::read_opcode(item.get())) {
            runs.push_back(std::move(*o));
        } else if (auto e = distance::initialize::read_editop(item.get())) {
            edits.push_back(std::move(*e));
        }
    }
    check_error();
    if (!runs.empty()) {
        v.ops = distance::initialize::normalize_opcodes(runs, v.src_len, v.dest_len);
    } else if (!edits.empty()) {
        v.ops = distance::initialize::editops_to_opcodes(edits, v.src_len, v.dest_len);
    } else if (v.src_len != 0 || v.dest_len != 0) {
        v.ops.push_back(Opcode{"equal", 0, v.src_len, 0, v.dest_len});
    }
    return Class<Opcodes>::create_in(type, std::move(v));
}

PyObject* getitem(PyObject* self, PyObject* key) noexcept {
    return guard([&]() -> PyObject* {
        int64_t idx;
        try {
            idx = to_i64(key);
        } catch (const ErrorAlreadySet&) {
            PyErr_Clear();
            throw Error{PyExc_TypeError, "invalid key", {}};
        }
        Ref<Opcodes> r(self);
        return Class<Opcode>::create(r->ops[normalize_index(idx, r->ops.size())]).release();
    });
}

PyObject* as_editops(PyObject* self, PyObject*) noexcept {
    return guard([&]() -> PyObject* {
        Editops v;
        {
            Ref<Opcodes> r(self);
            v.ops = distance::initialize::opcodes_to_editops(r->ops);
            v.src_len = r->src_len;
            v.dest_len = r->dest_len;
        }
        return Class<Editops>::create(std::move(v)).release();
    });
}

PyObject* as_matching_blocks(PyObject* self, PyObject*) noexcept {
    return guard([&]() -> PyObject* {
        std::vector<distance::initialize::MatchingBlock> blocks;
        {
            Ref<Opcodes> r(self);
            blocks = distance::initialize::opcodes_matching_blocks(*r);
        }
        return distance::initialize::matching_block_list(blocks).release();
    });
}

PyGetSetDef getset[] = {
    field<Opcodes, &Opcodes::src_len>("src_len"),
    field<Opcodes, &Opcodes::dest_len>("dest_len"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    {"as_editops", reinterpret_cast<PyCFunction>(&as_editops), METH_NOARGS, nullptr},
    {"as_matching_blocks", reinterpret_cast<PyCFunction>(&as_matching_blocks), METH_NOARGS, nullptr},
    {"as_list", reinterpret_cast<PyCFunction>(&Common::as_list), METH_NOARGS, nullptr},
    {"copy", reinterpret_cast<PyCFunction>(&Common::copy), METH_NOARGS, nullptr},
    {"inverse", reinterpret_cast<PyCFunction>(&Common::inverse_), METH_NOARGS, nullptr},
    reduce_def<Opcodes>(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void ClassInfo<Opcodes>::slots(std::vector<PyType_Slot>& s) {
    add_constructor<Opcodes, kNew, &new_>(s);
    s.push_back({Py_tp_repr, reinterpret_cast<void*>(&Common::repr)});
    s.push_back({Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_value<Opcodes>)});
    s.push_back({Py_tp_hash, reinterpret_cast<void*>(&PyObject_HashNotImplemented)});
    s.push_back({Py_tp_iter, reinterpret_cast<void*>(&Common::iter)});
    s.push_back({Py_sq_length, reinterpret_cast<void*>(&Common::len)});
    s.push_back({Py_mp_length, reinterpret_cast<void*>(&Common::len)});
    s.push_back({Py_mp_subscript, reinterpret_cast<void*>(&getitem)});
    s.push_back({Py_tp_getset, getset});
    s.push_back({Py_tp_methods, methods});
}

Object ClassInfo<Opcodes>::args(const Opcodes& v) { return Common::args(v); }

}  // namespace tarnwick::py
