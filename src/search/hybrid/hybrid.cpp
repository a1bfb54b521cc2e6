// Python class HybridSearchIndex: the adapter of search::HybridSearchIndex (hybrid_index.hpp).
// Arguments are converted into owned data before any work; searches take a shared borrow of
// the instance and hold the interpreter lock while the pool scores large candidate pools;
// set_metadata_json takes it exclusively.
#include "dense/dense_py.hpp"
#include "module.hpp"
#include "py/args.hpp"
#include "py/class.hpp"
#include "py/convert.hpp"
#include "py/module.hpp"
#include "search/hybrid/hybrid_index.hpp"
#include "search/metadata/metadata_store.hpp"
#include "search/rerank/fusion.hpp"
#include "search/search_py.hpp"

#include <stdexcept>
#include <string>
#include <variant>

namespace tarnwick::py {
template <>
struct ClassInfo<search::HybridSearchIndex> {
    static constexpr const char* name = "HybridSearchIndex";
    static void slots(std::vector<PyType_Slot>& s);
};
}  // namespace tarnwick::py

namespace tarnwick::search {
namespace {

using Index = HybridSearchIndex;

constexpr py::Signature<6> kNewSig{
    "__new__",
    {{{"corpus"}, {"embeddings", "None"}, {"k1", "1.5"}, {"b", "0.75"}, {"algorithm", "None"},
      {"delta", "None"}}},
    6,
    "Hybrid search index combining BM25 text retrieval, fuzzy string matching,\n"
    "and dense vector (embedding) similarity via 3-way Reciprocal Rank Fusion.\n"
    "\n"
    "Designed for million-scale corpora."};
constexpr HybridDocs kSearchDocs{
    .search =
        "3-way hybrid search: BM25 + Fuzzy + Dense via Reciprocal Rank Fusion.\n"
        "\n"
        "Parameters\n"
        "----------\n"
        "query : str\n"
        "    Text query.\n"
        "query_embedding : list[float] | None\n"
        "    Dense embedding for the query. If None, falls back to 2-way RRF.\n"
        "n : int\n"
        "    Number of results to return.\n"
        "rrf_k : int\n"
        "    RRF smoothing constant (default 60).\n"
        "bm25_candidates : int\n"
        "    Number of BM25 candidates to pre-filter before fuzzy+dense scoring.\n"
        "    This is the key to million-scale performance.",
    .search_filtered = "3-way hybrid search with an optional allowed mask."};
using S = HybridSignatures<kSearchDocs>;
constexpr py::Signature<0> kReduceSig{"__reduce__", {}, 0, "Pickle support."};
constexpr py::Signature<1> kSetMetadataSig{
    "set_metadata_json",
    {{{"json_strings"}}},
    1,
    "Set per-document metadata as JSON strings for fast filter evaluation.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "json_strings : list[str]\n"
    "    JSON-serialized metadata dicts, one per document."};
constexpr py::Signature<1> kFilterMaskSig{
    "evaluate_filter_mask",
    {{{"filter_json"}}},
    1,
    "Evaluate a JSON filter expression against stored metadata and return a boolean mask.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "filter_json : str\n"
    "    JSON-serialized filter expression (see Python-side serialization).\n"
    "\n"
    "Returns\n"
    "-------\n"
    "list[bool]\n"
    "    Boolean mask, True for documents that pass the filter."};
constexpr py::Signature<7> kSearchSortedSig{
    "search_filtered_sorted",
    {{{"query"}, {"query_embedding", "None"}, {"n", kN.text}, {"rrf_k", kRrfK.text},
      {"bm25_candidates", kRrfCandidates.text}, {"filter_json", "None"}, {"sort_keys", "None"}}},
    7,
    "Combine filter, search and sort in a single call.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "query : str\n"
    "query_embedding : list[float] | None\n"
    "n : int\n"
    "rrf_k : int\n"
    "bm25_candidates : int\n"
    "filter_json : str | None\n"
    "    JSON-serialized filter expression.\n"
    "sort_keys : list[(str, bool)] | None\n"
    "    List of (attribute_path, reverse) pairs for sorting."};

py::Object new_index(PyTypeObject* type, const py::Args<6>& a) {
    const py::StrList corpus = py::arg("corpus", [&] { return py::to_str_list(a[0]); });
    std::optional<FloatRows> embeddings;
    if (!py::is_absent(a[1])) embeddings = rows_arg("embeddings", a[1]);
    Index::Params p;
    p.k1 = float_arg("k1", a[2], p.k1);
    p.b = float_arg("b", a[3], p.b);
    if (!py::is_absent(a[4])) p.algorithm = py::arg("algorithm", [&] { return py::to_str(a[4]); });
    if (!py::is_absent(a[5])) p.delta = float_arg("delta", a[5], 0.0);
    try {
        return py::Class<Index>::create_in(type, Index::create(corpus.views, std::move(embeddings), std::move(p)));
    } catch (const std::invalid_argument& e) {
        throw py::Error{PyExc_ValueError, e.what(), {}};
    }
}

/// Runs a search of `index`, turning a query embedding of the wrong length into ValueError.
template <class F>
py::Object ranked(const Index& index, F&& search) {
    try {
        return ranked_list(index.engine(), search());
    } catch (const EmbeddingDimMismatch& m) {
        throw py::Error{PyExc_ValueError,
                        "query_embedding has " + std::to_string(m.got) + " dims, expected " +
                            std::to_string(m.expected),
                        {}};
    }
}

/// search and search_filtered: the first N of (query, query_embedding, n, rrf_k,
/// bm25_candidates, allowed).
template <std::size_t N>
py::Object search(PyObject* self, const py::Args<N>& a) {
    const HybridSearchArgs s = hybrid_search_args(a);
    py::Ref<Index> index(self);
    return ranked(*index, [&] {
        return index->search_filtered(s.query, s.embedding_view(), s.n, s.rrf_k, s.bm25_candidates,
                                      mask_view(s.mask));
    });
}

/// The parsed filter of `text`, or ValueError.
FilterAst filter_arg(std::string_view text) {
    std::variant<FilterAst, std::string> parsed = parse_filter_json(text);
    if (std::string* error = std::get_if<std::string>(&parsed))
        throw py::Error{PyExc_ValueError, "Failed to parse filter JSON: " + *error, {}};
    return std::move(std::get<FilterAst>(parsed));
}

py::Object set_metadata_json(PyObject* self, const py::Args<1>& a) {
    const py::StrList texts = py::arg("json_strings", [&] { return py::to_str_list(a[0]); });
    py::RefMut<Index> index(self);
    if (texts.views.size() != index->num_docs())
        throw py::Error{PyExc_ValueError,
                        "metadata length (" + std::to_string(texts.views.size()) +
                            ") must match corpus length (" + std::to_string(index->num_docs()) + ")",
                        {}};
    JsonStore metadata;
    if (std::optional<MetadataError> e = parse_metadata(texts.views, metadata))
        throw py::Error{PyExc_ValueError, "Failed to parse metadata JSON: " + e->message, {}};
    index->set_metadata(std::move(metadata));
    return py::Object::borrow(Py_None);
}

py::Object evaluate_filter_mask_body(PyObject* self, const py::Args<1>& a) {
    const std::string_view text = py::arg("filter_json", [&] { return py::to_str(a[0]); });
    py::Ref<Index> index(self);
    if (!index->has_metadata())
        throw py::Error{PyExc_ValueError, "No metadata set. Call set_metadata_json first.", {}};
    const std::vector<uint8_t> mask = evaluate_filter_mask(filter_arg(text), *index->metadata());
    py::Object list = py::check(PyList_New(static_cast<Py_ssize_t>(mask.size())));
    for (std::size_t i = 0; i < mask.size(); ++i)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), py::from_bool(mask[i] != 0).release());
    return list;
}

