#include "parallel.hpp"

#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/info.h>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace tarnwick::parallel {
namespace {

/// Upper limit of the pool size, whatever the environment asks for.
constexpr std::size_t kMaxThreads = 4096;

/// Whether this process created the arena (or inherited one by fork).
std::atomic<bool> g_arena_started{false};

/// Whether this process is a fork of one whose arena had started. The library's worker
/// threads are not copied by fork, yet its bookkeeping says they exist, so no arena of
/// this process would ever get a worker: the work runs on the calling thread instead.
/// The inherited arena is never touched (nor destroyed: its threads do not exist here).
std::atomic<bool> g_forked_after_start{false};

void on_fork_child() noexcept {
    if (g_arena_started.load(std::memory_order_relaxed))
        g_forked_after_start.store(true, std::memory_order_relaxed);
}

/// Pool size from the environment, read once.
std::size_t configured_threads() noexcept {
    static const std::size_t n = std::max<std::size_t>(
        1, pool_size(std::getenv("RAYON_NUM_THREADS"), std::getenv("RAYON_RS_NUM_CPUS"),
                     available_processors()));
    return n;
}

}  // namespace

std::size_t available_processors() noexcept {
    // The affinity mask may be larger than the default cpu_set_t; grow until it fits.
    for (int ncpu = 1024; ncpu <= (1 << 20); ncpu *= 2) {
        cpu_set_t* set = CPU_ALLOC(ncpu);
        if (!set) break;
        const std::size_t size = CPU_ALLOC_SIZE(ncpu);
        CPU_ZERO_S(size, set);
        if (sched_getaffinity(0, size, set) == 0) {
            const int count = CPU_COUNT_S(size, set);
            CPU_FREE(set);
            if (count > 0) return static_cast<std::size_t>(count);
            break;
        }
        CPU_FREE(set);
        if (errno != EINVAL) break;
    }
    const unsigned hw = std::thread::hardware_concurrency();
    return hw ? hw : 1;
}

std::optional<std::size_t> parse_thread_count(const char* value, std::size_t processors) noexcept {
    if (!value || !*value) return std::nullopt;
    std::size_t n = 0;
    for (const char* p = value; *p; ++p) {
        if (*p < '0' || *p > '9') return std::nullopt;
        n = n * 10 + static_cast<std::size_t>(*p - '0');
        if (n > kMaxThreads) n = kMaxThreads;  // saturate; more threads than this help no one
    }
    return n == 0 ? processors : n;
}

std::size_t pool_size(const char* num_threads, const char* rs_num_cpus,
                      std::size_t processors) noexcept {
    if (auto n = parse_thread_count(num_threads, processors)) return *n;
    if (auto n = parse_thread_count(rs_num_cpus, processors)) return *n;
    return processors;
}

std::size_t num_threads() noexcept {
    if (g_forked_after_start.load(std::memory_order_relaxed)) return 1;
    return configured_threads();
}

oneapi::tbb::task_arena& arena() {
    // Created once and never destroyed: worker threads must not be joined while the
    // interpreter shuts down.
    static oneapi::tbb::task_arena* instance = [] {
        const std::size_t n = configured_threads();
        pthread_atfork(nullptr, nullptr, on_fork_child);
        g_arena_started.store(true, std::memory_order_relaxed);
        // Every slot is a worker's: the batch functions enqueue their work and wait outside
        // the arena (without the interpreter lock), so a slot kept for a calling thread
        // would stay empty and leave n - 1 threads scoring. A caller that executes a loop
        // from outside hands it to the workers and sleeps until it is done.
        // The library allows one worker fewer than the processor count unless told more.
        if (n + 1 > static_cast<std::size_t>(oneapi::tbb::info::default_concurrency())) {
            new oneapi::tbb::global_control(oneapi::tbb::global_control::max_allowed_parallelism,
                                            n + 1);
        }
        auto* a = new oneapi::tbb::task_arena(static_cast<int>(n), 0);
        a->initialize();
        return a;
    }();
    return *instance;
}

bool in_pool() noexcept {
    // Every task of the pool's loops and background pieces serves its caller's
    // cancellation state. The arena's thread index cannot tell: a thread that created or
    // entered the arena once keeps an index in its own implicit arena ever after.
    return cancel::detail::context().serving != nullptr;
}

void Background::wait(bool polling) {
    if (deferred_) {
        std::function<void()> f = std::move(deferred_);
        deferred_ = nullptr;
        f();
        return;
    }
    if (!state_) return;
    const std::shared_ptr<State> st = std::move(state_);
    state_ = nullptr;
    bool cancelled = false;
    {
        std::unique_lock<std::mutex> lock(st->m);
        if (polling)
            cancelled = cancel::wait_polling(lock, st->cv, [&] { return st->done; });
        else
            st->cv.wait(lock, [&] { return st->done; });
    }
    if (st->error) std::rethrow_exception(st->error);
    if (cancelled) throw cancel::Cancelled{};
}

std::vector<std::size_t> chunk_bounds(std::size_t n, std::size_t min_chunk) {
    const std::size_t target = num_threads() * 8;
    std::size_t size = std::max<std::size_t>({min_chunk, 1, (n + target - 1) / target});
    std::vector<std::size_t> out;
    out.reserve(n / size + 2);
    for (std::size_t b = 0; b < n; b += size) out.push_back(b);
    out.push_back(n);
    return out;
}

}  // namespace tarnwick::parallel
