// The one process-wide worker pool, and the loops that run on it.
//
// The pool is a oneTBB task arena created on first parallel use. Its size comes from
// RAYON_NUM_THREADS, else RAYON_RS_NUM_CPUS (a positive decimal is the count, 0 means the
// number of processors; anything else is ignored), else the number of processors this
// process may run on. Every loop here keeps input order in its results, and every caller
// decides between the pool and its own thread with the fixed thresholds below.
//
// A process forked after its parent started the pool has no worker threads (fork copies
// only the forking thread, and the library's record of its workers cannot be reset), so
// there the pool has one thread: all work runs on the calling thread.
//
// Worker code never calls the interpreter: callers convert Python data before a loop and
// build Python results after it.
#pragma once

#include "cancel.hpp"

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/parallel_sort.h>
#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick::parallel {

// ---- Thresholds: the pool is used from these sizes on ----

/// Score matrix: cells (queries times choices).
inline constexpr std::size_t kCdistMinCells = 1000;
/// Extraction on its fast path: choices of a list.
inline constexpr std::size_t kExtractMinChoices = 32;
/// BM25 scoring of one query: documents.
inline constexpr std::size_t kBm25MinDocs = 10000;
/// Metadata filter masks: documents.
inline constexpr std::size_t kFilterMinDocs = 5000;
/// Hybrid re-scoring: candidates (more than 2000).
inline constexpr std::size_t kHybridMinCandidates = 2001;
/// Join of one ordered pair of arrays: source elements.
inline constexpr std::size_t kJoinMinSources = 2;

// ---- Pool size ----

/// Number of processors this process may run on (its CPU affinity), at least 1.
std::size_t available_processors() noexcept;

/// Value of one pool-size variable: the count for a positive decimal, `processors` for 0,
/// nothing when unset or not a decimal.
std::optional<std::size_t> parse_thread_count(const char* value, std::size_t processors) noexcept;

/// Pool size from the two variables' values (null when unset) and the processor count.
std::size_t pool_size(const char* num_threads, const char* rs_num_cpus,
                      std::size_t processors) noexcept;

/// Size of the process-wide pool (read from the environment once); 1 in a process forked
/// after the pool started.
std::size_t num_threads() noexcept;

/// The process-wide arena, created on first use and never destroyed. Used only when
/// num_threads() is more than 1.
oneapi::tbb::task_arena& arena();

// ---- Loops ----

/// Whether the calling thread is one of the pool's.
bool in_pool() noexcept;

/// Runs f() on the pool and waits for it, running the stop test meanwhile (see
/// Background); rethrows f's error.
template <class F>
void run_and_wait(F&& f);

/// Calls f(begin, end) over consecutive ranges covering [0, n): on the pool when `use_pool`
/// (ranges of at least `grain` indices, in any order and concurrently), else once with
/// (0, n) on the calling thread. Pool tasks serve the caller's cancellation state (see
/// cancel.hpp); a caller from outside the pool runs the stop test while it waits, and a
/// cancelled loop throws cancel::Cancelled once every task has ended.
template <class F>
void for_each_range(std::size_t n, bool use_pool, std::size_t grain, F&& f) {
    if (n == 0) return;
    if (!use_pool || num_threads() <= 1 || n <= grain) {
        f(std::size_t{0}, n);
        return;
    }
    cancel::State* const caller = &cancel::current();
    // Isolated: while a thread waits for the loop's tasks it runs only those, never an
    // unrelated task that could keep it from returning.
    auto loop = [&] {
        oneapi::tbb::this_task_arena::isolate([&] {
            oneapi::tbb::parallel_for(
                oneapi::tbb::blocked_range<std::size_t>(0, n, grain),
                [&](const oneapi::tbb::blocked_range<std::size_t>& r) {
                    cancel::Serving serving(caller);
                    f(r.begin(), r.end());
                });
        });
    };
    if (in_pool()) {
        loop();
        return;
    }
    run_and_wait(loop);
}

/// Calls f(i) for every i in [0, n): on the pool when `use_pool`, else in index order on
/// the calling thread.
template <class F>
void for_each_index(std::size_t n, bool use_pool, F&& f) {
    for_each_range(n, use_pool, 1, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) f(i);
    });
}

/// Order-keeping map: element i of the result is f(i), computed on the pool when
/// `use_pool`. The result type must be default-constructible.
template <class F>
auto map(std::size_t n, bool use_pool, F&& f) {
    using T = std::decay_t<decltype(f(std::size_t{0}))>;
    std::vector<T> out(n);
    for_each_index(n, use_pool, [&](std::size_t i) { out[i] = f(i); });
    return out;
}

