#include "search/search_py.hpp"

#include "dense/dense_py.hpp"

namespace tarnwick::search {

std::string_view query_arg(PyObject* o) {
    return py::arg("query", [&] { return py::to_str(o); });
}

uint64_t count_arg(const char* name, PyObject* o, uint64_t fallback) {
    return o ? py::arg(name, [&] { return py::to_u64(o); }) : fallback;
}

double float_arg(const char* name, PyObject* o, double fallback) {
    return o ? py::arg(name, [&] { return py::to_f64(o); }) : fallback;
}

std::optional<std::vector<uint8_t>> mask_arg(PyObject* o) {
    if (py::is_absent(o)) return std::nullopt;
    return py::arg("allowed", [&] { return py::to_bool_list(o); });
}

std::vector<SortKey> sort_keys_arg(const char* name, PyObject* o) {
    std::vector<SortKey> keys;
    if (py::is_absent(o)) return keys;
    py::arg(name, [&] {
        py::for_each_item(o, [&](PyObject* item) {
            // A key is a (str, bool) pair: a tuple of another length is a wrong type too.
            if (PyTuple_Check(item) && PyTuple_Size(item) != 2)
                throw py::Error{PyExc_TypeError,
                                "expected tuple of length 2, but got tuple of length " +
                                    std::to_string(PyTuple_Size(item)),
                                {}};
            py::check_tuple(item, 2);
            keys.push_back({std::string(py::to_str(PyTuple_GetItem(item, 0))),
                            py::to_bool(PyTuple_GetItem(item, 1))});
        });
        return 0;
    });
    return keys;
}

HybridSearchArgs hybrid_search_args(std::span<PyObject* const> a) {
    HybridSearchArgs out;
    out.query = query_arg(a[0]);
    if (!py::is_absent(a[1])) out.embedding = vector_arg("query_embedding", a[1]);
    out.n = count_arg("n", a[2], kN.value);
    out.rrf_k = count_arg("rrf_k", a[3], kRrfK.value);
    out.bm25_candidates = count_arg("bm25_candidates", a[4], kRrfCandidates.value);
    if (a.size() > 5) out.mask = mask_arg(a[5]);
    return out;
}

std::string path_arg(PyObject* o) {
    std::string path(py::arg("path", [&] { return py::to_str(o); }));
    if (path.find('\0') != std::string::npos) throw py::Error{PyExc_ValueError, "embedded null byte", {}};
    // Joined with a file name, the empty path would name the file system's root.
    if (path.empty()) throw py::Error{PyExc_ValueError, "path must not be empty", {}};
    return path;
}

py::Object float_list(std::span<const double> values) {
    py::Object list = py::check(PyList_New(static_cast<Py_ssize_t>(values.size())));
    for (std::size_t i = 0; i < values.size(); ++i)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), py::from_f64(values[i]).release());
    return list;
}

py::Object ranked_list(const Bm25Reader& index, std::span<const Scored> ranked,
                       std::span<const py::Object> objects) {
    py::Object list = py::check(PyList_New(static_cast<Py_ssize_t>(ranked.size())));
    // Each pair takes over the references of its text and score (no count is added to
    // them and taken back, as packing copies of them would).
    const auto pack = [&](std::size_t i, py::Object text) {
        py::Object pair = py::check(PyTuple_New(2));
        PyTuple_SetItem(pair.get(), 0, text.release());
        PyTuple_SetItem(pair.get(), 1, py::from_f64(ranked[i].score).release());
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), pair.release());
    };
    // The texts lie anywhere in the corpus, and so do their entries in the table of texts.
    // One loop of independent loads, which the processor overlaps, reads every entry and
    // requests its text (or its object, whose reference count is written) from memory, so
    // that the reads do not wait for one another. A thousand of them outgrow the
    // first-level cache: each is requested again (every line of a copied text, up to 4 KiB
    // of it, from the line of its first byte: texts seldom start on a line) some results
    // before it is read.
    if (!objects.empty()) {
        std::vector<PyObject*> object(ranked.size());
        for (std::size_t i = 0; i < ranked.size(); ++i) {
            object[i] = objects[static_cast<std::size_t>(ranked[i].doc)].get();
            __builtin_prefetch(object[i], 1);
        }
        constexpr std::size_t kAhead = 16;
        for (std::size_t i = 0; i < ranked.size(); ++i) {
            if (i + kAhead < ranked.size()) __builtin_prefetch(object[i + kAhead], 1);
            pack(i, py::Object::borrow(object[i]));
        }
        return list;
    }
    std::vector<std::string_view> text(ranked.size());
    for (std::size_t i = 0; i < ranked.size(); ++i) {
        text[i] = index.doc(static_cast<std::size_t>(ranked[i].doc));
        __builtin_prefetch(text[i].data());
    }
    constexpr std::size_t kAhead = 8;
    constexpr uintptr_t kLine = 64;
    constexpr std::size_t kMaxBytes = 4096;
    const auto prefetch_text = [&](std::size_t i) {
        const uintptr_t at = reinterpret_cast<uintptr_t>(text[i].data());
        const uintptr_t end = at + std::min(text[i].size(), kMaxBytes);
        for (uintptr_t line = at & ~(kLine - 1); line < end; line += kLine)
            __builtin_prefetch(reinterpret_cast<const void*>(line));
    };
    for (std::size_t i = 0; i < ranked.size() && i < kAhead; ++i) prefetch_text(i);
    cancel::Budget budget;
    for (std::size_t i = 0; i < ranked.size(); ++i) {
        if (i + kAhead < ranked.size()) prefetch_text(i + kAhead);
        budget.spend(256 + text[i].size());
        pack(i, py::from_str(text[i]));
    }
    return list;
}

}  // namespace tarnwick::search
