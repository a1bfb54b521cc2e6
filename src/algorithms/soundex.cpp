#include "algorithms/soundex.hpp"

#include <cstddef>

namespace tarnwick::algorithms {
namespace {

// Digit of each letter A to Z; '0' for the vowels (and Y) and for H and W.
constexpr char kDigits[] = "01230120022455012623010202";

/// Index 0..25 of an ASCII letter, or -1 for any other byte. Clearing bit 5 folds a-z
/// onto A-Z and maps no other byte into that range; the bytes of a non-ASCII character
/// in UTF-8 are all 0x80 or more and stay there.
inline int letter_index(unsigned char c) noexcept {
    const unsigned char up = c & 0xDF;
    return (up >= 'A' && up <= 'Z') ? up - 'A' : -1;
}

}  // namespace

SoundexCode soundex(std::string_view text) noexcept {
    SoundexCode code{'0', '0', '0', '0'};
    std::size_t i = 0;
    const std::size_t n = text.size();
    int first = -1;
    for (; i < n; ++i) {
        first = letter_index(static_cast<unsigned char>(text[i]));
        if (first >= 0) break;
    }
    if (first < 0) return code;
    code[0] = static_cast<char>('A' + first);
    char current = kDigits[first];
    std::size_t len = 1;
    for (++i; i < n; ++i) {
        const int k = letter_index(static_cast<unsigned char>(text[i]));
        if (k < 0) continue;
        if (len == 4) break;
        const char d = kDigits[k];
        if (d != '0') {
            if (d != current) {
                code[len++] = d;
                current = d;
            }
        } else if (k != 'H' - 'A' && k != 'W' - 'A') {
            // A vowel separates: the next consonant is written even if it repeats.
            current = '0';
        }
    }
    return code;
}

}  // namespace tarnwick::algorithms
