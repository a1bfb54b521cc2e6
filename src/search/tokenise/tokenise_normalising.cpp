#include "search/tokenise/tokenise_normalising.hpp"

#include "search/tokenise/tokenise.hpp"
#include "text/lower.hpp"
#include "text/utf8.hpp"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string_view>

namespace tarnwick::search {
namespace {

// The class of a character is its script code (USCRIPT_COMMON 0, USCRIPT_INHERITED 1, then
// the particular scripts, all below 200) or one of these two.
constexpr uint8_t kControl = 254;    // removed from its token: a control character (Cc) that
                                     // is not a separator, U+FEFF or U+2060
constexpr uint8_t kSeparator = 255;  // ends a token and belongs to none

uint8_t classify(UChar32 c) noexcept {
    switch (c) {
        case 0x09: case 0x0A: case 0x0D: case 0x2B: case 0x60: case 0xB1: case 0xD7: case 0xF7:
        case 0x200B: case 0x200C: case 0x2028: case 0x2029:
            return kSeparator;
        case 0xFEFF: case 0x2060:  // zero-width no-break space (byte-order mark), word joiner
            return kControl;
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

// What the scan saw in a token besides ASCII characters that are neither separators nor
// controls.
constexpr unsigned kWide = 1;        // a character at or above U+0080
constexpr unsigned kHasControl = 2;  // a character that normalisation removes (kControl)
constexpr unsigned kMalformed = 4;   // a malformed sequence, read as U+FFFD

/// The normalisation of one token, step by step as the rules list them. Its buffers are
/// reused by every token it normalises.
class Normaliser {
public:
    /// Replaces `term` with the normalised `token` of a run of `script`; returns whether it
    /// is a word (holds a character that is not a separator).
    bool run(std::string_view token, unsigned flags, int script, std::string& term) {
        // The normaliser takes 32-bit lengths; a longer token is refused rather than cut short.
        if (token.size() > INT32_MAX / 4) throw std::length_error("a term of 500 MB or more cannot be normalised");
        std::string_view src = token;
        if (flags & kMalformed) src = repaired(src);
        src = decomposed(src);
        if (flags & kHasControl) src = without_removed(src);
        if (is_lowercased(script)) {
            text::lower(src, lowered_);
            src = lowered_;
        }
        return map_characters(src, script, term);
    }

private:
    /// Malformed sequences replaced by U+FFFD.
    std::string_view repaired(std::string_view src) {
        fixed_.clear();
        for (std::size_t i = 0; i < src.size();) text::append_utf8(fixed_, text::decode_next(src, i));
        return fixed_;
    }

    /// The compatibility decomposition (NFKD); `src` itself when it is already decomposed.
    std::string_view decomposed(std::string_view src) {
        const icu::Normalizer2& norm = nfkd();
        const icu::StringPiece piece(src.data(), static_cast<int32_t>(src.size()));
        UErrorCode err = U_ZERO_ERROR;
        if (!norm.isNormalizedUTF8(piece, err)) {
            decomposed_.clear();
            icu::StringByteSink<std::string> sink(&decomposed_, static_cast<int32_t>(src.size() + 8));
            err = U_ZERO_ERROR;
            norm.normalizeUTF8(0, piece, sink, nullptr, err);
            src = decomposed_;
        }
        if (U_FAILURE(err)) throw std::bad_alloc();
        return src;
    }

    /// The text without control characters, U+FEFF and U+2060. Decomposition neither makes
    /// nor removes any of them. The text is well-formed here, so 0xC2, 0xE2 and 0xEF are
    /// always lead bytes; C2 80 to C2 9F are U+0080 to U+009F.
    std::string_view without_removed(std::string_view src) {
        uncontrolled_.clear();
        for (std::size_t i = 0; i < src.size(); ++i) {
            const auto c = static_cast<unsigned char>(src[i]);
            if (c < 0x20 || c == 0x7F) continue;
            if (c == 0xC2 && i + 1 < src.size() && static_cast<unsigned char>(src[i + 1]) <= 0x9F) {
                ++i;
                continue;
            }
            const std::string_view three = src.substr(i, 3);
            if (three == "\xEF\xBB\xBF" || three == "\xE2\x81\xA0") {  // U+FEFF, U+2060
                i += 2;
                continue;
            }
            uncontrolled_.push_back(static_cast<char>(c));
        }
        return uncontrolled_;
    }

    /// The character mappings of the last normalisation steps (quotes, ligatures, Arabic
    /// letters, nonspacing marks) from `src` into `term`; returns whether `term` is a word.
    static bool map_characters(std::string_view src, int script, std::string& term) {
        const bool arabic = script == USCRIPT_ARABIC;
        const bool strip = loses_marks(script);
        term.clear();
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
            char32_t c = text::decode_next(src, i);
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
            if (arabic) text::append_utf8(term, c);
            else term.append(src.substr(at, i - at));
            word = word || wide_class(c) != kSeparator;
        }
        return word;
    }

private:
    std::string fixed_, decomposed_, uncontrolled_, lowered_;
};

/// The normalised text of single characters, for tokens that need no step-by-step work.
///
/// A character of a particular script always stands in a run of its own script, so its
/// normalised text does not depend on where it stands, and a token made of such characters
/// and ASCII normalises character by character, provided that no step looks beyond one
/// character. NFKD reorders only adjacent combining marks, and every character kept here
/// decomposes to a text that starts with a starter (combining class 0), as ASCII does, so
/// no mark of one character meets a mark of the next. Lowercasing in the root locale after
/// NFKD is context-free except for capital sigma, so characters whose decomposition holds
/// it are left out. The other steps map characters one at a time. Each entry is what
/// Normaliser gives the character alone.
struct CharTable {
    /// U+0080 to U+07FF (two UTF-8 bytes): the normalised text, when it fits.
    struct Entry {
        bool kept = false;  // whether the character is in the table
        bool word = false;  // whether its text holds a character that is not a separator
        uint8_t len = 0;
        char text[5] = {};
    };
    std::array<Entry, 0x800> two{};
    /// U+0800 to U+FFFF (three UTF-8 bytes): the characters that normalise to themselves.
    std::array<uint64_t, 0x10000 / 64> same{};

    CharTable() {
        Normaliser norm;
        std::string alone, term;
        for (char32_t c = 0x80; c < 0x10000; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF) continue;
            const uint8_t k = wide_class(c);
            if (k <= USCRIPT_INHERITED || k >= kControl) continue;
            alone.clear();
            text::append_utf8(alone, c);
            // Only a starter without a decomposition can normalise to itself.
            if (c >= 0x800 ? !nfkd().isInert(static_cast<UChar32>(c)) : !decomposes_apart(alone)) continue;
            const bool word = norm.run(alone, kWide, k, term);
            if (c < 0x800) {
                if (term.size() > sizeof(Entry::text)) continue;
                Entry& e = two[c];
                e.kept = true;
                e.word = word;
                e.len = static_cast<uint8_t>(term.size());
                term.copy(e.text, term.size());
            } else if (word && term == alone) {
                same[c >> 6] |= uint64_t{1} << (c & 63);
            }
        }
    }

    /// Whether the decomposition of a character starts with a starter and holds no capital
    /// sigma.
    static bool decomposes_apart(std::string_view alone) {
        UErrorCode err = U_ZERO_ERROR;
        std::string decomposed;
        icu::StringByteSink<std::string> sink(&decomposed);
        nfkd().normalizeUTF8(0, icu::StringPiece(alone.data(), static_cast<int32_t>(alone.size())), sink,
                             nullptr, err);
        if (U_FAILURE(err) || decomposed.empty()) return false;
        if (decomposed.find("\xCE\xA3") != std::string::npos) return false;  // U+03A3
        std::size_t i = 0;
        return u_getCombiningClass(static_cast<UChar32>(text::decode_next(decomposed, i))) == 0;
    }
};

const CharTable& char_table() {
    static const CharTable table;  // thread-safe one-time initialisation
    return table;
}

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
                const char32_t c = text::decode_next(text_.substr(0, n), j);
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
        std::string& term = out_.emplace_back();
        bool word = false;
        if ((flags & kMalformed) || !by_character(token, term, word))
            word = norm_.run(token, flags, script, term);
        if (!word) out_.pop_back();
    }

