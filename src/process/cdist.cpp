// Python adapter of cdist.
//
// cdist processes and converts every item once, with the interpreter lock held. The rows
// are then scored with the lock released, on the worker pool from
// parallel::kCdistMinCells cells on, in blocks of rows: while the pool scores one block,
// the calling thread (with the lock) stores the block before it into the result list as
// floats. Byte strings are viewed in the items (or in the processor's results), which are
// held until every block is scored; other items are converted into owned sequences.
#include "module.hpp"
#include "parallel.hpp"
#include "process/process_cdist.hpp"
#include "process/process_py.hpp"
#include "process/process_scorer.hpp"
#include "py/convert.hpp"
#include "py/module.hpp"
#include "types_py.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <vector>

namespace tarnwick::process {
namespace {

// ---- cdist ----

/// The queries or choices of cdist after the processor and conversion: the objects that
/// Bytes sequences view, held while the sequences are in use, and the sequences (nothing
/// for a missing item, or when the processor or conversion failed).
struct Items {
    std::vector<py::Object> held;
    std::vector<std::optional<types::Seq>> seqs;

    /// Prepares every item: the missing-value test on the raw item, the processor, then
    /// the conversion. Ordinary exceptions make the item absent; others propagate.
    Items(const std::vector<py::Object>& raw, PyObject* processor) {
        held.reserve(raw.size());
        seqs.reserve(raw.size());
        for (const py::Object& r : raw) {
            cancel::cancellation_point();
            py::Object& obj = held.emplace_back();
            std::optional<types::Seq>& seq = seqs.emplace_back();
            if (types::is_none(r.get())) continue;
            if (processor) {
                obj = py::Object::steal(py::call(processor, r.get()));
                if (!obj) {
                    discard_ordinary_error();
                    continue;
                }
            } else {
                obj = r.copy();
            }
            seq = try_convert(obj.get());
        }
    }
};

/// Cells per block of rows: the rows of one block are scored (with the interpreter lock
/// released) while the calling thread turns the block before into floats, so the scores
/// never need a buffer of the whole matrix.
constexpr std::size_t kBlockCells = std::size_t{1} << 17;

/// Python floats for the cells: equal scores share one float object, so that a matrix
/// of many cells with few distinct scores allocates few objects. Direct-mapped by the
/// value's bits; a collision just creates another float.
class FloatCache {
public:
    FloatCache() = default;
    FloatCache(const FloatCache&) = delete;
    FloatCache& operator=(const FloatCache&) = delete;
    ~FloatCache() {
        for (const Entry& e : table_) Py_XDECREF(e.obj);
    }

