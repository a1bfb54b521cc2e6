// Full Unicode lowercasing of UTF-8 text in the root locale (ICU's case map): what the
// search tokeniser applies to a word and the metadata sort to a string. Safe on any thread.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick::text {

/// Lowercases `fragment` (UTF-8 holding non-ASCII characters) into `out`, replacing its
/// contents. Multi-character mappings expand; a capital sigma ending a word inside the
/// fragment becomes final sigma. Throws std::length_error for a fragment of 700 MB or more.
void lower(std::string_view fragment, std::string& out);

}  // namespace tarnwick::text
