// Python class ScoreAlignment: a mutable (score, src_start, src_end, dest_start, dest_end)
// record with value equality, iteration and indexing over its five fields.
#include "distance/initialize/classes.hpp"

namespace tarnwick::py {
namespace {

using distance::initialize::ScoreAlignment;

constexpr Signature<5> kNew{
    "__new__", {{{"score"}, {"src_start"}, {"src_end"}, {"dest_start"}, {"dest_end"}}}};

Object new_(PyTypeObject* type, const Args<5>& a) {
    ScoreAlignment v;
    v.score = arg("score", [&] { return to_f64(a[0]); });
    v.src_start = arg("src_start", [&] { return to_u64(a[1]); });
    v.src_end = arg("src_end", [&] { return to_u64(a[2]); });
    v.dest_start = arg("dest_start", [&] { return to_u64(a[3]); });
    v.dest_end = arg("dest_end", [&] { return to_u64(a[4]); });
    return Class<ScoreAlignment>::create_in(type, v);
}

PyObject* repr(PyObject* self) noexcept {
    return guard([&]() -> PyObject* {
        Ref<ScoreAlignment> r(self);
        const std::string s = "ScoreAlignment(score=" + format_float(r->score) +
                              ", src_start=" + std::to_string(r->src_start) +
                              ", src_end=" + std::to_string(r->src_end) +
                              ", dest_start=" + std::to_string(r->dest_start) +
                              ", dest_end=" + std::to_string(r->dest_end) + ")";
        return from_str(s).release();
    });
}

/// Field `i` (0..4) as a new Python object.
Object item(const ScoreAlignment& v, std::size_t i) {
    switch (i) {
        case 0: return from_f64(v.score);
        case 1: return from_u64(v.src_start);
        case 2: return from_u64(v.src_end);
        case 3: return from_u64(v.dest_start);
        default: return from_u64(v.dest_end);
    }
}

/// __iter__: the iterator of a fresh list of the five fields, so later changes to the
/// object do not reach it.
PyObject* iter(PyObject* self) noexcept {
    return guard([&]() -> PyObject* {
        Object list = check(PyList_New(5));
        {
            Ref<ScoreAlignment> r(self);
            for (std::size_t i = 0; i < 5; ++i)
                PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item(*r, i).release());
        }
        return check(PyObject_GetIter(list.get())).release();
    });
}

/// __getitem__(idx): a negative idx counts from the end once; IndexError outside -5..4.
PyObject* getitem(PyObject* self, PyObject* idx) noexcept {
    return guard([&]() -> PyObject* {
        const int64_t i = arg("idx", [&] { return to_i64(idx); });
        const std::size_t k = normalize_index(i, 5);
        Ref<ScoreAlignment> r(self);
        return item(*r, k).release();
    });
}

PyGetSetDef getset[] = {
    field<ScoreAlignment, &ScoreAlignment::score>("score"),
    field<ScoreAlignment, &ScoreAlignment::src_start>("src_start"),
    field<ScoreAlignment, &ScoreAlignment::src_end>("src_end"),
    field<ScoreAlignment, &ScoreAlignment::dest_start>("dest_start"),
    field<ScoreAlignment, &ScoreAlignment::dest_end>("dest_end"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    reduce_def<ScoreAlignment>(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void ClassInfo<ScoreAlignment>::slots(std::vector<PyType_Slot>& s) {
    add_constructor<ScoreAlignment, kNew, &new_>(s);
    s.push_back({Py_tp_repr, reinterpret_cast<void*>(&repr)});
    s.push_back({Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_value<ScoreAlignment>)});
    s.push_back({Py_tp_hash, reinterpret_cast<void*>(&PyObject_HashNotImplemented)});
    s.push_back({Py_tp_iter, reinterpret_cast<void*>(&iter)});
    s.push_back({Py_mp_subscript, reinterpret_cast<void*>(&getitem)});
    s.push_back({Py_tp_getset, getset});
    s.push_back({Py_tp_methods, methods});
}

Object ClassInfo<ScoreAlignment>::args(const ScoreAlignment& v) {
    return check(Py_BuildValue("(dKKKK)", v.score, static_cast<unsigned long long>(v.src_start),
                               static_cast<unsigned long long>(v.src_end),
                               static_cast<unsigned long long>(v.dest_start),
                               static_cast<unsigned long long>(v.dest_end)));
}

}  // namespace tarnwick::py
