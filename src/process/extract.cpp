// Python adapter of the extract functions: extract, extract_one and extract_iter.
//
// Extraction takes one of two routes. The fast route, for a byte-string query with a known
// scorer and neither a processor nor a scorer object, reads lists, tuples and dicts
// directly, calls no Python code for str and bytes choices, prunes with a running cut-off
// and scores a list of parallel::kExtractMinChoices choices or more on the worker pool with
// the interpreter lock released. The general route serves every other call through the
// iteration protocol. Missing choices (None, NaN, "<NA>") and choices that cannot be
// converted are skipped on the fast route; every other choice gets the score its
// scorer's fuzz_ function gives.
#include "module.hpp"
#include "parallel.hpp"
#include "process/process_extract.hpp"
#include "process/process_py.hpp"
#include "process/process_rank.hpp"
#include "process/process_scorer.hpp"
#include "py/convert.hpp"
#include "py/module.hpp"
#include "types_py.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace tarnwick::process {
namespace {

// ---- Extraction ----

/// A kept choice: the object that was scored, its score and its reading position.
using Cand = Candidate<py::Object>;

/// One extraction call after argument conversion (all pointers borrowed from the call).
struct Request {
    ScorerType scorer;
    PyObject* choices = nullptr;
    PyObject* scorer_obj = nullptr;  // null when None
    PyObject* processor = nullptr;   // null when None
    std::optional<uint64_t> limit;   // nothing: no limit
    std::optional<double> cutoff;
};

/// Selection on the calling thread: the best choice only (limit 1), the best `limit`
/// (a bounded heap), or every kept choice (no limit). The running cut-off `r` rises to the
/// lowest score that can still enter the result.
class Selector {
public:
    Selector(const PreparedQuery& q, std::optional<uint64_t> limit, double r0, bool keep_none)
        : q_(q), limit_(limit), r_(r0), keep_none_(keep_none), heap_(limit.value_or(0)) {}

    /// Scores the choice `item` at reading position `index` and keeps it when it may
    /// belong to the result.
    void offer(PyObject* item, uint64_t index) {
        if (keep_none_ || (limit_ && *limit_ == 0)) return;
        cancel::cancellation_point();
        // Held while scoring: converting an unusual choice may run Python code that drops
        // the container's reference.
        py::Object held = py::Object::borrow(item);
        const std::optional<types::Seq> seq = fast_choice(held.get());
        if (!seq) return;
        const double score = q_.score(*seq, r_);
        if (score < r_) return;
        if (limit_ && *limit_ == 1) {
            if (!best_ || score > best_->score) {
                best_ = Cand{score, index, std::move(held)};
                r_ = std::max(r_, score);
            }
        } else if (limit_) {
            if (heap_.offer(Cand{score, index, std::move(held)}) && heap_.full())
                r_ = std::max(r_, heap_.lowest());
        } else {
            all_.push_back(Cand{score, index, std::move(held)});
        }
    }

    /// The kept choices in result order.
    std::vector<Cand> finish() && {
        std::vector<Cand> out;
        if (limit_ && *limit_ == 1) {
            if (best_) out.push_back(std::move(*best_));
            return out;
        }
        out = limit_ ? std::move(heap_).take() : std::move(all_);
        rank(out, limit_);
        return out;
    }

private:
    const PreparedQuery& q_;
    std::optional<uint64_t> limit_;
    double r_;
    bool keep_none_;
    std::optional<Cand> best_;
    BoundedHeap<Cand> heap_;
    std::vector<Cand> all_;
};

/// How many list positions ahead of the one being read the items are fetched: their heads
/// lie scattered over the heap, so they are asked for early enough to arrive by the time
/// they are read.
constexpr std::size_t kAhead = 16;

/// Items ahead of the one being released whose heads are fetched: the release loop does
/// little else than wait for them.
constexpr std::size_t kReleaseAhead = 48;

/// The storage of a block's items and views, kept from one call to the next (at most two
/// blocks' worth, about 3 MiB): fresh storage would have its pages faulted in and cleared
/// again on every call, several hundred page faults per call over a long list.
class SpareStorage {
public:
    struct Storage {
        std::vector<PyObject*> items;
        std::vector<ChoiceView> views;
    };

    /// Storage kept from an earlier call, or none.
    static Storage take() {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (spare_.empty()) return {};
        Storage s = std::move(spare_.back());
        spare_.pop_back();
        return s;
    }

