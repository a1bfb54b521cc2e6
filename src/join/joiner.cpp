// Python class MultiJoiner. add_array holds the joiner exclusively from before it reads its
// arguments, so Python code run while a sequence is read (a custom sequence calling back
// into the joiner) cannot use the same joiner meanwhile; the joins hold it shared while the
// workers run, so the arrays cannot change under them. Every input is converted into owned
// records before a join starts, and rows become Python objects only after it ends.
#include "join/joiner.hpp"

#include "module.hpp"
#include "py/module.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::py {
namespace {

using join::JoinElement;
using join::JoinRow;
using join::MultiJoiner;

constexpr Signature<8> kNew{
    "__new__",
    {{{"text_weight", "1.0"},
      {"sparse_weight", "1.0"},
      {"dense_weight", "1.0"},
      {"bm25_k1", "1.5"},
      {"bm25_b", "0.75"},
      {"bm25_variant", "..."},
      {"rrf_k", "60"},
      {"bm25_candidates", "100"}}},
    8,
    "Fuzzy full-join across multiple named arrays.\n"
    "\n"
    "Each array element may carry a text string, a sparse vector, and/or a dense vector.\n"
    "All active channels are fused with weighted Reciprocal Rank Fusion (RRF).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "text_weight : float, default 1.0\n"
    "sparse_weight : float, default 1.0\n"
    "dense_weight : float, default 1.0\n"
    "bm25_k1 : float, default 1.5\n"
    "bm25_b : float, default 0.75\n"
    "rrf_k : int, default 60\n"
    "    RRF smoothing constant."};

Object new_(PyTypeObject* type, const Args<8>& a) {
    join::JoinConfig c;
    auto f64 = [&](std::size_t i, const char* name, double& out) {
        if (a[i]) out = arg(name, [&] { return to_f64(a[i]); });
    };
    auto u64 = [&](std::size_t i, const char* name, uint64_t& out) {
        if (a[i]) out = arg(name, [&] { return to_u64(a[i]); });
    };
    f64(0, "text_weight", c.text_weight);
    f64(1, "sparse_weight", c.sparse_weight);
    f64(2, "dense_weight", c.dense_weight);
    f64(3, "bm25_k1", c.bm25_k1);
    f64(4, "bm25_b", c.bm25_b);
    if (a[5]) c.bm25_variant = std::string(arg("bm25_variant", [&] { return to_str(a[5]); }));
    u64(6, "rrf_k", c.rrf_k);
    u64(7, "bm25_candidates", c.bm25_candidates);
    MultiJoiner joiner;
    joiner.config = std::move(c);
    return Class<MultiJoiner>::create_in(type, std::move(joiner));
}

/// Calls f(item) for every item of `seq` (a sequence, not a str); conversion TypeErrors
/// name the argument.
template <class F>
void for_each_item(const char* name, PyObject* seq, F&& f) {
    arg(name, [&] {
        require_sequence(seq, "a sequence");
        return 0;
    });
    const Object it = check(py::get_iter(seq));
    while (const Object item = Object::steal(py::iter_next(it.get()))) {
        arg(name, [&] {
            f(item.get());
            return 0;
        });
        cancel::cancellation_point();
    }
    check_error();
}

/// A sparse vector from a dict of id -> weight: ids 0 to 2^32 - 1, pairs sorted by id.
join::SparseVector to_sparse(PyObject* dict) {
    if (!PyDict_Check(dict))
        throw Error{PyExc_TypeError,
                    "'" + type_name(dict) + "' object cannot be converted to 'PyDict'", {}};
    // A snapshot of the entries, since converting a key or a value may run Python code.
    const Object items = check(PyDict_Items(dict));
    std::map<uint32_t, float> entries;
    for (Py_ssize_t i = 0, n = PyList_Size(items.get()); i < n; ++i) {
        PyObject* pair = PyList_GetItem(items.get(), i);
        const int64_t id = to_i64(PyTuple_GetItem(pair, 0));
        if (id < 0 || id > int64_t{UINT32_MAX})
            throw Error{PyExc_OverflowError, "out of range integral type conversion attempted", {}};
        entries[static_cast<uint32_t>(id)] = to_f32(PyTuple_GetItem(pair, 1));
    }
    join::SparseVector out;
    out.reserve(entries.size());
    for (const auto& [id, w] : entries) out.push_back({id, w});
    return out;
}

std::vector<float> to_dense(PyObject* seq) {
    std::vector<float> out;
    require_sequence(seq, "a sequence");
    reserve_for(seq, out);
    py::for_each_item(seq, [&](PyObject* item) { out.push_back(to_f32(item)); });
    return out;
}

constexpr Signature<4> kAddArray{
    "add_array",
    {{{"name"}, {"texts", "None"}, {"sparse", "None"}, {"dense", "None"}}},
    4,
    "Add a named array.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "name : str\n"
    "    Unique array name.\n"
    "texts : list[str | None] | None\n"
    "    Text per element. None disables the text channel for this array.\n"
    "sparse : list[dict[int, float]] | None\n"
    "    Sparse vectors as {token_id: weight}. Sorted by key internally.\n"
    "dense : list[list[float]] | None\n"
    "    Dense embedding vectors. Assumed pre-normalised for cosine similarity."};

Object add_array(PyObject* self, const Args<4>& a) {
    RefMut<MultiJoiner> joiner(self);
    std::string name(arg("name", [&] { return to_str(a[0]); }));

    std::optional<std::vector<std::optional<std::string>>> texts;
    if (!is_absent(a[1])) {
        texts.emplace();
        for_each_item("texts", a[1], [&](PyObject* item) {
            if (item == Py_None) texts->emplace_back();
            else texts->emplace_back(std::string(to_str(item)));
        });
    }
    std::optional<std::vector<std::optional<join::SparseVector>>> sparse;
    if (!is_absent(a[2])) {
        sparse.emplace();
        for_each_item("sparse", a[2], [&](PyObject* item) {
            if (item == Py_None) sparse->emplace_back();
            else sparse->emplace_back(to_sparse(item));
        });
    }
    std::optional<std::vector<std::optional<std::vector<float>>>> dense;
    if (!is_absent(a[3])) {
        dense.emplace();
        for_each_item("dense", a[3], [&](PyObject* item) {
            if (item == Py_None) dense->emplace_back();
            else dense->emplace_back(to_dense(item));
        });
    }

    if (!texts && !sparse && !dense)
        throw Error{PyExc_ValueError,
                    "add_array: at least one of texts, sparse, dense must be provided", {}};
    const std::size_t n = texts ? texts->size() : sparse ? sparse->size() : dense->size();
    if (sparse && sparse->size() != n)
        throw Error{PyExc_ValueError, "add_array: sparse length mismatch", {}};
    if (dense && dense->size() != n)
        throw Error{PyExc_ValueError, "add_array: dense length mismatch", {}};

    join::JoinArray array{std::move(name), std::vector<JoinElement>(n)};
    for (std::size_t i = 0; i < n; ++i) {
        JoinElement& e = array.elements[i];
        if (texts) e.text = std::move((*texts)[i]);
        if (sparse) e.sparse = std::move((*sparse)[i]);
        if (dense) e.dense = std::move((*dense)[i]);
    }
    joiner->arrays.push_back(std::move(array));
    return Object::borrow(Py_None);
}

/// The rows as a list of dicts with ten keys each, in the rows' field order.
Object rows_to_py(const std::vector<JoinRow>& rows) {
    static constexpr const char* kKeys[10] = {"src_array", "src_idx",   "src_text",
                                              "tgt_array", "tgt_idx",   "tgt_text",
                                              "score",     "text_score", "sparse_score",
                                              "dense_score"};
    Object keys[10];
    for (std::size_t k = 0; k < 10; ++k) keys[k] = check(PyUnicode_InternFromString(kKeys[k]));
    auto opt_str = [](const std::optional<std::string>& s) {
        return s ? from_str(*s) : Object::borrow(Py_None);
    };
    auto opt_f64 = [](const std::optional<double>& v) {
        return v ? from_f64(*v) : Object::borrow(Py_None);
    };
    Object list = check(PyList_New(static_cast<Py_ssize_t>(rows.size())));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const JoinRow& r = rows[i];
        const Object values[10] = {from_str(r.src_array), from_u64(r.src_idx),
                                   opt_str(r.src_text),   from_str(r.tgt_array),
                                   from_u64(r.tgt_idx),   opt_str(r.tgt_text),
                                   from_f64(r.score),     opt_f64(r.text_score),
                                   opt_f64(r.sparse_score), opt_f64(r.dense_score)};
        Object dict = check(PyDict_New());
        for (std::size_t k = 0; k < 10; ++k)
            if (PyDict_SetItem(dict.get(), keys[k].get(), values[k].get()) < 0) throw_already_set();
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), dict.release());
    }
    return list;
}

