// Python class MmapHybridSearchIndex: the adapter of search::MmapHybridSearchIndex
// (mmap_hybrid_index.hpp). Instances come only from the static method `load`. Searches take
// a shared borrow, set_metadata_json an exclusive one; a fault met in the directory's files
// becomes ValueError. The class and its methods carry no docstrings.
#include "module.hpp"
#include "py/args.hpp"
#include "py/class.hpp"
#include "py/convert.hpp"
#include "py/module.hpp"
#include "search/metadata/metadata_store.hpp"
#include "search/index_dir/mmap_hybrid_index.hpp"
#include "search/search_py.hpp"

#include <string>

namespace tarnwick::py {
template <>
struct ClassInfo<search::MmapHybridSearchIndex> {
    static constexpr const char* name = "MmapHybridSearchIndex";
    static void slots(std::vector<PyType_Slot>& s);
};
}  // namespace tarnwick::py

namespace tarnwick::search {
namespace {

using Index = MmapHybridSearchIndex;

constexpr py::Signature<1> kLoadSig{"load", {{{"path"}}}};
/// The search methods carry no docstrings here.
constexpr HybridDocs kNoDocs{};
using S = HybridSignatures<kNoDocs>;
constexpr py::Signature<1> kSetMetadataSig{"set_metadata_json", {{{"json_strings"}}}};

py::Object load(const py::Args<1>& a) {
    const std::string path = path_arg(a[0]);
    return index_dir_errors([&] { return py::Class<Index>::create(Index::load(path)); });
}

/// search and search_filtered.
template <std::size_t N>
py::Object search(PyObject* self, const py::Args<N>& a) {
    const HybridSearchArgs s = hybrid_search_args(a);
    py::Ref<Index> index(self);
    try {
        return index_dir_errors([&] {
            return ranked_list(index->index(),
                               index->search_filtered(s.query, s.embedding_view(), s.n, s.rrf_k,
                                                      s.bm25_candidates, mask_view(s.mask)));
        });
    } catch (const EmbeddingDimMismatch&) {
        throw py::Error{PyExc_ValueError, "query_embedding dim mismatch", {}};
    }
}

py::Object set_metadata_json(PyObject* self, const py::Args<1>& a) {
    const py::StrList texts = py::arg("json_strings", [&] { return py::to_str_list(a[0]); });
    py::RefMut<Index> index(self);
    if (texts.views.size() != index->num_docs()) throw py::Error{PyExc_ValueError, "length mismatch", {}};
    JsonStore store;
    if (const auto failure = parse_metadata(texts.views, store))
        throw py::Error{PyExc_ValueError, failure->message, {}};
    index->set_metadata(std::move(store));
    return py::Object::borrow(Py_None);
}

py::Object num_docs(const Index& i) { return py::from_u64(i.num_docs()); }
py::Object has_vectors(const Index& i) { return py::from_bool(i.has_vectors()); }

}  // namespace

void register_mmap_hybrid_class(py::Module& m) { m.add_class<Index>(); }

}  // namespace tarnwick::search

namespace tarnwick::py {
void ClassInfo<search::MmapHybridSearchIndex>::slots(std::vector<PyType_Slot>& s) {
    using search::Index;
    add_no_constructor<Index>(s);
    static PyMethodDef methods[] = {
        static_method<Index, search::kLoadSig, &search::load>(),
        method<Index, search::S::search, &search::search<5>>(),
        method<Index, search::S::search_filtered, &search::search<6>>(),
        method<Index, search::kSetMetadataSig, &search::set_metadata_json>(),
        {nullptr, nullptr, 0, nullptr},
    };
    static PyGetSetDef getset[] = {
        computed<Index, &search::num_docs>("num_docs"),
        computed<Index, &search::has_vectors>("has_vectors"),
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    s.push_back({Py_tp_methods, methods});
    s.push_back({Py_tp_getset, getset});
}
}  // namespace tarnwick::py