    /// Keeps `s` for a later call (unless two are kept already).
    static void give(Storage&& s) noexcept {
        try {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (spare_.size() < 2) spare_.push_back(std::move(s));
        } catch (...) {
            // Not kept: freed with `s`.
        }
    }

private:
    static inline std::mutex mutex_;
    static inline std::vector<Storage> spare_;
};

/// One block of consecutive list positions: the items (strong references, released with
/// the interpreter lock held), the views the pool scores and, once scored, the chunks'
/// candidates. The first `count` entries of `items` and `views` are the block's; the
/// vectors only grow, so that a block is not cleared before it is filled.
struct Block {
    std::size_t begin = 0;              // list position of item 0
    std::size_t count = 0;              // items in the block
    SpareStorage::Storage storage = SpareStorage::take();
    std::vector<PyObject*>& items = storage.items;     // null where there is nothing to score
    std::vector<ChoiceView>& views = storage.views;    // one per item
    Sequences others;                   // sequences of items that are not byte strings
    std::vector<std::vector<PoolCandidate>> parts;

    Block() = default;
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    ~Block() {
        release();
        SpareStorage::give(std::move(storage));
    }

    /// The views of the block's items.
    std::span<const ChoiceView> block_views() const noexcept { return {views.data(), count}; }

    /// Drops the items' references and empties the block, keeping its storage.
    void release() {
        const std::size_t n = count;
        PyObject* const* it = items.data();
        for (std::size_t i = 0; i < n; ++i) {
            if (i + kReleaseAhead < n && it[i + kReleaseAhead]) prefetch_head(it[i + kReleaseAhead]);
            Py_XDECREF(it[i]);
        }
        count = 0;
        others.clear();
        parts.clear();
    }
};

/// How a block reads its items: as the fast route does (missing items and items that
/// cannot be converted are skipped), or as the general route does (missing items score
/// 0.0, and a conversion error is raised).
enum class ReadMode : bool { Fast, General };

/// The rest of read_exact for an exact str whose UTF-8 is not plain text of 0 to 2^32 - 1
/// bytes other than 4: its conversion failed (`p` null, the error set), it is 4 bytes long
/// ("<NA>" or not), or it is longer.
[[gnu::noinline]] bool read_text_rest(PyObject* item, const char* p, Py_ssize_t len, PyObject*& held,
                                      ChoiceView& view, bool general) {
    if (!p) {
        if (general) py::throw_already_set();
        discard_ordinary_error();
        return true;
    }
    if (len == 4 && std::memcmp(p, "<NA>", 4) == 0) {  // missing
        if (general) {
            held = Py_NewRef(item);
            view.other = ChoiceView::kMissing;
        }
        return true;
    }
    if (static_cast<uint64_t>(len) > UINT32_MAX) return false;
    held = Py_NewRef(item);
    view = ChoiceView{reinterpret_cast<const uint8_t*>(p), static_cast<uint32_t>(len), ChoiceView::kText};
    return true;
}

/// Reads an exact str or bytes `item` into `held` and `view` (null and nothing to score on
/// entry); true when that settles it.
/// A str or bytes whose contents cannot be read is left out on the fast route and raises
/// on the general route; "<NA>" is left out on the fast route and missing on the general
/// route. False for any other item, and for one over 2^32 - 1 bytes: those go through the
/// general conversion.
inline bool read_exact(PyObject* item, PyObject*& held, ChoiceView& view, bool general) {
    Py_ssize_t len = -1;
    if (Py_IS_TYPE(item, &PyUnicode_Type)) [[likely]] {
        const char* p = PyUnicode_AsUTF8AndSize(item, &len);
        // Whether it is ASCII is left to the worker that scores it.
        if (p && len != 4 && static_cast<uint64_t>(len) <= UINT32_MAX) [[likely]] {
            held = Py_NewRef(item);
            view = ChoiceView{reinterpret_cast<const uint8_t*>(p), static_cast<uint32_t>(len),
                              ChoiceView::kText};
            return true;
        }
        return read_text_rest(item, p, len, held, view, general);
    }
    if (!Py_IS_TYPE(item, &PyBytes_Type)) return false;
    char* b = nullptr;
    if (PyBytes_AsStringAndSize(item, &b, &len) < 0) {
        if (general) py::throw_already_set();
        discard_ordinary_error();
        return true;
    }
    if (static_cast<uint64_t>(len) > UINT32_MAX) return false;
    held = Py_NewRef(item);
    view = ChoiceView{reinterpret_cast<const uint8_t*>(b), static_cast<uint32_t>(len), ChoiceView::kBytes};
    return true;
}

/// Reads any other `item` through the general conversion into `held`, `view` and the
/// block's other sequences: as the fast route converts choices (nothing when it cannot),
/// or as the general route does (None is missing; a conversion error is raised).
void read_other(PyObject* item, PyObject*& held, ChoiceView& view, Block& blk, bool general) {
    py::Object own = py::Object::borrow(item);
    std::optional<types::Seq> seq;
    if (!general) {
        seq = fast_choice(own.get());
    } else if (types::is_none(own.get())) {
        held = own.release();
        view.other = ChoiceView::kMissing;
    } else {
        seq = types::extract_single(own.get());
    }
    if (seq) {
        held = own.release();
        store_view(std::move(*seq), view, blk.others);
    }
}

/// Fills `blk` with the list positions [begin, end) (fewer when the list shrinks). Exact
/// str and bytes items are viewed directly; any other item goes through the general
/// conversion, which may run Python code that changes the list, so its length is read
/// again after each such item and the items fetched ahead are fetched anew.
void read_block(PyObject* list, std::size_t begin, std::size_t end, Block& blk, ReadMode mode) {
    const bool general = mode == ReadMode::General;
    blk.begin = begin;
    if (blk.items.size() < end - begin) {
        blk.items.resize(end - begin);
        blk.views.resize(end - begin);
    }
    PyObject* ahead[kAhead];  // ahead[k % kAhead]: the item at position k, for k in [i, i + kAhead)
    auto fetch = [&](std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k) {
            PyObject* o = PyList_GetItem(list, static_cast<Py_ssize_t>(k));
            prefetch_object(o);
            ahead[k % kAhead] = o;
        }
    };
    fetch(begin, std::min(end, begin + kAhead));
    // In locals: the compiler cannot know that the calls below leave the vectors alone.
    PyObject** const items = blk.items.data();
    ChoiceView* const views = blk.views.data();
    std::size_t i = begin;
    try {
        for (; i < end; ++i) {
            PyObject* const item = ahead[i % kAhead];
            if (i + kAhead < end) fetch(i + kAhead, i + kAhead + 1);
            PyObject*& held = items[i - begin];
            ChoiceView& view = views[i - begin];
            held = nullptr;
            view = ChoiceView{};
            if (read_exact(item, held, view, general)) continue;
            blk.count = i - begin + 1;  // what release() drops if the conversion raises
            read_other(item, held, view, blk, general);
            end = std::min(end, std::max(i + 1, static_cast<std::size_t>(PyList_Size(list))));
            fetch(i + 1, std::min(end, i + 1 + kAhead));
        }
    } catch (...) {
        blk.count = i - begin + 1;  // the items read so far, this one included (null or held)
        throw;
    }
    blk.count = i - begin;
}

