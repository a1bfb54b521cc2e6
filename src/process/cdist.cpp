// Python adapter of cdist.
//
// cdist processes and converts every item once, with the interpreter lock held. The rows
// are then scored with the lock released, on the worker pool from
// parallel::kCdistMinCells cells on, in blocks of rows: while the pool scores one block,
// the calling thread (with the lock) turns the block before it into floats, which the
// interpreter's list constructor takes in order (py::matrix_list), writing the result
// list once. The pool also codes each row (its scores, and each cell's index among them),
// so that the calling thread takes one float per listed score of a row (each distinct
// score, or for short ASCII choices each length and LCS met), with as many references as
// cells hold it, instead of looking up a float per cell: the
// calling thread is the bound of a cheap scorer, and coding costs the pool less than a
// look-up costs the calling thread. A block of fewer rows than the pool has workers (a
// single row over a million choices) is scored in parts of rows, column ranges that
// every worker takes some of, each part coded on its own. Byte strings are viewed in the
// items (or in the processor's results), which are held until every block is scored;
// other items are converted into owned sequences. Under the simple and quick ratio, from
// kRecodeMinRows rows on, the pool first recodes the converted items of a small alphabet
// as byte strings (cdist_recode.hpp), so that the rows score them on the byte kernels.
#include "module.hpp"
#include "parallel.hpp"
#include "process/cdist_recode.hpp"
#include "process/process_cdist.hpp"
#include "process/process_py.hpp"
#include "process/process_scorer.hpp"
#include "py/convert.hpp"
#include "py/module.hpp"
#include "types_py.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <vector>

namespace tarnwick::process {
namespace {

// ---- cdist ----

/// How many items ahead of the one being prepared their objects are fetched: they lie
/// scattered over the heap, so they are asked for early enough to arrive by the time they
/// are read.
constexpr std::size_t kPrepareAhead = 16;

/// Most query rows for which the choices' text beyond ASCII is left as UTF-8: a row task
/// decodes a word in about a third of the time the calling thread takes to convert it (an
/// allocation and a copy), and the rows are scored side by side.
constexpr std::size_t kTextRows = 4;

/// The queries or choices of cdist after the processor and conversion: the objects that
/// the views show, held while the views are in use, and one view per item (store_view):
/// bytes and pure-ASCII text as views of their bytes (16 bytes an item), anything else as
/// a converted sequence, nothing (kNone, scoring 0.0) for a missing item or when the
/// processor or conversion failed. Made in two steps: the reading of every item, then,
/// once every argument is read, the preparation that may run Python code.
struct Items {
    std::vector<py::Object> raw;   // with a processor: the items it was given
    std::vector<py::Object> held;  // without one: the items themselves
    std::vector<ChoiceView, LargeArrayAllocator<ChoiceView>> views;
    Sequences others;                // the converted sequences the views index
    std::vector<std::size_t> left;   // without a processor: the items prepare() converts

