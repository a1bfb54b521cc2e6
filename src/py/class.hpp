// Heap types for the module's classes, written once and shared by every class.
//
// An instance is laid out as the object head, a borrow flag and the C++ value. Readers
// take a shared borrow, setters and in-place changes an exclusive one; a conflict raises
// RuntimeError "Already borrowed" (exclusive wanted) or "Already mutably borrowed"
// (shared wanted). Every class declares __module__ "tarnwick".
//
// A class is described by specialising ClassInfo<T>:
//   static constexpr const char* name;            // "Editop"
//   static void slots(std::vector<PyType_Slot>&);  // the class's own slots and tables
// and is used through Class<T>. Its constructor and methods are declared from signature
// descriptions (py/args.hpp), which give their argument errors ("Editop.__new__()",
// "BKTree.insert()") and text signatures (the class's tp_doc "Editop(tag, src_pos,
// dest_pos)\n--\n\n", a method's "insert($self, item)\n--\n\n"):
//   slots: add_constructor<T, kNewSig, &new_body>(s);   // Object new_body(PyTypeObject*, const Args<N>&)
//   table: method<T, kInsertSig, &insert>()              // Object insert(PyObject* self, const Args<N>&)
#pragma once

#include "py/args.hpp"
#include "py/convert.hpp"
#include "py/function.hpp"

#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick::py {

/// Instance layout of a class holding a T.
template <class T>
struct Instance {
    PyObject ob_base;
    int64_t borrow;  // > 0: shared readers; -1: exclusively borrowed
    T value;
};

template <class T>
struct ClassInfo;

/// Type object and instance helpers of the class holding a T.
template <class T>
class Class {
public:
    /// The type object, built once per process; borrowed, or null with an error set.
    static PyTypeObject* type() noexcept {
        if (!type_) type_ = build();
        return type_;
    }
    /// Whether `o` is an instance (subclasses included).
    static bool check(PyObject* o) noexcept {
        PyTypeObject* t = type();
        if (!t) {
            PyErr_Clear();
            return false;
        }
        return PyObject_TypeCheck(o, t);
    }
    /// The instance behind `o` (which must pass `check`).
    static Instance<T>* cast(PyObject* o) noexcept { return reinterpret_cast<Instance<T>*>(o); }

    /// A new Python object holding `value`, allocated with the type's allocator.
    static Object create(T value) {
        PyTypeObject* t = type();
        if (!t) throw_already_set();
        return create_in(t, std::move(value));
    }
    /// A new instance of `t` (the class or a subclass) holding `value`.
    static Object create_in(PyTypeObject* t, T value) {
        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(t, Py_tp_alloc));
        if (!alloc) alloc = PyType_GenericAlloc;
        Object obj = py::check(alloc(t, 0));
        Instance<T>* inst = cast(obj.get());
        inst->borrow = 0;
        new (&inst->value) T(std::move(value));
        return obj;
    }

    /// tp_dealloc: destroys the value, frees the object and drops the type reference.
    static void dealloc(PyObject* self) noexcept {
        PyTypeObject* t = Py_TYPE(self);
        cast(self)->value.~T();
        auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(t, Py_tp_free));
        free_fn(self);
        Py_DECREF(reinterpret_cast<PyObject*>(t));
    }

private:
    static PyTypeObject* build() noexcept {
        return guard([]() -> PyTypeObject* {
            static std::string qualname = std::string("tarnwick.") + ClassInfo<T>::name;
            std::vector<PyType_Slot> slots;
            slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(&Class<T>::dealloc)});
            ClassInfo<T>::slots(slots);
            slots.push_back({0, nullptr});
            PyType_Spec spec{qualname.c_str(), static_cast<int>(sizeof(Instance<T>)), 0,
                             Py_TPFLAGS_DEFAULT, slots.data()};
            return reinterpret_cast<PyTypeObject*>(py::check(PyType_FromSpec(&spec)).release());
        });
    }
    static inline PyTypeObject* type_ = nullptr;
};

/// Shared borrow of an instance for the duration of a read.
template <class T>
class Ref {
public:
    explicit Ref(PyObject* o) : inst_(Class<T>::cast(o)) {
        if (inst_->borrow < 0) throw Error{PyExc_RuntimeError, "Already mutably borrowed", {}};
        ++inst_->borrow;
    }
    ~Ref() { --inst_->borrow; }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    const T& operator*() const noexcept { return inst_->value; }
    const T* operator->() const noexcept { return &inst_->value; }

private:
    Instance<T>* inst_;
};

