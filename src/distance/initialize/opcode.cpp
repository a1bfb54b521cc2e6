// Python class Opcode: a mutable, hashable run record (tag, src_start, src_end,
// dest_start, dest_end) that compares equal to tuples and lists of the same shape.
#include "distance/initialize/edit_classes.hpp"

namespace tarnwick::py {
namespace {

using distance::initialize::Opcode;

constexpr Signature<5> kNew{"__new__",
                            {{{"tag", "\"equal\""},
                              {"src_start", "0"},
                              {"src_end", "0"},
                              {"dest_start", "0"},
                              {"dest_end", "0"}}}};

Object new_(PyTypeObject* type, const Args<5>& a) {
    Opcode v;
    if (a[0]) v.tag = arg("tag", [&] { return std::string(to_str(a[0])); });
    if (a[1]) v.src_start = arg("src_start", [&] { return to_u64(a[1]); });
    if (a[2]) v.src_end = arg("src_end", [&] { return to_u64(a[2]); });
    if (a[3]) v.dest_start = arg("dest_start", [&] { return to_u64(a[3]); });
    if (a[4]) v.dest_end = arg("dest_end", [&] { return to_u64(a[4]); });
    return Class<Opcode>::create_in(type, std::move(v));
}

PyObject* repr(PyObject* self) noexcept {
    return guard([&]() -> PyObject* {
        Ref<Opcode> r(self);
        return from_str(distance::initialize::opcode_repr(*r)).release();
    });
}

/// Field `i` (0..4) as a new Python object.
Object item(const Opcode& o, std::size_t i) {
    switch (i) {
        case 0: return from_str(o.tag);
        case 1: return from_u64(o.src_start);
        case 2: return from_u64(o.src_end);
        case 3: return from_u64(o.dest_start);
        default: return from_u64(o.dest_end);
    }
}

PyObject* iter(PyObject* self) noexcept {
    return guard([&]() -> PyObject* {
        Object list = check(PyList_New(5));
        {
            Ref<Opcode> r(self);
            for (std::size_t i = 0; i < 5; ++i)
                PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item(*r, i).release());
        }
        return PyObject_GetIter(list.get());
    });
}

PyObject* getitem(PyObject* self, PyObject* key) noexcept {
    return guard([&]() -> PyObject* {
        const int64_t idx = arg("idx", [&] { return to_i64(key); });
        Ref<Opcode> r(self);
        return item(*r, normalize_index(idx, 5)).release();
    });
}

/// Whether `other` holds the same record: an Opcode, or a tuple or list of five items.
bool equals(const Opcode& o, PyObject* other) {
    if (Class<Opcode>::check(other)) {
        Ref<Opcode> r(other);
        return o == *r;
    }
    const bool is_tuple = PyTuple_Check(other), is_list = PyList_Check(other);
    if (!is_tuple && !is_list) return false;
    const Py_ssize_t n = is_list ? PyList_Size(other) : PyTuple_Size(other);
    std::string tag;
    uint64_t f[4];
    if (n != 5 || !distance::initialize::read_fields(other, is_list, tag, f, 4)) return false;
    return tag == o.tag && f[0] == o.src_start && f[1] == o.src_end && f[2] == o.dest_start &&
           f[3] == o.dest_end;
}

PyObject* richcompare(PyObject* a, PyObject* b, int op) noexcept {
    return guard([&]() -> PyObject* {
        if (op == Py_NE) {
            const int eq = PyObject_RichCompareBool(a, b, Py_EQ);
            if (eq < 0) throw_already_set();
            return Py_NewRef(eq ? Py_False : Py_True);
        }
        if (op != Py_EQ || !Class<Opcode>::check(a)) return Py_NewRef(Py_NotImplemented);
        if (Class<Opcode>::cast(a)->borrow < 0) return Py_NewRef(Py_NotImplemented);
        Ref<Opcode> r(a);
        return Py_NewRef(equals(*r, b) ? Py_True : Py_False);
    });
}

Py_hash_t hash(PyObject* self) noexcept {
    return guard(
        [&]() -> Py_hash_t {
            Ref<Opcode> r(self);
            const uint64_t f[4] = {r->src_start, r->src_end, r->dest_start, r->dest_end};
            return static_cast<Py_hash_t>(distance::initialize::record_hash(r->tag, f));
        },
        Py_hash_t{-1});
}

PyGetSetDef getset[] = {
    field<Opcode, &Opcode::tag>("tag"),
    field<Opcode, &Opcode::src_start>("src_start"),
    field<Opcode, &Opcode::src_end>("src_end"),
    field<Opcode, &Opcode::dest_start>("dest_start"),
    field<Opcode, &Opcode::dest_end>("dest_end"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    reduce_def<Opcode>(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void ClassInfo<Opcode>::slots(std::vector<PyType_Slot>& s) {
    add_constructor<Opcode, kNew, &new_>(s);
    s.push_back({Py_tp_repr, reinterpret_cast<void*>(&repr)});
    s.push_back({Py_tp_richcompare, reinterpret_cast<void*>(&richcompare)});
    s.push_back({Py_tp_hash, reinterpret_cast<void*>(&hash)});
    s.push_back({Py_tp_iter, reinterpret_cast<void*>(&iter)});
    s.push_back({Py_mp_subscript, reinterpret_cast<void*>(&getitem)});
    s.push_back({Py_tp_getset, getset});
    s.push_back({Py_tp_methods, methods});
}

Object ClassInfo<Opcode>::args(const Opcode& v) {
    return check(Py_BuildValue("(s#KKKK)", v.tag.data(), static_cast<Py_ssize_t>(v.tag.size()),
                               static_cast<unsigned long long>(v.src_start),
                               static_cast<unsigned long long>(v.src_end),
                               static_cast<unsigned long long>(v.dest_start),
                               static_cast<unsigned long long>(v.dest_end)));
}

}  // namespace tarnwick::py
