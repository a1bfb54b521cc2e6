// The fast route of extraction: a byte-string query, a known scorer, no processor and no
// scorer object. Choices are read straight out of lists, tuples and dicts; str and bytes
// choices are viewed without calling Python code; a running cut-off that rises with the
// results so far prunes the scorers. A list of parallel::kExtractMinChoices choices or
// more is scored on the worker pool with the interpreter lock released.
//
// Missing choices (None, NaN, "<NA>") and choices that cannot be converted are skipped;
// every other choice gets the score its scorer's fuzz_ function gives.
#include "fuzz/fuzz_text.hpp"
#include "parallel.hpp"
#include "process_extract.hpp"
#include "process_py.hpp"

#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>

namespace tarnwick::process::extract {
namespace {

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
        // Held while scoring: converting an unusual choice may run Python code that drops
        // the container's reference.
        py::Object held = py::Object::borrow(item);
        const std::optional<types::Seq> seq = adapter::fast_choice(held.get());
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

/// A choice of a list on the pool: the item (a strong reference) and either a view of its
/// bytes or the index of its converted sequence among the block's owned ones; no item:
/// nothing to score.
struct Slot {
    PyObject* item = nullptr;
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    int32_t other = kBytes;  // kBytes, kText, or an index into the owned sequences
    static constexpr int32_t kBytes = -1;  // raw bytes
    static constexpr int32_t kText = -2;   // the UTF-8 of a str: bytes when it is ASCII
};

/// A candidate of a chunk on the pool; its item is found in the block's slots.
using PoolCand = Candidate<char>;

/// One block of consecutive list positions: its slots (owning their items' references,
/// released with the interpreter lock held) and, once scored, its chunks' candidates.
struct Block {
    std::size_t begin = 0;           // list position of slot 0
    std::size_t used = 0;            // slots filled
    std::vector<Slot> slots;         // storage, reused from block to block
    std::vector<types::Seq> others;  // sequences of items that are not byte strings
    std::vector<std::vector<PoolCand>> parts;

    Block() = default;
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    ~Block() { release(); }

