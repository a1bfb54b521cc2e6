#include "search/tokenise/tokenise.hpp"

#include "search/tokenise/tokenise_normalising.hpp"

#include <unicode/uchar.h>
#include <unicode/ucasemap.h>
#include <unicode/utf8.h>

#include <array>
#include <cstdint>
#include <new>
#include <stdexcept>

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

/// The root-locale case map, shared read-only by every thread.
const UCaseMap* root_case_map() {
    static const UCaseMap* map = [] {
        UErrorCode err = U_ZERO_ERROR;
        UCaseMap* m = ucasemap_open("", 0, &err);
        if (U_FAILURE(err)) throw std::bad_alloc();
        return m;
    }();
    return map;
}

}  // namespace

bool is_word_char_wide(char32_t c) noexcept {
    if (c < 0x10000) {
        const auto& bits = bmp_table().bits;
        return (bits[c >> 6] >> (c & 63)) & 1;
    }
    return BmpTable::lookup(static_cast<UChar32>(c));
}

char32_t decode_utf8(std::string_view s, std::size_t& i) noexcept {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const auto n = static_cast<int32_t>(s.size() - i > INT32_MAX ? INT32_MAX : s.size() - i);
    int32_t k = 0;
    UChar32 c;
    U8_NEXT(p + i, k, n, c);
    i += static_cast<std::size_t>(k);
    return c < 0 ? U'\uFFFD' : static_cast<char32_t>(c);
}

void lower_fragment(std::string_view fragment, std::string& out) {
    // The case map takes 32-bit lengths; a longer word is refused rather than cut short.
    if (fragment.size() > INT32_MAX / 3 - 8) throw std::length_error("a word of 700 MB or more cannot be lowercased");
    // Lowercasing grows a text by at most three times (the longest full lowercase mapping
    // of one character is three UTF-8 bytes longer per input byte at most); retry once on
    // overflow anyway.
    out.resize(fragment.size() * 3 + 8);
    UErrorCode err = U_ZERO_ERROR;
    int32_t len = ucasemap_utf8ToLower(root_case_map(), out.data(), static_cast<int32_t>(out.size()),
                                       fragment.data(), static_cast<int32_t>(fragment.size()), &err);
    if (err == U_BUFFER_OVERFLOW_ERROR) {
        out.resize(static_cast<std::size_t>(len));
        err = U_ZERO_ERROR;
        len = ucasemap_utf8ToLower(root_case_map(), out.data(), static_cast<int32_t>(out.size()),
                                   fragment.data(), static_cast<int32_t>(fragment.size()), &err);
    }
    if (U_FAILURE(err)) throw std::bad_alloc();
    out.resize(static_cast<std::size_t>(len));
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
