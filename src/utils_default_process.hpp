// The default string processor: letters and digits kept, everything else a space, then
// full Unicode lowercasing and trimming of spaces at both ends.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::utils {

// Each function writes into `out` (its previous content is dropped; its storage may be
// reused from call to call) and returns the result as a view of it.

/// Processes pure-ASCII text; the result is ASCII.
std::string_view default_process_ascii(std::string_view ascii, std::string& out);

/// Processes the code points of a str (below 0x110000; surrogates allowed) into the code
/// points of the result; `s` and `out` do not overlap.
std::span<const char32_t> default_process_code_points(std::span<const char32_t> s,
                                                     std::vector<char32_t>& out);

/// Processes bytes read as Latin-1 (each byte is the code point of the same value) into
/// the code points of the result.
std::span<const char32_t> default_process_latin1(std::string_view bytes, std::vector<char32_t>& out);

}  // namespace tarnwick::utils