py::Object search_filtered_sorted(PyObject* self, const py::Args<7>& a) {
    const HybridSearchArgs s = hybrid_search_args(std::span<PyObject* const>(a).first(5));
    std::optional<std::string_view> filter_text;
    if (!py::is_absent(a[5])) filter_text = py::arg("filter_json", [&] { return py::to_str(a[5]); });
    const std::vector<SortKey> keys = sort_keys_arg("sort_keys", a[6]);
    py::Ref<Index> index(self);
    // Without metadata the filter is not even parsed: it has no effect.
    std::optional<FilterAst> filter;
    if (filter_text && index->has_metadata()) filter = filter_arg(*filter_text);
    return ranked(*index, [&] {
        return index->search_filtered_sorted(s.query, s.embedding_view(), s.n, s.rrf_k, s.bm25_candidates,
                                             filter ? &*filter : nullptr, keys);
    });
}

py::Object reduce_index(PyObject* self) {
    py::Ref<Index> index(self);
    const Index::Params& p = index->params();
    const std::size_t count = index->num_docs();
    py::Object corpus = py::check(PyList_New(static_cast<Py_ssize_t>(count)));
    for (std::size_t i = 0; i < count; ++i)
        PyList_SetItem(corpus.get(), static_cast<Py_ssize_t>(i),
                       py::from_str(index->engine().doc(i)).release());
    py::Object embeddings = py::Object::borrow(Py_None);
    if (index->has_vectors()) {
        embeddings = py::check(PyList_New(static_cast<Py_ssize_t>(count)));
        for (std::size_t i = 0; i < count; ++i) {
            const std::span<const float> row = index->embedding(i);
            py::Object values = py::check(PyList_New(static_cast<Py_ssize_t>(row.size())));
            for (std::size_t j = 0; j < row.size(); ++j)
                PyList_SetItem(values.get(), static_cast<Py_ssize_t>(j), py::from_f64(row[j]).release());
            PyList_SetItem(embeddings.get(), static_cast<Py_ssize_t>(i), values.release());
        }
    }
    const py::Object k1 = py::from_f64(p.k1), b = py::from_f64(p.b);
    const py::Object algorithm = py::from_str(p.algorithm);
    const py::Object delta = p.delta ? py::from_f64(*p.delta) : py::Object::borrow(Py_None);
    const py::Object args = py::check(PyTuple_Pack(6, corpus.get(), embeddings.get(), k1.get(), b.get(),
                                                   algorithm.get(), delta.get()));
    auto* type = reinterpret_cast<PyObject*>(py::Class<Index>::type());
    return py::check(PyTuple_Pack(2, type, args.get()));
}

