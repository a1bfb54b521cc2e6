// The Python bodies of the query methods that every BM25 class offers over its index,
// written once for any class whose value T gives
//   const Bm25Reader& reader() const;                            // the index
//   static std::string doc_out_of_range(uint64_t d, std::size_t n);  // IndexError message
// Each body converts its arguments first (a failed conversion raises before any work),
// then takes the shared borrow of the instance, runs the ranking and builds the result.
// The classes declare the signatures (names, defaults, docstrings) themselves.
#pragma once

#include "parallel.hpp"
#include "py/class.hpp"
#include "search/rerank/explain.hpp"
#include "search/rerank/fusion.hpp"
#include "search/rerank/fuzzy.hpp"
#include "search/search_py.hpp"

#include <string>

namespace tarnwick::search::methods {

/// get_scores(query)
template <class T>
py::Object get_scores(PyObject* self, const py::Args<1>& a) {
    const std::string_view query = query_arg(a[0]);
    py::Ref<T> obj(self);
    return float_list(obj->reader().scores(query));
}

/// get_scores_filtered(query, allowed=None)
template <class T>
py::Object get_scores_filtered(PyObject* self, const py::Args<2>& a) {
    const std::string_view query = query_arg(a[0]);
    const auto mask = mask_arg(a[1]);
    py::Ref<T> obj(self);
    return float_list(obj->reader().scores(query, mask_view(mask)));
}

/// get_batch_scores(queries): one query per task on the pool.
template <class T>
py::Object get_batch_scores(PyObject* self, const py::Args<1>& a) {
    const py::StrList queries = py::arg("queries", [&] { return py::to_str_list(a[0]); });
    py::Ref<T> obj(self);
    const Bm25Reader& index = obj->reader();
    const auto all = parallel::map(queries.views.size(), true,
                                   [&](std::size_t i) { return index.scores(queries.views[i]); });
    py::Object list = py::check(PyList_New(static_cast<Py_ssize_t>(all.size())));
    for (std::size_t i = 0; i < all.size(); ++i)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), float_list(all[i]).release());
    return list;
}

/// get_top_n(query, n=5)
template <class T>
py::Object get_top_n(PyObject* self, const py::Args<2>& a) {
    const std::string_view query = query_arg(a[0]);
    const uint64_t n = count_arg("n", a[1], 5);
    py::Ref<T> obj(self);
    const Bm25Reader& index = obj->reader();
    return ranked_list(index, index.top_n(query, n, std::nullopt));
}

/// get_top_n_filtered(query, n=5, allowed=None)
template <class T>
py::Object get_top_n_filtered(PyObject* self, const py::Args<3>& a) {
    const std::string_view query = query_arg(a[0]);
    const uint64_t n = count_arg("n", a[1], 5);
    const auto mask = mask_arg(a[2]);
    py::Ref<T> obj(self);
    const Bm25Reader& index = obj->reader();
    return ranked_list(index, index.top_n(query, n, mask_view(mask)));
}

/// fuzzy_only(query, n)
template <class T>
py::Object fuzzy_only(PyObject* self, const py::Args<2>& a) {
    const std::string_view query = query_arg(a[0]);
    const uint64_t n = count_arg("n", a[1], 0);
    py::Ref<T> obj(self);
    const Bm25Reader& index = obj->reader();
    return ranked_list(index, search::fuzzy_only(index, query, n));
}

/// get_top_n_fuzzy(query, n=5, bm25_candidates=50, fuzzy_weight=0.3)
template <class T>
py::Object get_top_n_fuzzy(PyObject* self, const py::Args<4>& a) {
    const std::string_view query = query_arg(a[0]);
    const uint64_t n = count_arg("n", a[1], 5);
    const uint64_t candidates = count_arg("bm25_candidates", a[2], 50);
    const double weight = float_arg("fuzzy_weight", a[3], 0.3);
    py::Ref<T> obj(self);
    const Bm25Reader& index = obj->reader();
    return ranked_list(index, top_n_fuzzy(index, query, n, candidates, weight));
}

