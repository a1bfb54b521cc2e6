// Edit-operation traces: the script of single-element operations that turns a source
// sequence into a destination sequence, for the Hamming, Indel and Levenshtein measures.
//
// Scripts are in script order: positions never decrease, and at one source position an
// insertion comes before the deletion or replacement of that position. Where several
// scripts of the same length exist, the tie-breaks of each trace fix the one returned.
// Working storage is sized by the inputs; a size that cannot be represented or
// allocated throws std::bad_alloc.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tarnwick::algorithms {

/// Kind of one edit operation.
enum class EditType : uint8_t {
    Insert,   // the destination element at dest_pos is inserted before source src_pos
    Delete,   // the source element at src_pos is removed
    Replace,  // the source element at src_pos becomes the destination element at dest_pos
};

/// One edit operation with its source and destination positions.
struct EditOp {
    EditType type;      // what the operation does
    uint64_t src_pos;   // position in the source
    uint64_t dest_pos;  // position in the destination
};

/// Position-by-position replacements, the length difference made up by insertions or
/// deletions at the end.
template <class T>
std::vector<EditOp> hamming_editops_trace(std::span<const T> s1, std::span<const T> s2);

/// Insertions and deletions only, as many as the Indel distance.
template <class T>
std::vector<EditOp> indel_editops_trace(std::span<const T> s1, std::span<const T> s2);

/// Insertions, deletions and replacements, as many as the unit-cost Levenshtein distance.
template <class T>
std::vector<EditOp> levenshtein_editops_trace(std::span<const T> s1, std::span<const T> s2);

#define TARNWICK_EDITOPS_EXTERN(T)                                                         \
    extern template std::vector<EditOp> hamming_editops_trace<T>(std::span<const T>,       \
                                                                 std::span<const T>);      \
    extern template std::vector<EditOp> indel_editops_trace<T>(std::span<const T>,         \
                                                               std::span<const T>);        \
    extern template std::vector<EditOp> levenshtein_editops_trace<T>(std::span<const T>,   \
                                                                     std::span<const T>);
TARNWICK_EDITOPS_EXTERN(uint8_t)
TARNWICK_EDITOPS_EXTERN(uint32_t)
TARNWICK_EDITOPS_EXTERN(uint64_t)
#undef TARNWICK_EDITOPS_EXTERN

}  // namespace tarnwick::algorithms