/// List positions per block: the calling thread reads one block while the pool scores the
/// one before. Each hand-off to the pool costs the calling thread some tens of
/// microseconds (waking the workers), so the blocks are large; towards the end of the list
/// they shrink to a quarter of what is left, so that the pool, which scores the last block
/// after the reading has ended, finishes soon after the reader.
constexpr std::size_t kBlockMax = 65536;
constexpr std::size_t kBlockMin = 8192;

/// The size of the block that starts with `left` list positions still to read.
constexpr std::size_t block_size(std::size_t left) noexcept {
    return std::clamp(left / 4, kBlockMin, kBlockMax);
}

/// A list of kExtractMinChoices choices or more, scored on the pool. Every scored item is
/// held until its block has been scored, and the kept ones until the result is built, so
/// that the buffers read while the lock is released stay valid and each result reports the
/// object that was scored, whatever other threads do to the list meanwhile.
/// With ReadMode::General the items are read as the general route reads them, and the list
/// is read to its end as it stands after each block, as its iterator would read it.
std::vector<Cand> pool_route(const PreparedQuery& q, PyObject* list, std::optional<uint64_t> limit,
                             double r0, ReadMode mode = ReadMode::Fast) {
    if (limit && *limit == 0) return {};
    const std::size_t n =
        mode == ReadMode::General ? SIZE_MAX : static_cast<std::size_t>(PyList_Size(list));
    RunningCutoff cutoff(r0);
    BoundedHeap<Cand> best(limit.value_or(0));
    std::vector<Cand> all;
    Block blocks[2];
    std::size_t next = 0;  // the list position the next block starts at

    // Reads the next block (false at the end of the list).
    auto read = [&](std::size_t b) {
        const std::size_t size = std::min(n, static_cast<std::size_t>(PyList_Size(list)));
        if (next >= size) return false;
        const std::size_t end = next + std::min(size - next, block_size(size - next));
        Block& blk = blocks[b % 2];
        read_block(list, next, end, blk, mode);
        next = blk.begin + blk.count;
        return true;
    };
    auto score = [&](std::size_t b) {
        Block& blk = blocks[b % 2];
        blk.parts = score_block(q, blk.block_views(), blk.others, blk.begin, limit, cutoff);
    };
    // Keeps the candidates of a scored block.
    auto keep = [&](std::size_t b) {
        Block& blk = blocks[b % 2];
        for (const auto& part : blk.parts) {
            for (const PoolCandidate& c : part) {
                Cand cand{c.score, c.index, py::Object::borrow(blk.items[c.index - blk.begin])};
                if (!limit) {
                    all.push_back(std::move(cand));
                } else if (best.offer(std::move(cand)) && best.full()) {
                    cutoff.raise(best.lowest());
                }
            }
        }
        blk.release();
    };
    parallel::pipeline<py::AllowThreads>(read, score, keep);
    std::vector<Cand> out = limit ? std::move(best).take() : std::move(all);
    rank(out, limit);
    return out;
}

