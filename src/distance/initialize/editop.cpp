// Python class Editop: a mutable, hashable (tag, src_pos, dest_pos) record that compares
// equal to tuples, lists and objects of the same shape.
#include "distance/initialize/edit_classes.hpp"

namespace tarnwick::py {
namespace {

using distance::initialize::Editop;

constexpr Signature<3> kNew{"__new__", {{{"tag"}, {"src_pos"}, {"dest_pos"}}}};

Object new_(PyTypeObject* type, const Args<3>& a) {
    Editop v;
    v.tag = arg("tag", [&] { return std::string(to_str(a[0])); });
    v.src_pos = arg("src_pos", [&] { return to_u64(a[1]); });
    v.dest_pos = arg("dest_pos", [&] { return to_u64(a[2]); });
    return Class<Editop>::create_in(type, std::move(v));
}

PyObject* repr(PyObject* self) noexcept {
    return guard([&]() -> PyObject* {
        Ref<Editop> r(self);
        return from_str(distance::initialize::editop_repr(*r)).release();
    });
}

/// Field `i` (0..2) as a new Python object.
Object item(const Editop& e, std::size_t i) {
    if (i == 0) return from_str(e.tag);
    return from_u64(i == 1 ? e.src_pos : e.dest_pos);
}

PyObject* iter(PyObject* self) noexcept {
    return guard([&]() -> PyObject* {
        Object list = check(PyList_New(3));
        {
            Ref<Editop> r(self);
            for (std::size_t i = 0; i < 3; ++i)
                PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item(*r, i).release());
        }
        return PyObject_GetIter(list.get());
    });
}

PyObject* getitem(PyObject* self, PyObject* key) noexcept {
    return guard([&]() -> PyObject* {
        const int64_t idx = arg("idx", [&] { return to_i64(key); });
        Ref<Editop> r(self);
        return item(*r, normalize_index(idx, 3)).release();
    });
}

/// Whether `other` holds the same record; conversion errors only make a case fail.
bool equals(const Editop& e, PyObject* other) {
    if (Class<Editop>::check(other)) {
        Ref<Editop> o(other);
        return e == *o;
    }
    std::string tag;
    uint64_t f[2];
    const bool is_tuple = PyTuple_Check(other), is_list = PyList_Check(other);
    if (is_tuple || is_list) {
        const Py_ssize_t n = is_list ? PyList_Size(other) : PyTuple_Size(other);
        if (n == 3 && distance::initialize::read_fields(other, is_list, tag, f, 2))
            return tag == e.tag && f[0] == e.src_pos && f[1] == e.dest_pos;
    }
    // Duck typing: any object with the three attributes compares by value.
    Object t = Object::steal(PyObject_GetAttrString(other, "tag"));
    Object s = t ? Object::steal(PyObject_GetAttrString(other, "src_pos")) : Object();
    Object d = s ? Object::steal(PyObject_GetAttrString(other, "dest_pos")) : Object();
    if (!d) {
        PyErr_Clear();
        return false;
    }
    try {
        tag = std::string(to_str(t.get()));
        f[0] = to_u64(s.get());
        f[1] = to_u64(d.get());
    } catch (...) {
        PyErr_Clear();
        return false;
    }
    return tag == e.tag && f[0] == e.src_pos && f[1] == e.dest_pos;
}

PyObject* richcompare(PyObject* a, PyObject* b, int op) noexcept {
    return guard([&]() -> PyObject* {
        if (op == Py_NE) {
            const int eq = PyObject_RichCompareBool(a, b, Py_EQ);
            if (eq < 0) throw_already_set();
            return Py_NewRef(eq ? Py_False : Py_True);
        }
        if (op != Py_EQ || !Class<Editop>::check(a)) return Py_NewRef(Py_NotImplemented);
        if (Class<Editop>::cast(a)->borrow < 0) return Py_NewRef(Py_NotImplemented);
        Ref<Editop> r(a);
        return Py_NewRef(equals(*r, b) ? Py_True : Py_False);
    });
}

Py_hash_t hash(PyObject* self) noexcept {
    return guard(
        [&]() -> Py_hash_t {
            Ref<Editop> r(self);
            const uint64_t f[2] = {r->src_pos, r->dest_pos};
            return static_cast<Py_hash_t>(distance::initialize::record_hash(r->tag, f));
        },
        Py_hash_t{-1});
}

PyGetSetDef getset[] = {
    field<Editop, &Editop::tag>("tag"),
    field<Editop, &Editop::src_pos>("src_pos"),
    field<Editop, &Editop::dest_pos>("dest_pos"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    reduce_def<Editop>(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void ClassInfo<Editop>::slots(std::vector<PyType_Slot>& s) {
    add_constructor<Editop, kNew, &new_>(s);
    s.push_back({Py_tp_repr, reinterpret_cast<void*>(&repr)});
    s.push_back({Py_tp_richcompare, reinterpret_cast<void*>(&richcompare)});
    s.push_back({Py_tp_hash, reinterpret_cast<void*>(&hash)});
    s.push_back({Py_tp_iter, reinterpret_cast<void*>(&iter)});
    s.push_back({Py_mp_subscript, reinterpret_cast<void*>(&getitem)});
    s.push_back({Py_tp_getset, getset});
    s.push_back({Py_tp_methods, methods});
}

Object ClassInfo<Editop>::args(const Editop& v) {
    return check(Py_BuildValue("(s#KK)", v.tag.data(), static_cast<Py_ssize_t>(v.tag.size()),
                               static_cast<unsigned long long>(v.src_pos),
                               static_cast<unsigned long long>(v.dest_pos)));
}

}  // namespace tarnwick::py
