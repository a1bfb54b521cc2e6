// The Python side of the input sequences, shared by every adapter: conversion of a Python
// object to a Seq, the missing-value test, the processor hook, and the prepared pair of
// both inputs, with the processed objects kept alive while their sequences are in use.
#pragma once

#include "py/object.hpp"
#include "types.hpp"

#include <optional>
#include <utility>
#include <vector>

namespace tarnwick::types {

/// The sequence of a Python object: str, bytes or any iterable. Throws the binding
/// layer's errors (TypeError "expected str, bytes, or sequence", hashing and text errors).
/// A Bytes result views the object's buffer, and the code points of a str record its
/// UTF-8 form as their text (Seq::set_text): keep the object alive while using it.
Seq extract_single(PyObject* obj);

/// Missing-value test, wider than its name: None, an object whose float value is NaN, or
/// an object without a float value whose str() is exactly "<NA>". Raises only what must
/// reach the caller (py::error_must_propagate: Ctrl-C, SystemExit, MemoryError).
bool is_none(PyObject* obj);

/// Processor hook: processor(s1) and processor(s2) with a processor (not null, not
/// None), s1 and s2 themselves without one. The processor's error propagates (it is not
/// called for s2 when s1 fails).
std::pair<py::Object, py::Object> get_processed_args(PyObject* s1, PyObject* s2, PyObject* processor);

/// How a prepared pair may hold a str whose code points are all below 256, or all below
/// 128 or in one block of 128 two-byte code points (Greek, Cyrillic, ...).
enum class Latin1 : bool {
    Chars,  // as its code points (SeqKind::Chars), like any other str
    Bytes,  // as one byte per code point (SeqKind::Bytes, without a recorded text, coded as
            // text::decode_block_bytes says), for a caller that compares elements only for
            // equality, through visit_pair, which narrows code points below 256 to bytes
            // anyway. The pair makes sure that codes of a block other than Latin-1 meet
            // only bytes of the same block or ASCII text (Seq::byte_block).
};

/// Two processed inputs and their sequences. Byte sequences view the processed objects;
/// the code points of a short text are kept in the pair, those of a longer one in this
/// thread's scratch buffers, which the pair holds until it is destroyed; use it within one
/// call.
class PreparedPair {
public:
    PreparedPair() noexcept {}  // user-provided: the inline buffers are not zeroed
    PreparedPair(PreparedPair&& o) noexcept;
    PreparedPair& operator=(PreparedPair&&) = delete;
    PreparedPair(const PreparedPair&) = delete;
    ~PreparedPair();

    py::Object p1, p2;  // the processed inputs
    Seq a, b;           // their sequences

    /// Runs the processor and converts both inputs into this (empty) pair.
    void fill(PyObject* s1, PyObject* s2, PyObject* processor, Latin1 latin1 = Latin1::Chars);

private:
    struct Scratch;
    void extract(PyObject* obj, std::size_t slot, Seq& out, Latin1 latin1);
    /// Converts a side holding the byte codes of a block other than Latin-1 again, to
    /// code points, unless the other side is bytes of the same block or ASCII.
    [[gnu::noinline]] void match_blocks();

    /// Code points of texts up to this long are kept in the pair itself, and so are the
    /// bytes of a Latin1::Bytes text of up to 4 * kInline - text::kBlockBytesSlack UTF-8
    /// bytes.
    static constexpr std::size_t kInline = 64;

    Scratch* scratch_ = nullptr;  // this thread's code point buffers, when the pair holds them
    uint32_t inline_[2][kInline];  // the code points of short texts (a, b)
};

/// Processor on s1 then s2 (when given), then conversion of both. Errors propagate.
PreparedPair prepare_required(PyObject* s1, PyObject* s2, PyObject* processor);

/// The missing-value test on the raw inputs (false when either is missing, with `p` left
/// empty), then PreparedPair::fill of the empty pair `p`. The caller's pair is filled in
/// place: a pair made inside an empty std::optional costs clearing all of its storage.
bool prepare_pair(PreparedPair& p, PyObject* s1, PyObject* s2, PyObject* processor,
                  Latin1 latin1 = Latin1::Chars);

}  // namespace tarnwick::types
