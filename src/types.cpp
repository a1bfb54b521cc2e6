#include "types.hpp"

#include "text/utf8.hpp"

namespace tarnwick::types {

std::vector<uint64_t> Seq::to_u64() const {
    return visit([](auto s) { return std::vector<uint64_t>(s.begin(), s.end()); });
}

std::string Seq::to_string_lossy() const {
    switch (kind_) {
        case SeqKind::Bytes: return text::decode_lossy(as_bytes());
        case SeqKind::Chars: {
            std::string out;
            out.reserve(size_);
            for (uint32_t c : as_chars())
                if (c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF)) text::append_utf8(out, c);
            return out;
        }
        default: return {};
    }
}

}  // namespace tarnwick::types
