#include "algorithms/soundex.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

/// Number of bytes of 0x80 and more from `i` (< n) on, where text[i] is one: the bytes of
/// non-ASCII characters, none of them a letter. Eight bytes are tested at a time, so text
/// in another script (two to four bytes a character) is passed over quickly.
inline std::size_t non_ascii_run(const char* text, std::size_t i, std::size_t n) noexcept {
    constexpr uint64_t kHigh = 0x8080808080808080ULL;
    const std::size_t start = i;
    for (; i + 8 <= n; i += 8) {
        uint64_t x;
        std::memcpy(&x, text + i, 8);
        const uint64_t ascii = ~x & kHigh;  // the high bit of each ASCII byte
        if (ascii != 0) {
            // Little-endian: the lowest set bit belongs to the first ASCII byte.
            if constexpr (std::endian::native == std::endian::little)
                return i - start + static_cast<std::size_t>(std::countr_zero(ascii)) / 8;
            break;
        }
    }
    while (i < n && static_cast<unsigned char>(text[i]) >= 0x80) ++i;
    return i - start;
}

}  // namespace

SoundexCode soundex(std::string_view text) noexcept {
    SoundexCode code{'0', '0', '0', '0'};
    std::size_t i = 0;
    const std::size_t n = text.size();
    int first = -1;
    for (; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        first = letter_index(c);
        if (first >= 0) break;
        if (c >= 0x80) i += non_ascii_run(text.data(), i, n) - 1;
    }
    if (first < 0) return code;
    code[0] = static_cast<char>('A' + first);
    char current = kDigits[first];
    std::size_t len = 1;
    for (++i; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const int k = letter_index(c);
        if (k < 0) {
            if (c >= 0x80) i += non_ascii_run(text.data(), i, n) - 1;
            continue;
        }
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
