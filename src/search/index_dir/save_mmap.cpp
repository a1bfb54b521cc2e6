// Python functions save_mmap_bm25 and save_mmap_hybrid: the adapter of the index directory
// writer (index_dir_writer.hpp).
//
// The arguments are converted first. Then the corpus iterable is read once, on the calling
// thread, each item becoming the text of one document:
// - a str that UTF-8 can encode is its own text;
// - otherwise, when reading the item's attribute "page_content" succeeds, that value if it
//   is such a str, else the empty text;
// - otherwise the item's str(), with every code point UTF-8 cannot encode replaced by
//   U+FFFD; when str() itself raises, the exception is reported as unraisable and the text
//   is "<unprintable {type name} object>" ("<unprintable object>" without a type name).
// Exceptions met while choosing a text are cleared, except KeyboardInterrupt, SystemExit and
// MemoryError, which end the call like an exception of the iterator itself: nothing has been
// written then. The files are written only after the last item, each completely under a
// temporary name before all of them replace the old ones (index_dir_files.hpp). An empty
// path is refused with ValueError. Ctrl-C stops the call while it reads the corpus or
// writes the files, before any file is replaced: the old directory stays as it was and no
// temporary file is left (a directory the call created stays, empty).
#include "cancel.hpp"
#include "dense/dense_py.hpp"
#include "module.hpp"
#include "py/args.hpp"
#include "py/convert.hpp"
#include "py/module.hpp"
#include "search/index_dir/index_dir_writer.hpp"
#include "search/search_py.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::search {
namespace {

constexpr py::Signature<8> kSaveBm25{
    "save_mmap_bm25",
    {{{"path"}, {"corpus_iter"}, {"k1"}, {"b"}, {"normalize"}, {"algorithm", "\"bm25\""},
      {"delta", "None"}, {"include_positions", "False"}}}};
constexpr py::Signature<9> kSaveHybrid{
    "save_mmap_hybrid",
    {{{"path"}, {"corpus_iter"}, {"k1"}, {"b"}, {"normalize"}, {"algorithm", "\"bm25\""},
      {"delta", "None"}, {"embeddings", "None"}, {"include_positions", "False"}}}};

/// The variant of an algorithm name, compared exactly: "bm25l", "bm25+" or "bm25plus",
/// "bm25t"; any other name is Okapi.
Variant variant_of(std::string_view name) noexcept {
    if (name == "bm25l") return Variant::L;
    if (name == "bm25+" || name == "bm25plus") return Variant::Plus;
    if (name == "bm25t") return Variant::T;
    return Variant::Okapi;
}

/// Whether the set error must end the call instead of being cleared.
bool fatal_error_set() noexcept {
    return PyErr_ExceptionMatches(PyExc_KeyboardInterrupt) ||
           PyErr_ExceptionMatches(PyExc_SystemExit) || PyErr_ExceptionMatches(PyExc_MemoryError);
}

/// Clears the set error, or throws it when it is fatal.
void clear_unless_fatal() {
    if (fatal_error_set()) py::throw_already_set();
    PyErr_Clear();
}

/// The UTF-8 text of `o` when it is a str that UTF-8 can encode.
std::optional<std::string_view> encodable_str(PyObject* o) {
    if (!PyUnicode_Check(o)) return std::nullopt;
    Py_ssize_t n = 0;
    const char* p = PyUnicode_AsUTF8AndSize(o, &n);
    if (!p) {
        clear_unless_fatal();
        return std::nullopt;
    }
    return std::string_view(p, static_cast<std::size_t>(n));
}

/// The text of one corpus item (see the file comment), added to `writer`.
void add_item(IndexDirWriter& writer, PyObject* item) {
    if (const auto text = encodable_str(item)) return writer.add(*text);
    if (py::Object content = py::Object::steal(py::get_attr(item, "page_content"))) {
        const auto text = encodable_str(content.get());
        return writer.add(text ? *text : std::string_view());
    }
    clear_unless_fatal();
    if (py::Object s = py::Object::steal(py::str(item))) return writer.add(py::to_str_lossy(s.get()));
    if (fatal_error_set()) py::throw_already_set();
    PyErr_WriteUnraisable(item);
    const py::Object name = py::Object::steal(
        py::get_attr(reinterpret_cast<PyObject*>(Py_TYPE(item)), "__name__"));
    if (name && PyUnicode_Check(name.get())) {
        if (const auto text = encodable_str(name.get()))
            return writer.add("<unprintable " + std::string(*text) + " object>");
    }
    clear_unless_fatal();
    writer.add("<unprintable object>");
}

/// The arguments the two functions share, converted.
struct SaveArgs {
    std::string path;
    PyObject* corpus;
    Bm25Params params;
    Variant variant;
    bool include_positions = false;
};

/// Converts include_positions into `s`.
void positions_arg(SaveArgs& s, PyObject* o) {
    if (o) s.include_positions = py::arg("include_positions", [&] { return py::to_bool(o); });
}

/// Converts (path, corpus_iter, k1, b, normalize, algorithm, delta).
SaveArgs save_args(PyObject* const* a) {
    SaveArgs s;
    s.path = path_arg(a[0]);
    s.corpus = a[1];
    s.params.k1 = py::arg("k1", [&] { return py::to_f64(a[2]); });
    s.params.b = py::arg("b", [&] { return py::to_f64(a[3]); });
    s.params.normalize = py::arg("normalize", [&] { return py::to_bool(a[4]); });
    const std::string_view algorithm =
        a[5] ? py::arg("algorithm", [&] { return py::to_str(a[5]); }) : std::string_view("bm25");
    s.variant = variant_of(algorithm);
    const std::optional<double> delta = py::arg("delta", [&] { return py::to_opt_f64(a[6]); });
    s.params.delta = delta ? *delta : s.variant == Variant::L ? 0.5 : 1.0;
    return s;
}

/// Reads the corpus and writes the index files, then (with `embeddings`) the embedding
/// files, all replacing the old ones together.
void save(const SaveArgs& s, const FloatRows* embeddings) {
    IndexDirWriter writer(s.params.normalize, s.include_positions);
    const py::Object it = py::check(py::get_iter(s.corpus));
    while (py::Object item = py::Object::steal(py::iter_next(it.get()))) {
        add_item(writer, item.get());
        cancel::cancellation_point();
    }
    py::check_error();
    index_dir_errors([&] {
        create_directories(s.path);
        DirectoryWrite out(s.path);
        writer.write(out, s.variant, s.params);
        if (embeddings)
            write_embeddings(out, embeddings->values, embeddings->size() > 0 ? embeddings->row(0).size() : 0);
        out.commit();
        return 0;
    });
}

py::Object save_mmap_bm25(const py::Args<8>& a) {
    SaveArgs s = save_args(a.data());
    positions_arg(s, a[7]);
    save(s, nullptr);
    return py::Object::borrow(Py_None);
}

py::Object save_mmap_hybrid(const py::Args<9>& a) {
    SaveArgs s = save_args(a.data());
    std::optional<FloatRows> embeddings;
    if (!py::is_absent(a[7])) embeddings = rows_arg("embeddings", a[7]);
    positions_arg(s, a[8]);
    save(s, embeddings ? &*embeddings : nullptr);
    return py::Object::borrow(Py_None);
}

}  // namespace

void register_index_dir_writers(py::Module& m) {
    m.add_function<kSaveBm25, &save_mmap_bm25>();
    m.add_function<kSaveHybrid, &save_mmap_hybrid>();
}

}  // namespace tarnwick::search
