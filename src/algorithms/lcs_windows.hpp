// LCS of a pattern against every window of one width of a text, in time proportional to
// the pattern length times the text length (the windows share the work), by seaweed
// combing (Tiskin's semi-local LCS).
//
// Lay the pattern down the rows and the text along the columns of a grid of cells. A
// strand enters every row at the left and every column at the top; each cell takes the
// strand arriving from its left and the one arriving from above and sends one on to the
// right and one down. The strands cross in a cell (each keeps its direction) unless the
// pattern and text elements of the cell are equal or the two strands have crossed
// already; then each turns into the other's direction. Numbering the strands by where
// they enter (row i's left strand -1 - i, column t's top strand t), "have crossed
// already" is exactly "the strand from the left has the larger number", so a pass over
// the cells in any order that visits (i, j) after (i - 1, j) and (i, j - 1) combs the
// whole grid keeping one number per row and one per column.
//
// The combed grid holds the LCS of the pattern with every substring of the text: for
// s <= e, LCS(pattern, text[s, e)) = (e - s) - the number of strands that enter the top
// at a column in [s, e) and leave the bottom at a column below e. (A strand from the
// top moves only down and right, so it leaves the bottom, if it does, at a column not
// before the one it entered.) Read off with the window sliding one column at a time,
// each step changes that number by at most two: the strand of the column that leaves the
// window at the left, and the strand that leaves the bottom at the column that enters
// it at the right.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnwick::algorithms {

/// Whether lcs_of_windows accepts a pattern and a text of these lengths: strand numbers
/// are 32-bit, so the lengths together stay below 2^31.
inline constexpr bool lcs_of_windows_fits(std::size_t pattern_len, std::size_t text_len) noexcept {
    return pattern_len < (std::size_t{1} << 30) && text_len < (std::size_t{1} << 30);
}

/// out[s] = LCS(pattern, text[s, s + width)) for s = 0 .. len(text) - width. Requires
/// 0 < width <= len(text), a non-empty pattern and lcs_of_windows_fits. Instantiated for
/// 8-, 32- and 64-bit elements.
template <class T>
void lcs_of_windows(std::span<const T> pattern, std::span<const T> text, std::size_t width,
                    std::vector<uint32_t>& out);

}  // namespace tarnwick::algorithms
