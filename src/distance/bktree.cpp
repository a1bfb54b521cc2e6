// Python class BKTree. Methods that change the tree hold it exclusively from before they
// read their arguments, so Python code run while a sequence is read (a custom sequence's
// iteration) cannot use the same tree at the same time.
#include "distance/bktree.hpp"

#include <string_view>
#include <vector>

namespace tarnwick::py {
namespace {

using distance::bktree::BKTree;

constexpr Signature<0> kNewSig{"BKTree.__new__()", {}, 0};
constexpr Signature<1> kInsertSig{"BKTree.insert()", {{{"item", true}}}, 1};
constexpr Signature<2> kDedupeSig{"BKTree.dedupe()", {{{"items", true}, {"threshold", true}}}, 2};
constexpr Signature<1> kSetStateSig{"BKTree.__setstate__()", {{{"state", true}}}, 1};

PyObject* new_(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guard([&]() -> PyObject* {
        bind_tuple(kNewSig, args, kwargs);
        return Class<BKTree>::create_in(type, BKTree{}).release();
    });
}

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

PyObject* insert(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames) noexcept {
    return guard([&]() -> PyObject* {
        const auto a = bind(kInsertSig, args, nargs, kwnames);
        RefMut<BKTree> tree(self);
        const std::string_view item = arg("item", [&] { return to_str(a[0]); });
        tree->insert(item);
        return Py_NewRef(Py_None);
    });
}

PyObject* dedupe(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames) noexcept {
    return guard([&]() -> PyObject* {
        const auto a = bind(kDedupeSig, args, nargs, kwnames);
        RefMut<BKTree> tree(self);
        const StrList items = read_items(a[0]);
        const uint64_t threshold = arg("threshold", [&] { return to_u64(a[1]); });
        const std::vector<std::size_t> kept = tree->dedupe(items.views, threshold);
        Object list = check(PyList_New(static_cast<Py_ssize_t>(kept.size())));
        for (std::size_t i = 0; i < kept.size(); ++i)
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i),
                           items.objects[kept[i]].copy().release());
        return list.release();
    });
}

PyObject* all_values(PyObject* self, PyObject*) noexcept {
    return guard([&]() -> PyObject* {
        Ref<BKTree> tree(self);
        return str_list(tree->values()).release();
    });
}

PyObject* reduce(PyObject* self, PyObject*) noexcept {
    return guard([&]() -> PyObject* {
        Object state;
        {
            Ref<BKTree> tree(self);
            state = str_list(tree->values());
        }
        const Object empty = check(PyTuple_New(0));
        return check(PyTuple_Pack(3, reinterpret_cast<PyObject*>(Class<BKTree>::type()),
                                  empty.get(), state.get()))
            .release();
    });
}

PyObject* setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) noexcept {
    return guard([&]() -> PyObject* {
        const auto a = bind(kSetStateSig, args, nargs, kwnames);
        RefMut<BKTree> tree(self);
        tree->clear();
        // An error of the iteration itself (its __iter__ included) is raised unchanged.
        const Object it = check(PyObject_GetIter(a[0]));
        while (const Object item = Object::steal(PyIter_Next(it.get())))
            tree->insert(arg("state", [&] { return to_str(item.get()); }));
        check_error();
        return Py_NewRef(Py_None);
    });
}

template <auto F>
PyCFunction fastcall_method() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(F));
}

PyMethodDef methods[] = {
    {"insert", fastcall_method<&insert>(), METH_FASTCALL | METH_KEYWORDS,
     "insert($self, item)\n--\n\n"},
    {"dedupe", fastcall_method<&dedupe>(), METH_FASTCALL | METH_KEYWORDS,
     "dedupe($self, items, threshold)\n--\n\n"},
    {"all_values", reinterpret_cast<PyCFunction>(&all_values), METH_NOARGS,
     "all_values($self)\n--\n\nCollect all values in the tree via DFS."},
    {"__reduce__", reinterpret_cast<PyCFunction>(&reduce), METH_NOARGS,
     "__reduce__($self)\n--\n\nPickle support: serialise as (cls, args, state) \u2014 pickle "
     "calls cls(), then __setstate__(state)."},
    {"__getstate__", reinterpret_cast<PyCFunction>(&all_values), METH_NOARGS,
     "__getstate__($self)\n--\n\n"},
    {"__setstate__", fastcall_method<&setstate>(), METH_FASTCALL | METH_KEYWORDS,
     "__setstate__($self, state)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void ClassInfo<BKTree>::slots(std::vector<PyType_Slot>& s) {
    s.push_back({Py_tp_new, reinterpret_cast<void*>(&new_)});
    s.push_back({Py_tp_methods, methods});
}

}  // namespace tarnwick::py
