// Python classes BM25Index, BM25L, BM25Plus and BM25T: one adapter over the shared engine,
// instantiated per variant, whose query methods are the shared bodies of bm25_methods.hpp.
// Only BM25Index carries the full docstrings and pickles.
#include "module.hpp"
#include "py/args.hpp"
#include "py/class.hpp"
#include "py/convert.hpp"
#include "py/module.hpp"
#include "search/bm25/bm25_engine.hpp"
#include "search/bm25/bm25_methods.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::search {

/// The value held by a Python instance of the variant's class: the corpus items, each a
/// plain str, and the engine over their UTF-8 forms (which live as long as the items;
/// members are destroyed in reverse order, the engine first). A result returns the item
/// itself.
template <Variant V>
struct Bm25Object {
    std::vector<py::Object> texts;
    Bm25Engine engine;

    const Bm25Reader& reader() const noexcept { return engine; }
    std::span<const py::Object> doc_objects() const noexcept { return texts; }
    static std::string doc_out_of_range(uint64_t d, std::size_t n) {
        return "doc_idx " + std::to_string(d) + " out of range (corpus has " + std::to_string(n) +
               " docs)";
    }
};

}  // namespace tarnwick::search

namespace tarnwick::py {

template <>
struct ClassInfo<search::Bm25Object<search::Variant::Okapi>> {
    static constexpr const char* name = "BM25Index";
    static void slots(std::vector<PyType_Slot>& s);
};
template <>
struct ClassInfo<search::Bm25Object<search::Variant::L>> {
    static constexpr const char* name = "BM25L";
    static void slots(std::vector<PyType_Slot>& s);
};
template <>
struct ClassInfo<search::Bm25Object<search::Variant::Plus>> {
    static constexpr const char* name = "BM25Plus";
    static void slots(std::vector<PyType_Slot>& s);
};
template <>
struct ClassInfo<search::Bm25Object<search::Variant::T>> {
    static constexpr const char* name = "BM25T";
    static void slots(std::vector<PyType_Slot>& s);
};

}  // namespace tarnwick::py

