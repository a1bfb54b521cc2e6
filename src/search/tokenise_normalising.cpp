#include "search/tokenise_normalising.hpp"

#include "search/tokenise.hpp"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

#include <array>
#include <cstdint>
#include <new>
#include <string_view>

namespace tarnwick::search {
namespace {

// The class of a character is its script code (USCRIPT_COMMON 0, USCRIPT_INHERITED 1, then
// the particular scripts, all below 200) or one of these two.
constexpr uint8_t kControl = 254;    // a control character (Cc) that is not a separator
constexpr uint8_t kSeparator = 255;  // ends a token and belongs to none

uint8_t classify(UChar32 c) noexcept {
    switch (c) {
        case 0x09: case 0x0A: case 0x0D: case 0x2B: case 0x60: case 0xB1: case 0xD7: case 0xF7:
        case 0x200C: case 0x2029:
            return kSeparator;
        default:
            if (c >= 0x2212 && c <= 0x22FF) return kSeparator;
    }
    switch (u_charType(c)) {
        case U_CONNECTOR_PUNCTUATION: case U_DASH_PUNCTUATION: case U_START_PUNCTUATION:
        case U_END_PUNCTUATION: case U_INITIAL_PUNCTUATION: case U_FINAL_PUNCTUATION:
        case U_OTHER_PUNCTUATION: case U_SPACE_SEPARATOR:
            return kSeparator;
        case U_CONTROL_CHAR:
            return kControl;
        default:
            break;
    }
    UErrorCode err = U_ZERO_ERROR;
    const UScriptCode s = uscript_getScript(c, &err);
    if (U_FAILURE(err) || s < 0 || s >= kControl) return USCRIPT_UNKNOWN;
    return static_cast<uint8_t>(s);
}

/// Classes of ASCII characters: what classify gives them, without ICU.
constexpr auto kAsciiClass = [] {
    std::array<uint8_t, 128> t{};
    for (int c = 0; c < 128; ++c) {
        const bool letter = (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
        t[c] = letter                      ? static_cast<uint8_t>(USCRIPT_LATIN)
               : (c < 0x20 || c == 0x7F) ? kControl
                                         : static_cast<uint8_t>(USCRIPT_COMMON);
    }
    // Tab, LF, CR, space, the ASCII punctuation, and the symbols + and `.
    for (const char c : std::string_view("\t\n\r !\"#%&'()*+,-./:;?@[\\]_`{}"))
        t[static_cast<unsigned char>(c)] = kSeparator;
    return t;
}();

/// Classes of the Basic Multilingual Plane, built once from ICU's tables; characters
/// beyond it ask ICU directly.
struct BmpClasses {
    std::array<uint8_t, 0x10000> of{};
    BmpClasses() {
        for (UChar32 c = 0; c < 0x10000; ++c) of[static_cast<std::size_t>(c)] = classify(c);
    }
};

const BmpClasses& bmp_classes() {
    static const BmpClasses table;  // thread-safe one-time initialisation
    return table;
}

/// The class of a character at or above U+0080.
uint8_t wide_class(char32_t c) {
    return c < 0x10000 ? bmp_classes().of[c] : classify(static_cast<UChar32>(c));
}

const icu::Normalizer2& nfkd() {
    static const icu::Normalizer2* n = [] {
        UErrorCode err = U_ZERO_ERROR;
        const icu::Normalizer2* p = icu::Normalizer2::getNFKDInstance(err);
        if (U_FAILURE(err) || p == nullptr) throw std::bad_alloc();
        return p;
    }();
    return *n;
}

bool is_lowercased(int script) noexcept {
    return script == USCRIPT_LATIN || script == USCRIPT_CYRILLIC || script == USCRIPT_GREEK ||
           script == USCRIPT_GEORGIAN || script == USCRIPT_ARMENIAN;
}

bool loses_marks(int script) noexcept {
    return script == USCRIPT_LATIN || script == USCRIPT_GREEK || script == USCRIPT_HEBREW ||
           script == USCRIPT_THAI || script == USCRIPT_ARABIC;
}

void append_utf8(std::string& s, char32_t c) {
    char buf[U8_MAX_LENGTH];
    int32_t k = 0;
    U8_APPEND_UNSAFE(buf, k, static_cast<UChar32>(c));
    s.append(buf, static_cast<std::size_t>(k));
}

// What the scan saw in a token besides ASCII characters that are neither separators nor
// controls.
constexpr unsigned kWide = 1;       // a character at or above U+0080
constexpr unsigned kHasControl = 2; // a control character
constexpr unsigned kMalformed = 4;  // a malformed sequence, read as U+FFFD

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
constexpr int kNoScript = -1;

class Tokeniser {
public:
    Tokeniser(std::string_view text, std::vector<std::string>& out)
        : text_(text), out_(out) {}

    /// Emits the tokens of text_[0, n). `script` is the script of the run in progress at
    /// position 0, kNoScript when no character of a particular script has been seen.
    void scan(std::size_t n, int script) {
        const auto* p = reinterpret_cast<const unsigned char*>(text_.data());
        std::size_t start = kNone;  // of the token in progress
        unsigned flags = 0;
        std::size_t i = 0;
        while (i < n) {
            std::size_t len = 1;
            unsigned f = 0;
            uint8_t k;
            if (p[i] < 0x80) {
                k = kAsciiClass[p[i]];
            } else {
                std::size_t j = i;
                const char32_t c = detail::decode_utf8(text_.substr(0, n), j);
                len = j - i;
                f = kWide;
                if (c == 0xFFFD && text_.substr(i, len) != "\xEF\xBF\xBD") f |= kMalformed;
                k = wide_class(c);
            }
            if (k == kSeparator) {
                if (start != kNone) {
                    if (script != kNoScript) emit(start, i, flags, script);
                    start = kNone;
                    flags = 0;
                }
                i += len;
                continue;
            }
            if (k == kControl) {
                f |= kHasControl;
            } else if (k > USCRIPT_INHERITED && k != script) {
                if (script == kNoScript) {
                    // The text so far had no script of its own: it joins this run.
                    const std::size_t joined = start == kNone ? i : start;
                    script = k;
                    if (joined > 0) scan(joined, script);
                } else {
                    if (start != kNone) emit(start, i, flags, script);
                    start = kNone;
                    flags = 0;
                    script = k;
                }
            }
            if (start == kNone) start = i;
            flags |= f;
            i += len;
        }
        if (script == kNoScript) {
            if (n > 0) scan(n, USCRIPT_LATIN);
        } else if (start != kNone) {
            emit(start, n, flags, script);
        }
    }

private:
    void emit(std::size_t begin, std::size_t end, unsigned flags, int script) {
        const std::string_view token = text_.substr(begin, end - begin);
        if (!(flags & kWide)) {
            // ASCII: NFKD changes nothing, no character is a mark or a separator, and a
            // letter can only be in a Latin run; lowercasing and dropping controls is all.
            std::string& term = out_.emplace_back(token.size(), '\0');
            std::size_t m = 0;
            for (const char ch : token) {
                const auto c = static_cast<unsigned char>(ch);
                if ((flags & kHasControl) && (c < 0x20 || c == 0x7F)) continue;
                term[m++] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            }
            term.resize(m);
            if (m == 0) out_.pop_back();
            return;
        }
        emit_wide(token, flags, script);
    }

    void emit_wide(std::string_view src, unsigned flags, int script) {
        if (flags & kMalformed) {
            fixed_.clear();
            for (std::size_t i = 0; i < src.size();) append_utf8(fixed_, detail::decode_utf8(src, i));
            src = fixed_;
        }
        const icu::Normalizer2& norm = nfkd();
        UErrorCode err = U_ZERO_ERROR;
        if (!norm.isNormalizedUTF8(icu::StringPiece(src.data(), static_cast<int32_t>(src.size())), err)) {
            decomposed_.clear();
            icu::StringByteSink<std::string> sink(&decomposed_, static_cast<int32_t>(src.size() + 8));
            err = U_ZERO_ERROR;
            norm.normalizeUTF8(0, icu::StringPiece(src.data(), static_cast<int32_t>(src.size())), sink,
                               nullptr, err);
            src = decomposed_;
        }
        if (U_FAILURE(err)) throw std::bad_alloc();
        if (flags & kHasControl) {
            // Decomposition neither makes nor removes controls. The text is well-formed
            // here, so 0xC2 is always a lead byte; C2 80 to C2 9F are U+0080 to U+009F.
            uncontrolled_.clear();
            for (std::size_t i = 0; i < src.size(); ++i) {
                const auto c = static_cast<unsigned char>(src[i]);
                if (c < 0x20 || c == 0x7F) continue;
                if (c == 0xC2 && i + 1 < src.size() && static_cast<unsigned char>(src[i + 1]) <= 0x9F) {
                    ++i;
                    continue;
                }
                uncontrolled_.push_back(static_cast<char>(c));
            }
            src = uncontrolled_;
        }
        if (is_lowercased(script)) {
            detail::lower_fragment(src, lowered_);
            src = lowered_;
        }
        const bool arabic = script == USCRIPT_ARABIC;
        const bool strip = loses_marks(script);
        std::string& term = out_.emplace_back();
        term.reserve(src.size());
        bool word = false;
        for (std::size_t i = 0; i < src.size();) {
            const auto b = static_cast<unsigned char>(src[i]);
            if (b < 0x80) {
                term.push_back(static_cast<char>(b));
                word = word || kAsciiClass[b] != kSeparator;
                ++i;
                continue;
            }
            const std::size_t at = i;
            char32_t c = detail::decode_utf8(src, i);
            switch (c) {
                case 0x2018: case 0x2019: case 0x201B:
                    term.push_back('\'');
                    continue;
                case 0xE6:
                    term.append("ae");
                    word = true;
                    continue;
                case 0x153:
                    term.append("oe");
                    word = true;
                    continue;
                default:
                    break;
            }
            if (arabic) {
                if (c == 0x0640) continue;  // tatweel
                if (c == 0x0671) c = 0x0627;  // alef wasla -> alef
                else if (c == 0x0649) c = 0x064A;  // alef maksura -> yeh
                else if (c == 0x0629) c = 0x0647;  // teh marbuta -> heh
            }
            if (strip && u_charType(static_cast<UChar32>(c)) == U_NON_SPACING_MARK) continue;
            if (arabic) append_utf8(term, c);
            else term.append(src.substr(at, i - at));
            word = word || wide_class(c) != kSeparator;
        }
        if (!word) out_.pop_back();
    }

    std::string_view text_;
    std::vector<std::string>& out_;
    // Buffers of the steps of emit_wide, reused by every token of the text.
    std::string fixed_, decomposed_, uncontrolled_, lowered_;
};

}  // namespace

void tokenise_normalising(std::string_view text, std::vector<std::string>& out) {
    Tokeniser(text, out).scan(text.size(), kNoScript);
}

}  // namespace tarnwick::search
