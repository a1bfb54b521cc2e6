// American Soundex codes of text: an upper-case letter and three digits.
#pragma once

#include <array>
#include <string_view>

namespace tarnwick::algorithms {

/// A Soundex code: exactly four ASCII characters.
using SoundexCode = std::array<char, 4>;

/// The Soundex code of UTF-8 `text`. Only ASCII letters count: every other character
/// (digits, punctuation, every non-ASCII character) is skipped without effect. The code
/// is "0000" when the text holds no ASCII letter.
SoundexCode soundex(std::string_view text) noexcept;

/// Number of the four positions where two codes agree.
inline int soundex_agreement(const SoundexCode& a, const SoundexCode& b) noexcept {
    return (a[0] == b[0]) + (a[1] == b[1]) + (a[2] == b[2]) + (a[3] == b[3]);
}

}  // namespace tarnwick::algorithms
