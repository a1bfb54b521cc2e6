// Python class MmapBM25Index: the adapter of search::MmapBM25Index (mmap_bm25_engine.hpp).
// Instances come only from the static method `load`; the query methods are the shared
// bodies of bm25_methods.hpp, run so that a fault met in the directory's files becomes
// ValueError. The class and its methods carry no docstrings.
#include "dense/dense_py.hpp"
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
/// The shared methods carry no docstrings here.
constexpr methods::MethodDocs kNoDocs{};
using S = methods::Signatures<kNoDocs>;
constexpr py::Signature<7> kSortedSig{
    "search_filtered_sorted",
    {{{"query"}, {"_query_embedding", "None"}, {"_n", kN.text}, {"_rrf_k", kRrfK.text},
      {"_bm25_candidates", kRrfCandidates.text}, {"_filter_json", "None"}, {"_sort_keys", "None"}}}};

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
        checked_method<S::get_scores, &methods::get_scores<T, 1>>(),
        checked_method<S::get_scores_filtered, &methods::get_scores<T, 2>>(),
        checked_method<S::get_batch_scores, &methods::get_batch_scores<T>>(),
        checked_method<S::get_top_n, &methods::get_top_n<T, 2>>(),
        checked_method<S::get_top_n_filtered, &methods::get_top_n<T, 3>>(),
        checked_method<S::fuzzy_only, &methods::fuzzy_only<T>>(),
        checked_method<S::get_top_n_fuzzy, &methods::get_top_n_fuzzy<T>>(),
        checked_method<S::get_top_n_rrf, &methods::get_top_n_rrf<T, 4>>(),
        checked_method<S::get_top_n_rrf_filtered, &methods::get_top_n_rrf<T, 5>>(),
        checked_method<S::get_idf_map, &methods::get_idf_map<T>>(),
        checked_method<S::get_document_vector, &methods::get_document_vector<T>>(),
        checked_method<S::explain, &methods::explain<T>>(),
        checked_method<S::get_top_n_phrase, &methods::get_top_n_phrase<T>>(),
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
