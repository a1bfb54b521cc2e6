// Small helpers shared by the kernels: the "no bound" value, affix stripping, and the
// chunks in which kernels read long texts between cancellation points.
#pragma once

#include "cancel.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tarnwick::algorithms {

/// The all-ones value: "no bound" as an argument, "beyond the bound" as a distance result.
inline constexpr uint64_t kNoBound = ~uint64_t{0};

/// Units of work (text elements of a one-word kernel, word steps of a multi-word one, cells
/// of a table) between two spends of a kernel's cancellation budget (cancel.hpp): about a
/// microsecond, so the spend costs nothing beside it.
inline constexpr std::size_t kCancelChunk = 4096;

/// The consecutive ranges that cover [0, n), with a cancellation point between two: a
/// kernel over a text of gigabytes, or a quadratic one over long texts, answers a stop
/// within milliseconds. An element costs `units` (the words of a multi-word state; 1 for
/// one word; a row's cells), and a range holds about kCancelChunk units (one element at
/// least), so the spend stays outside the kernel's inner loops:
///
///     for (CancelChunks c(n, units); c.next();)
///         for (std::size_t j = c.begin(), end = c.end(); j < end; ++j) ...
///
/// next() spends the work of the range before (a cancelled call throws cancel::Cancelled
/// there). The bounds are read into locals before the inner loop: stores of the kernel
/// would otherwise oblige the compiler to read them again at every step.
class CancelChunks {
public:
    explicit CancelChunks(std::size_t n, std::size_t units = 1) noexcept
        : n_(n), units_(units), step_(units >= kCancelChunk ? 1 : kCancelChunk / units) {}

    /// Moves to the next range after spending the one before; false past the end.
    bool next() {
        if (end_ != 0) budget_.spend((end_ - begin_) * units_);
        begin_ = end_;
        if (begin_ >= n_) return false;
        end_ = n_ - begin_ > step_ ? begin_ + step_ : n_;
        return true;
    }
    std::size_t begin() const noexcept { return begin_; }
    std::size_t end() const noexcept { return end_; }

private:
    std::size_t n_, units_, step_;
    std::size_t begin_ = 0, end_ = 0;
    cancel::Budget budget_;
};

/// Number of leading positions where `a` and `b` agree.
template <class T>
inline std::size_t common_prefix(std::span<const T> a, std::span<const T> b) noexcept {
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

/// Number of trailing positions where `a` and `b` agree.
template <class T>
inline std::size_t common_suffix(std::span<const T> a, std::span<const T> b) noexcept {
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    while (i < n && a[a.size() - 1 - i] == b[b.size() - 1 - i]) ++i;
    return i;
}

/// The common prefix and suffix of two sequences and the middles left between them.
template <class T>
struct Affix {
    std::size_t prefix = 0;
    std::size_t suffix = 0;
    std::span<const T> a;  // middle of the first sequence
    std::span<const T> b;  // middle of the second sequence
};

/// Strips the common prefix, then (when `a` is not consumed) the common suffix of the
/// remaining parts.
template <class T>
inline Affix<T> strip_affix(std::span<const T> a, std::span<const T> b) noexcept {
    Affix<T> r;
    r.prefix = common_prefix(a, b);
    a = a.subspan(r.prefix);
    b = b.subspan(r.prefix);
    if (!a.empty()) {
        r.suffix = common_suffix(a, b);
        a = a.first(a.size() - r.suffix);
        b = b.first(b.size() - r.suffix);
    }
    r.a = a;
    r.b = b;
    return r;
}

}  // namespace tarnwick::algorithms
