// Cancellation of long calls: how a call that runs for seconds stops within milliseconds
// when its caller asks (the interpreter's Ctrl-C), without the kernels knowing who asks.
//
// Every thread has a stop flag. Kernels and engines call cancellation_point() between
// units of work of about a microsecond or more; once the flag of the call they work for
// is set, it throws Cancelled, which unwinds the computation (RAII leaves nothing
// allocated) up to the adapter, where the caller's error is already set. On the thread
// that made the call, cancellation_point() also runs the stop test every few
// milliseconds: a function installed once by the adapter layer (it checks the
// interpreter's signals), which sets the flag when the call must stop. To know when the
// test is due, every such point reads a coarse clock (see PointClock): a few nanoseconds,
// so no point is skipped, and the test is as punctual where points are milliseconds apart
// as where they are nanoseconds apart, or where one kind of spacing follows the other.
// Pool tasks read the flag of the thread whose call they serve (see parallel.hpp, which
// passes it on); a thread waiting for the pool runs the stop test itself while it waits
// (wait_polling).
//
// Free of Python.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>

namespace tarnwick::cancel {

/// Thrown at a cancellation point once the call has been cancelled.
struct Cancelled {};

/// The stop test: true when the call running on the calling thread must stop (the
/// reason, such as a KeyboardInterrupt, is then the caller's to report).
using StopTest = bool (*)();

/// Installs the stop test (once, before any call runs); null: calls never stop.
void set_stop_test(StopTest test) noexcept;

/// The clock that the calling thread reads at every cancellation point. Where the system
/// has one, the kernel's coarse monotonic clock: a read of memory that the kernel updates
/// at every timer interrupt (every 1 to 10 ms), no system call and no reading of the
/// processor's time counter (which alone costs about twice as much, more where a virtual
/// machine traps it). Elsewhere, or where the system refuses it, steady_clock. The stop
/// test thus runs at the first point after it is due, one step of the clock late at most.
struct PointClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<PointClock>;
    static constexpr bool is_steady = true;
    static time_point now() noexcept {
#if defined(CLOCK_MONOTONIC_COARSE)
        if (!coarse_refused.load(std::memory_order_relaxed)) {
            timespec t;
            if (clock_gettime(CLOCK_MONOTONIC_COARSE, &t) == 0)
                return time_point(std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec));
            // A sandbox that refuses the clock is asked once (a refusal costs a system call
            // and sets errno); steady_clock has the same origin on Linux.
            coarse_refused.store(true, std::memory_order_relaxed);
        }
#endif
        return time_point(std::chrono::steady_clock::now().time_since_epoch());
    }

private:
    static inline std::atomic<bool> coarse_refused{false};
};

/// The cancellation state of the calls of one thread.
struct State {
    std::atomic<bool> stop{false};
    // Read and written by the owning thread only: when the stop test runs next.
    PointClock::time_point next_test{};
};

namespace detail {
struct ThreadContext {
    State own;                  // the calls this thread makes
    State* serving = nullptr;   // in a pool task: the state of the call it serves
};
ThreadContext& context() noexcept;
/// Runs the stop test, which is due, and sets when it is due next; true when the call
/// must stop.
bool run_due_test(State& s, PointClock::time_point now);
}  // namespace detail

/// The state that work on this thread serves: a pool task's caller's, else this thread's.
inline State& current() noexcept {
    detail::ThreadContext& c = detail::context();
    return c.serving ? *c.serving : c.own;
}

/// Throws Cancelled when the call this thread works for is cancelled. On the calling
/// thread itself, runs the stop test every few milliseconds.
inline void cancellation_point() {
    detail::ThreadContext& c = detail::context();
    if (c.serving) {
        if (c.serving->stop.load(std::memory_order_relaxed)) throw Cancelled{};
        return;
    }
    State& s = c.own;
    if (s.stop.load(std::memory_order_relaxed)) throw Cancelled{};
    const PointClock::time_point now = PointClock::now();
    if (now >= s.next_test && detail::run_due_test(s, now)) {
        s.stop.store(true, std::memory_order_relaxed);
        throw Cancelled{};
    }
}

/// A cancellation point every kUnits units of work, for loops whose steps cost anything
/// from a nanosecond to milliseconds: `spend(units)` after each step, counting units of
/// roughly a nanosecond (one machine word of bit-parallel state, one element compared).
class Budget {
public:
    static constexpr uint64_t kUnits = uint64_t{1} << 16;
    void spend(uint64_t units) {
        if (units < left_) [[likely]] {
            left_ -= units;
            return;
        }
        left_ = kUnits;
        point();
    }

private:
    // Out of line, cold and given nothing: the cancellation point's code stays out of the
    // kernels' loops, and no budget's address escapes, so a kernel keeps its budget and
    // loop bounds in registers.
    [[gnu::noinline, gnu::cold]] static void point() { cancellation_point(); }

    uint64_t left_ = kUnits;
};

/// Runs the stop test now (on the calling thread); sets the flag and returns true when
/// the call must stop.
bool test_now();

/// Clears the calling thread's stop flag, once its cancelled call has been reported.
void reset() noexcept;

/// Makes pool work on this thread serve the call of `s` for its lifetime.
class Serving {
public:
    explicit Serving(State* s) noexcept : c_(detail::context()), prev_(c_.serving) { c_.serving = s; }
    ~Serving() { c_.serving = prev_; }
    Serving(const Serving&) = delete;
    Serving& operator=(const Serving&) = delete;

private:
    detail::ThreadContext& c_;
    State* prev_;
};

/// Waits on `cv` until `done()`, running the stop test every few milliseconds when this
/// thread is the caller (not a pool task): when it says stop, sets `s.stop` (the work sees
/// it at its next cancellation point) and keeps waiting for the work to end. Returns
/// whether the call was cancelled.
template <class Done>
bool wait_polling(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Done done) {
    detail::ThreadContext& c = detail::context();
    if (c.serving) {
        cv.wait(lock, done);
        return c.serving->stop.load(std::memory_order_relaxed);
    }
    bool stopped = c.own.stop.load(std::memory_order_relaxed);
    while (!done()) {
        if (stopped) {
            cv.wait(lock, done);
            break;
        }
        if (cv.wait_for(lock, std::chrono::milliseconds(5), done)) break;
        lock.unlock();
        stopped = test_now();
        lock.lock();
    }
    return stopped || c.own.stop.load(std::memory_order_relaxed);
}

}  // namespace tarnwick::cancel
