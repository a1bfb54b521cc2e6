#include "json/json_position.hpp"

#include <algorithm>

namespace tarnwick::search {

TextPosition position_of(std::string_view text, std::size_t offset) noexcept {
    offset = std::min(offset, text.size());
    TextPosition p{1, 1};
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++p.line;
            line_start = i + 1;
        }
    }
    p.column = offset - line_start + 1;
    return p;
}

std::string at_position(TextPosition p) {
    return " at line " + std::to_string(p.line) + " column " + std::to_string(p.column);
}

}  // namespace tarnwick::search
