#include "types.hpp"

namespace tarnwick::types {

std::vector<uint64_t> Seq::to_u64() const {
    return visit([](auto s) { return std::vector<uint64_t>(s.begin(), s.end()); });
}

namespace {

void append_utf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

/// Lossy UTF-8 decoding: each maximal invalid subpart becomes one U+FFFD.
std::string decode_utf8_lossy(std::span<const uint8_t> s) {
    std::string out;
    out.reserve(s.size());
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        const uint8_t b = s[i];
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        std::size_t need = 0;
        uint8_t lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        std::size_t j = 1;
        bool ok = true;
        for (; j <= need; ++j) {
            if (i + j >= n) { ok = false; break; }
            const uint8_t c = s[i + j];
            const uint8_t l = (j == 1) ? lo : 0x80, h = (j == 1) ? hi : 0xBF;
            if (c < l || c > h) { ok = false; break; }
        }
        if (ok) {
            out.append(reinterpret_cast<const char*>(s.data() + i), need + 1);
            i += need + 1;
        } else {
            out += "\xEF\xBF\xBD";
            i += j;  // the lead byte plus the valid continuation bytes seen so far
        }
    }
    return out;
}

}  // namespace

std::string Seq::to_string_lossy() const {
    switch (kind_) {
        case SeqKind::Bytes: return decode_utf8_lossy(as_bytes());
        case SeqKind::Chars: {
            std::string out;
            out.reserve(size_);
            for (uint32_t c : as_chars())
                if (c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF)) append_utf8(out, c);
            return out;
        }
        default: return {};
    }
}

}  // namespace tarnwick::types
