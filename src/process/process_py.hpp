// Reading Python items for the batch functions: the item conversions, the reading of an
// iterable (a cancellation point before each item), and the scorer-name argument shared
// by the extract functions (extract.cpp) and cdist (cdist.cpp).
#pragma once

#include "process/process_scorer.hpp"
#include "py/object.hpp"
#include "types.hpp"

#include <optional>
#include <vector>

namespace tarnwick::process {

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
void store_view(types::Seq&& seq, ChoiceView& view, std::vector<types::Seq>& others);

/// fast_choice as a view: nothing gives kNone, bytes and pure-ASCII text a view of their
/// bytes (keep `obj` alive while it is used), any other item is converted (store_view).
void view_choice(PyObject* obj, ChoiceView& view, std::vector<types::Seq>& others);

/// The part of view_choice that runs no Python code: sets `view` and returns true for
/// bytes and pure-ASCII text (a view) and for "<NA>" and an exact str or bytes whose
/// contents cannot be read (kNone); false for any other item, `view` unchanged.
bool view_direct(PyObject* obj, ChoiceView& view);

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
