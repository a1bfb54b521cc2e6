#include "utils_default_process.hpp"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <new>
#include <vector>

namespace tarnwick::utils {
namespace {

inline bool ascii_alnum(uint32_t c) noexcept {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

/// Whether a character is kept: ASCII letters and digits; beyond ASCII, Alphabetic or a
/// numeric general category (Nd, Nl, No).
inline bool keep(UChar32 c) noexcept {
    if (c < 0x80) return ascii_alnum(static_cast<uint32_t>(c));
    if (u_hasBinaryProperty(c, UCHAR_ALPHABETIC)) return true;
    const int8_t t = u_charType(c);
    return t == U_DECIMAL_DIGIT_NUMBER || t == U_LETTER_NUMBER || t == U_OTHER_NUMBER;
}

std::string trim_spaces(std::string s) {
    std::size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    return s.substr(b, e - b);
}

/// Fast path for pure-ASCII input.
std::string process_ascii(std::string_view s) {
    std::string out(s.size(), ' ');
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 'A' && c <= 'Z') out[i] = static_cast<char>(c + 32);
        else if (ascii_alnum(c)) out[i] = static_cast<char>(c);
    }
    return trim_spaces(std::move(out));
}

/// Lowercases UTF-16 text with ICU's root rules (final sigma and multi-character mappings
/// included) and appends the result to `out` as UTF-8. `len` is below 2^30.
void lower_append(const UChar* text, int32_t len, std::string& out) {
    std::vector<UChar> lower(static_cast<std::size_t>(len) + 16);
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = u_strToLower(lower.data(), static_cast<int32_t>(lower.size()), text, len, "", &err);
    if (err == U_BUFFER_OVERFLOW_ERROR) {
        lower.resize(static_cast<std::size_t>(n));
        err = U_ZERO_ERROR;
        n = u_strToLower(lower.data(), static_cast<int32_t>(lower.size()), text, len, "", &err);
    }
    if (U_FAILURE(err)) throw std::bad_alloc();
    int32_t i = 0;
    while (i < n) {
        UChar32 c;
        U16_NEXT(lower.data(), i, n, c);
        char buf[4];
        int32_t k = 0;
        UBool bad = false;
        U8_APPEND(buf, k, 4, c, bad);
        (void)bad;
        out.append(buf, static_cast<std::size_t>(k));
    }
}

/// Longest UTF-16 run handed to ICU at once (its lengths are 32-bit).
constexpr std::size_t kChunk = std::size_t{1} << 28;

/// General path over code points: map, then lowercase. Lowercasing never looks across a
/// space (a space is neither cased nor case-ignorable), so long texts are lowercased in
/// chunks that end at a space; a run of more than kChunk units without one is refused.
std::string process_code_points(const std::vector<UChar32>& cps) {
    std::vector<UChar> u16;
    u16.reserve(cps.size() + 8);
    for (UChar32 c : cps) {
        if (!keep(c)) c = ' ';
        if (c <= 0xFFFF) {
            u16.push_back(static_cast<UChar>(c));
        } else {
            u16.push_back(U16_LEAD(c));
            u16.push_back(U16_TRAIL(c));
        }
    }
    std::string out;
    out.reserve(u16.size() + u16.size() / 2);
    std::size_t start = 0;
    while (start < u16.size()) {
        std::size_t end = u16.size();
        if (end - start > kChunk) {
            end = start + kChunk;
            while (end > start && u16[end - 1] != ' ') --end;
            if (end == start) throw std::bad_alloc();
        }
        lower_append(u16.data() + start, static_cast<int32_t>(end - start), out);
        start = end;
    }
    return trim_spaces(std::move(out));
}

}  // namespace

std::string default_process(std::string_view s) {
    bool ascii = true;
    for (unsigned char c : s) ascii &= c < 0x80;
    if (ascii) return process_ascii(s);
    // Valid UTF-8 (the interpreter's encoding of a str) decoded into code points.
    std::vector<UChar32> cps;
    cps.reserve(s.size());
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        const uint8_t b = p[i];
        if (b < 0x80) {
            cps.push_back(b);
            i += 1;
        } else if (b < 0xE0 && i + 1 < n) {
            cps.push_back((UChar32(b & 0x1F) << 6) | (p[i + 1] & 0x3F));
            i += 2;
        } else if (b < 0xF0 && i + 2 < n) {
            cps.push_back((UChar32(b & 0x0F) << 12) | (UChar32(p[i + 1] & 0x3F) << 6) |
                          (p[i + 2] & 0x3F));
            i += 3;
        } else if (i + 3 < n) {
            cps.push_back((UChar32(b & 0x07) << 18) | (UChar32(p[i + 1] & 0x3F) << 12) |
                          (UChar32(p[i + 2] & 0x3F) << 6) | (p[i + 3] & 0x3F));
            i += 4;
        } else {
            cps.push_back(0xFFFD);  // truncated sequence: cannot come from a str
            i += 1;
        }
    }
    return process_code_points(cps);
}

std::string default_process_latin1(std::string_view s) {
    bool ascii = true;
    for (unsigned char c : s) ascii &= c < 0x80;
    if (ascii) return process_ascii(s);
    std::vector<UChar32> cps(s.begin(), s.end());
    for (std::size_t i = 0; i < s.size(); ++i) cps[i] = static_cast<unsigned char>(s[i]);
    return process_code_points(cps);
}

}  // namespace tarnwick::utils
