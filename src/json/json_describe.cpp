#include "json/json_describe.hpp"

#include <charconv>

namespace tarnwick::search {
namespace {

/// The text of a double as the messages show it: the shortest digits that read back to it,
/// never in exponent form, with a decimal point always present.
std::string float_text(double v) {
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    std::string s(buf, r.ptr);
    if (s.find('.') == std::string::npos) s += ".0";
    return s;
}

/// A string in double quotes with quotes, backslashes and control characters escaped.
std::string quoted(std::string_view s) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        switch (c) {
            case '\t': out += "\\t"; continue;
            case '\r': out += "\\r"; continue;
            case '\n': out += "\\n"; continue;
            case '\\': out += "\\\\"; continue;
            case '"': out += "\\\""; continue;
            case 0: out += "\\0"; continue;
            default: break;
        }
        unsigned code = c;
        if (c >= 0x80) {
            // Only the two-byte forms C2 80 to C2 9F (the C1 controls) are escaped; every
            // other byte of a multi-byte character is copied.
            const auto next = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0u;
            if (c != 0xC2 || next < 0x80 || next > 0x9F) {
                out += static_cast<char>(c);
                continue;
            }
            code = next;
        }
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
            out += "\\u{";
            if (code >= 0x10) out += kHex[code >> 4];
            out += kHex[code & 0xF];
            out += '}';
            if (code >= 0x80) ++i;
            continue;
        }
        out += static_cast<char>(c);
    }
    return out + "\"";
}

}  // namespace

std::string describe_bool(bool v) { return v ? "boolean `true`" : "boolean `false`"; }

std::string describe_integer(std::string_view digits) {
    std::string out = "integer `";
    out.append(digits);
    out.push_back('`');
    return out;
}

std::string describe_float(double v) { return "floating point `" + float_text(v) + "`"; }

std::string describe_string(std::string_view s) { return "string " + quoted(s); }

}  // namespace tarnwick::search
