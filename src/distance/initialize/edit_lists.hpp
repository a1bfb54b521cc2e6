// Behaviour shared by the list classes Editops and Opcodes, written once over the list
// type: length, iteration, repr, value equality, the two length attributes, copy, as_list,
// inverse and the constructor's arguments.
#pragma once

#include "cancel.hpp"
#include "distance/initialize/classes.hpp"

namespace tarnwick::distance::initialize {

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
            return py::get_iter(list.get());
        });
    }

    static PyObject* repr(PyObject* self) noexcept {
        return py::guard([&]() -> PyObject* {
            py::Ref<L> r(self);
            std::string s = std::string(py::ClassInfo<L>::name) + "([";
            for (std::size_t i = 0; i < r->ops.size(); ++i) {
                if (i > 0) s += ", ";
                s += py::record_repr(r->ops[i]);
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
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), py::record_args(v.ops[i]).release());
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
        return py::check(py::get_iter(ops));
    }

    static inline PyGetSetDef getset[] = {
        py::field<L, &L::src_len>("src_len"),
        py::field<L, &L::dest_len>("dest_len"),
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };

    /// The slots both list classes have: repr, value equality (unhashable), iteration,
    /// length and the length attributes.
    static void add_slots(std::vector<PyType_Slot>& s) {
        s.push_back(py::slot(Py_tp_repr, &repr));
        s.push_back(py::slot(Py_tp_richcompare, &py::richcompare_value<L>));
        s.push_back(py::slot(Py_tp_hash, &PyObject_HashNotImplemented));
        s.push_back(py::slot(Py_tp_iter, &iter));
        s.push_back(py::slot(Py_sq_length, &len));
        s.push_back(py::slot(Py_mp_length, &len));
        s.push_back(py::slot(Py_tp_getset, getset));
    }
};

}  // namespace tarnwick::distance::initialize
