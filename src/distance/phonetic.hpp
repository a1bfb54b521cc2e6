// Python adapter of the Soundex functions: soundex_encode and the four comparisons of
// two strings by their codes.
#pragma once

#include "py/python.hpp"

#include <string>
#include <string_view>

namespace tarnwick::distance::phonetic {

/// The four-character Soundex code of UTF-8 `text`.
std::string soundex(std::string_view text);

/// Module builtins, in registration order.
extern PyMethodDef soundex_encode_def, soundex_distance_def, soundex_similarity_def,
    soundex_normalized_similarity_def, soundex_normalized_distance_def;

}  // namespace tarnwick::distance::phonetic
