// Python class BKTree. Methods that change the tree hold it exclusively from before they
// read their arguments, so Python code run while a sequence is read (a custom sequence's
// iteration) cannot use the same tree at the same time.
#include "distance/bktree.hpp"

#include "module.hpp"
#include "py/module.hpp"

#include <string_view>
#include <vector>

namespace tarnwick::py {
namespace {

using distance::bktree::BKTree;

constexpr Signature<0> kNew{"__new__", {}};

Object new_(PyTypeObject* type, const Args<0>&) { return Class<BKTree>::create_in(type, BKTree{}); }

/// The strings of `items` (a sequence of str, a str itself refused), each kept alive by
/// its object. TypeErrors name the argument `items`.
struct StrList {
    std::vector<Object> objects;
    std::vector<std::string_view> views;
};

StrList read_items(PyObject* items) {
    StrList out;
    arg("items", [&] {
        require_sequence(items, "a sequence of str");
        return 0;
    });
    const Object it = check(PyObject_GetIter(items));
    while (Object item = Object::steal(PyIter_Next(it.get()))) {
        out.views.push_back(arg("items", [&] { return to_str(item.get()); }));
        out.objects.push_back(std::move(item));
    }
    check_error();
    return out;
}

/// A list of new str objects, one per value.
Object str_list(const std::vector<std::string_view>& values) {
    Object list = check(PyList_New(static_cast<Py_ssize_t>(values.size())));
    for (std::size_t i = 0; i < values.size(); ++i)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), from_str(values[i]).release());
    return list;
}

constexpr Signature<1> kInsert{"insert", {{{"item"}}}};
Object insert(PyObject* self, const Args<1>& a) {
    RefMut<BKTree> tree(self);
    const std::string_view item = arg("item", [&] { return to_str(a[0]); });
    tree->insert(item);
    return Object::borrow(Py_None);
}

constexpr Signature<2> kDedupe{"dedupe", {{{"items"}, {"threshold"}}}};
Object dedupe(PyObject* self, const Args<2>& a) {
    RefMut<BKTree> tree(self);
    const StrList items = read_items(a[0]);
    const uint64_t threshold = arg("threshold", [&] { return to_u64(a[1]); });
    const std::vector<std::size_t> kept = tree->dedupe(items.views, threshold);
    Object list = check(PyList_New(static_cast<Py_ssize_t>(kept.size())));
    for (std::size_t i = 0; i < kept.size(); ++i)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), items.objects[kept[i]].copy().release());
    return list;
}

constexpr Signature<0> kAllValues{"all_values", {}, 0, "Collect all values in the tree via DFS."};
constexpr Signature<0> kGetState{"__getstate__", {}};
Object all_values(PyObject* self) {
    Ref<BKTree> tree(self);
    return str_list(tree->values());
}

constexpr Signature<0> kReduce{
    "__reduce__", {}, 0,
    "Pickle support: serialise as (cls, args, state) \u2014 pickle calls cls(), then "
    "__setstate__(state)."};
Object reduce(PyObject* self) {
    Object state;
    {
        Ref<BKTree> tree(self);
        state = str_list(tree->values());
    }
    const Object empty = check(PyTuple_New(0));
    return check(PyTuple_Pack(3, reinterpret_cast<PyObject*>(Class<BKTree>::type()), empty.get(),
                              state.get()));
}

constexpr Signature<1> kSetState{"__setstate__", {{{"state"}}}};
Object setstate(PyObject* self, const Args<1>& a) {
    RefMut<BKTree> tree(self);
    tree->clear();
    // An error of the iteration itself (its __iter__ included) is raised unchanged.
    const Object it = check(PyObject_GetIter(a[0]));
    while (const Object item = Object::steal(PyIter_Next(it.get())))
        tree->insert(arg("state", [&] { return to_str(item.get()); }));
    check_error();
    return Object::borrow(Py_None);
}

PyMethodDef methods[] = {
    method<BKTree, kInsert, &insert>(),
    method<BKTree, kDedupe, &dedupe>(),
    method<BKTree, kAllValues, &all_values>(),
    method<BKTree, kReduce, &reduce>(),
    method<BKTree, kGetState, &all_values>(),
    method<BKTree, kSetState, &setstate>(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void ClassInfo<BKTree>::slots(std::vector<PyType_Slot>& s) {
    add_constructor<BKTree, kNew, &new_>(s);
    s.push_back({Py_tp_methods, methods});
}

}  // namespace tarnwick::py

namespace tarnwick::distance::bktree {
void register_class(py::Module& m) { m.add_class<BKTree>(); }
}  // namespace tarnwick::distance::bktree
