// Compact JSON text, written the one way the index directory's "meta.json" needs it.
//
// - Strings: the quotation mark and the reverse solidus escaped by a reverse solidus; the
//   controls U+0008, U+000C, U+000A, U+000D and U+0009 as \b, \f, \n, \r and \t; every
//   other character below U+0020 as \u00XX with lower-case hexadecimal digits; everything
//   else, all non-ASCII included, as its raw UTF-8 bytes.
// - Numbers: a finite double as the shortest decimal digits D that read back as the same
//   double (std::to_chars' shortest form), value = D x 10^k, laid out by where its decimal
//   point falls, p = (number of digits of D) + k:
//     k >= 0 and p <= 16    D, then k zeros, then ".0"              1.0, 1000000000000000.0
//     0 < p <= 16           the point after the first p digits      12.5, 3.25
//     -5 < p <= 0           "0.", -p zeros, then D                  0.1, 0.00001
//     otherwise             D's first digit, "." and the others when there are any, "e"
//                           and p - 1 in decimal, no plus sign      1e16, 1.5e-7, 1e-7
//   A negative value has a leading "-"; zero is 0.0 (or -0.0); a value that is not finite
//   is null.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick::search {

/// Appends `s` (UTF-8) as a JSON string, quotes included.
void append_json_string(std::string& out, std::string_view s);

/// Appends `v` as a JSON number, or null when it is not finite.
void append_json_number(std::string& out, double v);

}  // namespace tarnwick::search
