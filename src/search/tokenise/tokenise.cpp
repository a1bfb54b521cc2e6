#include "search/tokenise/tokenise.hpp"

#include "search/tokenise/tokenise_normalising.hpp"

#include <unicode/uchar.h>

#include <array>
#include <cstdint>

namespace tarnwick::search {
namespace detail {
namespace {

/// Word-character bits for the Basic Multilingual Plane, built once from ICU's tables;
/// characters beyond it ask ICU directly.
struct BmpTable {
    std::array<uint64_t, 0x10000 / 64> bits{};
    BmpTable() {
        for (UChar32 c = 0xAA; c < 0x10000; ++c)
            if (lookup(c)) bits[static_cast<std::size_t>(c) >> 6] |= uint64_t{1} << (c & 63);
    }
    static bool lookup(UChar32 c) noexcept {
        if (c < 0xAA) return false;
        if (u_hasBinaryProperty(c, UCHAR_ALPHABETIC)) return true;
        if (c < 0xB2) return false;
        const int8_t t = u_charType(c);
        return t == U_DECIMAL_DIGIT_NUMBER || t == U_LETTER_NUMBER || t == U_OTHER_NUMBER;
    }
};

const BmpTable& bmp_table() {
    static const BmpTable table;  // thread-safe one-time initialisation
    return table;
}

}  // namespace

bool is_word_char_wide(char32_t c) noexcept {
    if (c < 0x10000) {
        const auto& bits = bmp_table().bits;
        return (bits[c >> 6] >> (c & 63)) & 1;
    }
    return BmpTable::lookup(static_cast<UChar32>(c));
}

}  // namespace detail

std::vector<std::string> split_words(std::string_view text) {
    std::vector<std::string> out;
    for_each_word(text, [&](std::string_view term) { out.emplace_back(term); });
    return out;
}

std::vector<std::string> tokenise(std::string_view text, bool normalize) {
    if (!normalize) return split_words(text);
    std::vector<std::string> out;
    tokenise_normalising(text, out);
    return out;
}

}  // namespace tarnwick::search
