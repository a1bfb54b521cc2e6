// Reading Python items for the batch functions: the item conversions and views, the
// storage of large arrays of items, the reading of an iterable (a cancellation point
// before each item), and the scorer-name argument shared by the extract functions
// (extract.cpp) and cdist (cdist.cpp).
#pragma once

#include "process/process_scorer.hpp"
#include "py/object.hpp"
#include "types.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <vector>

namespace tarnwick::process {

/// The allocator of large arrays of prepared items: from 4 MiB on, aligned to 2 MiB and
/// marked for transparent huge pages, so that filling them faults once per 2 MiB instead
/// of once per 4 KiB page (where the system gives such pages on request; elsewhere it is
/// the ordinary allocation). A million converted items take about 100 MB (their views 16
/// MB): page faults and clearing by 4 KiB would cost more than their preparation.
template <class T>
struct LargeArrayAllocator {
    using value_type = T;

    LargeArrayAllocator() = default;
    template <class U>
    LargeArrayAllocator(const LargeArrayAllocator<U>&) noexcept {}  // NOLINT: rebinding

    T* allocate(std::size_t n) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        if (huge(n)) {
            const std::size_t bytes = (n * sizeof(T) + kHuge - 1) / kHuge * kHuge;
            void* p = std::aligned_alloc(kHuge, bytes);
            if (!p) throw std::bad_alloc();
            madvise(p, bytes, MADV_HUGEPAGE);  // advice only: its failure changes nothing
            return static_cast<T*>(p);
        }
#endif
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (huge(n))
            std::free(p);
        else
            std::allocator<T>().deallocate(p, n);
    }
    template <class U>
    bool operator==(const LargeArrayAllocator<U>&) const noexcept { return true; }

private:
    static constexpr std::size_t kHuge = std::size_t{2} << 20;
    /// Whether n elements take the huge-page route.
    static constexpr bool huge(std::size_t n) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        return n >= 2 * kHuge / sizeof(T) && n <= std::numeric_limits<std::size_t>::max() / sizeof(T);
#else
        return false;
#endif
    }
};

/// The converted sequences of a batch's items that their views index.
using Sequences = std::vector<types::Seq, LargeArrayAllocator<types::Seq>>;

/// With a Python error set: clears it when it is an ordinary exception (a subclass of
/// Exception); anything else (KeyboardInterrupt, SystemExit) is thrown on.
void discard_ordinary_error();

/// The sequence of `obj`, or nothing when its conversion raises an ordinary exception.
/// A Bytes result views `obj`: keep it alive while the sequence is used.
std::optional<types::Seq> try_convert(PyObject* obj);

/// A batch item as a sequence, or nothing when it is skipped: None and the other missing
/// values, and objects whose conversion raises an ordinary exception; bytes and pure-ASCII
/// text are viewed without a copy (keep `obj` alive while the result is used).
std::optional<types::Seq> fast_choice(PyObject* obj);

/// Stores the sequence of a batch item as the workers read it: a byte string (a Bytes
/// sequence, which views its object) as a view of its bytes, any other sequence moved to
/// the end of `others` and indexed by `view`.
void store_view(types::Seq&& seq, ChoiceView& view, Sequences& others);

/// fast_choice as a view: nothing gives kNone, bytes and pure-ASCII text a view of their
/// bytes (keep `obj` alive while it is used), any other item is converted (store_view).
void view_choice(PyObject* obj, ChoiceView& view, Sequences& others);

/// view_choice for an exact str or bytes, which runs no Python code (unless making an
/// error it then clears does: the view is then kNone): sets `view` and returns true; false
/// for any other item, `view` unchanged. With `keep_text`, text beyond ASCII is not
/// converted but viewed as its UTF-8 (kText), which the scorer decodes at each score.
bool view_text(PyObject* obj, ChoiceView& view, Sequences& others, bool keep_text = false);

/// Fetches the head of an object for changing its reference count: for writing, so that
/// the count's change need not wait for the line to be taken from the workers that read
/// it (PREFETCHW, which processors without it execute as a no-op).
inline void prefetch_head(const PyObject* o) noexcept {
#if defined(__x86_64__)
    asm volatile("prefetchw %0" : : "m"(*reinterpret_cast<const char*>(o)));
#else
    __builtin_prefetch(o, 1);
#endif
}

/// Fetches the head of an object for changing its reference count, and the line after
/// it, which holds the text of a short str.
inline void prefetch_object(const PyObject* o) noexcept {
    prefetch_head(o);
    __builtin_prefetch(reinterpret_cast<const char*>(o) + 64, 0);
}

/// Every item of an iterable, in order, as owned references. The iteration's errors
/// propagate.
std::vector<py::Object> collect(PyObject* iterable);

/// The next item of the iterator `it`, after a cancellation point; null at its end. The
/// iteration's errors propagate.
py::Object next_item(PyObject* it);

/// The scorer chosen by the `scorer_name` argument (TypeError naming it when it is not a
/// str).
ScorerType scorer_argument(PyObject* name);

}  // namespace tarnwick::process