    /// A new reference to a float of value `v`.
    PyObject* get(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        Entry& e = table_[(bits * 0x9E3779B97F4A7C15ULL) >> (64 - kBits)];
        if (e.obj && e.bits == bits) return Py_NewRef(e.obj);
        PyObject* f = PyFloat_FromDouble(v);
        if (!f) {
            PyErr_Clear();
            throw std::bad_alloc();  // said in words, as every MemoryError
        }
        Py_XDECREF(e.obj);
        e.obj = Py_NewRef(f);
        e.bits = bits;
        return f;
    }

private:
    struct Entry {
        uint64_t bits = 0;
        PyObject* obj = nullptr;
    };
    static constexpr int kBits = 10;  // 16 KiB: stays in the first-level cache
    Entry table_[1 << kBits];
};

/// Scores the matrix into `list` (n * m slots): blocks of rows are scored with the lock
/// released, on the pool from parallel::kCdistMinCells cells on, and each block is stored
/// as floats while the next one is scored.
void score_into(ScorerType scorer, const Items& queries, const Items& choices,
                std::optional<double> cutoff, PyObject* list, FloatCache& floats) {
    const std::size_t n = queries.seqs.size(), m = choices.seqs.size();
    const bool use_pool = n * m >= parallel::kCdistMinCells;
    // Enough rows per block to keep every worker busy, and at least kBlockCells cells.
    const std::size_t rows = use_pool ? std::max({kBlockCells / m, 2 * parallel::num_threads(),
                                                  std::size_t{1}})
                                      : n;
    const std::size_t blocks = (n + rows - 1) / rows;
    std::unique_ptr<double[]> buffers[2];  // each row task writes its whole row
    for (auto& b : buffers) b.reset(new double[std::min(rows, n) * m]);

    auto store = [&](std::size_t b) {
        const std::size_t first = b * rows, count = (std::min(n, first + rows) - first) * m;
        const double* buf = buffers[b % 2].get();
        for (std::size_t k = 0; k < count; ++k)
            PyList_SetItem(list, static_cast<Py_ssize_t>(first * m + k), floats.get(buf[k]));
    };
    auto block_task = [&](std::size_t b) {
        return [&, b] {
            score_rows(scorer, queries.seqs, choices.seqs, cutoff, b * rows,
                       std::min(n, (b + 1) * rows), use_pool, buffers[b % 2].get());
        };
    };

    if (!use_pool) {
        {
            py::AllowThreads nogil;
            block_task(0)();
        }
        store(0);
        return;
    }
    parallel::pipeline<py::AllowThreads>([&](std::size_t b) { return b < blocks; },
                                         [&](std::size_t b) { block_task(b)(); }, store);
}

// ---- The builtin ----

constexpr py::Signature<6> kCdist{
    "cdist",
    {{{"queries"}, {"choices"}, {"scorer_name"}, {"_scorer_obj"}, {"processor", "None"},
      {"score_cutoff", "None"}}},
    6,
    "Compute a full N\xC3\x97M score matrix between two lists of strings.\n\n"
    "Returns (scores, N, M), scores being a flat row-major list of length N*M (queries by choices).\n"
    "Query rows are computed in parallel, so the work scales with the number of processor cores."};

py::Object cdist_body(const py::Args<6>& a) {
    const ScorerType scorer = scorer_argument(a[2]);
    const std::optional<double> cutoff =
        py::arg("score_cutoff", [&] { return py::to_opt_f64(a[5]); });
    PyObject* processor = py::is_absent(a[4]) ? nullptr : a[4];

    std::vector<py::Object> raw_queries = py::length_arg("queries", [&] { return collect(a[0]); });
    std::vector<py::Object> raw_choices = py::length_arg("choices", [&] { return collect(a[1]); });
    const std::size_t n = raw_queries.size(), m = raw_choices.size();
    if (m != 0 && n > static_cast<std::size_t>(std::numeric_limits<Py_ssize_t>::max()) / m)
        throw std::bad_alloc();
    const std::size_t cells = n * m;

    // Every item goes through the processor, even when no cell will be scored, so that an
    // interrupt raised there propagates on every call.
    const Items queries(raw_queries, processor), choices(raw_choices, processor);

    // A NaN cut-off is met by no score; an unknown name scores nothing.
    const bool score_cells = scorer.known() && !(cutoff && std::isnan(*cutoff)) && cells != 0;
    py::Object list = py::new_matrix_list(n, m, "score matrix");
    auto floats = std::make_unique<FloatCache>();
    if (!score_cells) {
        for (std::size_t k = 0; k < cells; ++k)
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(k), floats->get(0.0));
    } else {
        score_into(scorer, queries, choices, cutoff, list.get(), *floats);
    }
    py::Object result = py::check(PyTuple_New(3));
    PyTuple_SetItem(result.get(), 0, list.release());
    PyTuple_SetItem(result.get(), 1, py::from_u64(n).release());
    PyTuple_SetItem(result.get(), 2, py::from_u64(m).release());
    return result;
}

}  // namespace

void register_cdist(py::Module& m) { m.add_function<kCdist, &cdist_body>(); }

}  // namespace tarnwick::process
