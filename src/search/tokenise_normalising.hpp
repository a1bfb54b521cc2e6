// The normalising mode of the search tokeniser.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::search {

/// Appends the terms of `text` (UTF-8; malformed sequences read as U+FFFD) in the
/// normalising mode.
void tokenise_normalising(std::string_view text, std::vector<std::string>& out);

}  // namespace tarnwick::search
