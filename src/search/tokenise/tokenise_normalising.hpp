// The normalising mode of the search tokeniser: the library's own multilingual terms.
//
// 1. Script runs. The text is cut wherever the script changes. Characters of the Common
//    and Inherited scripts (digits, most symbols and punctuation, combining marks, U+FFFD)
//    stay in the run in progress; those before the first character of a particular script
//    join that first run. A text with no character of a particular script is one run,
//    normalised like Latin text (its letters are forms such as circled or mathematical
//    letters whose compatibility decompositions are Latin or Greek).
// 2. Separators. Inside a run every separator ends a token and belongs to none: Unicode
//    punctuation (Pc Pd Ps Pe Pi Pf Po), space separators (Zs), tab, LF, CR, the line and
//    paragraph separators U+2028 and U+2029, the zero-width space U+200B, U+200C, and the
//    symbols ` + ± × ÷ and U+2212 to U+22FF. Other symbols and the other control
//    characters are not separators: "a=b", "$5" and "x~y" are one token each.
//    There is no dictionary segmentation: a run of Han, Kana, Hangul or Thai characters
//    between separators is one token.
// 3. Normalisation of each token, in this order: compatibility decomposition (NFKD);
//    control characters (Cc), the byte-order mark U+FEFF and the word joiner U+2060
//    removed (so they join the characters around them: "\uFEFFhello" is "hello"); the
//    full lowercase mapping of the root locale (final sigma included, the token being the
//    context) when the run is Latin, Cyrillic, Greek, Georgian or Armenian; U+2018, U+2019
//    and U+201B become "'"; æ and œ become "ae" and "oe"; in Arabic runs alef wasla
//    becomes alef, alef maksura becomes yeh, teh marbuta becomes heh and tatweel is
//    removed; nonspacing marks (Mn) are removed when the run is Latin, Greek, Hebrew, Thai
//    or Arabic. (NFKD has already split hamza and madda from their alef, waw and yeh, so
//    the last step leaves the bare letters.)
// 4. Word tokens. A token is kept when its normalised text holds at least one character
//    that is not a separator. A token that normalises to nothing (only characters that
//    step 3 removes) or to separators alone is dropped, so no term is empty.
//
// Terms keep their order in the text and every repetition. The character tables are built
// once per process on first use (safe when first calls race) and only read afterwards; the
// function is reentrant, calls no interpreter function and runs on any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::search {

/// Appends the terms of `text` (UTF-8; malformed sequences read as U+FFFD) in the
/// normalising mode.
void tokenise_normalising(std::string_view text, std::vector<std::string>& out);

}  // namespace tarnwick::search
