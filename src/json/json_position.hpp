// Positions in a text as error messages give them: "at line L column C".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick::search {

/// Line and column (both from 1, counted in bytes) of byte `offset` of `text`.
struct TextPosition {
    std::size_t line;
    std::size_t column;
};
TextPosition position_of(std::string_view text, std::size_t offset) noexcept;

/// " at line L column C": the suffix every message that names a position ends with (JSON
/// parse errors, filter refusals, index-directory metadata refusals).
std::string at_position(TextPosition p);

}  // namespace tarnwick::search
