#include "json/json_write.hpp"

#include <array>
#include <charconv>
#include <cmath>

namespace tarnwick::search {
namespace {

/// For each byte: 0 when it is written as it is, else the letter of its short escape, or
/// 'u' for the six-character form.
constexpr std::array<char, 256> kEscape = [] {
    std::array<char, 256> t{};
    for (int c = 0; c < 0x20; ++c) t[static_cast<std::size_t>(c)] = 'u';
    t['\b'] = 'b';
    t['\f'] = 'f';
    t['\n'] = 'n';
    t['\r'] = 'r';
    t['\t'] = 't';
    t['"'] = '"';
    t['\\'] = '\\';
    return t;
}();

}  // namespace

void append_json_string(std::string& out, std::string_view s) {
    out.push_back('"');
    std::size_t run = 0;  // start of the bytes not yet copied
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char e = kEscape[static_cast<unsigned char>(s[i])];
        if (e == 0) continue;
        out.append(s.data() + run, i - run);
        run = i + 1;
        out.push_back('\\');
        out.push_back(e);
        if (e == 'u') {
            static constexpr char kHex[] = "0123456789abcdef";
            const auto c = static_cast<unsigned char>(s[i]);
            out.append("00");
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    out.append(s.data() + run, s.size() - run);
    out.push_back('"');
}

void append_json_number(std::string& out, double v) {
    if (!std::isfinite(v)) {
        out.append("null");
        return;
    }
    // Shortest scientific form: [-]d[.ddd]e(+|-)xx.
    char sci[32];
    const auto res = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific);
    const char* p = sci;
    if (*p == '-') {
        out.push_back('-');
        ++p;
    }
    char digits[20];
    int len = 0;
    for (; *p != 'e'; ++p)
        if (*p != '.') digits[len++] = *p;
    int exp10 = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), res.ptr, exp10);
    // value = digits x 10^k with k = exp10 - (len - 1); the point falls after `point` digits.
    const int point = exp10 + 1;
    const int k = point - len;
    if (k >= 0 && point <= 16) {
        out.append(digits, static_cast<std::size_t>(len));
        out.append(static_cast<std::size_t>(k), '0');
        out.append(".0");
    } else if (point > 0 && point <= 16) {
        out.append(digits, static_cast<std::size_t>(point));
        out.push_back('.');
        out.append(digits + point, static_cast<std::size_t>(len - point));
    } else if (point > -5 && point <= 0) {
        out.append("0.");
        out.append(static_cast<std::size_t>(-point), '0');
        out.append(digits, static_cast<std::size_t>(len));
    } else {
        out.push_back(digits[0]);
        if (len > 1) {
            out.push_back('.');
            out.append(digits + 1, static_cast<std::size_t>(len - 1));
        }
        out.push_back('e');
        char e[8];
        const auto r = std::to_chars(e, e + sizeof e, point - 1);
        out.append(e, static_cast<std::size_t>(r.ptr - e));
    }
}

}  // namespace tarnwick::search