    /// Drops the items' references and empties the block, keeping its storage.
    void release() {
        for (std::size_t i = 0; i < used; ++i) Py_XDECREF(slots[i].item);
        used = 0;
        others.clear();
        parts.clear();
    }
};

/// Fills `blk` with the list positions [begin, end) (fewer when the list shrinks). Exact
/// str and bytes items are viewed directly; any other item goes through the general
/// conversion, which may run Python code that changes the list, so its length is read
/// again after each such item.
void read_slots(PyObject* list, std::size_t begin, std::size_t end, Block& blk) {
    blk.begin = begin;
    if (blk.slots.size() < end - begin) blk.slots.resize(end - begin);
    for (std::size_t i = begin; i < end; ++i) {
        PyObject* item = PyList_GetItem(list, static_cast<Py_ssize_t>(i));
        Slot& slot = blk.slots[i - begin];
        slot = Slot{};
        blk.used = i - begin + 1;
        const char* p = nullptr;
        Py_ssize_t len = -1;
        if (PyUnicode_CheckExact(item)) {
            p = PyUnicode_AsUTF8AndSize(item, &len);
            if (!p) {
                adapter::discard_ordinary_error();
                continue;
            }
            if (len == 4 && std::memcmp(p, "<NA>", 4) == 0) continue;  // missing
            if (static_cast<uint64_t>(len) <= UINT32_MAX) {
                // Whether it is ASCII is left to the worker that scores it.
                slot = Slot{Py_NewRef(item), reinterpret_cast<const uint8_t*>(p),
                            static_cast<uint32_t>(len), Slot::kText};
                continue;
            }
            len = -1;
        } else if (PyBytes_CheckExact(item)) {
            char* b = nullptr;
            if (PyBytes_AsStringAndSize(item, &b, &len) < 0) {
                adapter::discard_ordinary_error();
                continue;
            }
            p = b;
        }
        if (len >= 0 && static_cast<uint64_t>(len) <= UINT32_MAX) {
            slot = Slot{Py_NewRef(item), reinterpret_cast<const uint8_t*>(p),
                        static_cast<uint32_t>(len), Slot::kBytes};
            continue;
        }
        py::Object held = py::Object::borrow(item);
        std::optional<types::Seq> seq = adapter::fast_choice(held.get());
        if (seq) {
            slot.item = held.release();
            slot.other = static_cast<int32_t>(blk.others.size());
            blk.others.push_back(std::move(*seq));
        }
        end = std::min(end, std::max(i + 1, static_cast<std::size_t>(PyList_Size(list))));
    }
}

uint64_t bits(double v) noexcept { return std::bit_cast<uint64_t>(v); }

/// Raises the shared cut-off to `score` unless it is already higher. Every stored value is
/// a non-negative double, so the bit patterns compare as the numbers do.
void raise_cutoff(std::atomic<uint64_t>& cell, double score) noexcept {
    const uint64_t want = bits(score);
    uint64_t cur = cell.load(std::memory_order_relaxed);
    while (cur < want && !cell.compare_exchange_weak(cur, want, std::memory_order_relaxed)) {
    }
}

/// Scores the slots [begin, end) of one chunk of a block against the query with the shared
/// cut-off; candidate indices are list positions.
std::vector<PoolCand> score_choices_parallel(const PreparedQuery& q, const Block& blk,
                                             std::size_t begin, std::size_t end,
                                             std::optional<uint64_t> limit,
                                             std::atomic<uint64_t>& cell) {
    BoundedHeap<PoolCand> heap(limit.value_or(0));
    std::vector<PoolCand> all;
    std::vector<uint32_t> code_points;
    for (std::size_t i = begin; i < end; ++i) {
        const Slot& s = blk.slots[i];
        if (i + 4 < end) __builtin_prefetch(blk.slots[i + 4].data);
        if (!s.item) continue;
        // A stale, lower value only prunes less.
        const double r = std::bit_cast<double>(cell.load(std::memory_order_relaxed));
        double score;
        if (s.other >= 0) {
            score = q.score(blk.others[static_cast<std::size_t>(s.other)], r);
        } else if (s.other == Slot::kBytes ||
                   fuzz::text::is_ascii({reinterpret_cast<const char*>(s.data), s.size})) {
            score = q.score(std::span<const uint8_t>(s.data, s.size), r);
        } else {
            // Text with other characters: its code points, as the conversion of a str
            // gives them.
            fuzz::text::decode({reinterpret_cast<const char*>(s.data), s.size}, code_points);
            score = q.score(types::Seq::chars_view(code_points), r);
        }
        if (score < r) continue;
        const PoolCand c{score, blk.begin + i, 0};
        if (!limit) {
            all.push_back(c);
        } else if (heap.offer(PoolCand(c)) && heap.full()) {
            // The chunk already holds `limit` choices at or above this score, so nothing
            // below it can be among the best `limit`.
            raise_cutoff(cell, heap.lowest());
        }
    }
    return limit ? std::move(heap).take() : std::move(all);
}

/// List positions per block: the calling thread reads one block while the pool scores the
/// one before, and the items of a block are released soon after their scoring, while
/// they are still in cache.
constexpr std::size_t kBlock = 65536;

/// A list of kExtractMinChoices choices or more, scored on the pool. Every scored item is
/// held until its block has been scored, and the kept ones until the result is built, so
/// that the buffers read while the lock is released stay valid and each result reports the
/// object that was scored, whatever other threads do to the list meanwhile.
std::vector<Cand> pool_route(const PreparedQuery& q, PyObject* list, std::optional<uint64_t> limit,
                             double r0) {
    if (limit && *limit == 0) return {};
    const std::size_t n = static_cast<std::size_t>(PyList_Size(list));
    std::atomic<uint64_t> cell{bits(r0)};
    BoundedHeap<Cand> best(limit.value_or(0));
    std::vector<Cand> all;
    Block blocks[2];
    parallel::Background pool;  // destroyed first: waits for a block still being scored

    // Waits (with the lock released) for the block being scored, then keeps its candidates.
    auto collect = [&](Block& blk) {
        {
            py::AllowThreads nogil;
            pool.wait();
        }
        for (const auto& part : blk.parts) {
            for (const PoolCand& c : part) {
                Cand cand{c.score, c.index, py::Object::borrow(blk.slots[c.index - blk.begin].item)};
                if (!limit) {
                    all.push_back(std::move(cand));
                } else if (best.offer(std::move(cand)) && best.full()) {
                    raise_cutoff(cell, best.lowest());
                }
            }
        }
        blk.release();
    };

    Block* running = nullptr;  // the block being scored
    std::size_t next = 0;
    for (std::size_t b = 0;; ++b) {
        const std::size_t end = std::min({n, next + kBlock, static_cast<std::size_t>(PyList_Size(list))});
        if (next >= end) break;
        Block& blk = blocks[b % 2];
        read_slots(list, next, end, blk);
        next = blk.begin + blk.used;
        if (running) collect(*running);
        pool.run([&q, &blk, &cell, limit] {
            const std::vector<std::size_t> bounds = parallel::chunk_bounds(blk.used, 256);
            blk.parts = parallel::map(bounds.size() - 1, true, [&](std::size_t c) {
                return score_choices_parallel(q, blk, bounds[c], bounds[c + 1], limit, cell);
            });
        });
        running = &blk;
    }
    if (running) collect(*running);
    std::vector<Cand> out = limit ? std::move(best).take() : std::move(all);
    rank(out, limit);
    return out;
}

}  // namespace

std::vector<Cand> fast_route(const types::Seq& query, const Request& req) {
    const PreparedQuery q(req.scorer, query);
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
    py::Object it = py::check(PyObject_GetIter(choices));
    for (uint64_t i = 0;; ++i) {
        py::Object item = py::Object::steal(PyIter_Next(it.get()));
        if (!item) {
            py::check_error();
            break;
        }
        sel.offer(item.get(), i);
    }
    return std::move(sel).finish();
}

}  // namespace tarnwick::process::extract
