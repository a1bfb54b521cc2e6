// Module entry: PyInit__tarnwick refuses a second interpreter, builds the module once per
// process and registers every class and function in one fixed order, each name also
// appended to __all__.
#include "module.hpp"

#include "py/module.hpp"

#include <atomic>
#include <cstdint>

namespace tarnwick {
namespace {

/// The fixed registration order. Groups that are not built yet are absent.
void register_all(py::Module& m) {
    // result classes
    distance::initialize::register_classes(m);
    // functions of the core and the batch matchers
    utils::register_functions(m);
    process::register_extract(m);
    process::register_cdist(m);
    // search and join classes and functions
    search::register_bm25_classes(m);
    search::register_mmap_bm25_class(m);
    search::register_hybrid_class(m);
    search::register_mmap_hybrid_class(m);
    search::register_index_dir_writers(m);
    search::register_score_utils(m);
    join::register_class(m);
    // ratio scorers
    fuzz::register_functions(m);
    // metric families
    using namespace distance::metrics;
    register_metric_family<Levenshtein>(m);
    register_metric_family<Hamming>(m);
    register_metric_family<Indel>(m);
    register_metric_family<Jaro>(m);
    register_metric_family<JaroWinkler>(m);
    register_metric_family<LcsSeq>(m);
    register_metric_family<Osa>(m);
    register_metric_family<DamerauLevenshtein>(m);
    register_metric_family<Prefix>(m);
    register_metric_family<Postfix>(m);
    // Soundex, Gotoh, n-gram and BK-tree groups
    distance::phonetic::register_functions(m);
    distance::gotoh::register_functions(m);
    distance::ngram::register_functions(m);
    distance::bktree::register_class(m);
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
    py::install_stop_test();
    py::Object module = py::check(PyModule_Create2(&module_def, 3));
    py::Module registry(module.get());
    register_all(registry);
    if (!module_cache) module_cache = module.release();
    return Py_NewRef(module_cache);
}

}  // namespace
}  // namespace tarnwick

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__tarnwick() {
    return tarnwick::py::guard([] { return tarnwick::init(); });
}
