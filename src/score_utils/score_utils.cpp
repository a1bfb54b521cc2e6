// Python adapter of the score utilities: normalize_bayes and cosine_similarity_matrix.
//
// Both convert their whole input into owned C++ data first (a failed conversion raises
// before anything is computed), run the engine and build new Python objects from its
// result. The matrix is computed on the worker pool in blocks of rows while this thread,
// keeping the interpreter lock, turns the block before into Python floats (it keeps the
// lock while it waits for the pool too, running the signal check meanwhile).
#include "module.hpp"
#include "parallel.hpp"
#include "py/convert.hpp"
#include "py/module.hpp"
#include "score_utils/normalize_bayes.hpp"
#include "dense/dense_py.hpp"

#include <algorithm>
#include <limits>
#include <new>
#include <span>
#include <string_view>
#include <vector>

namespace tarnwick::search {
namespace {

constexpr py::Signature<1> kNormalizeBayes{
    "normalize_bayes",
    {{{"scores"}}},
    1,
    "Applies a 5-step Bayes normalization to calibrate BM25/fuzzy scores to [0, 1] "
    "probabilities.\n\n"
    "1. Filters non-zero scores.\n"
    "2. Calculates median and std_dev.\n"
    "3. Computes beta = median, alpha_eff = 1.0 / max(std_dev, 1e-6)\n"
    "4. Transforms scores using Sigmoid function."};

py::Object normalize_bayes_body(const py::Args<1>& a) {
    // The texts as exact str objects: the caller's own where they are exact, else new ones
    // made from their UTF-8 (which also refuses lone surrogates, as every text does).
    std::vector<py::Object> texts;
    std::vector<double> scores;
    py::arg("scores", [&] {
        py::for_each_item(a[0], [&](PyObject* item) {
            py::check_tuple(item, 2);
            PyObject* text = PyTuple_GetItem(item, 0);
            const std::string_view utf8 = py::to_str(text);
            scores.push_back(py::to_f64(PyTuple_GetItem(item, 1)));
            texts.push_back(PyUnicode_CheckExact(text) ? py::Object::borrow(text)
                                                       : py::from_str(utf8));
        });
        return 0;
    });
    normalize_bayes(scores);
    py::Object list = py::check(PyList_New(static_cast<Py_ssize_t>(scores.size())));
    for (std::size_t i = 0; i < scores.size(); ++i) {
        py::Object pair = py::check(PyTuple_New(2));
        PyTuple_SetItem(pair.get(), 0, texts[i].release());
        PyTuple_SetItem(pair.get(), 1, py::from_f64(scores[i]).release());
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), pair.release());
    }
    return list;
}

constexpr py::Signature<2> kCosineSimilarityMatrix{
    "cosine_similarity_matrix",
    {{{"a"}, {"b"}}},
    2,
    "Compute dot product (cosine sim on unit vectors) between two embedding matrices.\n\n"
    "Parameters\n"
    "----------\n"
    "a : list[list[float]]\n"
    "    Query embeddings, shape (nq, dim)\n"
    "b : list[list[float]]\n"
    "    Corpus embeddings, shape (nc, dim)\n\n"
    "Returns\n"
    "-------\n"
    "(flat_scores: list[float], nq: int, nc: int)\n"
    "    Row-major matrix of shape (nq, nc)"};

/// Cells per block of matrix rows: the pool computes one block while this thread turns
/// the block before it into Python floats, so the scores never need a buffer of the whole
/// matrix.
constexpr std::size_t kBlockCells = std::size_t{1} << 17;

py::Object cosine_similarity_matrix_body(const py::Args<2>& a) {
    const FloatRows qa = rows_arg("a", a[0]);
    const FloatRows qb = rows_arg("b", a[1]);
    const std::size_t nq = qa.size(), nc = qb.size();
    py::Object list = py::new_matrix_list(nq, nc, "score matrix");
    if (nq != 0 && nc != 0) {
        std::vector<std::span<const float>> targets(nc);
        for (std::size_t j = 0; j < nc; ++j) targets[j] = qb.row(j);
        const DotPanel corpus(targets);
        const std::size_t rows =
            std::max({kBlockCells / nc, 2 * parallel::num_threads(), std::size_t{1}});
        const std::size_t blocks = (nq + rows - 1) / rows;
        std::vector<float> buffers[2];  // one block of rows each
        for (std::vector<float>& b : buffers) b.resize(std::min(rows, nq) * nc);
        auto work = [&](std::size_t g) {
            const std::size_t first = g * rows;
            dot_rows(qa, corpus, first, std::min(nq, first + rows), buffers[g % 2].data());
        };
        auto store = [&](std::size_t g) {
            const std::size_t begin = g * rows * nc, end = std::min(nq, (g + 1) * rows) * nc;
            const float* scores = buffers[g % 2].data();
            for (std::size_t k = begin; k < end; ++k) {
                PyObject* f = PyFloat_FromDouble(scores[k - begin]);
                if (!f) {
                    PyErr_Clear();
                    throw std::bad_alloc();  // said in words, as every MemoryError
                }
                PyList_SetItem(list.get(), static_cast<Py_ssize_t>(k), f);
            }
        };
        // Like every parallel caller but cdist and extract, the matrix keeps the
        // interpreter lock while the pool works.
        parallel::pipeline<parallel::KeepHeld>([&](std::size_t g) { return g < blocks; }, work, store);
    }
    py::Object result = py::check(PyTuple_New(3));
    PyTuple_SetItem(result.get(), 0, list.release());
    PyTuple_SetItem(result.get(), 1, py::from_u64(nq).release());
    PyTuple_SetItem(result.get(), 2, py::from_u64(nc).release());
    return result;
}

}  // namespace

void register_score_utils(py::Module& m) {
    m.add_function<kCosineSimilarityMatrix, &cosine_similarity_matrix_body>();
    m.add_function<kNormalizeBayes, &normalize_bayes_body>();
}

}  // namespace tarnwick::search