py::Object dim(const Index& i) { return py::from_u64(i.dim()); }
py::Object num_docs(const Index& i) { return py::from_u64(i.num_docs()); }
py::Object has_vectors(const Index& i) { return py::from_bool(i.has_vectors()); }
py::Object has_metadata(const Index& i) { return py::from_bool(i.has_metadata()); }

}  // namespace

void register_hybrid_class(py::Module& m) { m.add_class<Index>(); }

}  // namespace tarnwick::search

namespace tarnwick::py {
void ClassInfo<search::HybridSearchIndex>::slots(std::vector<PyType_Slot>& s) {
    using search::Index;
    add_constructor<Index, search::kNewSig, &search::new_index>(s);
    static PyMethodDef methods[] = {
        method<Index, search::S::search, &search::search<5>>(),
        method<Index, search::S::search_filtered, &search::search<6>>(),
        method<Index, search::kReduceSig, &search::reduce_index>(),
        method<Index, search::kSetMetadataSig, &search::set_metadata_json>(),
        method<Index, search::kFilterMaskSig, &search::evaluate_filter_mask_body>(),
        method<Index, search::kSearchSortedSig, &search::search_filtered_sorted>(),
        {nullptr, nullptr, 0, nullptr},
    };
    static PyGetSetDef getset[] = {
        computed<Index, &search::dim>("dim"),
        computed<Index, &search::num_docs>("num_docs"),
        computed<Index, &search::has_vectors>("has_vectors"),
        computed<Index, &search::has_metadata>("has_metadata"),
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    s.push_back({Py_tp_methods, methods});
    s.push_back({Py_tp_getset, getset});
}
}  // namespace tarnwick::py