/// Exclusive borrow of an instance for the duration of a change.
template <class T>
class RefMut {
public:
    explicit RefMut(PyObject* o) : inst_(Class<T>::cast(o)) {
        if (inst_->borrow != 0) throw Error{PyExc_RuntimeError, "Already borrowed", {}};
        inst_->borrow = -1;
    }
    ~RefMut() { inst_->borrow = 0; }
    RefMut(const RefMut&) = delete;
    RefMut& operator=(const RefMut&) = delete;
    T& operator*() const noexcept { return inst_->value; }
    T* operator->() const noexcept { return &inst_->value; }

private:
    Instance<T>* inst_;
};

/// A type slot: `id` with the function or table `p`.
template <class P>
PyType_Slot slot(int id, P* p) noexcept {
    return PyType_Slot{id, reinterpret_cast<void*>(p)};
}

// ---- Constructors and methods from signature descriptions ----

/// tp_new of the constructor `Sig` with `Body`, which builds the instance of `type`.
template <class T, const auto& Sig, auto Body>
PyObject* constructor_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guard([&]() -> PyObject* {
        return Body(type, bind_tuple(Sig, ClassInfo<T>::name, args, kwargs)).release();
    });
}

/// Adds tp_new and the tp_doc that carries the constructor's text signature.
template <class T, const auto& Sig, auto Body>
void add_constructor(std::vector<PyType_Slot>& slots) {
    static const std::string doc = text_signature(Sig, Role::Constructor, ClassInfo<T>::name);
    slots.push_back({Py_tp_new, reinterpret_cast<void*>(&constructor_entry<T, Sig, Body>)});
    slots.push_back({Py_tp_doc, const_cast<char*>(doc.c_str())});
}

/// tp_new of a class whose instances come only from its own functions: TypeError "No
/// constructor defined for {name}".
template <class T>
PyObject* no_constructor_entry(PyTypeObject*, PyObject*, PyObject*) noexcept {
    PyErr_Format(PyExc_TypeError, "No constructor defined for %s", ClassInfo<T>::name);
    return nullptr;
}

/// Adds the tp_new that refuses construction (without it the type would inherit object's,
/// which makes an instance whose value was never built). The class keeps no tp_doc.
template <class T>
void add_no_constructor(std::vector<PyType_Slot>& slots) {
    slots.push_back({Py_tp_new, reinterpret_cast<void*>(&no_constructor_entry<T>)});
}

/// The fastcall entry point of a static method: binds (errors name "Class.name()") and
/// runs `Body` on the bound arguments.
template <class T, const auto& Sig, auto Body>
PyObject* static_method_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) noexcept {
    return guard([&]() -> PyObject* {
        return Body(bind(Sig, ClassInfo<T>::name, args, nargs, kwnames)).release();
    });
}

/// The method-table entry of the static method `Sig` of the class holding a T, with
/// `Object Body(const Args<N>&)`; its text signature has no $self ("load(path)").
template <class T, const auto& Sig, auto Body>
PyMethodDef static_method() {
    static const std::string doc = text_signature(Sig, Role::Function);
    return PyMethodDef{Sig.name, as_cfunction(&static_method_entry<T, Sig, Body>),
                       METH_STATIC | METH_FASTCALL | METH_KEYWORDS, doc.c_str()};
}

/// The fastcall entry point of a method with parameters.
template <class T, const auto& Sig, auto Body>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept {
    return guard([&]() -> PyObject* {
        return Body(self, bind(Sig, ClassInfo<T>::name, args, nargs, kwnames)).release();
    });
}

/// The entry point of a method without parameters (the interpreter checks that none
/// is given).
template <auto Body>
PyObject* noargs_entry(PyObject* self, PyObject*) noexcept {
    return guard([&]() -> PyObject* { return Body(self).release(); });
}

/// The method-table entry of method `Sig` of the class holding a T: METH_NOARGS with
/// `Object Body(PyObject* self)` when it has no parameters, else METH_FASTCALL |
/// METH_KEYWORDS with `Object Body(PyObject* self, const Args<N>&)`.
template <class T, const auto& Sig, auto Body>
PyMethodDef method() {
    static const std::string doc = text_signature(Sig, Role::Method);
    if constexpr (kArity<Sig> == 0)
        return PyMethodDef{Sig.name, as_cfunction(&noargs_entry<Body>), METH_NOARGS, doc.c_str()};
    else
        return PyMethodDef{Sig.name, as_cfunction(&method_entry<T, Sig, Body>),
                           METH_FASTCALL | METH_KEYWORDS, doc.c_str()};
}

// ---- Field conversions used by the generic getters and setters ----

