// The default string processor: letters and digits kept, everything else a space, then
// full Unicode lowercasing and trimming of spaces at both ends.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick::utils {

/// Processes UTF-8 text (valid UTF-8 expected) and returns UTF-8 text.
std::string default_process(std::string_view utf8);

/// Processes bytes read as Latin-1 (each byte is the code point of the same value).
std::string default_process_latin1(std::string_view bytes);

}  // namespace tarnwick::utils