    /// Reads every item of the argument `arg`, in order, as an owned reference: as
    /// collect() reads them, with an exact list or tuple read directly (its iteration runs
    /// no Python code but the stop test's signal handlers, after which the list's length is
    /// read again, as its iterator reads it) and a cancellation point every 256 items
    /// instead of before each. Without a processor, exact str and bytes items, whose
    /// conversion runs no Python code, are viewed (view_text) as they are read, while
    /// their objects are at hand; with `keep_text`, text beyond ASCII is viewed as its
    /// UTF-8 rather than converted (kText, which the row scorers decode at each cell).
    Items(PyObject* arg, bool processed, bool keep_text = false) {
        std::vector<py::Object>& out = processed ? raw : held;
        // Views the item at position i, just read, or leaves it to prepare(); false for
        // a text or bytes left without a view, whose reading may have raised and cleared
        // an error (a text that could not be read or converted), and the error's making
        // may have run Python code (a collection's finalizers).
        auto view = [&](std::size_t i) {
            if (processed) return true;
            ChoiceView& v = views.emplace_back();
            if (!view_text(out[i].get(), v, others, keep_text)) {
                left.push_back(i);
                return true;
            }
            // Room for the sequences of the items after the first converted one.
            if (others.size() == 1 && others.capacity() < views.capacity() - i)
                others.reserve(views.capacity() - i);
            return v.other != ChoiceView::kNone;
        };
        const bool list = PyList_CheckExact(arg);
        if (!list && !PyTuple_CheckExact(arg)) {
            out = collect(arg);
            views.reserve(processed ? 0 : out.size());
            for (std::size_t i = 0; i < out.size(); ++i) view(i);
            return;
        }
        auto size = [&] {
            return static_cast<std::size_t>(list ? PyList_Size(arg) : PyTuple_Size(arg));
        };
        auto item = [&](std::size_t i) {
            const auto k = static_cast<Py_ssize_t>(i);
            return list ? PyList_GetItem(arg, k) : PyTuple_GetItem(arg, k);
        };
        std::size_t n = size();
        out.reserve(n);
        if (!processed) views.reserve(n);
        // ahead[k % kPrepareAhead]: the item at position k, for k in [i, i + kPrepareAhead).
        PyObject* ahead[kPrepareAhead];
        // Fetches the items [from, to) into `ahead`, and their objects: for writing (the
        // reference count changes) and, without a processor, the line after the head,
        // which holds the text of a short str.
        auto fetch = [&](std::size_t from, std::size_t to) {
            for (std::size_t k = from; k < to; ++k) {
                PyObject* const o = item(k);
                if (processed)
                    prefetch_head(o);
                else
                    prefetch_object(o);
                ahead[k % kPrepareAhead] = o;
            }
        };
        for (std::size_t i = 0;; ++i) {
            if (i % 256 == 0) {
                cancel::cancellation_point();
                n = size();
                fetch(i, std::min(n, i + kPrepareAhead));
            }
            if (i >= n) break;
            out.push_back(py::Object::borrow(ahead[i % kPrepareAhead]));
            if (i + kPrepareAhead < n) fetch(i + kPrepareAhead, i + kPrepareAhead + 1);
            if (!view(i)) {  // Python code may have run: the list is read again as it stands
                n = size();
                fetch(i + 1, std::min(n, i + 1 + kPrepareAhead));
            }
        }
    }

    /// Prepares the items reading left (runs Python code): with a processor, every item
    /// goes through the missing-value test on the raw item, the processor, then the
    /// conversion; without one, the other items are converted (view_choice).
    /// Ordinary exceptions make the item absent; others propagate.
    void prepare(PyObject* processor) {
        if (processor) {
            views.reserve(raw.size());
            held.reserve(raw.size());
            others.reserve(raw.size());
            for (const py::Object& r : raw) {
                cancel::cancellation_point();
                py::Object& obj = held.emplace_back();
                ChoiceView& view = views.emplace_back();
                if (types::is_none(r.get())) continue;
                obj = py::Object::steal(py::call(processor, r.get()));
                if (!obj) {
                    discard_ordinary_error();
                    continue;
                }
                if (std::optional<types::Seq> seq = try_convert(obj.get()))
                    store_view(std::move(*seq), view, others);
            }
            return;
        }
        others.reserve(others.size() + left.size());
        for (std::size_t k = 0; k < left.size(); ++k) {
            if (k % 16 == 0) cancel::cancellation_point();
            if (k + kPrepareAhead < left.size()) prefetch_object(held[left[k + kPrepareAhead]].get());
            view_choice(held[left[k]].get(), views[left[k]], others);
        }
    }

    /// The number of items read.
    std::size_t size() const noexcept { return raw.empty() ? held.size() : raw.size(); }

    /// The views and the sequences they index.
    ItemViews item_views() const noexcept { return {{views.data(), views.size()}, others}; }

    Items(const Items&) = delete;
    Items& operator=(const Items&) = delete;

