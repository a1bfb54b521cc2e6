// Record classes: a Python class over a plain C++ struct of a few fields, generated from
// one field table. The table gives the constructor (its signature, with defaults, and the
// conversion of each argument), the read-write attributes, the repr "Name(a=1, b='x')",
// __reduce__ (the class and the fields in order) and, for an indexable record, indexing
// and iteration over the fields. A class adds only what differs: its equality and hash.
//
// A record is described in its ClassInfo<T>:
//   static constexpr auto fields = std::tuple{RecordField<&T::a>{"a"},
//                                             RecordField<&T::b>{"b", "0"}};  // default "0"
//   static constexpr bool indexable = true;  // obj[i], iter(obj) over the fields
// and its slots() calls add_record_slots<T>(s).
#pragma once

#include "py/class.hpp"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace tarnwick::py {

/// One field of a record: the member, its attribute name, and its default as the
/// constructor's text signature shows it (null: a required argument).
template <auto Member>
struct RecordField {
    static constexpr auto member = Member;
    const char* name;
    const char* default_text = nullptr;
};

/// The repr text of one field value: 'text' for a str, digits for an integer, the
/// positional float text (format_float) for a float.
inline std::string field_repr(const std::string& v) { return "'" + v + "'"; }
inline std::string field_repr(uint64_t v) { return std::to_string(v); }
inline std::string field_repr(double v) { return format_float(v); }

namespace record {

template <class T>
inline constexpr std::size_t kCount = std::tuple_size_v<decltype(ClassInfo<T>::fields)>;

/// Calls f(field, index) for each field of the table of T, in order.
template <class T, class F>
void for_each_field(F&& f) {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (f(std::get<I>(ClassInfo<T>::fields), I), ...);
    }(std::make_index_sequence<kCount<T>>{});
}

/// The constructor's signature: every field, by position or keyword, with its default.
template <class T>
inline constexpr auto kNew = [] {
    Signature<kCount<T>> sig{"__new__", {}};
    std::size_t i = 0;
    std::apply([&](const auto&... f) { ((sig.params[i++] = Param{f.name, f.default_text}), ...); },
               ClassInfo<T>::fields);
    return sig;
}();

/// The constructor: each given argument converted in order (TypeErrors name it), the
/// others left at the struct's default.
template <class T>
Object construct(PyTypeObject* type, const Args<kCount<T>>& a) {
    T v{};
    for_each_field<T>([&](const auto& f, std::size_t i) {
        using V = decltype(member_type_of(std::remove_cvref_t<decltype(f)>::member));
        if (a[i]) v.*(f.member) = arg(f.name, [&] { return FieldConv<V>::from(a[i]); });
    });
    return Class<T>::create_in(type, std::move(v));
}

/// Field `i` of `v` as a new Python object.
template <class T>
Object item(const T& v, std::size_t i) {
    Object out;
    for_each_field<T>([&](const auto& f, std::size_t k) {
        using V = decltype(member_type_of(std::remove_cvref_t<decltype(f)>::member));
        if (k == i) out = FieldConv<V>::to(v.*(f.member));
    });
    return out;
}

/// The fields of `v` in order, as a new tuple (what __reduce__ hands to the constructor).
template <class T>
Object args(const T& v) {
    Object t = check(PyTuple_New(static_cast<Py_ssize_t>(kCount<T>)));
    for (std::size_t i = 0; i < kCount<T>; ++i)
        PyTuple_SetItem(t.get(), static_cast<Py_ssize_t>(i), item(v, i).release());
    return t;
}

/// "Name(a=1, b='x')": the class name and each field with its repr text.
template <class T>
std::string repr_text(const T& v) {
    std::string s = std::string(ClassInfo<T>::name) + "(";
    for_each_field<T>([&](const auto& f, std::size_t i) {
        if (i > 0) s += ", ";
        s += f.name;
        s += '=';
        s += field_repr(v.*(f.member));
    });
    return s + ")";
}

template <class T>
PyObject* repr(PyObject* self) noexcept {
    return guard([&]() -> PyObject* {
        Ref<T> r(self);
        return from_str(repr_text(*r)).release();
    });
}

template <class T>
PyObject* reduce(PyObject* self, PyObject*) noexcept {
    return guard([&]() -> PyObject* {
        Object fields;
        {
            Ref<T> r(self);
            fields = args(*r);
        }
        return check(PyTuple_Pack(2, reinterpret_cast<PyObject*>(Class<T>::type()), fields.get()))
            .release();
    });
}

/// __getitem__(idx): a negative idx counts from the end once; IndexError outside.
template <class T>
PyObject* getitem(PyObject* self, PyObject* key) noexcept {
    return guard([&]() -> PyObject* {
        const int64_t idx = arg("idx", [&] { return to_i64(key); });
        Ref<T> r(self);
        return item(*r, normalize_index(idx, kCount<T>)).release();
    });
}

