// The Python side of input preparation shared by every scorer and metric: missing-value
// test, processor hook and conversion of both inputs, with the processed objects kept
// alive while their sequences are in use.
#pragma once

#include "py/object.hpp"
#include "types.hpp"

#include <optional>
#include <vector>

namespace tarnwick::types {

/// Two processed inputs and their sequences. Byte sequences view the processed objects
/// and code points may be decoded into this thread's scratch buffers, which the pair
/// holds until it is destroyed; use it within one call.
class PreparedPair {
public:
    PreparedPair() = default;
    PreparedPair(PreparedPair&& o) noexcept;
    PreparedPair& operator=(PreparedPair&&) = delete;
    PreparedPair(const PreparedPair&) = delete;
    ~PreparedPair();

    py::Object p1, p2;  // the processed inputs
    Seq a, b;           // their sequences

    /// Runs the processor and converts both inputs into this (empty) pair.
    void fill(PyObject* s1, PyObject* s2, PyObject* processor);

private:
    bool holds_scratch_ = false;
};

/// Processor on s1 then s2 (when given), then conversion of both. Errors propagate.
PreparedPair prepare_required(PyObject* s1, PyObject* s2, PyObject* processor);

/// The missing-value test on the raw inputs (nothing when either is missing), then as
/// prepare_required.
std::optional<PreparedPair> prepare_pair(PyObject* s1, PyObject* s2, PyObject* processor);

}  // namespace tarnwick::types
