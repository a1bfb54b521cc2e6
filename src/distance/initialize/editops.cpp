// Python class Editops: a list of edit operations with the two sequence lengths; indexing,
// slicing, deletion and the conversions to the other forms.
#include "distance/initialize/edit_lists.hpp"

namespace tarnwick::distance::initialize {
namespace {

using Common = ListClass<Editops>;

constexpr py::Signature<3> kNew{"__new__", {{{"ops"}, {"src_len"}, {"dest_len"}}}};

py::Object new_(PyTypeObject* type, const py::Args<3>& a) {
    Editops v;
    py::Object it = Common::lengths_and_iter(a[0], a[1], a[2], v);
    while (py::Object item = py::Object::steal(py::iter_next(it.get()))) {
        if (auto e = read_editop(item.get())) {
            v.ops.push_back(std::move(*e));
        } else if (auto o = read_opcode(item.get())) {
            expand_opcode(*o, v.ops);
        }
        // Items that are neither are skipped: an endless iterable of them runs no Python
        // code that would see Ctrl-C.
        cancel::cancellation_point();
    }
    py::check_error();
    return py::Class<Editops>::create_in(type, std::move(v));
}

/// Start, step and count of the records a slice selects, resolved against `len`.
struct SliceSel {
    Py_ssize_t start, step, count;
};
SliceSel resolve(PyObject* slice, std::size_t len) {
    Py_ssize_t start, stop, step;
    if (PySlice_Unpack(slice, &start, &stop, &step) < 0) py::throw_already_set();
    const Py_ssize_t count = PySlice_AdjustIndices(static_cast<Py_ssize_t>(len), &start, &stop, step);
    return {start, step, count};
}

/// The key as a signed index, or nothing (no error left set) when it does not convert.
std::optional<int64_t> int_key(PyObject* key) {
    try {
        return py::to_i64(key);
    } catch (const py::ErrorAlreadySet&) {
        PyErr_Clear();
        return std::nullopt;
    }
}

PyObject* getitem(PyObject* self, PyObject* key) noexcept {
    return py::guard([&]() -> PyObject* {
        if (const auto idx = int_key(key)) {
            py::Ref<Editops> r(self);
            return py::Class<Editop>::create(r->ops[py::normalize_index(*idx, r->ops.size())]).release();
        }
        if (!PySlice_Check(key)) throw py::Error{PyExc_TypeError, "invalid index type", {}};
        Editops v;
        {
            py::Ref<Editops> r(self);
            const SliceSel s = resolve(key, r->ops.size());
            if (s.step < 0)
                throw py::Error{PyExc_ValueError, "step sizes below 0 lead to an invalid order of editops", {}};
            v.src_len = r->src_len;
            v.dest_len = r->dest_len;
            v.ops.reserve(static_cast<std::size_t>(s.count));
            for (Py_ssize_t k = 0; k < s.count; ++k)
                v.ops.push_back(r->ops[static_cast<std::size_t>(s.start + k * s.step)]);
        }
        return py::Class<Editops>::create(std::move(v)).release();
    });
}

int setitem(PyObject* self, PyObject* key, PyObject* value) noexcept {
    return py::guard(
        [&]() -> int {
            if (value) throw py::Error{PyExc_NotImplementedError, "can't set item", {}};
            py::RefMut<Editops> r(self);
            auto& ops = r->ops;
            if (const auto idx = int_key(key)) {
                ops.erase(ops.begin() + static_cast<std::ptrdiff_t>(py::normalize_index(*idx, ops.size())));
                return 0;
            }
            if (!PySlice_Check(key)) throw py::Error{PyExc_TypeError, "unsupported key type", {}};
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
    return py::guard([&]() -> PyObject* {
        Opcodes v;
        {
            py::Ref<Editops> r(self);
            v.ops = editops_to_opcodes(r->ops, r->src_len, r->dest_len);
            v.src_len = r->src_len;
            v.dest_len = r->dest_len;
        }
        return py::Class<Opcodes>::create(std::move(v)).release();
    });
}

PyObject* as_matching_blocks(PyObject* self, PyObject*) noexcept {
    return py::guard([&]() -> PyObject* {
        std::vector<MatchingBlock> blocks;
        {
            py::Ref<Editops> r(self);
            blocks = editops_matching_blocks(*r);
        }
        return matching_block_list(blocks).release();
    });
}

constexpr py::Signature<1> kRemoveSubsequence{"remove_subsequence", {{{"other"}}}};
py::Object remove_subsequence(PyObject* self, const py::Args<1>& a) {
    py::arg("other", [&] {
        if (!py::Class<Editops>::check(a[0]))
            throw py::Error{PyExc_TypeError,
                        "'" + py::type_name(a[0]) + "' object cannot be converted to 'Editops'", {}};
        return 0;
    });
    Editops v;
    {
        py::Ref<Editops> r(self);
        py::Ref<Editops> o(a[0]);
        v = remove_subsequence(*r, *o);
    }
    return py::Class<Editops>::create(std::move(v));
}

PyMethodDef methods[] = {
    py::noargs("as_opcodes", &as_opcodes),
    py::noargs("as_matching_blocks", &as_matching_blocks),
    py::noargs("as_list", &Common::as_list),
    py::noargs("copy", &Common::copy),
    py::noargs("inverse", &Common::inverse_),
    py::method<Editops, kRemoveSubsequence, &remove_subsequence>(),
    py::reduce_def<Editops>(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace
}  // namespace tarnwick::distance::initialize

namespace tarnwick::py {

void ClassInfo<distance::initialize::Editops>::slots(std::vector<PyType_Slot>& s) {
    using namespace distance::initialize;
    add_constructor<Editops, kNew, &new_>(s);
    Common::add_slots(s);
    s.push_back(slot(Py_mp_subscript, &getitem));
    s.push_back(slot(Py_mp_ass_subscript, &setitem));
    s.push_back(slot(Py_tp_methods, methods));
}

Object ClassInfo<distance::initialize::Editops>::args(const distance::initialize::Editops& v) {
    return distance::initialize::ListClass<distance::initialize::Editops>::args(v);
}

}  // namespace tarnwick::py
