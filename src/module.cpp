// Module entry: PyInit__tarnwick refuses a second interpreter, builds the module once per
// process and registers every class and function in one fixed order, each name also
// appended to __all__.
#include "distance/bktree.hpp"
#include "distance/gotoh.hpp"
#include "distance/initialize/classes.hpp"
#include "distance/initialize/edit_classes.hpp"
#include "distance/metrics_edit.hpp"
#include "distance/metrics_score.hpp"
#include "distance/ngram.hpp"
#include "distance/phonetic.hpp"
#include "fuzz_py.hpp"
#include "join/joiner.hpp"
#include "py/convert.hpp"
#include "py/function.hpp"

#include <atomic>
#include <cstdint>

namespace tarnwick {

// ---- What the module registers, declared by their adapters ----
namespace utils { extern PyMethodDef default_process_def; }
namespace process {
extern PyMethodDef cdist_def;
namespace extract {
extern PyMethodDef extract_def;
extern PyMethodDef extract_one_def;
extern PyMethodDef extract_iter_def;
}  // namespace extract
}  // namespace process
namespace search {
extern PyMethodDef cosine_similarity_matrix_def;
extern PyMethodDef normalize_bayes_def;
}  // namespace search

namespace {

/// One registration: a builtin function, or a class given by the function that builds
/// (once per process) and returns its type object as a new reference.
struct Entry {
    PyMethodDef* function = nullptr;
    const char* class_name = nullptr;
    PyObject* (*class_type)() = nullptr;
};

constexpr Entry fn(PyMethodDef* def) { return Entry{def, nullptr, nullptr}; }
constexpr Entry cls(const char* name, PyObject* (*type)()) { return Entry{nullptr, name, type}; }

/// The fixed registration order. Groups that are not built yet are absent.
const Entry kEntries[] = {
    // result classes
    cls("Editop", &py::Class<distance::initialize::Editop>::type_ref),
    cls("Editops", &py::Class<distance::initialize::Editops>::type_ref),
    cls("Opcode", &py::Class<distance::initialize::Opcode>::type_ref),
    cls("Opcodes", &py::Class<distance::initialize::Opcodes>::type_ref),
    cls("MatchingBlock", &py::Class<distance::initialize::MatchingBlock>::type_ref),
    cls("ScoreAlignment", &py::Class<distance::initialize::ScoreAlignment>::type_ref),
    // functions of the core and the batch matchers
    fn(&utils::default_process_def),
    fn(&process::extract::extract_def),
    fn(&process::extract::extract_one_def),
    fn(&process::extract::extract_iter_def),
    fn(&process::cdist_def),
    // search and join classes and functions
    fn(&search::cosine_similarity_matrix_def),
    fn(&search::normalize_bayes_def),
    cls("MultiJoiner", &py::Class<join::MultiJoiner>::type_ref),
    // ratio scorers
    fn(&fuzz::fuzz_ratio_def),
    fn(&fuzz::fuzz_partial_ratio_def),
    fn(&fuzz::fuzz_partial_ratio_alignment_def),
    fn(&fuzz::fuzz_token_sort_ratio_def),
    fn(&fuzz::fuzz_token_set_ratio_def),
    fn(&fuzz::fuzz_token_ratio_def),
    fn(&fuzz::fuzz_partial_token_sort_ratio_def),
    fn(&fuzz::fuzz_partial_token_set_ratio_def),
    fn(&fuzz::fuzz_partial_token_ratio_def),
    fn(&fuzz::fuzz_wratio_def),
    fn(&fuzz::fuzz_qratio_def),
    // metric families
    fn(&distance::metrics::levenshtein_distance_def),
    fn(&distance::metrics::levenshtein_similarity_def),
    fn(&distance::metrics::levenshtein_normalized_distance_def),
    fn(&distance::metrics::levenshtein_normalized_similarity_def),
    fn(&distance::metrics::levenshtein_editops_def),
    fn(&distance::metrics::levenshtein_opcodes_def),
    fn(&distance::metrics::hamming_distance_def),
    fn(&distance::metrics::hamming_similarity_def),
    fn(&distance::metrics::hamming_normalized_distance_def),
    fn(&distance::metrics::hamming_normalized_similarity_def),
    fn(&distance::metrics::hamming_editops_def),
    fn(&distance::metrics::hamming_opcodes_def),
    fn(&distance::metrics::indel_distance_def),
    fn(&distance::metrics::indel_similarity_def),
    fn(&distance::metrics::indel_normalized_distance_def),
    fn(&distance::metrics::indel_normalized_similarity_def),
    fn(&distance::metrics::indel_editops_def),
    fn(&distance::metrics::indel_opcodes_def),
    fn(&distance::metrics::jaro_distance_def),
    fn(&distance::metrics::jaro_similarity_def),
    fn(&distance::metrics::jaro_normalized_distance_def),
    fn(&distance::metrics::jaro_normalized_similarity_def),
    fn(&distance::metrics::jaro_winkler_distance_def),
    fn(&distance::metrics::jaro_winkler_similarity_def),
    fn(&distance::metrics::jaro_winkler_normalized_distance_def),
    fn(&distance::metrics::jaro_winkler_normalized_similarity_def),
    fn(&distance::metrics::lcs_seq_distance_def),
    fn(&distance::metrics::lcs_seq_similarity_def),
    fn(&distance::metrics::lcs_seq_normalized_distance_def),
    fn(&distance::metrics::lcs_seq_normalized_similarity_def),
    fn(&distance::metrics::lcs_seq_editops_def),
    fn(&distance::metrics::lcs_seq_opcodes_def),
    fn(&distance::metrics::osa_distance_def),
    fn(&distance::metrics::osa_similarity_def),
    fn(&distance::metrics::osa_normalized_distance_def),
    fn(&distance::metrics::osa_normalized_similarity_def),
    fn(&distance::metrics::damerau_levenshtein_distance_def),
    fn(&distance::metrics::damerau_levenshtein_similarity_def),
    fn(&distance::metrics::damerau_levenshtein_normalized_distance_def),
    fn(&distance::metrics::damerau_levenshtein_normalized_similarity_def),
    fn(&distance::metrics::prefix_distance_def),
    fn(&distance::metrics::prefix_similarity_def),
    fn(&distance::metrics::prefix_normalized_distance_def),
    fn(&distance::metrics::prefix_normalized_similarity_def),
    fn(&distance::metrics::postfix_distance_def),
    fn(&distance::metrics::postfix_similarity_def),
    fn(&distance::metrics::postfix_normalized_distance_def),
    fn(&distance::metrics::postfix_normalized_similarity_def),
    // Soundex, Gotoh, n-gram and BK-tree groups
    fn(&distance::phonetic::soundex_encode_def),
    fn(&distance::phonetic::soundex_distance_def),
    fn(&distance::phonetic::soundex_similarity_def),
    fn(&distance::phonetic::soundex_normalized_similarity_def),
    fn(&distance::phonetic::soundex_normalized_distance_def),
    fn(&distance::gotoh::gotoh_distance_def),
    fn(&distance::gotoh::gotoh_similarity_def),
    fn(&distance::gotoh::gotoh_normalized_distance_def),
    fn(&distance::gotoh::gotoh_normalized_similarity_def),
    fn(&distance::ngram::sorensen_dice_def),
    fn(&distance::ngram::jaccard_def),
    cls("BKTree", &py::Class<distance::bktree::BKTree>::type_ref),
};

/// Appends `name` to __all__, then sets the module attribute.
void add(PyObject* module, PyObject* all, const char* name, py::Object value) {
    py::Object s = py::check(PyUnicode_FromString(name));
    if (PyList_Append(all, s.get()) < 0) py::throw_already_set();
    if (PyObject_SetAttr(module, s.get(), value.get()) < 0) py::throw_already_set();
}

void module_body(PyObject* module) {
    py::Object all = py::check(PyList_New(0));
    if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) py::throw_already_set();
    for (const Entry& e : kEntries) {
        if (e.function) {
            add(module, all.get(), e.function->ml_name, py::make_function(e.function, module));
            continue;
        }
        PyObject* type = e.class_type();
        if (!type) {
            py::Object cause = py::fetch_error();
            throw py::Error{PyExc_RuntimeError,
                            std::string("An error occurred while initializing class ") +
                                e.class_name,
                            std::move(cause)};
        }
        add(module, all.get(), e.class_name, py::Object::steal(type));
    }
}

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_tarnwick", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

std::atomic<int64_t> recorded_interpreter{-1};
PyObject* module_cache = nullptr;  // written once, under the interpreter lock

PyObject* init() {
    const int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) py::throw_already_set();
    int64_t expected = -1;
    if (!recorded_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        throw py::Error{PyExc_ImportError,
                        "PyO3 modules do not yet support subinterpreters, see "
                        "https://docs.python.org/3/c-api/init.html#sub-interpreter-support",
                        {}};
    }
    if (module_cache) return Py_NewRef(module_cache);
    py::Object module = py::check(PyModule_Create2(&module_def, 3));
    module_body(module.get());
    if (!module_cache) module_cache = module.release();
    return Py_NewRef(module_cache);
}

}  // namespace
}  // namespace tarnwick

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__tarnwick() {
    return tarnwick::py::guard([] { return tarnwick::init(); });
}