/// get_top_n_rrf_filtered(query, n=5, bm25_candidates=100, rrf_k=60, allowed=None), and
/// get_top_n_rrf, the same without `allowed`.
template <class T, std::size_t N>
py::Object get_top_n_rrf(PyObject* self, const py::Args<N>& a) {
    static_assert(N == 4 || N == 5);
    const std::string_view query = query_arg(a[0]);
    const uint64_t n = count_arg("n", a[1], 5);
    const uint64_t candidates = count_arg("bm25_candidates", a[2], 100);
    const uint64_t rrf_k = count_arg("rrf_k", a[3], 60);
    std::optional<std::vector<uint8_t>> mask;
    if constexpr (N == 5) mask = mask_arg(a[4]);
    py::Ref<T> obj(self);
    const Bm25Reader& index = obj->reader();
    const FusionQuery q{query, n, rrf_k, candidates, mask_view(mask), false};
    return ranked_list(index, fused_search(index, q, nullptr));
}

/// Document `d` of the instance, or IndexError.
template <class T>
std::size_t doc_arg(const T& obj, uint64_t d) {
    const std::size_t count = obj.reader().num_docs();
    if (d >= count) throw py::Error{PyExc_IndexError, T::doc_out_of_range(d, count), {}};
    return static_cast<std::size_t>(d);
}

/// explain(query, doc_idx): a list of (term, idf, tf_norm, term_score).
template <class T>
py::Object explain(PyObject* self, const py::Args<2>& a) {
    const std::string_view query = query_arg(a[0]);
    const uint64_t doc_idx = count_arg("doc_idx", a[1], 0);
    py::Ref<T> obj(self);
    const std::size_t d = doc_arg(*obj, doc_idx);
    const std::vector<TermExplanation> terms = search::explain(obj->reader(), query, d);
    py::Object list = py::check(PyList_New(static_cast<Py_ssize_t>(terms.size())));
    for (std::size_t i = 0; i < terms.size(); ++i) {
        const TermExplanation& t = terms[i];
        const py::Object term = py::from_str(t.term), idf = py::from_f64(t.idf),
                         tf_norm = py::from_f64(t.tf_norm), score = py::from_f64(t.term_score);
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i),
                       py::check(PyTuple_Pack(4, term.get(), idf.get(), tf_norm.get(), score.get()))
                           .release());
    }
    return list;
}

/// A new dict term -> value.
inline py::Object term_dict(const std::vector<TermValue>& values) {
    py::Object dict = py::check(PyDict_New());
    for (const TermValue& v : values) {
        const py::Object key = py::from_str(v.term), value = py::from_f64(v.value);
        if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) py::throw_already_set();
    }
    return dict;
}

/// get_idf_map()
template <class T>
py::Object get_idf_map(PyObject* self) {
    py::Ref<T> obj(self);
    return term_dict(obj->reader().idf_map());
}

/// get_document_vector(doc_idx)
template <class T>
py::Object get_document_vector(PyObject* self, const py::Args<1>& a) {
    const uint64_t doc_idx = count_arg("doc_idx", a[0], 0);
    py::Ref<T> obj(self);
    const std::size_t d = doc_arg(*obj, doc_idx);
    return term_dict(obj->reader().document_vector(d));
}

/// get_top_n_phrase(query, n=5, proximity_window=3, phrase_boost=2.0)
template <class T>
py::Object get_top_n_phrase(PyObject* self, const py::Args<4>& a) {
    const std::string_view query = query_arg(a[0]);
    const uint64_t n = count_arg("n", a[1], 5);
    const uint64_t window = count_arg("proximity_window", a[2], 3);
    const double boost = float_arg("phrase_boost", a[3], 2.0);
    py::Ref<T> obj(self);
    const Bm25Reader& index = obj->reader();
    return ranked_list(index, top_n_phrase(index, query, n, window, boost));
}

}  // namespace tarnwick::search::methods
