// The LCS of one short ASCII pattern against many ASCII texts, 64 texts at once in the
// lanes of 512-bit vectors (x86-64 processors with AVX-512 BW, VL and VBMI, chosen at run
// time). The fuzzy channel of the hybrid search and the batch ratio (cdist, extraction)
// run it.
//
// Each lane holds one text and runs the bit-parallel LCS step (lcs_step.hpp) on a state
// of 8 bits (patterns of 1 to 8 bytes) or 16 bits (9 to 16 bytes): the low bits of the sum
// and difference of the step do not depend on the bits above them, so a state as wide as
// the pattern counts the same LCS as the 64-bit state of the one-at-a-time kernel. A block
// of 16 bytes of every lane's text is loaded (masked at the text's end, so nothing past it
// is read) and transposed so that one vector holds the next byte of all 64 texts; a byte's
// match mask is looked up in a 128-entry table by a byte permutation. Bytes past a text's
// end are zero, whose mask is empty (the pattern has no zero byte), so they leave the
// state as it is; a zero byte inside a text matches nothing either. A lane whose text ends
// in a block reports its LCS after the block and takes the next text. A lane that meets a
// byte of 128 or more gives its text back to the caller, which scores it another way.
//
// Texts of 1 to 16 ASCII bytes that many patterns meet (the choices of a score matrix) can
// be laid out once as groups of 64 texts already transposed (lcs_lanes_transpose); a
// pattern then runs over a group in at most 16 steps, with no loads of text, no
// transposition and no per-lane bookkeeping (lcs_lanes_groups).
#pragma once

#include "cancel.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tarnwick::algorithms {

/// A text for the lane kernel: its bytes (at least one) and the caller's slot for it.
struct LaneText {
    const char* data;
    std::size_t size;
    std::size_t slot;
};

/// Stores the next texts (1 to `room` of them) at `out` and returns how many, or returns 0
/// at the end.
using NextLaneTexts = std::size_t (*)(void* context, LaneText* out, std::size_t room);

/// The LCS of the pattern with the text of `slot`, of `size` bytes.
struct LaneLcs {
    std::size_t slot;
    std::size_t size;
    uint64_t lcs;
};

/// Receives the results of the texts that ended in one block (1 to 64 of them).
using LaneLcsSink = void (*)(void* context, const LaneLcs* done, std::size_t count);

/// Whether the lane kernel runs on this processor for `pattern`: ASCII, 1 to 16 bytes, no
/// zero byte.
bool lcs_lanes_suit(std::string_view pattern) noexcept;

/// Reports to `sink` the LCS of `pattern` (which suits the kernel) with each text that
/// `next` gives, until it gives none (both called with `context`). The slots of the texts
/// the kernel gives back (not pure ASCII, or of 2^32 bytes or more) are added to
/// `given_back` instead. An exception of `next` or `sink` propagates, and so does
/// cancel::Cancelled from the cancellation points the kernel passes between blocks, every
/// few tens of microseconds (however long the texts); either leaves the texts not yet
/// reported unreported.
void lcs_lanes(std::string_view pattern, NextLaneTexts next, LaneLcsSink sink, void* context,
               std::vector<std::size_t>& given_back);

/// Bytes of a group of transposed texts: 16 columns of 64 lanes, byte c of the text of
/// lane l at 64 c + l.
inline constexpr std::size_t kLaneGroupBytes = 1024;

/// Whether this processor runs the lane kernel (for the patterns that lcs_lanes_suit).
bool lcs_lanes_available() noexcept;

/// Lays `count` (1 to 64) ASCII texts of 1 to 16 bytes (only when lcs_lanes_available())
/// out as a group at `group` (kLaneGroupBytes, 64-byte aligned): text l in lane l, zero
/// past each text's end and in the lanes from `count` on. Returns the group's width, the
/// length of its longest text: the columns from there on are zero.
std::size_t lcs_lanes_transpose(const LaneText* texts, std::size_t count, uint8_t* group);

/// lcs[64 g + l] = the LCS of `pattern` (which suits the kernel) with the text in lane l of
/// group g (0 for an empty lane), for the `count` groups at `groups` (laid out by
/// lcs_lanes_transpose, `widths` their widths). Spends `budget` as it goes
/// (cancel::Cancelled propagates, leaving the rest of `lcs` unwritten).
void lcs_lanes_groups(std::string_view pattern, const uint8_t* groups, const uint8_t* widths,
                      std::size_t count, uint8_t* lcs, cancel::Budget& budget);

}  // namespace tarnwick::algorithms