    /// Drops the held references with the objects fetched ahead: they lie scattered over
    /// the heap, and the release does little else than wait for them.
    ~Items() {
        const std::size_t n = held.size();
        for (std::size_t i = 0; i < n; ++i) {
            if (i + kReleaseAhead < n) {
                if (PyObject* const ahead = held[i + kReleaseAhead].get()) prefetch_head(ahead);
            }
            held[i] = py::Object();
        }
    }

private:
    static constexpr std::size_t kReleaseAhead = 48;
};

/// Cells per block of rows: the rows of one block are scored (with the interpreter lock
/// released) while the calling thread turns the block before into floats, so the scores
/// never need a buffer of the whole matrix. Each block's hand-off wakes the workers and
/// makes them wait for its slowest row, so the blocks are large (two blocks' scores and
/// codes take 5 MiB).
constexpr std::size_t kBlockCells = std::size_t{1} << 18;

/// Tasks per worker that a block of fewer rows is split into, by columns: one task per row
/// would leave most workers idle (a single row over a million choices, one worker), and
/// several per worker even out tasks of unequal cost.
constexpr std::size_t kTasksPerWorker = 4;

/// Fewest cells of a task of a split row: its query's preparation and its coding table
/// stay small beside its scoring.
constexpr std::size_t kMinPartCells = 16384;

/// Fewest rows served by the lane kernel for which the short ASCII choices are laid out
/// in transposed groups (LaneChoices): the layout takes about as long as one row takes
/// over the same choices without it.
constexpr std::size_t kGroupedMinRows = 2;

/// Fewest query rows for which the simple and quick ratio recode the items beyond ASCII
/// of a small alphabet as byte strings (recode_small_alphabet), on the pool, when some
/// item is a converted sequence (byte strings alone are already scored on byte paths).
/// Measured over 2,000 words of a 17-letter alphabet beyond ASCII: 6 rows take as long
/// with the recoding as without, 8 rows 5-10% less, 64 rows 45% less.
constexpr std::size_t kRecodeMinRows = 8;
static_assert(kRecodeMinRows > kTextRows, "recoded choices are never text kept as UTF-8");

/// Python floats for the cells: equal scores share one float object, so that a matrix
/// of many cells with few distinct scores allocates few objects. Set-associative by the
/// value's bits (four floats per set, in one cache line); a value that finds its set full
/// replaces the float used least recently of the four.
class FloatCache {
public:
    FloatCache() = default;
    FloatCache(const FloatCache&) = delete;
    FloatCache& operator=(const FloatCache&) = delete;
    ~FloatCache() {
        for (const Entry& e : table_) Py_XDECREF(e.obj);
    }

    /// New references to one float of value `v`, stored in every slot of `out`.
    void get_same(double v, std::span<PyObject*> out) {
        if (out.empty()) return;
        PyObject* const f = get(v);
        std::fill(out.begin(), out.end(), f);
        Py_SET_REFCNT(f, Py_REFCNT(f) + static_cast<Py_ssize_t>(out.size() - 1));
    }

    /// `count` (at least 1) new references to one float of value `v`.
    PyObject* get_many(double v, std::size_t count) {
        PyObject* const f = get(v);
        Py_SET_REFCNT(f, Py_REFCNT(f) + static_cast<Py_ssize_t>(count - 1));
        return f;
    }

    /// New references to floats of the values `v`, stored at `out`.
    void get_all(std::span<const double> v, PyObject** out) {
        for (std::size_t k = 0; k < v.size(); ++k) out[k] = get(v[k]);
    }

    /// A new reference to a float of value `v`.
    PyObject* get(double v) {
        const uint64_t bits = std::bit_cast<uint64_t>(v);
        Entry* const set = &table_[((bits * 0x9E3779B97F4A7C15ULL) >> (64 - kSetBits)) * kWays];
        if (set[0].obj && set[0].bits == bits) [[likely]]
            return Py_NewRef(set[0].obj);
        return find_or_make(set, v);
    }

private:
    struct Entry {
        uint64_t bits = 0;
        PyObject* obj = nullptr;
    };

    /// A new reference to a float of value `v` from the set's other entries, moved to the
    /// front, or a new float put at the front (the last entry's float dropped).
    [[gnu::noinline]] PyObject* find_or_make(Entry* set, double v) {
        const uint64_t bits = std::bit_cast<uint64_t>(v);
        std::size_t w = 1;
        while (w < kWays && !(set[w].obj && set[w].bits == bits)) ++w;
        Entry e;
        if (w < kWays) {
            e = set[w];
        } else {
            e.obj = PyFloat_FromDouble(v);
            if (!e.obj) {
                PyErr_Clear();
                throw std::bad_alloc();  // said in words, as every MemoryError
            }
            e.bits = bits;
            w = kWays - 1;
            Py_XDECREF(set[w].obj);
        }
        std::move_backward(set, set + w, set + w + 1);
        set[0] = e;
        return Py_NewRef(e.obj);
    }

