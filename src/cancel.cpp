#include "cancel.hpp"

namespace tarnwick::cancel {
namespace {

std::atomic<StopTest> g_test{nullptr};

/// How often the calling thread runs the stop test.
constexpr auto kTestInterval = std::chrono::milliseconds(5);

}  // namespace

void set_stop_test(StopTest test) noexcept { g_test.store(test); }

namespace detail {

ThreadContext& context() noexcept {
    static thread_local ThreadContext c;
    return c;
}

bool run_due_test(State& s, PointClock::time_point now) {
    s.next_test = now + kTestInterval;
    const StopTest test = g_test.load(std::memory_order_relaxed);
    return test && test();
}

}  // namespace detail

bool test_now() {
    State& s = detail::context().own;
    const StopTest test = g_test.load(std::memory_order_relaxed);
    if (test && test()) {
        s.stop.store(true, std::memory_order_relaxed);
        return true;
    }
    return false;
}

void reset() noexcept {
    State& s = detail::context().own;
    s.stop.store(false, std::memory_order_relaxed);
    s.next_test = {};
}

}  // namespace tarnwick::cancel
