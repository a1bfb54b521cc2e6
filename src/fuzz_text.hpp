// Text helpers of the token scorers: UTF-8 views of byte strings, code points, and
// tokenisation on Unicode White_Space. Free of Python; safe on any thread.
#pragma once

#include "types.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::fuzz::text {

/// Whether every byte of `s` is below 0x80.
bool is_ascii(std::string_view s) noexcept;

/// Whether `s` is well-formed UTF-8 (no overlongs, surrogates or values above U+10FFFF).
bool is_valid_utf8(std::span<const uint8_t> s) noexcept;

/// UTF-8 text that is either a view of bytes the caller keeps alive or an owned string.
class Utf8Text {
public:
    Utf8Text() = default;
    /// A view of `s`; the owner of `s` must outlive this object.
    static Utf8Text view(std::string_view s) noexcept {
        Utf8Text t;
        t.view_ = s;
        return t;
    }
    /// Takes ownership of `s`.
    static Utf8Text owned(std::string s) noexcept {
        Utf8Text t;
        t.own_ = std::move(s);
        t.owned_ = true;
        return t;
    }
    /// The text.
    std::string_view str() const noexcept { return owned_ ? std::string_view(own_) : view_; }

private:
    std::string_view view_;
    std::string own_;
    bool owned_ = false;
};

/// Bytes read as UTF-8 text: a view when well-formed, else the lossy decoding (one U+FFFD
/// per maximal invalid subpart), so that no later read leaves the bytes.
Utf8Text from_bytes(std::span<const uint8_t> b);

/// The text of a sequence, as Seq::to_string_lossy gives it, without a copy for
/// well-formed bytes.
Utf8Text from_seq(const types::Seq& s);

/// Replaces `out` with the code points of `s` (a malformed byte decodes as U+FFFD).
void decode(std::string_view s, std::vector<uint32_t>& out);

/// Whether `c` has the Unicode White_Space property.
constexpr bool is_white_space(uint32_t c) noexcept {
    if (c < 0x80) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

/// Appends to `out` the tokens of `s`: the maximal runs of characters without White_Space,
/// in text order, as views into `s`.
void split_tokens(std::string_view s, std::vector<std::string_view>& out);

}  // namespace tarnwick::fuzz::text
