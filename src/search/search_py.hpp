// The Python side shared by the search adapters: the conversions of their common
// arguments (a query, counts, weights, the mask of allowed documents, sort keys, a hybrid
// search's arguments, an index directory's path), the defaults they share and the hybrid
// classes' search signatures, the index directory's faults as Python exceptions, and the
// conversions of their common results (score lists and ranked (document text, score)
// lists). Every conversion raises the binding layer's error naming the argument before
// any work is done. Embedding matrices and vectors are converted by dense/dense_py.hpp.
#pragma once

#include "py/args.hpp"
#include "py/convert.hpp"
#include "search/bm25/bm25_reader.hpp"
#include "search/index_dir/index_dir_files.hpp"
#include "search/metadata/metadata_sort.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tarnwick::search {

/// The UTF-8 text of the str argument `query`.
std::string_view query_arg(PyObject* o);

/// An unsigned 64-bit argument, or `fallback` when it was not given.
uint64_t count_arg(const char* name, PyObject* o, uint64_t fallback);

/// A float argument, or `fallback` when it was not given.
double float_arg(const char* name, PyObject* o, double fallback);

/// The mask argument `allowed`: None (or absent) for no mask, else a sequence of bools.
std::optional<std::vector<uint8_t>> mask_arg(PyObject* o);
inline Mask mask_view(const std::optional<std::vector<uint8_t>>& mask) {
    if (!mask) return std::nullopt;
    return std::span<const uint8_t>(*mask);
}

/// Runs `f`; a fault in an index directory's files becomes OSError (found while opening or
/// writing, IndexDirError) or ValueError (met by a query, CorruptIndexError) with its
/// message. Failures of the operating system become the binding layer's OSError by kind.
template <class F>
auto index_dir_errors(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const IndexDirError& e) {
        throw py::Error{PyExc_OSError, e.what(), {}};
    } catch (const CorruptIndexError& e) {
        throw py::Error{PyExc_ValueError, e.what(), {}};
    }
}

/// A method body `Body` run under index_dir_errors.
template <auto Body, std::size_t N>
py::Object with_index_dir_errors(PyObject* self, const py::Args<N>& a) {
    return index_dir_errors([&] { return Body(self, a); });
}
template <auto Body>
py::Object with_index_dir_errors(PyObject* self) {
    return index_dir_errors([&] { return Body(self); });
}

/// The sort keys argument `name`: None (or absent) for none, else a sequence of (str, bool)
/// tuples. Anything else, a tuple of another length than 2 included, is the binding
/// layer's TypeError naming the argument.
std::vector<SortKey> sort_keys_arg(const char* name, PyObject* o);

/// A default of an optional parameter: the text of the signature and the value of the body.
template <class V>
struct Default {
    const char* text;
    V value;
};
/// The defaults shared by the BM25 classes' rankings (bm25_methods.hpp) and the hybrid
/// searches: the number of results, the BM25 candidates of a fusion and its rrf_k.
inline constexpr Default<uint64_t> kN{"5", 5};
inline constexpr Default<uint64_t> kRrfCandidates{"100", 100};
inline constexpr Default<uint64_t> kRrfK{"60", 60};

/// The docstrings of one hybrid class's search methods (null: none).
struct HybridDocs {
    const char* search = nullptr;
    const char* search_filtered = nullptr;
};

/// The signatures of search and search_filtered, shared by both hybrid classes, with the
/// docstrings of `D`; hybrid_search_args reads their arguments.
template <const HybridDocs& D>
struct HybridSignatures {
    static constexpr py::Signature<5> search{
        "search",
        {{{"query"}, {"query_embedding", "None"}, {"n", kN.text}, {"rrf_k", kRrfK.text},
          {"bm25_candidates", kRrfCandidates.text}}},
        5, D.search};
    static constexpr py::Signature<6> search_filtered{
        "search_filtered",
        {{{"query"}, {"query_embedding", "None"}, {"n", kN.text}, {"rrf_k", kRrfK.text},
          {"bm25_candidates", kRrfCandidates.text}, {"allowed", "None"}}},
        6, D.search_filtered};
};

/// The arguments of a hybrid search: (query, query_embedding=None, n=5, rrf_k=60,
/// bm25_candidates=100) and, for a filtered search, allowed=None.
struct HybridSearchArgs {
    std::string_view query;
    std::optional<std::vector<float>> embedding;
    uint64_t n;
    uint64_t rrf_k;
    uint64_t bm25_candidates;
    std::optional<std::vector<uint8_t>> mask;

    std::optional<std::span<const float>> embedding_view() const {
        if (!embedding) return std::nullopt;
        return std::span<const float>(*embedding);
    }
};
/// Converts the first 5 (search) or 6 (search_filtered) arguments of `a`.
HybridSearchArgs hybrid_search_args(std::span<PyObject* const> a);

/// The str argument naming an index directory. ValueError "embedded null byte" when it
/// holds a NUL (the system's calls would take the path only up to it, another directory)
/// and "path must not be empty" for "" (joined with a file name, it names the root).
std::string path_arg(PyObject* o);

/// A new list of floats.
py::Object float_list(std::span<const double> values);

/// A new list of (document text, score) tuples. With `objects` (item d the text of
/// document d as a plain str), each text is that object itself; else a new str.
py::Object ranked_list(const Bm25Reader& index, std::span<const Scored> ranked,
                       std::span<const py::Object> objects = {});

}  // namespace tarnwick::search