namespace tarnwick::search {
namespace {

template <Variant V>
constexpr bool kFullDocs = V == Variant::Okapi;
template <Variant V>
constexpr bool kHasDelta = V == Variant::L || V == Variant::Plus;

constexpr const char* kIndexDoc =
    "BM25Okapi index over a text corpus.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "corpus : list[str]\n"
    "    Documents to index.\n"
    "k1 : float, default 1.5\n"
    "    Term frequency saturation parameter.\n"
    "b : float, default 0.75\n"
    "    Length normalisation factor.";

template <Variant V>
constexpr const char* doc_if_full(const char* doc) {
    return kFullDocs<V> ? doc : nullptr;
}

// ---- Signatures ----

template <Variant V>
constexpr py::Signature<4> kNewSig{
    "__new__", {{{"corpus"}, {"k1", "1.5"}, {"b", "0.75"}, {"normalize", "False"}}}, 4,
    doc_if_full<V>(kIndexDoc)};
template <Variant V>
constexpr py::Signature<5> kNewDeltaSig{
    "__new__",
    {{{"corpus"}, {"k1", "1.5"}, {"b", "0.75"}, {"delta", V == Variant::L ? "0.5" : "1.0"},
      {"normalize", "False"}}}};
template <Variant V>
constexpr const char* kRrfDoc =
    V == Variant::Okapi ? "Reciprocal Rank Fusion of BM25 + fuzzy ranks.\n"
                          "More robust than linear interpolation \xe2\x80\x94 insensitive to score scale "
                          "differences.\n"
                          "k=60 is the standard RRF constant."
    : V == Variant::L   ? "Reciprocal Rank Fusion of BM25 + fuzzy ranks."
                        : nullptr;
/// The shared methods' docstrings: in full on BM25Index; the batch and fuzzy ones on every
/// class, the fusion one on BM25Index and BM25L.
template <Variant V>
constexpr methods::MethodDocs kDocs{
    .get_scores = doc_if_full<V>("Return BM25 score for `query` against every document."),
    .get_scores_filtered = doc_if_full<V>("Return BM25 scores with an optional boolean mask.\n"
                                          "Documents where `allowed[i]` is false get a score of 0.0."),
    .get_batch_scores = "BM25 scores for a batch of queries \xe2\x80\x94 Rayon-parallel over queries.",
    .get_top_n = doc_if_full<V>("Return top-N `(document, score)` pairs for `query`."),
    .get_top_n_filtered = doc_if_full<V>("Return top-N with an optional allowed mask."),
    .fuzzy_only = nullptr,
    .get_top_n_fuzzy = "BM25 + fuzzy hybrid: run BM25, take top `bm25_candidates`, then re-rank\n"
                       "with indel fuzzy similarity.",
    .get_top_n_rrf = kRrfDoc<V>,
    .get_top_n_rrf_filtered = doc_if_full<V>("RRF with optional allowed mask."),
    .explain = doc_if_full<V>("Per-term score breakdown for a query against a specific document.\n"
                              "Returns a list of (term, idf, tf_norm, term_score)."),
    .get_idf_map = doc_if_full<V>("Return the IDF map: term \xe2\x86\x92 idf value."),
    .get_document_vector = doc_if_full<V>("Return the TF-norm vector for a specific document."),
    .get_top_n_phrase = doc_if_full<V>("BM25 scoring with phrase proximity boost.\n"
                                       "Documents where query terms appear adjacent or within `window` positions\n"
                                       "get a multiplicative boost."),
};
constexpr py::Signature<0> kReduceSig{"__reduce__", {}};

/// Builds the instance over the items of `corpus`, kept as they are (an item of a str
/// subclass is replaced by a plain str equal to it, which a result then returns).
template <Variant V>
py::Object create(PyTypeObject* type, py::StrList corpus, Bm25Params params) {
    for (std::size_t i = 0; i < corpus.objects.size(); ++i)
        if (!PyUnicode_CheckExact(corpus.objects[i].get())) {
            corpus.objects[i] = py::from_str(corpus.views[i]);
            corpus.views[i] = py::to_str(corpus.objects[i].get());
        }
    Bm25Engine engine = Bm25Engine::borrowing(V, std::move(corpus.views), params);
    return py::Class<Bm25Object<V>>::create_in(type, Bm25Object<V>{std::move(corpus.objects), std::move(engine)});
}

// ---- Bodies ----

template <Variant V>
py::Object new_plain(PyTypeObject* type, const py::Args<4>& a) {
    py::StrList corpus = py::arg("corpus", [&] { return py::to_str_list(a[0]); });
    Bm25Params p;
    if (a[1]) p.k1 = py::arg("k1", [&] { return py::to_f64(a[1]); });
    if (a[2]) p.b = py::arg("b", [&] { return py::to_f64(a[2]); });
    if (a[3]) p.normalize = py::arg("normalize", [&] { return py::to_bool(a[3]); });
    return create<V>(type, std::move(corpus), p);
}

template <Variant V>
py::Object new_delta(PyTypeObject* type, const py::Args<5>& a) {
    py::StrList corpus = py::arg("corpus", [&] { return py::to_str_list(a[0]); });
    Bm25Params p;
    p.delta = V == Variant::L ? 0.5 : 1.0;
    if (a[1]) p.k1 = py::arg("k1", [&] { return py::to_f64(a[1]); });
    if (a[2]) p.b = py::arg("b", [&] { return py::to_f64(a[2]); });
    if (a[3]) p.delta = py::arg("delta", [&] { return py::to_f64(a[3]); });
    if (a[4]) p.normalize = py::arg("normalize", [&] { return py::to_bool(a[4]); });
    return create<V>(type, std::move(corpus), p);
}

py::Object reduce_index(PyObject* self) {
    py::Ref<Bm25Object<Variant::Okapi>> idx(self);
    const Bm25Engine& e = idx->engine;
    py::Object corpus = py::check(PyList_New(static_cast<Py_ssize_t>(idx->texts.size())));
    for (std::size_t i = 0; i < idx->texts.size(); ++i)
        PyList_SetItem(corpus.get(), static_cast<Py_ssize_t>(i), idx->texts[i].copy().release());
    const py::Object k1 = py::from_f64(e.params().k1), b = py::from_f64(e.params().b);
    const py::Object normalize = py::from_bool(e.params().normalize);
    const py::Object args = py::check(PyTuple_Pack(4, corpus.get(), k1.get(), b.get(), normalize.get()));
    auto* type = reinterpret_cast<PyObject*>(py::Class<Bm25Object<Variant::Okapi>>::type());
    return py::check(PyTuple_Pack(2, type, args.get()));
}

template <Variant V>
PyObject* num_docs(PyObject* self, void*) noexcept {
    return py::guard([&]() -> PyObject* {
        py::Ref<Bm25Object<V>> idx(self);
        return py::from_u64(idx->engine.num_docs()).release();
    });
}

template <Variant V>
void add_slots(std::vector<PyType_Slot>& slots) {
    using T = Bm25Object<V>;
    using S = methods::Signatures<kDocs<V>>;
    if constexpr (kHasDelta<V>)
        py::add_constructor<T, kNewDeltaSig<V>, &new_delta<V>>(slots);
    else
        py::add_constructor<T, kNewSig<V>, &new_plain<V>>(slots);
    static PyMethodDef methods[] = {
        py::method<T, S::get_scores, &methods::get_scores<T, 1>>(),
        py::method<T, S::get_scores_filtered, &methods::get_scores<T, 2>>(),
        py::method<T, S::get_batch_scores, &methods::get_batch_scores<T>>(),
        py::method<T, S::get_top_n, &methods::get_top_n<T, 2>>(),
        py::method<T, S::get_top_n_filtered, &methods::get_top_n<T, 3>>(),
        py::method<T, S::fuzzy_only, &methods::fuzzy_only<T>>(),
        py::method<T, S::get_top_n_fuzzy, &methods::get_top_n_fuzzy<T>>(),
        py::method<T, S::get_top_n_rrf, &methods::get_top_n_rrf<T, 4>>(),
        py::method<T, S::get_top_n_rrf_filtered, &methods::get_top_n_rrf<T, 5>>(),
        py::method<T, S::explain, &methods::explain<T>>(),
        py::method<T, S::get_idf_map, &methods::get_idf_map<T>>(),
        py::method<T, S::get_document_vector, &methods::get_document_vector<T>>(),
        py::method<T, S::get_top_n_phrase, &methods::get_top_n_phrase<T>>(),
        kFullDocs<V> ? py::method<T, kReduceSig, &reduce_index>() : PyMethodDef{nullptr, nullptr, 0, nullptr},
        {nullptr, nullptr, 0, nullptr},
    };
    static PyGetSetDef getset[] = {
        {"num_docs", &num_docs<V>, nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    slots.push_back({Py_tp_methods, methods});
    slots.push_back({Py_tp_getset, getset});
}

}  // namespace
}  // namespace tarnwick::search


namespace tarnwick::py {
using search::Variant;
void ClassInfo<search::Bm25Object<Variant::Okapi>>::slots(std::vector<PyType_Slot>& s) {
    search::add_slots<Variant::Okapi>(s);
}
void ClassInfo<search::Bm25Object<Variant::L>>::slots(std::vector<PyType_Slot>& s) {
    search::add_slots<Variant::L>(s);
}
void ClassInfo<search::Bm25Object<Variant::Plus>>::slots(std::vector<PyType_Slot>& s) {
    search::add_slots<Variant::Plus>(s);
}
void ClassInfo<search::Bm25Object<Variant::T>>::slots(std::vector<PyType_Slot>& s) {
    search::add_slots<Variant::T>(s);
}
}  // namespace tarnwick::py

namespace tarnwick::search {

void register_bm25_classes(py::Module& m) {
    m.add_class<Bm25Object<Variant::Okapi>>();
    m.add_class<Bm25Object<Variant::L>>();
    m.add_class<Bm25Object<Variant::Plus>>();
    m.add_class<Bm25Object<Variant::T>>();
}

}  // namespace tarnwick::search
