// The Python methods that every BM25 class offers over its index, written once: their
// signatures (names, parameters and defaults; the docstrings are each class's, given in a
// MethodDocs) and their bodies, for any class whose value T gives
//   const Bm25Reader& reader() const;                            // the index
//   static std::string doc_out_of_range(uint64_t d, std::size_t n);  // IndexError message
// and, when it keeps the corpus texts as str objects (which the ranked lists then return
// themselves instead of new str objects),
//   std::span<const py::Object> doc_objects() const;            // item d is text d
// Each body converts its arguments first (a failed conversion raises before any work),
// then takes the shared borrow of the instance, runs the ranking and builds the result
// (`ranked` for the ranked lists). A method and its filtered form (get_scores,
// get_top_n, get_top_n_rrf and their `_filtered` names) are one body on the argument
// count, the last argument of the filtered form being `allowed`.
// A class lists the methods in its own method table, in its own order.
#pragma once

#include "parallel.hpp"
#include "py/class.hpp"
#include "search/rerank/explain.hpp"
#include "search/rerank/fusion.hpp"
#include "search/rerank/fuzzy.hpp"
#include "search/search_py.hpp"

#include <string>

namespace tarnwick::search::methods {

// ---- Signatures ----

// The defaults of the BM25 rankings alone; kN, kRrfCandidates and kRrfK, which the hybrid
// searches share, are in search_py.hpp.
inline constexpr Default<uint64_t> kFuzzyCandidates{"50", 50};
inline constexpr Default<double> kFuzzyWeight{"0.3", 0.3};
inline constexpr Default<uint64_t> kWindow{"3", 3};
inline constexpr Default<double> kPhraseBoost{"2.0", 2.0};

/// The docstrings of one class's shared methods (null: none).
struct MethodDocs {
    const char* get_scores = nullptr;
    const char* get_scores_filtered = nullptr;
    const char* get_batch_scores = nullptr;
    const char* get_top_n = nullptr;
    const char* get_top_n_filtered = nullptr;
    const char* fuzzy_only = nullptr;
    const char* get_top_n_fuzzy = nullptr;
    const char* get_top_n_rrf = nullptr;
    const char* get_top_n_rrf_filtered = nullptr;
    const char* explain = nullptr;
    const char* get_idf_map = nullptr;
    const char* get_document_vector = nullptr;
    const char* get_top_n_phrase = nullptr;
};

/// The signatures of the 13 shared methods, with the docstrings of `D`.
template <const MethodDocs& D>
struct Signatures {
    static constexpr py::Signature<1> get_scores{"get_scores", {{{"query"}}}, 1, D.get_scores};
    static constexpr py::Signature<2> get_scores_filtered{
        "get_scores_filtered", {{{"query"}, {"allowed", "None"}}}, 2, D.get_scores_filtered};
    static constexpr py::Signature<1> get_batch_scores{
        "get_batch_scores", {{{"queries"}}}, 1, D.get_batch_scores};
    static constexpr py::Signature<2> get_top_n{"get_top_n", {{{"query"}, {"n", kN.text}}}, 2, D.get_top_n};
    static constexpr py::Signature<3> get_top_n_filtered{
        "get_top_n_filtered", {{{"query"}, {"n", kN.text}, {"allowed", "None"}}}, 3, D.get_top_n_filtered};
    static constexpr py::Signature<2> fuzzy_only{"fuzzy_only", {{{"query"}, {"n"}}}, 2, D.fuzzy_only};
    static constexpr py::Signature<4> get_top_n_fuzzy{
        "get_top_n_fuzzy",
        {{{"query"}, {"n", kN.text}, {"bm25_candidates", kFuzzyCandidates.text},
          {"fuzzy_weight", kFuzzyWeight.text}}},
        4, D.get_top_n_fuzzy};
    static constexpr py::Signature<4> get_top_n_rrf{
        "get_top_n_rrf",
        {{{"query"}, {"n", kN.text}, {"bm25_candidates", kRrfCandidates.text}, {"rrf_k", kRrfK.text}}},
        4, D.get_top_n_rrf};
    static constexpr py::Signature<5> get_top_n_rrf_filtered{
        "get_top_n_rrf_filtered",
        {{{"query"}, {"n", kN.text}, {"bm25_candidates", kRrfCandidates.text}, {"rrf_k", kRrfK.text},
          {"allowed", "None"}}},
        5, D.get_top_n_rrf_filtered};
    static constexpr py::Signature<2> explain{"explain", {{{"query"}, {"doc_idx"}}}, 2, D.explain};
    static constexpr py::Signature<0> get_idf_map{"get_idf_map", {}, 0, D.get_idf_map};
    static constexpr py::Signature<1> get_document_vector{
        "get_document_vector", {{{"doc_idx"}}}, 1, D.get_document_vector};
    static constexpr py::Signature<4> get_top_n_phrase{
        "get_top_n_phrase",
        {{{"query"}, {"n", kN.text}, {"proximity_window", kWindow.text}, {"phrase_boost", kPhraseBoost.text}}},
        4, D.get_top_n_phrase};
};

// ---- Bodies ----

/// The `allowed` mask of a method whose filtered form takes `Filtered` arguments, the last
/// `allowed`: converted from a[Filtered - 1] in that form, none in the form without it.
template <std::size_t Filtered, std::size_t N>
std::optional<std::vector<uint8_t>> allowed_arg(const py::Args<N>& a) {
    static_assert(N == Filtered || N + 1 == Filtered);
    if constexpr (N == Filtered) return mask_arg(a[Filtered - 1]);
    else return std::nullopt;
}

/// Takes the shared borrow of the instance (after its arguments are converted) and builds
/// the ranked list of what `rank` selects from its index.
template <class T, class Rank>
py::Object ranked(PyObject* self, Rank&& rank) {
    py::Ref<T> obj(self);
    const Bm25Reader& index = obj->reader();
    if constexpr (requires { obj->doc_objects(); })
        return ranked_list(index, rank(index), obj->doc_objects());
    else
        return ranked_list(index, rank(index));
}

/// get_scores_filtered(query, allowed=None), and get_scores, the same without `allowed`.
template <class T, std::size_t N>
py::Object get_scores(PyObject* self, const py::Args<N>& a) {
    const std::string_view query = query_arg(a[0]);
    const auto mask = allowed_arg<2>(a);
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

/// get_top_n_filtered(query, n=5, allowed=None), and get_top_n, the same without `allowed`.
template <class T, std::size_t N>
py::Object get_top_n(PyObject* self, const py::Args<N>& a) {
    const std::string_view query = query_arg(a[0]);
    const uint64_t n = count_arg("n", a[1], kN.value);
    const auto mask = allowed_arg<3>(a);
    return ranked<T>(self, [&](const Bm25Reader& index) { return index.top_n(query, n, mask_view(mask)); });
}

/// fuzzy_only(query, n)
template <class T>
py::Object fuzzy_only(PyObject* self, const py::Args<2>& a) {
    const std::string_view query = query_arg(a[0]);
    const uint64_t n = count_arg("n", a[1], 0);
    return ranked<T>(self, [&](const Bm25Reader& index) { return search::fuzzy_only(index, query, n); });
}

/// get_top_n_fuzzy(query, n=5, bm25_candidates=50, fuzzy_weight=0.3)
template <class T>
py::Object get_top_n_fuzzy(PyObject* self, const py::Args<4>& a) {
    const std::string_view query = query_arg(a[0]);
    const uint64_t n = count_arg("n", a[1], kN.value);
    const uint64_t candidates = count_arg("bm25_candidates", a[2], kFuzzyCandidates.value);
    const double weight = float_arg("fuzzy_weight", a[3], kFuzzyWeight.value);
    return ranked<T>(self, [&](const Bm25Reader& index) {
        return top_n_fuzzy(index, query, n, candidates, weight);
    });
}

/// get_top_n_rrf_filtered(query, n=5, bm25_candidates=100, rrf_k=60, allowed=None), and
/// get_top_n_rrf, the same without `allowed`.
template <class T, std::size_t N>
py::Object get_top_n_rrf(PyObject* self, const py::Args<N>& a) {
    const std::string_view query = query_arg(a[0]);
    const uint64_t n = count_arg("n", a[1], kN.value);
    const uint64_t candidates = count_arg("bm25_candidates", a[2], kRrfCandidates.value);
    const uint64_t rrf_k = count_arg("rrf_k", a[3], kRrfK.value);
    const auto mask = allowed_arg<5>(a);
    return ranked<T>(self, [&](const Bm25Reader& index) {
        const FusionQuery q{query, n, rrf_k, candidates, mask_view(mask), false};
        return fused_search(index, q, nullptr);
    });
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
    const uint64_t n = count_arg("n", a[1], kN.value);
    const uint64_t window = count_arg("proximity_window", a[2], kWindow.value);
    const double boost = float_arg("phrase_boost", a[3], kPhraseBoost.value);
    return ranked<T>(self, [&](const Bm25Reader& index) {
        return top_n_phrase(index, query, n, window, boost);
    });
}

}  // namespace tarnwick::search::methods
