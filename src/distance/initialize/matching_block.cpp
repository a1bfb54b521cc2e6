// Python class MatchingBlock: a mutable (a, b, size) record with value equality.
#include "distance/initialize/classes.hpp"

namespace tarnwick::py {
namespace {

using distance::initialize::MatchingBlock;

constexpr Signature<3> kNew{"__new__", {{{"a"}, {"b"}, {"size"}}}};

Object new_(PyTypeObject* type, const Args<3>& a) {
    MatchingBlock v;
    v.a = arg("a", [&] { return to_u64(a[0]); });
    v.b = arg("b", [&] { return to_u64(a[1]); });
    v.size = arg("size", [&] { return to_u64(a[2]); });
    return Class<MatchingBlock>::create_in(type, v);
}

PyObject* repr(PyObject* self) noexcept {
    return guard([&]() -> PyObject* {
        Ref<MatchingBlock> r(self);
        const std::string s = "MatchingBlock(a=" + std::to_string(r->a) + ", b=" + std::to_string(r->b) +
                              ", size=" + std::to_string(r->size) + ")";
        return from_str(s).release();
    });
}

PyGetSetDef getset[] = {
    field<MatchingBlock, &MatchingBlock::a>("a"),
    field<MatchingBlock, &MatchingBlock::b>("b"),
    field<MatchingBlock, &MatchingBlock::size>("size"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    reduce_def<MatchingBlock>(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void ClassInfo<MatchingBlock>::slots(std::vector<PyType_Slot>& s) {
    add_constructor<MatchingBlock, kNew, &new_>(s);
    s.push_back({Py_tp_repr, reinterpret_cast<void*>(&repr)});
    s.push_back({Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_value<MatchingBlock>)});
    s.push_back({Py_tp_hash, reinterpret_cast<void*>(&PyObject_HashNotImplemented)});
    s.push_back({Py_tp_getset, getset});
    s.push_back({Py_tp_methods, methods});
}

Object ClassInfo<MatchingBlock>::args(const MatchingBlock& v) {
    return check(Py_BuildValue("(KKK)", static_cast<unsigned long long>(v.a),
                               static_cast<unsigned long long>(v.b),
                               static_cast<unsigned long long>(v.size)));
}

}  // namespace tarnwick::py
