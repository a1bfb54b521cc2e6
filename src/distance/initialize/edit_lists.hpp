// Behaviour shared by the list classes Editops and Opcodes, written once over the list
// type: length, iteration, repr, copy, as_list, inverse and the constructor's arguments.
#pragma once

#include "distance/initialize/edit_classes.hpp"

namespace tarnwick::distance::initialize {

/// Record tuples: (tag, src_pos, dest_pos) and (tag, src_start, src_end, dest_start,
/// dest_end).
inline py::Object record_tuple(const Editop& e) {
    return py::check(Py_BuildValue("(s#KK)", e.tag.data(), static_cast<Py_ssize_t>(e.tag.size()),
                                   static_cast<unsigned long long>(e.src_pos),
                                   static_cast<unsigned long long>(e.dest_pos)));
}
inline py::Object record_tuple(const Opcode& o) {
    return py::check(Py_BuildValue("(s#KKKK)", o.tag.data(), static_cast<Py_ssize_t>(o.tag.size()),
                                   static_cast<unsigned long long>(o.src_start),
                                   static_cast<unsigned long long>(o.src_end),
                                   static_cast<unsigned long long>(o.dest_start),
                                   static_cast<unsigned long long>(o.dest_end)));
}
inline std::string record_repr(const Editop& e) { return editop_repr(e); }
inline std::string record_repr(const Opcode& o) { return opcode_repr(o); }

/// The list classes' shared slots and methods; L is Editops or Opcodes.
template <class L>
struct ListClass {
    using Record = typename decltype(L::ops)::value_type;

    static Py_ssize_t len(PyObject* self) noexcept {
        return py::guard([&]() -> Py_ssize_t {
            py::Ref<L> r(self);
            return static_cast<Py_ssize_t>(r->ops.size());
        }, Py_ssize_t{-1});
    }

    static PyObject* iter(PyObject* self) noexcept {
        return py::guard([&]() -> PyObject* {
            py::Ref<L> r(self);
            py::Object list = py::check(PyList_New(static_cast<Py_ssize_t>(r->ops.size())));
            for (std::size_t i = 0; i < r->ops.size(); ++i)
                PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i),
                               py::Class<Record>::create(r->ops[i]).release());
            return PyObject_GetIter(list.get());
        });
    }

    static PyObject* repr(PyObject* self) noexcept {
        return py::guard([&]() -> PyObject* {
            py::Ref<L> r(self);
            std::string s = std::string(py::ClassInfo<L>::name) + "([";
            for (std::size_t i = 0; i < r->ops.size(); ++i) {
                if (i > 0) s += ", ";
                s += record_repr(r->ops[i]);
            }
            s += "], src_len=" + std::to_string(r->src_len) +
                 ", dest_len=" + std::to_string(r->dest_len) + ")";
            return py::from_str(s).release();
        });
    }

    static PyObject* copy(PyObject* self, PyObject*) noexcept {
        return py::guard([&]() -> PyObject* {
            L v;
            {
                py::Ref<L> r(self);
                v = *r;
            }
            return py::Class<L>::create(std::move(v)).release();
        });
    }

    static py::Object as_list_of(const L& v) {
        py::Object list = py::check(PyList_New(static_cast<Py_ssize_t>(v.ops.size())));
        for (std::size_t i = 0; i < v.ops.size(); ++i)
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), record_tuple(v.ops[i]).release());
        return list;
    }

    static PyObject* as_list(PyObject* self, PyObject*) noexcept {
        return py::guard([&]() -> PyObject* {
            py::Ref<L> r(self);
            return as_list_of(*r).release();
        });
    }

    static PyObject* inverse_(PyObject* self, PyObject*) noexcept {
        return py::guard([&]() -> PyObject* {
            L v;
            {
                py::Ref<L> r(self);
                v = inverse(*r);
            }
            return py::Class<L>::create(std::move(v)).release();
        });
    }

    /// (as_list(), src_len, dest_len): what __reduce__ hands to the constructor.
    static py::Object args(const L& v) {
        py::Object list = as_list_of(v);
        return py::check(Py_BuildValue("(OKK)", list.get(), static_cast<unsigned long long>(v.src_len),
                                       static_cast<unsigned long long>(v.dest_len)));
    }

    /// The new-object part of both constructors: src_len and dest_len, then the iterator
    /// over `ops` (the interpreter's TypeError when it is not iterable).
    static py::Object lengths_and_iter(PyObject* ops, PyObject* src, PyObject* dest, L& v) {
        v.src_len = py::arg("src_len", [&] { return py::to_u64(src); });
        v.dest_len = py::arg("dest_len", [&] { return py::to_u64(dest); });
        return py::check(PyObject_GetIter(ops));
    }
};

}  // namespace tarnwick::distance::initialize
