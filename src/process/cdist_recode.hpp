// Byte codes for the items of a score matrix whose text goes beyond ASCII with few
// distinct characters. Free of Python.
//
// The simple and quick ratio of a pair depend only on the two lengths and on which
// elements are equal, so renaming every element value by one one-to-one map, the same for
// all items, leaves every score of the matrix unchanged. When the values of 128 and more
// that the items hold are few enough to be given byte codes, the items holding them are
// copied as byte strings, which the rows score with the byte kernels (four at a time, or
// on the lane kernel when every code lies below 128) instead of one pair at a time.
#pragma once

#include "process/process_scorer.hpp"
#include "types.hpp"

#include <cstdint>
#include <memory>
#include <span>

namespace tarnwick::process {

/// Recodes the items of both sides of a matrix (views and the sequences they index) in
/// place, when they are all byte strings (not kText) or sequences of code points, and their
/// distinct values of 128 and more fit the codes free for them: the codes from 1 to 127
/// that no item uses, preferred (to the values held by the most elements), then 128 to 255.
/// Values below 128 keep themselves; code 0 is never given. Each item holding a value of
/// 128 or more becomes a byte view (kBytes) of its coded copy, kept in the returned
/// storage, which must outlive the views; every other view is left as it is. Returns null,
/// with nothing changed, when there is no such value or they do not fit (the count stops
/// as soon as they overflow). Counts and codes on the pool when `use_pool`.
std::unique_ptr<uint8_t[]> recode_small_alphabet(std::span<ChoiceView> queries,
                                                 std::span<const types::Seq> query_others,
                                                 std::span<ChoiceView> choices,
                                                 std::span<const types::Seq> choice_others,
                                                 bool use_pool);

}  // namespace tarnwick::process
