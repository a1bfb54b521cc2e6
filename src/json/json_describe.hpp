// How the structural messages of the JSON decoders (filter expressions, an index
// directory's "meta.json") name a value that is not what they expected: "null", "boolean
// `true`", "integer `5`", "floating point `1.5`", "string \"text\"", "sequence", "map".
#pragma once

#include <string>
#include <string_view>

namespace tarnwick::search {

std::string describe_bool(bool v);
/// An integer given by its decimal digits (with a sign when negative).
std::string describe_integer(std::string_view digits);
/// A double: its shortest digits that read back to it, never in exponent form, always with
/// a decimal point.
std::string describe_float(double v);
/// A string in double quotes with quotes, backslashes and control characters escaped.
std::string describe_string(std::string_view s);

}  // namespace tarnwick::search