/// The fast route, for a query converted to bytes.
std::vector<Cand> fast_route(const types::Seq& query, const Request& req) {
    // On the heap: reading the choices may call Python code, which may call this module
    // again, and the prepared query (several KiB) would be on the stack of every level.
    const auto prepared = std::make_unique<const PreparedQuery>(req.scorer, query);
    const PreparedQuery& q = *prepared;
    // The running cut-off starts at the caller's cut-off, at least 0 (NaN gives 0).
    const double r0 = (req.cutoff && *req.cutoff > 0.0) ? *req.cutoff : 0.0;
    const bool nan_cutoff = req.cutoff && std::isnan(*req.cutoff);
    PyObject* choices = req.choices;

    if (PyList_Check(choices) &&
        static_cast<std::size_t>(PyList_Size(choices)) >= parallel::kExtractMinChoices)
        return pool_route(q, choices, req.limit, r0);

    if (PyList_Check(choices) || PyTuple_Check(choices)) {
        const bool is_list = PyList_Check(choices);
        Selector sel(q, req.limit, r0, false);
        for (Py_ssize_t i = 0;; ++i) {
            const Py_ssize_t n = is_list ? PyList_Size(choices) : PyTuple_Size(choices);
            if (i >= n) break;
            sel.offer(is_list ? PyList_GetItem(choices, i) : PyTuple_GetItem(choices, i),
                      static_cast<uint64_t>(i));
        }
        return std::move(sel).finish();
    }
    if (PyDict_Check(choices)) {
        // A NaN cut-off keeps no value of a dict, except for the best-only selection.
        Selector sel(q, req.limit, r0, nan_cutoff && req.limit != std::optional<uint64_t>(1));
        // The dict is held: converting a value may run Python code that changes it.
        const py::Object dict = py::Object::borrow(choices);
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        for (uint64_t i = 0; PyDict_Next(dict.get(), &pos, &key, &value); ++i) sel.offer(value, i);
        return std::move(sel).finish();
    }
    // Any other iterable: its iterator; a NaN cut-off keeps nothing.
    Selector sel(q, req.limit, r0, nan_cutoff);
    py::Object it = py::check(py::get_iter(choices));
    for (uint64_t i = 0; const py::Object item = next_item(it.get()); ++i) sel.offer(item.get(), i);
    return std::move(sel).finish();
}

/// Raises the saved exception `exc` again.
[[noreturn]] void reraise(const py::Object& exc) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
    throw py::ErrorAlreadySet{};
}