template <class V>
struct FieldConv;
template <>
struct FieldConv<double> {
    static Object to(double v) { return from_f64(v); }
    static double from(PyObject* o) { return to_f64(o); }
};
template <>
struct FieldConv<uint64_t> {
    static Object to(uint64_t v) { return from_u64(v); }
    static uint64_t from(PyObject* o) { return to_u64(o); }
};
template <>
struct FieldConv<std::string> {
    static Object to(const std::string& v) { return from_str(v); }
    static std::string from(PyObject* o) { return std::string(to_str(o)); }
};

template <class T, class V>
V member_type_of(V T::*);

/// Getter of field `M` (a pointer to member of T); shared borrow.
template <class T, auto M>
PyObject* get_field(PyObject* self, void*) noexcept {
    return guard([&]() -> PyObject* {
        Ref<T> r(self);
        return FieldConv<decltype(member_type_of(M))>::to((*r).*M).release();
    });
}

/// Setter of field `M`; the closure is the attribute name. The value is converted before
/// the exclusive borrow is taken; deletion raises AttributeError "can't delete attribute".
template <class T, auto M>
int set_field(PyObject* self, PyObject* value, void* closure) noexcept {
    return guard(
        [&]() -> int {
            if (!value) throw Error{PyExc_AttributeError, "can't delete attribute", {}};
            using V = decltype(member_type_of(M));
            V v = arg(static_cast<const char*>(closure), [&] { return FieldConv<V>::from(value); });
            RefMut<T> r(self);
            (*r).*M = std::move(v);
            return 0;
        },
        -1);
}

/// Getter of a read-only attribute computed from the value: `Object Get(const T&)` under a
/// shared borrow.
template <class T, auto Get>
PyObject* get_computed(PyObject* self, void*) noexcept {
    return guard([&]() -> PyObject* {
        Ref<T> r(self);
        return Get(*r).release();
    });
}

/// A read-only attribute named `name` computed by `Get`.
template <class T, auto Get>
PyGetSetDef computed(const char* name) {
    return PyGetSetDef{name, &get_computed<T, Get>, nullptr, nullptr, nullptr};
}

/// A read-write attribute for field `M` named `name`.
template <class T, auto M>
PyGetSetDef field(const char* name) {
    return PyGetSetDef{name, &get_field<T, M>, &set_field<T, M>, nullptr,
                       const_cast<char*>(name)};
}

/// Rich comparison by value equality with instances of the same class: == and != only
/// (!= negates the interpreter's == of the same operands); NotImplemented otherwise.
template <class T>
PyObject* richcompare_value(PyObject* a, PyObject* b, int op) noexcept {
    return guard([&]() -> PyObject* {
        if (op == Py_NE) {
            // The full comparison, not the identity shortcut of PyObject_RichCompareBool:
            // a record holding NaN differs from itself.
            Object r = py::check(py::rich_compare(a, b, Py_EQ));
            const int eq = py::is_true(r.get());
            if (eq < 0) throw_already_set();
            return Py_NewRef(eq ? Py_False : Py_True);
        }
        if (op != Py_EQ || !Class<T>::check(a) || !Class<T>::check(b))
            return Py_NewRef(Py_NotImplemented);
        Ref<T> ra(a), rb(b);
        return Py_NewRef(*ra == *rb ? Py_True : Py_False);
    });
}

/// __reduce__: (type(self), ClassInfo<T>::args(value)).
template <class T>
PyObject* reduce(PyObject* self, PyObject*) noexcept {
    return guard([&]() -> PyObject* {
        Object args;
        {
            Ref<T> r(self);
            args = ClassInfo<T>::args(*r);
        }
        return py::check(PyTuple_Pack(2, reinterpret_cast<PyObject*>(Class<T>::type()), args.get()))
            .release();
    });
}

/// The method-table entry of a method without parameters and without a docstring.
inline PyMethodDef noargs(const char* name, PyObject* (*f)(PyObject*, PyObject*)) noexcept {
    return PyMethodDef{name, f, METH_NOARGS, nullptr};
}

/// The method-table entry of `reduce<T>`.
template <class T>
PyMethodDef reduce_def() {
    return noargs("__reduce__", &reduce<T>);
}

/// Normalises a sequence index: negative values get `count` added once; IndexError
/// "index out of range" when outside 0..count-1.
inline std::size_t normalize_index(int64_t idx, std::size_t count) {
    if (idx < 0) idx += static_cast<int64_t>(count);
    if (idx < 0 || static_cast<uint64_t>(idx) >= count)
        throw Error{PyExc_IndexError, "index out of range", {}};
    return static_cast<std::size_t>(idx);
}

/// Signed 64-bit integer conversion (int or __index__).
int64_t to_i64(PyObject* o);

/// Float text for reprs: shortest round-trip digits laid out positionally ("100", "12.5",
/// "100000000000000000000000", "0.0001"), "NaN", "inf", "-inf", "-0".
std::string format_float(double v);

}  // namespace tarnwick::py
