// Records of the edit-operation result model (single operations, runs, and the lists of
// them with the two sequence lengths) and the conversions between their forms. Free of
// Python: the classes that expose them live in editop.cpp, opcode.cpp, editops.cpp and
// opcodes.cpp beside this header.
//
// Tags are any text, compared as exact bytes; "replace", "insert", "delete" and "equal"
// are the ones the conversions act on. Conversions never fail on odd input: records out
// of order or with backward ranges give some list, in bounded time. Expansions whose
// size cannot be represented or allocated throw std::bad_alloc.
#pragma once

#include "algorithms/editops.hpp"
#include "distance/initialize/records.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarnwick::distance::initialize {

/// One elementary edit operation: a tag and one position in each sequence.
struct Editop {
    std::string tag;        // "insert", "delete", "replace" or any other text
    uint64_t src_pos = 0;   // position in the source
    uint64_t dest_pos = 0;  // position in the destination
    friend bool operator==(const Editop&, const Editop&) = default;
};

/// A run of one tag: a half-open range in each sequence.
struct Opcode {
    std::string tag = "equal";  // "equal", "replace", "insert", "delete" or any other text
    uint64_t src_start = 0;     // first source position
    uint64_t src_end = 0;       // source position one past the run
    uint64_t dest_start = 0;    // first destination position
    uint64_t dest_end = 0;      // destination position one past the run
    friend bool operator==(const Opcode&, const Opcode&) = default;
};

/// A list of edit operations with the lengths of the two sequences.
struct Editops {
    std::vector<Editop> ops;  // the operations, in stored order
    uint64_t src_len = 0;     // length of the source
    uint64_t dest_len = 0;    // length of the destination
    friend bool operator==(const Editops&, const Editops&) = default;
};

/// A list of opcodes with the lengths of the two sequences.
struct Opcodes {
    std::vector<Opcode> ops;  // the opcodes, in stored order
    uint64_t src_len = 0;     // length of the source
    uint64_t dest_len = 0;    // length of the destination
    friend bool operator==(const Opcodes&, const Opcodes&) = default;
};

/// The tag texts of the kernels' operation kinds.
const std::string& tag_text(algorithms::EditType t);

/// A kernel trace as records.
std::vector<Editop> editops_from_trace(const std::vector<algorithms::EditOp>& trace);

/// Appends `op` to `list`, or extends the last opcode when it has the same tag.
void push_opcode(std::vector<Opcode>& list, const Opcode& op);

/// The runs of `ops` (in application order) with "equal" runs filling the gaps.
std::vector<Opcode> editops_to_opcodes(std::span<const Editop> ops, uint64_t src_len,
                                       uint64_t dest_len);

/// Appends the single-position editops of one opcode ("equal" and other tags add none;
/// a backward range adds none).
void expand_opcode(const Opcode& op, std::vector<Editop>& out);

/// The editops of all opcodes, in order.
std::vector<Editop> opcodes_to_editops(std::span<const Opcode> ops);

/// The list an `Opcodes` built from opcode items holds: gaps filled by "equal" runs,
/// runs of one tag merged, and a closing "equal" run up to the lengths.
std::vector<Opcode> normalize_opcodes(std::span<const Opcode> ops, uint64_t src_len,
                                      uint64_t dest_len);

/// Matching blocks of an edit script, closed by (src_len, dest_len, 0).
std::vector<MatchingBlock> editops_matching_blocks(const Editops& e);

/// Matching blocks of the "equal" runs, closed by (src_len, dest_len, 0).
std::vector<MatchingBlock> opcodes_matching_blocks(const Opcodes& o);

/// The script from the destination back to the source.
Editops inverse(const Editops& e);

/// The runs from the destination back to the source.
Opcodes inverse(const Opcodes& o);

/// `e` without the first occurrence of each record of `other`, positions unchanged.
Editops remove_subsequence(const Editops& e, const Editops& other);

/// SipHash-1-3 with both keys zero of the tag's bytes, a 0xFF byte and the fields as
/// 8-byte little-endian words, read as signed; -1 becomes -2.
int64_t record_hash(const std::string& tag, std::span<const uint64_t> fields);

}  // namespace tarnwick::distance::initialize