/// Keyword arguments for a scorer object: processor and score_cutoff when given.
py::Object scorer_kwargs(const Request& req) {
    if (!req.processor && !req.cutoff) return {};
    py::Object kw = py::check(PyDict_New());
    if (req.processor && PyDict_SetItemString(kw.get(), "processor", req.processor) < 0)
        py::throw_already_set();
    if (req.cutoff) {
        py::Object c = py::from_f64(*req.cutoff);
        if (PyDict_SetItemString(kw.get(), "score_cutoff", c.get()) < 0) py::throw_already_set();
    }
    return kw;
}

/// The general route: every item from the iteration protocol, scored by the named scorer
/// (the query already processed and converted) or by the caller's scorer object.
std::vector<Cand> general_route(PyObject* q, bool query_missing, const std::optional<types::Seq>& qseq,
                                const py::Object& qerr, const Request& req) {
    py::Object it = py::check(py::get_iter(req.choices));
    const bool known = req.scorer.known();
    // On the heap, as in fast_route: the loop calls Python code.
    std::unique_ptr<const PreparedQuery> prepared;
    if (known && qseq) prepared = std::make_unique<const PreparedQuery>(req.scorer, *qseq);
    const py::Object kwargs = (!known && req.scorer_obj) ? scorer_kwargs(req) : py::Object{};

    // With a limit only the best `limit` are kept while reading; offered in reading order,
    // the heap keeps the earliest among equal scores, as a stable sort would.
    BoundedHeap<Cand> heap(req.limit.value_or(0));
    std::vector<Cand> all;
    for (uint64_t i = 0; py::Object item = next_item(it.get()); ++i) {
        double score = 0.0;
        if (known) {
            if (!query_missing && !types::is_none(item.get())) {
                if (!prepared) reraise(qerr);
                py::Object processed =
                    req.processor ? py::check(py::call(req.processor, item.get()))
                                  : item.copy();
                const types::Seq seq = types::extract_single(processed.get());
                score = prepared->score(seq, req.cutoff);
            }
        } else if (req.scorer_obj) {
            py::Object args = py::check(PyTuple_Pack(2, q, item.get()));
            py::Object r = py::check(py::call(req.scorer_obj, args.get(), kwargs.get()));
            score = py::to_f64(r.get());
        }
        if (req.cutoff && score < *req.cutoff) continue;
        Cand c{score, i, std::move(item)};
        if (req.limit) heap.offer(std::move(c));
        else all.push_back(std::move(c));
    }
    std::vector<Cand> out = req.limit ? std::move(heap).take() : std::move(all);
    rank(out, req.limit);
    return out;
}

std::vector<Cand> run(PyObject* query, const Request& req) {
    const bool known = req.scorer.known();
    // The missing-value test of the scorers, on the raw query only (as the fuzz_ functions
    // do it): every choice then scores 0.0 and the processor is not called. What the
    // processor returns is converted like any query, whatever it is.
    const bool query_missing = known && types::is_none(query);
    py::Object q = (req.processor && !query_missing)
                       ? py::check(py::call(req.processor, query))
                       : py::Object::borrow(query);

    // Converted once (an iterator query is consumed here); a conversion error is raised
    // only when a choice is scored against the query.
    std::optional<types::Seq> qseq;
    py::Object qerr;
    if (known && !query_missing) {
        try {
            qseq = types::extract_single(q.get());
        } catch (const py::ErrorAlreadySet&) {
            if (!PyErr_ExceptionMatches(PyExc_Exception)) throw;  // KeyboardInterrupt and the like
            qerr = py::fetch_error();
        } catch (const py::Error& e) {
            py::raise(e);
            qerr = py::fetch_error();
        }
    }
    if (known && !req.processor && !req.scorer_obj && qseq && qseq->kind() == types::SeqKind::Bytes)
        return fast_route(*qseq, req);
    // A list of other choices for a query of text beyond ASCII (or of items): the general
    // route's reading and scores, with the scoring on the pool. A NaN cut-off, which the
    // scorers apply in their own way, and a limit of 0, for which the general route still
    // reads (and may fail on) every choice, stay on the calling thread.
    if (known && !req.processor && !req.scorer_obj && qseq && PyList_Check(req.choices) &&
        static_cast<std::size_t>(PyList_Size(req.choices)) >= parallel::kExtractMinChoices &&
        !(req.cutoff && std::isnan(*req.cutoff)) && req.limit != std::optional<uint64_t>(0)) {
        const auto prepared = std::make_unique<const PreparedQuery>(req.scorer, *qseq);
        const double r0 = (req.cutoff && *req.cutoff > 0.0) ? *req.cutoff : 0.0;
        return pool_route(*prepared, req.choices, req.limit, r0, ReadMode::General);
    }
    return general_route(q.get(), query_missing, qseq, qerr, req);
}

