// Python class Editops: a list of edit operations with the two sequence lengths; indexing,
// slicing, deletion and the conversions to the other forms.
#include "distance/initialize/edit_lists.hpp"

namespace tarnwick::py {
namespace {

using distance::initialize::Editop;
using distance::initialize::Editops;
using distance::initialize::Opcodes;
using Common = distance::initialize::ListClass<Editops>;

constexpr Signature<3> kNew{"__new__", {{{"ops"}, {"src_len"}, {"dest_len"}}}};

Object new_(PyTypeObject* type, const Args<3>& a) {
    Editops v;
    Object it = Common::lengths_and_iter(a[0], a[1], a[2], v);
    while (Object item = Object::steal(PyIter_Next(it.get()))) {
        if (auto e = distance::initialize::read_editop(item.get())) {
            v.ops.push_back(std::move(*e));
        } else if (auto o = distance::initialize::read_opcode(item.get())) {
            distance::initialize::expand_opcode(*o, v.ops);
        }
    }
    check_error();
    return Class<Editops>::create_in(type, std::move(v));
}

/// Start, step and count of the records a slice selects, resolved against `len`.
struct SliceSel {
    Py_ssize_t start, step, count;
};
SliceSel resolve(PyObject* slice, std::size_t len) {
    Py_ssize_t start, stop, step;
    if (PySlice_Unpack(slice, &start, &stop, &step) < 0) throw_already_set();
    const Py_ssize_t count = PySlice_AdjustIndices(static_cast<Py_ssize_t>(len), &start, &stop, step);
    return {start, step, count};
}

/// The key as a signed index, or nothing (no error left set) when it does not convert.
std::optional<int64_t> int_key(PyObject* key) {
    try {
        return to_i64(key);
    } catch (const ErrorAlreadySet&) {
        PyErr_Clear();
        return std::nullopt;
    }
}

PyObject* getitem(PyObject* self, PyObject* key) noexcept {
    return guard([&]() -> PyObject* {
        if (const auto idx = int_key(key)) {
            Ref<Editops> r(self);
            return Class<Editop>::create(r->ops[normalize_index(*idx, r->ops.size())]).release();
        }
        if (!PySlice_Check(key)) throw Error{PyExc_TypeError, "invalid index type", {}};
        Editops v;
        {
            Ref<Editops> r(self);
            const SliceSel s = resolve(key, r->ops.size());
            if (s.step < 0)
                throw Error{PyExc_ValueError, "step sizes below 0 lead to an invalid order of editops", {}};
            v.src_len = r->src_len;
            v.dest_len = r->dest_len;
            v.ops.reserve(static_cast<std::size_t>(s.count));
            for (Py_ssize_t k = 0; k < s.count; ++k)
                v.ops.push_back(r->ops[static_cast<std::size_t>(s.start + k * s.step)]);
        }
        return Class<Editops>::create(std::move(v)).release();
    });
}

int setitem(PyObject* self, PyObject* key, PyObject* value) noexcept {
    return guard(
        [&]() -> int {
            if (value) throw Error{PyExc_NotImplementedError, "can't set item", {}};
            RefMut<Editops> r(self);
            auto& ops = r->ops;
            if (const auto idx = int_key(key)) {
                ops.erase(ops.begin() + static_cast<std::ptrdiff_t>(normalize_index(*idx, ops.size())));
                return 0;
            }
            if (!PySlice_Check(key)) throw Error{PyExc_TypeError, "unsupported key type", {}};
            const SliceSel s = resolve(key, ops.size());
            std::vector<bool> drop(ops.size(), false);
            for (Py_ssize_t k = 0; k < s.count; ++k) drop[static_cast<std::size_t>(s.start + k * s.step)] = true;
            std::vector<Editop> kept;
            kept.reserve(ops.size() - static_cast<std::size_t>(s.count));
            for (std::size_t i = 0; i < ops.size(); ++i)
                if (!drop[i]) kept.push_back(std::move(ops[i]));
            ops = std::move(kept);
            return 0;
        },
        -1);
}

PyObject* as_opcodes(PyObject* self, PyObject*) noexcept {
    return guard([&]() -> PyObject* {
        Opcodes v;
        {
            Ref<Editops> r(self);
            v.ops = distance::initialize::editops_to_opcodes(r->ops, r->src_len, r->dest_len);
            v.src_len = r->src_len;
            v.dest_len = r->dest_len;
        }
        return Class<Opcodes>::create(std::move(v)).release();
    });
}

PyObject* as_matching_blocks(PyObject* self, PyObject*) noexcept {
    return guard([&]() -> PyObject* {
        std::vector<distance::initialize::MatchingBlock> blocks;
        {
            Ref<Editops> r(self);
            blocks = distance::initialize::editops_matching_blocks(*r);
        }
        return distance::initialize::matching_block_list(blocks).release();
    });
}

constexpr Signature<1> kRemoveSubsequence{"remove_subsequence", {{{"other"}}}};
Object remove_subsequence(PyObject* self, const Args<1>& a) {
    arg("other", [&] {
        if (!Class<Editops>::check(a[0]))
            throw Error{PyExc_TypeError,
                        "'" + type_name(a[0]) + "' object cannot be converted to 'Editops'", {}};
        return 0;
    });
    Editops v;
    {
        Ref<Editops> r(self);
        Ref<Editops> o(a[0]);
        v = distance::initialize::remove_subsequence(*r, *o);
    }
    return Class<Editops>::create(std::move(v));
}

PyGetSetDef getset[] = {
    field<Editops, &Editops::src_len>("src_len"),
    field<Editops, &Editops::dest_len>("dest_len"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    {"as_opcodes", reinterpret_cast<PyCFunction>(&as_opcodes), METH_NOARGS, nullptr},
    {"as_matching_blocks", reinterpret_cast<PyCFunction>(&as_matching_blocks), METH_NOARGS, nullptr},
    {"as_list", reinterpret_cast<PyCFunction>(&Common::as_list), METH_NOARGS, nullptr},
    {"copy", reinterpret_cast<PyCFunction>(&Common::copy), METH_NOARGS, nullptr},
    {"inverse", reinterpret_cast<PyCFunction>(&Common::inverse_), METH_NOARGS, nullptr},
    method<Editops, kRemoveSubsequence, &remove_subsequence>(),
    reduce_def<Editops>(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void ClassInfo<Editops>::slots(std::vector<PyType_Slot>& s) {
    add_constructor<Editops, kNew, &new_>(s);
    s.push_back({Py_tp_repr, reinterpret_cast<void*>(&Common::repr)});
    s.push_back({Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_value<Editops>)});
    s.push_back({Py_tp_hash, reinterpret_cast<void*>(&PyObject_HashNotImplemented)});
    s.push_back({Py_tp_iter, reinterpret_cast<void*>(&Common::iter)});
    s.push_back({Py_sq_length, reinterpret_cast<void*>(&Common::len)});
    s.push_back({Py_mp_length, reinterpret_cast<void*>(&Common::len)});
    s.push_back({Py_mp_subscript, reinterpret_cast<void*>(&getitem)});
    s.push_back({Py_mp_ass_subscript, reinterpret_cast<void*>(&setitem)});
    s.push_back({Py_tp_getset, getset});
    s.push_back({Py_tp_methods, methods});
}

Object ClassInfo<Editops>::args(const Editops& v) { return Common::args(v); }

}  // namespace tarnwick::py
