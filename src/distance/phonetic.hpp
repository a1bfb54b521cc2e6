// Python adapter of the Soundex functions: soundex_encode and the four comparisons of
// two strings by their codes.
#pragma once


#include <string>
#include <string_view>

namespace tarnwick::distance::phonetic {

/// The four-character Soundex code of UTF-8 `text`.
std::string soundex(std::string_view text);

}  // namespace tarnwick::distance::phonetic
