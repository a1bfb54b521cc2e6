// Python class BKTree. Methods that change the tree hold it exclusively from before they
// read their arguments, so Python code run while a sequence is read (a custom sequence's
// iteration) cannot use the same tree at the same time.
#include "distance/bktree.hpp"

#include "module.hpp"
#include "py/module.hpp"

#include <string_view>
#include <vector>

namespace tarnwick::distance::bktree {
namespace {

constexpr py::Signature<0> kNew{"__new__", {}};

py::Object new_(PyTypeObject* type, const py::Args<0>&) {
    return py::Class<BKTree>::create_in(type, BKTree{});
}

/// The strings of `items` (a sequence of str, a str itself refused), each kept alive by
/// its object. TypeErrors name the argument `items`.
struct StrList {
    std::vector<py::Object> objects;
    std::vector<std::string_view> views;
};

StrList read_items(PyObject* items) {
    StrList out;
    py::arg("items", [&] {
        py::require_sequence(items, "a sequence of str");
        return 0;
    });
    const py::Object it = py::check(py::get_iter(items));
    while (py::Object item = py::Object::steal(py::iter_next(it.get()))) {
        out.views.push_back(py::arg("items", [&] { return py::to_str(item.get()); }));
        out.objects.push_back(std::move(item));
    }
    py::check_error();
    return out;
}

/// A list of new str objects, one per value.
py::Object str_list(const std::vector<std::string_view>& values) {
    py::Object list = py::check(PyList_New(static_cast<Py_ssize_t>(values.size())));
    for (std::size_t i = 0; i < values.size(); ++i)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), py::from_str(values[i]).release());
    return list;
}

constexpr py::Signature<1> kInsert{"insert", {{{"item"}}}};
py::Object insert(PyObject* self, const py::Args<1>& a) {
    py::RefMut<BKTree> tree(self);
    const std::string_view item = py::arg("item", [&] { return py::to_str(a[0]); });
    tree->insert(item);
    return py::Object::borrow(Py_None);
}

constexpr py::Signature<2> kDedupe{"dedupe", {{{"items"}, {"threshold"}}}};
py::Object dedupe(PyObject* self, const py::Args<2>& a) {
    py::RefMut<BKTree> tree(self);
    const StrList items = read_items(a[0]);
    const uint64_t threshold = py::arg("threshold", [&] { return py::to_u64(a[1]); });
    const std::vector<std::size_t> kept = tree->dedupe(items.views, threshold);
    py::Object list = py::check(PyList_New(static_cast<Py_ssize_t>(kept.size())));
    for (std::size_t i = 0; i < kept.size(); ++i)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), items.objects[kept[i]].copy().release());
    return list;
}

constexpr py::Signature<0> kAllValues{"all_values", {}, 0, "Collect all values in the tree via DFS."};
constexpr py::Signature<0> kGetState{"__getstate__", {}};
py::Object all_values(PyObject* self) {
    py::Ref<BKTree> tree(self);
    return str_list(tree->values());
}

constexpr py::Signature<0> kReduce{
    "__reduce__", {}, 0,
    "Pickle support: serialise as (cls, args, state) \u2014 pickle calls cls(), then "
    "__setstate__(state)."};
py::Object reduce(PyObject* self) {
    py::Object state;
    {
        py::Ref<BKTree> tree(self);
        state = str_list(tree->values());
    }
    const py::Object empty = py::check(PyTuple_New(0));
    return py::check(PyTuple_Pack(3, reinterpret_cast<PyObject*>(py::Class<BKTree>::type()),
                                  empty.get(), state.get()));
}

constexpr py::Signature<1> kSetState{"__setstate__", {{{"state"}}}};
py::Object setstate(PyObject* self, const py::Args<1>& a) {
    py::RefMut<BKTree> tree(self);
    tree->clear();
    // An error of the iteration itself (its __iter__ included) is raised unchanged.
    const py::Object it = py::check(py::get_iter(a[0]));
    while (const py::Object item = py::Object::steal(py::iter_next(it.get())))
        tree->insert(py::arg("state", [&] { return py::to_str(item.get()); }));
    py::check_error();
    return py::Object::borrow(Py_None);
}

PyMethodDef methods[] = {
    py::method<BKTree, kInsert, &insert>(),
    py::method<BKTree, kDedupe, &dedupe>(),
    py::method<BKTree, kAllValues, &all_values>(),
    py::method<BKTree, kReduce, &reduce>(),
    py::method<BKTree, kGetState, &all_values>(),
    py::method<BKTree, kSetState, &setstate>(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace
}  // namespace tarnwick::distance::bktree

namespace tarnwick::py {

void ClassInfo<distance::bktree::BKTree>::slots(std::vector<PyType_Slot>& s) {
    using namespace distance::bktree;
    add_constructor<BKTree, kNew, &new_>(s);
    s.push_back(slot(Py_tp_methods, methods));
}

}  // namespace tarnwick::py

namespace tarnwick::distance::bktree {
void register_class(py::Module& m) { m.add_class<BKTree>(); }
}  // namespace tarnwick::distance::bktree
