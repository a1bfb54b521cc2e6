// The Python side of the dense kernels: embedding matrices and vectors converted from
// Python sequences, for every adapter that takes them (the score utilities, hybrid
// search, the index-directory writers and readers). Each conversion raises the binding
// layer's error naming the argument before any work is done.
#pragma once

#include "dense/dot_matrix.hpp"
#include "py/python.hpp"

#include <vector>

namespace tarnwick::search {

/// A matrix argument: a sequence (not str) of rows, each a sequence (not str) of numbers
/// rounded to 32-bit floats.
FloatRows rows_arg(const char* name, PyObject* matrix);

/// A vector argument: a sequence (not str) of numbers rounded to 32-bit floats.
std::vector<float> vector_arg(const char* name, PyObject* o);

}  // namespace tarnwick::search
