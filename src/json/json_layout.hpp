// The internal layout of a JsonStore's values (json_value.hpp describes it), shared by the
// store (json_value.cpp) and its builder (json_builder.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tarnwick::search::json_layout {

/// Value tags. A string of up to 8 bytes is kShortString plus its length, its bytes in the
/// payload.
enum Tag : uint8_t {
    kNull,
    kFalse,
    kTrue,
    kUnsigned,
    kSigned,
    kDouble,
    kLongString,
    kArray,
    kObject,
    kShortString = 16,  // up to kShortString + 8
};

constexpr std::size_t kInline = 8;

inline uint64_t pack(uint32_t first, uint32_t count) noexcept {
    return (static_cast<uint64_t>(first) << 32) | count;
}
inline uint32_t first_of(uint64_t p) noexcept { return static_cast<uint32_t>(p >> 32); }
inline uint32_t count_of(uint64_t p) noexcept { return static_cast<uint32_t>(p); }

template <class T>
inline uint64_t bits_of(T v) noexcept {
    uint64_t b = 0;
    std::memcpy(&b, &v, sizeof v);
    return b;
}
template <class T>
inline T from_bits(uint64_t b) noexcept {
    T v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

}  // namespace tarnwick::search::json_layout