    /// Normalises a well-formed token character by character into `term` and sets `word`,
    /// when every character of it is ASCII or in the character table; else returns false,
    /// leaving `term` and `word` unspecified. ASCII needs no more than lowercasing and the
    /// removal of controls: NFKD leaves it unchanged, it holds no mark, no separator stands
    /// in a token, and a letter stands only in a Latin run.
    bool by_character(std::string_view token, std::string& term, bool& word) {
        const auto* p = reinterpret_cast<const unsigned char*>(token.data());
        const std::size_t n = token.size();
        term.resize(n);
        std::size_t m = 0;
        word = false;
        const CharTable* table = nullptr;
        for (std::size_t i = 0; i < n;) {
            const unsigned char b = p[i];
            if (b < 0x80) {
                ++i;
                if (b < 0x20 || b == 0x7F) continue;
                term[m++] = static_cast<char>(b >= 'A' && b <= 'Z' ? b + 32 : b);
                word = true;
                continue;
            }
            if (table == nullptr) table = &char_table();
            if (b < 0xE0) {  // two bytes
                const auto& e = table->two[((b & 0x1Fu) << 6) | (p[i + 1] & 0x3Fu)];
                if (!e.kept) return false;
                // Room for this text and for the rest of the token at one byte per byte.
                if (m + e.len + (n - i - 2) > term.size()) term.resize(m + e.len + (n - i - 2));
                std::memcpy(term.data() + m, e.text, e.len);
                m += e.len;
                word = word || e.word;
                i += 2;
                continue;
            }
            if (b >= 0xF0) return false;
            const unsigned c = ((b & 0x0Fu) << 12) | ((p[i + 1] & 0x3Fu) << 6) | (p[i + 2] & 0x3Fu);
            if (!((table->same[c >> 6] >> (c & 63)) & 1)) return false;
            std::memcpy(term.data() + m, p + i, 3);
            m += 3;
            word = true;
            i += 3;
        }
        term.resize(m);
        return true;
    }

    std::string_view text_;
    std::vector<std::string>& out_;
    Normaliser norm_;
};

}  // namespace

void tokenise_normalising(std::string_view text, std::vector<std::string>& out) {
    Tokeniser(text, out).scan(text.size(), kNoScript);
}

}  // namespace tarnwick::search
