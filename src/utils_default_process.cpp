// Most characters are processed alone: whether one is kept and what it lowercases to does
// not depend on its neighbours. The result of each such character is kept in a table of
// pages of 256 code points, each page built from ICU's answers on first use, so that text
// made of them costs a table read per character. Lowercasing in the root locale looks at
// the neighbours of one character only, the capital sigma (final or not), and a few
// characters lowercase to more than one; text holding any of these takes the general
// path: every character mapped, then the whole text lowercased by ICU.
#include "utils_default_process.hpp"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <array>
#include <atomic>
#include <memory>
#include <new>
#include <span>
#include <vector>

namespace tarnwick::utils {
namespace {

constexpr bool ascii_alnum(uint32_t c) noexcept {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

/// Each ASCII character processed alone (entries 128 to 255 are unused).
constexpr auto kAsciiProcessed = [] {
    std::array<char, 256> t{};
    for (int c = 0; c < 256; ++c) {
        const auto u = static_cast<uint32_t>(c);
        if (c >= 'A' && c <= 'Z') t[u] = static_cast<char>(c + 32);
        else t[u] = ascii_alnum(u) ? static_cast<char>(c) : ' ';
    }
    return t;
}();

/// Whether a character is kept: ASCII letters and digits; beyond ASCII, Alphabetic or a
/// numeric general category (Nd, Nl, No).
inline bool keep(UChar32 c) noexcept {
    if (c < 0x80) return ascii_alnum(static_cast<uint32_t>(c));
    if (u_hasBinaryProperty(c, UCHAR_ALPHABETIC)) return true;
    const int8_t t = u_charType(c);
    return t == U_DECIMAL_DIGIT_NUMBER || t == U_LETTER_NUMBER || t == U_OTHER_NUMBER;
}

/// `s` without the spaces at both ends.
template <class View>
View trimmed(View s) noexcept {
    std::size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    return s.subspan(b, e - b);
}
inline std::string_view trimmed(std::string_view s) noexcept {
    std::size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    return s.substr(b, e - b);
}

/// Lowercases UTF-16 text with ICU's root rules (final sigma and multi-character mappings
/// included) and appends the result's code points to `out`. `len` is below 2^30.
void lower_append(const UChar* text, int32_t len, std::vector<char32_t>& out) {
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
        out.push_back(static_cast<char32_t>(c));
    }
}

/// Longest UTF-16 run handed to ICU at once (its lengths are 32-bit).
constexpr std::size_t kChunk = std::size_t{1} << 28;

/// General path over code points: map, then lowercase, into `out` (replaced); the result
/// is a view of it. Lowercasing never looks across a
/// space (a space is neither cased nor case-ignorable), so long texts are lowercased in
/// chunks that end at a space; a run of more than kChunk units without one is refused.
std::span<const char32_t> process_general(const std::vector<char32_t>& cps,
                                         std::vector<char32_t>& out) {
    std::vector<UChar> u16;
    u16.reserve(cps.size() + 8);
    for (char32_t cp : cps) {
        UChar32 c = static_cast<UChar32>(cp);
        if (!keep(c)) c = ' ';
        if (c <= 0xFFFF) {
            u16.push_back(static_cast<UChar>(c));
        } else {
            u16.push_back(U16_LEAD(c));
            u16.push_back(U16_TRAIL(c));
        }
    }
    out.clear();
    out.reserve(cps.size() + 8);
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
    return trimmed(std::span<const char32_t>(out));
}

// ---- The table of characters processed alone ----

/// Entry of a character whose result depends on its neighbours or is more than one code
/// point.
constexpr char32_t kGeneral = 0xFFFFFFFF;

/// The entry of character `c`: what the general path gives it alone (a space when it is
/// not kept), or kGeneral.
char32_t entry_of(char32_t c) {
    if (c >= 0xD800 && c <= 0xDFFF) return kGeneral;  // no character of a str
    if (c == 0x03A3) return kGeneral;                 // capital sigma: final or not
    if (!keep(static_cast<UChar32>(c))) return U' ';
    UChar one[2];
    int32_t len = 0;
    U16_APPEND_UNSAFE(one, len, static_cast<UChar32>(c));
    UChar lower[8];
    UErrorCode err = U_ZERO_ERROR;
    const int32_t n = u_strToLower(lower, 8, one, len, "", &err);
    if (U_FAILURE(err) || n < 1) return kGeneral;
    int32_t i = 0;
    UChar32 l;
    U16_NEXT(lower, i, n, l);
    return i == n ? static_cast<char32_t>(l) : kGeneral;
}

constexpr std::size_t kPageBits = 8;
constexpr std::size_t kPages = 0x110000 >> kPageBits;

/// The pages built so far; a page is published once and never changes or goes away.
std::atomic<const char32_t*> g_pages[kPages];

/// Builds the page of characters [hi << 8, (hi + 1) << 8). Threads that build the same
/// page at once keep the first one published.
[[gnu::noinline]] const char32_t* build_page(std::size_t hi) {
    auto fresh = std::make_unique<char32_t[]>(std::size_t{1} << kPageBits);
    for (std::size_t lo = 0; lo < (std::size_t{1} << kPageBits); ++lo)
        fresh[lo] = entry_of(static_cast<char32_t>((hi << kPageBits) | lo));
    const char32_t* p = nullptr;
    if (g_pages[hi].compare_exchange_strong(p, fresh.get(), std::memory_order_acq_rel))
        return fresh.release();
    return p;
}

/// The table entry of character `c` (below 0x110000).
inline char32_t entry(char32_t c) {
    const std::size_t hi = c >> kPageBits;
    const char32_t* p = g_pages[hi].load(std::memory_order_acquire);
    if (!p) [[unlikely]] p = build_page(hi);
    return p[c & ((1u << kPageBits) - 1)];
}

}  // namespace

std::string_view default_process_ascii(std::string_view s, std::string& out) {
    out.resize(s.size());
    for (std::size_t i = 0; i < s.size(); ++i)
        out[i] = kAsciiProcessed[static_cast<unsigned char>(s[i])];
    return trimmed(std::string_view(out));
}

std::span<const char32_t> default_process_code_points(std::span<const char32_t> s,
                                                     std::vector<char32_t>& out) {
    if (out.size() < s.size()) out.resize(s.size());
    char32_t* o = out.data();
    // Every character, ASCII too, through the table (whose ASCII entries are what
    // kAsciiProcessed holds): no branch on the kind of character, which text mixing
    // scripts would mispredict.
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char32_t e = entry(s[i]);
        if (e == kGeneral) [[unlikely]]
            return process_general(std::vector<char32_t>(s.begin(), s.end()), out);
        o[i] = e;
    }
    return trimmed(std::span<const char32_t>(out.data(), s.size()));
}

std::span<const char32_t> default_process_latin1(std::string_view s, std::vector<char32_t>& out) {
    if (out.size() < s.size()) out.resize(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        const char32_t e = c < 0x80 ? static_cast<unsigned char>(kAsciiProcessed[c]) : entry(c);
        if (e == kGeneral) {
            const auto* p = reinterpret_cast<const unsigned char*>(s.data());
            return process_general(std::vector<char32_t>(p, p + s.size()), out);
        }
        out[i] = e;
    }
    return trimmed(std::span<const char32_t>(out.data(), s.size()));
}

}  // namespace tarnwick::utils