    static constexpr std::size_t kWays = 4;
    static constexpr int kSetBits = 8;  // 16 KiB: stays in the first-level cache
    alignas(64) Entry table_[kWays << kSetBits];
};

/// One block of rows of the matrix: its scores in row-major order and, when the rows are
/// coded, each cell's code and the listed values of each part of a row (parts of
/// `segment` cells, the rows' parts in order; process_cdist.hpp). The scores of a coded
/// part may be left unwritten.
struct ScoredBlock {
    std::span<const double> scores;
    const uint16_t* codes = nullptr;
    std::span<const RowValues> parts;  // empty: not coded
    std::size_t segment = 0;           // cells per part
};

/// The scores of the matrix in row-major order, one block of rows at a time: blocks are
/// scored with the lock released, on the pool from parallel::kCdistMinCells cells on,
/// and while the caller turns one block into floats the pool scores the next. On the
/// pool the rows are also coded, so that the caller looks up one float per listed score
/// of a row instead of one per cell. A block of fewer rows than the pool's workers
/// can take is scored in parts of rows (column ranges), each part coded on its own.
class ScoreFeed {
public:
    ScoreFeed(ScorerType scorer, Items& queries, Items& choices,
              std::optional<double> cutoff)
        : scorer_(scorer), queries_(queries), choices_(choices), cutoff_(cutoff),
          n_(queries.views.size()), m_(choices.views.size()),
          use_pool_(n_ * m_ >= parallel::kCdistMinCells),
          // Enough rows per block to keep every worker busy, and at least kBlockCells cells.
          rows_(use_pool_ ? std::max({kBlockCells / m_, 2 * parallel::num_threads(), std::size_t{1}})
                          : n_),
          blocks_((n_ + rows_ - 1) / rows_) {
        const std::size_t rows = std::min(rows_, n_);
        for (Buffers& b : buffers_) {
            b.scores.reset(new double[rows * m_]);
            if (use_pool_) b.codes.reset(new uint16_t[rows * m_]);
        }
    }

    /// The next block (one row at least); waits for its scoring, and starts the scoring
    /// of the block after it. After an error, the block being scored has been waited for
    /// (while the call's stop flag, when set, still stops it).
    ScoredBlock next() {
        try {
            return next_block();
        } catch (...) {
            pool_.reset();
            throw;
        }
    }

    std::size_t columns() const noexcept { return m_; }

private:
    /// The first row of block b (n_ for b == blocks_).
    std::size_t row_begin(std::size_t b) const noexcept { return std::min(n_, b * rows_); }

    ScoredBlock next_block() {
        cancel::cancellation_point();
        const std::size_t b = next_++;
        if (!use_pool_) {
            py::AllowThreads nogil;
            score(b);
        } else {
            if (b == 0) pool_->run([this] { score(0); });
            {
                [[maybe_unused]] py::AllowThreads nogil;
                pool_->wait();
            }
            if (b + 1 < blocks_) pool_->run([this, b] { score(b + 1); });
        }
        const std::size_t rows = row_begin(b + 1) - row_begin(b);
        const Buffers& buf = buffers_[b % 2];
        ScoredBlock out{{buf.scores.get(), rows * m_}, buf.codes.get(), {}, buf.segment};
        if (use_pool_) out.parts = std::span<const RowValues>(buf.parts);
        return out;
    }

    /// The cells per part of a row in a block of `rows` rows: the whole row, unless the
    /// block has fewer rows than the pool's tasks want and its rows are long enough to be
    /// split into parts of kMinPartCells cells or more.
    std::size_t segment_of(std::size_t rows) const noexcept {
        const std::size_t workers = parallel::num_threads();
        if (!use_pool_ || workers <= 1) return m_;
        const std::size_t tasks = kTasksPerWorker * workers;
        const std::size_t parts = std::min((tasks + rows - 1) / rows, m_ / kMinPartCells);
        return parts <= 1 ? m_ : (m_ + parts - 1) / parts;
    }

