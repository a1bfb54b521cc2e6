#include "cancel.hpp"

namespace tarnwick::cancel {
namespace {

std::atomic<StopTest> g_test{nullptr};

/// How often the calling thread runs the stop test.
constexpr auto kTestInterval = std::chrono::milliseconds(5);
/// Largest number of cancellation points between two readings of the clock.
constexpr uint32_t kMaxStride = 1024;

}  // namespace

void set_stop_test(StopTest test) noexcept { g_test.store(test); }

namespace detail {

ThreadContext& context() noexcept {
    static thread_local ThreadContext c;
    return c;
}

bool tick(State& s) {
    const auto now = std::chrono::steady_clock::now();
    // The stride follows the spacing of the cancellation points: the clock is read about
    // every tenth of the test interval, whatever the work between two points costs.
    const auto since = now - s.last_read;
    s.last_read = now;
    if (since < kTestInterval / 10) {
        if (s.stride < kMaxStride) s.stride *= 2;
    } else if (since > kTestInterval / 5 && s.stride > 1) {
        s.stride /= 2;
    }
    s.countdown = s.stride;
    if (now < s.next_test) return false;
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
    s.countdown = 1;
    s.stride = 1;
    s.next_test = {};
}

}  // namespace tarnwick::cancel