/// Sorts [first, last) by `less`: on the pool when `use_pool`, else on the calling thread.
/// `less` must order every two distinct elements (a strict total order): the sorted list is
/// then the same on any number of threads.
template <class It, class Less>
void sort(It first, It last, bool use_pool, Less less) {
    // Below this length the pool's coordination costs more than it saves.
    constexpr std::ptrdiff_t kMinParallel = 4096;
    if (!use_pool || num_threads() <= 1 || last - first < kMinParallel) {
        std::sort(first, last, less);
        return;
    }
    arena().execute([&] {
        oneapi::tbb::this_task_arena::isolate([&] { oneapi::tbb::parallel_sort(first, last, less); });
    });
}

/// Work started on the pool that runs while the calling thread goes on with other things
/// (such as preparing the next piece of work). At most one piece runs at a time: `run`
/// waits for the previous one first. The piece is enqueued in the arena and waited for
/// from outside it, so a waiting caller never runs unrelated tasks on its own stack, and
/// no thread of the pool ever waits for it. With a pool of one thread the piece runs in
/// `wait`. The piece serves the cancellation state of the thread that started it, and
/// `wait` runs that thread's stop test while it waits (cancel.hpp). Destruction waits for
/// a piece still running (without the stop test), so the data it reads must outlive this
/// object.
class Background {
public:
    Background() = default;
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;
    ~Background() {
        try {
            wait(false);
        } catch (...) {
            // Already leaving on an error; the piece's own error is dropped.
        }
    }

    /// Starts f() on the pool (after the previous piece has finished).
    template <class F>
    void run(F&& f) {
        wait();
        if (num_threads() <= 1) {
            deferred_ = std::forward<F>(f);
            return;
        }
        state_ = std::make_shared<State>();
        arena().enqueue([st = state_, caller = &cancel::current(), f = std::forward<F>(f)] {
            try {
                cancel::Serving serving(caller);
                f();
            } catch (...) {
                st->error = std::current_exception();
            }
            std::lock_guard<std::mutex> lock(st->m);
            st->done = true;
            st->cv.notify_all();
        });
    }

    /// Waits for the running piece; rethrows its error, and throws cancel::Cancelled when
    /// the stop test stopped the call meanwhile.
    void wait() { wait(true); }

    /// Whether a piece was started and not yet waited for.
    bool pending() const noexcept { return state_ != nullptr || deferred_ != nullptr; }

private:
    struct State {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        std::exception_ptr error;
    };
    void wait(bool polling);

    std::shared_ptr<State> state_;    // the enqueued piece, shared with its task
    std::function<void()> deferred_;  // the piece, when the pool has one thread
};

template <class F>
void run_and_wait(F&& f) {
    Background piece;
    piece.run(std::forward<F>(f));
    piece.wait();
}

/// Blocks of work handed between the calling thread and the pool, two at a time: for
/// b = 0, 1, ..., `prepare(b)` makes block b ready on the calling thread (false when there
/// is no block b: the pipeline ends), then `work(b)` runs on the pool while the calling
/// thread finishes the block before it (`finish(b - 1)`) and prepares the next. At most two
/// blocks are in flight, so storage indexed by b % 2 suffices. The calling thread waits
/// for the pool while a `Released` object lives (py::AllowThreads in the adapters: the
/// interpreter lock is released while waiting), running the stop test meanwhile; every
/// block starts with a cancellation point. An error of any stage ends the pipeline once
/// the work running on the pool has ended.
/// For a pipeline whose calling thread keeps holding what it holds while it waits (the
/// callers that must keep the interpreter lock during parallel work).
struct KeepHeld {};

template <class Released, class Prepare, class Work, class Finish>
void pipeline(Prepare&& prepare, Work&& work, Finish&& finish) {
    Background pool;
    auto wait = [&pool] {
        [[maybe_unused]] Released released;
        pool.wait();
    };
    std::size_t b = 0;
    for (;; ++b) {
        cancel::cancellation_point();
        if (!prepare(b)) break;
        if (b > 0) wait();
        pool.run([&work, b] { work(b); });
        if (b > 0) finish(b - 1);
    }
    if (b > 0) {
        wait();
        finish(b - 1);
    }
}

/// Splits [0, n) into consecutive chunks for per-chunk work on the pool: about eight per
/// worker, none smaller than `min_chunk` indices. Returns the chunk boundaries (first 0,
/// last n).
std::vector<std::size_t> chunk_bounds(std::size_t n, std::size_t min_chunk);

}  // namespace tarnwick::parallel