    /// Scores block b, coding its rows' parts on the pool.
    void score(std::size_t b) {
        // The choices as the lane kernel reads them (the simple and quick ratio), built once
        // for all blocks: the blocks are scored one after another, never two at once.
        // Before them, on the pool, the items beyond ASCII of a small alphabet are recoded
        // as byte strings (the items' text stays held by the call, their views change).
        if (b == 0 && (scorer_.value == ScorerType::Ratio || scorer_.value == ScorerType::QRatio)) {
            if (use_pool_ && n_ >= kRecodeMinRows &&
                !(queries_.others.empty() && choices_.others.empty()))
                recoded_ = recode_small_alphabet(queries_.views, queries_.others, choices_.views,
                                                 choices_.others, use_pool_);
            lanes_.emplace(choices_.views, use_pool_, lane_rows() >= kGroupedMinRows);
        }
        Buffers& buf = buffers_[b % 2];
        const std::size_t first = row_begin(b), last = row_begin(b + 1);
        buf.segment = segment_of(last - first);
        if (use_pool_) buf.parts.resize((last - first) * row_parts(m_, buf.segment));
        score_rows(scorer_, queries_.item_views(), choices_.item_views(), cutoff_, first, last,
                   buf.segment, use_pool_, buf.scores.get(), use_pool_ ? buf.codes.get() : nullptr,
                   use_pool_ ? buf.parts.data() : nullptr, lanes_ ? &*lanes_ : nullptr);
    }

    /// The rows whose query the lane kernel serves, counted up to kGroupedMinRows.
    std::size_t lane_rows() const noexcept {
        std::size_t rows = 0;
        for (std::size_t i = 0; i < n_ && rows < kGroupedMinRows; ++i) rows += lanes_serve_query(queries_.views[i]);
        return rows;
    }

    /// Block b in buffers_[b % 2]; each task writes its part of a row.
    struct Buffers {
        std::unique_ptr<double[]> scores;
        std::unique_ptr<uint16_t[]> codes;  // on the pool only
        std::vector<RowValues> parts;       // on the pool only
        std::size_t segment = 0;            // cells per part
    };

    ScorerType scorer_;
    Items& queries_;
    Items& choices_;
    std::optional<double> cutoff_;
    std::size_t n_, m_;
    bool use_pool_;
    std::size_t rows_, blocks_;
    std::size_t next_ = 0;  // the block next() gives next
    std::unique_ptr<uint8_t[]> recoded_;  // set by score(0): the recoded items' bytes
    Buffers buffers_[2];
    std::optional<LaneChoices> lanes_;  // set by score(0)
    // Destroyed first: waits for the block it scores.
    std::optional<parallel::Background> pool_{std::in_place};
};

/// The cells of the result list in order, as new references to floats. A coded part of a
/// row takes its references all at once, one float per listed score with as many
/// references as cells hold it (a score listed twice takes its float twice, the same
/// float while the cache holds it); the references of cells not yet given out are dropped
/// when the fill ends early (on an error).
class CellFill {
public:
    CellFill(ScorerType scorer, Items& queries, Items& choices,
             std::optional<double> cutoff, bool score_cells)
        : scorer_(scorer), queries_(queries), choices_(choices), cutoff_(cutoff),
          score_cells_(score_cells) {}
    CellFill(const CellFill&) = delete;
    CellFill& operator=(const CellFill&) = delete;
    ~CellFill() { drop_taken(); }