// ---- The builtins ----

constexpr py::Signature<7> kExtract{
    "extract",
    {{{"query"}, {"choices"}, {"scorer_name"}, {"scorer_obj"}, {"processor", "None"},
      {"limit", "..."}, {"score_cutoff", "None"}}},
    7,
    "The choices that best match the query under the named scorer, best first, as\n"
    "(choice, score, index) tuples: at most `limit` of them (5 when not given, all for\n"
    "None)."};
// extract_one and extract_iter: the same parameters without limit.
constexpr py::Signature<6> kExtractOne{
    "extract_one",
    {{{"query"}, {"choices"}, {"scorer_name"}, {"scorer_obj"}, {"processor", "None"},
      {"score_cutoff", "None"}}},
    6,
    "The best match as a (choice, score, index) tuple, or None when no choice reaches\n"
    "score_cutoff."};
constexpr py::Signature<6> kExtractIter{
    "extract_iter",
    kExtractOne.params,
    6,
    "Every choice that reaches score_cutoff, best first, as a list of (choice, score,\n"
    "index) tuples."};

/// Converts the arguments shared by the three functions, in parameter order; `limit`
/// converts the limit argument between the processor and the cut-off.
template <class Limit>
Request request(PyObject* choices, PyObject* name, PyObject* obj, PyObject* processor,
                Limit&& limit, PyObject* cutoff) {
    Request r;
    r.scorer = scorer_argument(name);
    r.choices = choices;
    r.scorer_obj = py::is_absent(obj) ? nullptr : obj;
    r.processor = py::is_absent(processor) ? nullptr : processor;
    r.limit = limit();
    r.cutoff = py::arg("score_cutoff", [&] { return py::to_opt_f64(cutoff); });
    return r;
}

/// The result item (choice, score, index).
py::Object result_tuple(Cand& c) {
    py::Object score = py::from_f64(c.score);
    py::Object index = py::from_u64(c.index);
    py::Object t = py::check(PyTuple_New(3));
    PyTuple_SetItem(t.get(), 0, c.payload.release());
    PyTuple_SetItem(t.get(), 1, score.release());
    PyTuple_SetItem(t.get(), 2, index.release());
    return t;
}

py::Object result_list(std::vector<Cand>& cands) {
    py::Object list = py::check(PyList_New(static_cast<Py_ssize_t>(cands.size())));
    for (std::size_t i = 0; i < cands.size(); ++i)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), result_tuple(cands[i]).release());
    return list;
}

py::Object extract_body(const py::Args<7>& a) {
    // An absent limit gives 5, None no limit.
    const auto limit = [&]() -> std::optional<uint64_t> {
        if (!a[5]) return 5;
        if (a[5] == Py_None) return std::nullopt;
        return py::arg("limit", [&] { return py::to_u64(a[5]); });
    };
    const Request req = request(a[1], a[2], a[3], a[4], limit, a[6]);
    std::vector<Cand> cands = run(a[0], req);
    return result_list(cands);
}

py::Object extract_one_body(const py::Args<6>& a) {
    const Request req = request(
        a[1], a[2], a[3], a[4], [] { return std::optional<uint64_t>(1); }, a[5]);
    std::vector<Cand> cands = run(a[0], req);
    if (cands.empty()) return py::Object::borrow(Py_None);
    return result_tuple(cands.front());
}

py::Object extract_iter_body(const py::Args<6>& a) {
    const Request req = request(
        a[1], a[2], a[3], a[4], [] { return std::optional<uint64_t>(); }, a[5]);
    std::vector<Cand> cands = run(a[0], req);
    return result_list(cands);
}

}  // namespace

void register_extract(py::Module& m) {
    m.add_function<kExtract, &extract_body>();
    m.add_function<kExtractOne, &extract_one_body>();
    m.add_function<kExtractIter, &extract_iter_body>();
}

}  // namespace tarnwick::process
