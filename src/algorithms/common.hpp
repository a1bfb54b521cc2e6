// Small helpers shared by the kernels: the "no bound" value, affix stripping, and the
// chunks in which one-word kernels read long texts between cancellation points.
#pragma once

#include "cancel.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tarnwick::algorithms {

/// The all-ones value: "no bound" as an argument, "beyond the bound" as a distance result.
inline constexpr uint64_t kNoBound = ~uint64_t{0};

/// Text elements a one-word kernel reads between two spends of its cancellation budget
/// (cancel.hpp): about a microsecond of work, so the spend costs nothing beside it.
inline constexpr std::size_t kCancelChunk = 4096;

/// Calls `read(begin, end)` on the consecutive ranges of at most kCancelChunk positions
/// that cover [0, n), spending their length from a cancellation budget after each, so a
/// kernel over a text of gigabytes answers a stop within milliseconds; `read` returns
/// false to end early. A cancelled call throws cancel::Cancelled between two ranges.
template <class Read>
inline void read_in_chunks(std::size_t n, Read&& read) {
    cancel::Budget budget;
    for (std::size_t begin = 0; begin < n;) {
        const std::size_t end = n - begin > kCancelChunk ? begin + kCancelChunk : n;
        if (!read(begin, end)) return;
        budget.spend(end - begin);
        begin = end;
    }
}

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