/// __iter__: the iterator of a fresh list of the fields, so later changes to the object do
/// not reach it.
template <class T>
PyObject* iter(PyObject* self) noexcept {
    return guard([&]() -> PyObject* {
        Object list = check(PyList_New(static_cast<Py_ssize_t>(kCount<T>)));
        {
            Ref<T> r(self);
            for (std::size_t i = 0; i < kCount<T>; ++i)
                PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item(*r, i).release());
        }
        return check(PyObject_GetIter(list.get())).release();
    });
}

/// The attributes, one per field, built once.
template <class T>
PyGetSetDef* getset() {
    static auto defs = [] {
        std::array<PyGetSetDef, kCount<T> + 1> d{};
        for_each_field<T>([&](const auto& f, std::size_t i) {
            using F = std::remove_cvref_t<decltype(f)>;
            d[i] = field<T, F::member>(f.name);
        });
        return d;
    }();
    return defs.data();
}

template <class T>
inline PyMethodDef methods[] = {
    {"__reduce__", reinterpret_cast<PyCFunction>(&reduce<T>), METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace record

/// The fields of a record as a tuple, in order.
template <class T>
Object record_args(const T& v) {
    return record::args(v);
}

/// The repr of a record value.
template <class T>
std::string record_repr(const T& v) {
    return record::repr_text(v);
}

/// A record from the first fields-many items of a tuple or a list (a list is read from a
/// snapshot: the conversions may run Python code that changes it), converted as the
/// constructor converts them; nothing, and no error left set, when an item is missing or
/// does not convert. Errors that must reach the caller (error_must_propagate: Ctrl-C,
/// SystemExit, memory) propagate.
template <class T>
std::optional<T> record_from_items(PyObject* seq) {
    Object snapshot = PyList_Check(seq) ? Object::steal(PyList_AsTuple(seq)) : Object::borrow(seq);
    if (!snapshot) {
        if (error_must_propagate()) throw ErrorAlreadySet{};
        PyErr_Clear();
        return std::nullopt;
    }
    if (PyTuple_Size(snapshot.get()) < static_cast<Py_ssize_t>(record::kCount<T>)) return std::nullopt;
    try {
        T v{};
        record::for_each_field<T>([&](const auto& f, std::size_t i) {
            using V = decltype(member_type_of(std::remove_cvref_t<decltype(f)>::member));
            v.*(f.member) = FieldConv<V>::from(PyTuple_GetItem(snapshot.get(), static_cast<Py_ssize_t>(i)));
        });
        return v;
    } catch (...) {
        if (failure_must_propagate()) throw;
        PyErr_Clear();
        return std::nullopt;
    }
}

/// A record from the attributes of any object named like its fields: every attribute is
/// read first, then each converted as the constructor converts it; nothing, and no error
/// left set, when one is missing or does not convert. Errors that must reach the caller
/// (error_must_propagate) propagate.
template <class T>
std::optional<T> record_from_attributes(PyObject* obj) {
    try {
        std::array<Object, record::kCount<T>> values;
        bool found = true;
        record::for_each_field<T>([&](const auto& f, std::size_t i) {
            if (found) found = static_cast<bool>(values[i] = Object::steal(get_attr(obj, f.name)));
        });
        if (!found) {
            if (error_must_propagate()) throw ErrorAlreadySet{};
            PyErr_Clear();
            return std::nullopt;
        }
        T v{};
        record::for_each_field<T>([&](const auto& f, std::size_t i) {
            using V = decltype(member_type_of(std::remove_cvref_t<decltype(f)>::member));
            v.*(f.member) = FieldConv<V>::from(values[i].get());
        });
        return v;
    } catch (...) {
        if (failure_must_propagate()) throw;
        PyErr_Clear();
        return std::nullopt;
    }
}

/// The slots every record has: the constructor and its text signature, the attributes,
/// repr and __reduce__, and indexing and iteration when the record is indexable.
template <class T>
void add_record_slots(std::vector<PyType_Slot>& s) {
    add_constructor<T, record::kNew<T>, &record::construct<T>>(s);
    s.push_back(slot(Py_tp_getset, record::getset<T>()));
    s.push_back(slot(Py_tp_repr, &record::repr<T>));
    s.push_back(slot(Py_tp_methods, record::methods<T>));
    if constexpr (ClassInfo<T>::indexable) {
        s.push_back(slot(Py_tp_iter, &record::iter<T>));
        s.push_back(slot(Py_mp_subscript, &record::getitem<T>));
    }
}

}  // namespace tarnwick::py