uint64_t read_n(PyObject* o) { return o ? arg("n", [&] { return to_u64(o); }) : 1; }

std::optional<double> read_cutoff(PyObject* o) {
    return arg("score_cutoff", [&] { return to_opt_f64(o); });
}

constexpr Signature<2> kJoin{
    "join",
    {{{"n", "1"}, {"score_cutoff", "None"}}},
    2,
    "Run the full join across every ordered pair of arrays (src \u2260 tgt).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "n : int, default 1\n"
    "    Number of top target matches to return per source element.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "list[dict]\n"
    "    Each row: src_array, src_idx, src_text, tgt_array, tgt_idx, tgt_text,\n"
    "    score, text_score, sparse_score, dense_score."};

Object join_all(PyObject* self, const Args<2>& a) {
    Ref<MultiJoiner> joiner(self);
    const uint64_t n = read_n(a[0]);
    const std::optional<double> cutoff = read_cutoff(a[1]);
    return rows_to_py(joiner->join_all(n, cutoff));
}

constexpr Signature<4> kJoinPair{
    "join_pair",
    {{{"src_name"}, {"tgt_name"}, {"n", "1"}, {"score_cutoff", "None"}}},
    4,
    "Run the join for one specific ordered pair."};

Object join_pair(PyObject* self, const Args<4>& a) {
    Ref<MultiJoiner> joiner(self);
    const std::string_view src_name = arg("src_name", [&] { return to_str(a[0]); });
    const std::string_view tgt_name = arg("tgt_name", [&] { return to_str(a[1]); });
    const uint64_t n = read_n(a[2]);
    const std::optional<double> cutoff = read_cutoff(a[3]);
    auto lookup = [&](std::string_view name) {
        const join::JoinArray* array = joiner->find(name);
        if (!array) throw Error{PyExc_KeyError, "unknown array '" + std::string(name) + "'", {}};
        return array;
    };
    const join::JoinArray* src = lookup(src_name);
    const join::JoinArray* tgt = lookup(tgt_name);
    return rows_to_py(joiner->join_arrays_inner(*src, *tgt, n, cutoff));
}

PyObject* get_num_arrays(PyObject* self, void*) noexcept {
    return guard([&]() -> PyObject* {
        Ref<MultiJoiner> joiner(self);
        return from_u64(joiner->arrays.size()).release();
    });
}

PyMethodDef methods[] = {
    method<MultiJoiner, kAddArray, &add_array>(),
    method<MultiJoiner, kJoin, &join_all>(),
    method<MultiJoiner, kJoinPair, &join_pair>(),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef getset[] = {
    {"num_arrays", &get_num_arrays, nullptr,
     const_cast<char*>("Number of arrays currently registered."), nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

void ClassInfo<MultiJoiner>::slots(std::vector<PyType_Slot>& s) {
    add_constructor<MultiJoiner, kNew, &new_>(s);
    s.push_back({Py_tp_methods, methods});
    s.push_back({Py_tp_getset, getset});
}

}  // namespace tarnwick::py

namespace tarnwick::join {
void register_class(py::Module& m) { m.add_class<MultiJoiner>(); }
}  // namespace tarnwick::join