    /// Stores between 1 and `room` new references at `out`; returns how many.
    std::size_t operator()(PyObject** out, std::size_t room) {
        if (!score_cells_) {
            floats_->get_same(0.0, std::span<PyObject*>(out, room));
            return room;
        }
        if (!feed_) feed_.emplace(scorer_, queries_, choices_, cutoff_);
        if (cell_ == block_.scores.size()) {
            block_ = feed_->next();
            cell_ = 0;
        }
        if (block_.parts.empty()) {
            const std::size_t k = std::min(room, block_.scores.size() - cell_);
            floats_->get_all(block_.scores.subspan(cell_, k), out);
            cell_ += k;
            return k;
        }
        // A coded block: within the current part of a row.
        const std::size_t m = feed_->columns(), seg = block_.segment;
        const std::size_t row = cell_ / m, col = cell_ % m, part = col / seg;
        const std::size_t k = std::min(room, part_end() - cell_);
        const RowValues& rv = block_.parts[row * row_parts(m, seg) + part];
        if (!rv.coded) {
            floats_->get_all(block_.scores.subspan(cell_, k), out);
        } else {
            if (col == part * seg) take_part(rv);
            const uint16_t* codes = block_.codes + cell_;
            PyObject* const* part_floats = part_floats_.data();
            for (std::size_t j = 0; j < k; ++j) out[j] = part_floats[codes[j]];
            if (cell_ + k == part_end()) taken_ = false;
        }
        cell_ += k;
        return k;
    }

private:
    /// The end of the part of a row that holds the cell cell_ of a coded block.
    std::size_t part_end() const noexcept {
        const std::size_t m = feed_->columns(), seg = block_.segment, col = cell_ % m;
        return cell_ - col + std::min(m, (col / seg + 1) * seg);
    }

    /// The references of every cell of a coded part.
    void take_part(const RowValues& rv) {
        part_floats_.resize(rv.values.size());
        for (std::size_t v = 0; v < rv.values.size(); ++v) {
            try {
                part_floats_[v] = floats_->get_many(rv.values[v], rv.counts[v]);
            } catch (...) {
                for (std::size_t u = 0; u < v; ++u) drop(part_floats_[u], rv.counts[u]);
                throw;
            }
        }
        taken_ = true;
    }

    /// Drops `count` references to `f`.
    static void drop(PyObject* f, std::size_t count) {
        Py_SET_REFCNT(f, Py_REFCNT(f) - static_cast<Py_ssize_t>(count - 1));
        Py_DECREF(f);
    }

    /// Drops the references of the current part's cells not given out.
    void drop_taken() noexcept {
        if (!taken_) return;
        for (std::size_t c = cell_, end = part_end(); c < end; ++c)
            Py_DECREF(part_floats_[block_.codes[c]]);
        taken_ = false;
    }

    ScorerType scorer_;
    Items& queries_;
    Items& choices_;
    std::optional<double> cutoff_;
    bool score_cells_;
    std::unique_ptr<FloatCache> floats_ = std::make_unique<FloatCache>();
    std::optional<ScoreFeed> feed_;  // made once the list is allocated
    ScoredBlock block_;
    std::size_t cell_ = 0;  // the next cell of the block to give out
    std::vector<PyObject*> part_floats_;  // the current coded part's float per value
    bool taken_ = false;  // the current part's references are taken and not all given out
};

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

    Items queries = py::length_arg("queries", [&] { return Items(a[0], processor != nullptr); });
    // For a few rows the choices' text beyond ASCII is decoded at each cell by the row
    // tasks rather than converted once by the calling thread.
    const bool keep_text = queries.size() <= kTextRows;
    Items choices = py::length_arg("choices", [&] { return Items(a[1], processor != nullptr, keep_text); });
    const std::size_t n = queries.size(), m = choices.size();
    if (m != 0 && n > static_cast<std::size_t>(std::numeric_limits<Py_ssize_t>::max()) / m)
        throw std::bad_alloc();
    const std::size_t cells = n * m;

    // Every item goes through the processor, even when no cell will be scored, so that an
    // interrupt raised there propagates on every call.
    queries.prepare(processor);
    choices.prepare(processor);

    // A NaN cut-off is met by no score; an unknown name scores nothing.
    const bool score_cells = scorer.known() && !(cutoff && std::isnan(*cutoff)) && cells != 0;
    CellFill fill(scorer, queries, choices, cutoff, score_cells);
    py::Object list = py::matrix_list(n, m, "score matrix", fill);
    py::Object result = py::check(PyTuple_New(3));
    PyTuple_SetItem(result.get(), 0, list.release());
    PyTuple_SetItem(result.get(), 1, py::from_u64(n).release());
    PyTuple_SetItem(result.get(), 2, py::from_u64(m).release());
    return result;
}

}  // namespace

void register_cdist(py::Module& m) { m.add_function<kCdist, &cdist_body>(); }

}  // namespace tarnwick::process
