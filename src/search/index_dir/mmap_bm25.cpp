// Python class MmapBM25Index: the adapter of search::MmapBM25Index (mmap_bm25_engine.hpp).
// Instances come only from the static method `load`; the query methods are the shared
// bodies of bm25_methods.hpp, run so that a fault met in the directory's files becomes
// ValueError. The class and its methods carry no docstrings.
#include "module.hpp"
#include "py/args.hpp"
#include "py/class.hpp"
#include "py/convert.hpp"
#include "py/module.hpp"
#include "search/bm25/bm25_methods.hpp"
#include "search/index_dir/mmap_bm25_engine.hpp"
#include "search/search_py.hpp"

#include <string>

namespace tarnwick::search {

/// The value held by a Python MmapBM25Index.
struct MmapBm25Object {
    MmapBM25Index index;

    const Bm25Reader& reader() const noexcept { return index; }
    static std::string doc_out_of_range(uint64_t d, std::size_t) {
        return "doc_idx " + std::to_string(d) + " out of range";
    }
};

}  // namespace tarnwick::search

namespace tarnwick::py {
template <>
struct ClassInfo<search::MmapBm25Object> {
    static constexpr const char* name = "MmapBM25Index";
    static void slots(std::vector<PyType_Slot>& s);
};
}  // namespace tarnwick::py

namespace tarnwick::search {
namespace {

using T = MmapBm25Object;

constexpr py::Signature<1> kLoadSig{"load", {{{"path"}}}};
constexpr py::Signature<1> kScoresSig{"get_scores", {{{"query"}}}};
constexpr py::Signature<2> kScoresFilteredSig{"get_scores_filtered", {{{"query"}, {"allowed", "None"}}}};
constexpr py::Signature<1> kBatchSig{"get_batch_scores", {{{"queries"}}}};
constexpr py::Signature<2> kTopNSig{"get_top_n", {{{"query"}, {"n", "5"}}}};
constexpr py::Signature<3> kTopNFilteredSig{"get_top_n_filtered", {{{"query"}, {"n", "5"}, {"allowed", "None"}}}};
constexpr py::Signature<2> kFuzzyOnlySig{"fuzzy_only", {{{"query"}, {"n"}}}};
constexpr py::Signature<4> kTopNFuzzySig{
    "get_top_n_fuzzy", {{{"query"}, {"n", "5"}, {"bm25_candidates", "50"}, {"fuzzy_weight", "0.3"}}}};
constexpr py::Signature<4> kTopNRrfSig{
    "get_top_n_rrf", {{{"query"}, {"n", "5"}, {"bm25_candidates", "100"}, {"rrf_k", "60"}}}};
constexpr py::Signature<5> kTopNRrfFilteredSig{
    "get_top_n_rrf_filtered",
    {{{"query"}, {"n", "5"}, {"bm25_candidates", "100"}, {"rrf_k", "60"}, {"allowed", "None"}}}};
constexpr py::Signature<0> kIdfMapSig{"get_idf_map", {}};
constexpr py::Signature<1> kDocVectorSig{"get_document_vector", {{{"doc_idx"}}}};
constexpr py::Signature<2> kExplainSig{"explain", {{{"query"}, {"doc_idx"}}}};
constexpr py::Signature<4> kTopNPhraseSig{
    "get_top_n_phrase", {{{"query"}, {"n", "5"}, {"proximity_window", "3"}, {"phrase_boost", "2.0"}}}};
constexpr py::Signature<7> kSortedSig{
    "search_filtered_sorted",
    {{{"query"}, {"_query_embedding", "None"}, {"_n", "5"}, {"_rrf_k", "60"},
      {"_bm25_candidates", "100"}, {"_filter_json", "None"}, {"_sort_keys", "None"}}}};

py::Object load(const py::Args<1>& a) {
    const std::string path = path_arg(a[0]);
    return index_dir_errors([&] { return py::Class<T>::create(T{MmapBM25Index::load(path)}); });
}

py::Object num_docs(const T& obj) { return py::from_u64(obj.index.num_docs()); }

/// search_filtered_sorted: its arguments are converted like those of the hybrid index's
/// method of that name, then the call is refused.
py::Object search_filtered_sorted(PyObject*, const py::Args<7>& a) {
    const std::string_view query = query_arg(a[0]);
    if (!py::is_absent(a[1])) vector_arg("_query_embedding", a[1]);
    count_arg("_n", a[2], 5);
    count_arg("_rrf_k", a[3], 60);
    count_arg("_bm25_candidates", a[4], 100);
    if (!py::is_absent(a[5])) py::arg("_filter_json", [&] { return py::to_str(a[5]); });
    sort_keys_arg("_sort_keys", a[6]);
    throw py::Error{PyExc_NotImplementedError,
                    "search_filtered_sorted not implemented for Mmap BM25 yet: " + std::string(query), {}};
}

template <const auto& Sig, auto Body>
PyMethodDef checked_method() {
    if constexpr (py::kArity<Sig> == 0)
        return py::method<T, Sig, &with_index_dir_errors<Body>>();
    else
        return py::method<T, Sig, &with_index_dir_errors<Body, py::kArity<Sig>>>();
}

}  // namespace

void register_mmap_bm25_class(py::Module& m) { m.add_class<T>(); }

}  // namespace tarnwick::search

namespace tarnwick::py {
void ClassInfo<search::MmapBm25Object>::slots(std::vector<PyType_Slot>& s) {
    using namespace search;
    add_no_constructor<T>(s);
    static PyMethodDef methods[] = {
        static_method<T, kLoadSig, &load>(),
        checked_method<kScoresSig, &methods::get_scores<T>>(),
        checked_method<kScoresFilteredSig, &methods::get_scores_filtered<T>>(),
        checked_method<kBatchSig, &methods::get_batch_scores<T>>(),
        checked_method<kTopNSig, &methods::get_top_n<T>>(),
        checked_method<kTopNFilteredSig, &methods::get_top_n_filtered<T>>(),
        checked_method<kFuzzyOnlySig, &methods::fuzzy_only<T>>(),
        checked_method<kTopNFuzzySig, &methods::get_top_n_fuzzy<T>>(),
        checked_method<kTopNRrfSig, &methods::get_top_n_rrf<T, 4>>(),
        checked_method<kTopNRrfFilteredSig, &methods::get_top_n_rrf<T, 5>>(),
        checked_method<kIdfMapSig, &methods::get_idf_map<T>>(),
        checked_method<kDocVectorSig, &methods::get_document_vector<T>>(),
        checked_method<kExplainSig, &methods::explain<T>>(),
        checked_method<kTopNPhraseSig, &methods::get_top_n_phrase<T>>(),
        method<T, kSortedSig, &search_filtered_sorted>(),
        {nullptr, nullptr, 0, nullptr},
    };
    static PyGetSetDef getset[] = {
        computed<T, &num_docs>("num_docs"),
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    s.push_back({Py_tp_methods, methods});
    s.push_back({Py_tp_getset, getset});
}
}  // namespace tarnwick::py
