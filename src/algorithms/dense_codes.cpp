#include "algorithms/dense_codes.hpp"

namespace tarnwick::algorithms {
namespace {

/// Bitwise OR of all elements: below 256 exactly when every element is.
template <class T>
uint64_t or_all(std::span<const T> s) noexcept {
    T acc = 0;
    for (const T v : s) acc |= v;
    return acc;
}

/// Writes the elements of `s` (all below 256) as bytes.
template <class T>
void narrow(std::span<const T> s, uint8_t* out) noexcept {
    for (std::size_t i = 0; i < s.size(); ++i) out[i] = static_cast<uint8_t>(s[i]);
}

}  // namespace

uint8_t* DenseCodes::storage(std::size_t n) {
    if (n <= kInline) return inline_;
    heap_.resize(n);
    return heap_.data();
}

template <class T>
bool DenseCodes::assign(std::span<const T> a, std::span<const T> b) {
    const std::size_t la = a.size(), lb = b.size();
    uint8_t* out = storage(la + lb);
    if ((or_all(a) | or_all(b)) < 256) {
        narrow(a, out);
        narrow(b, out + la);
    } else {
        ValueNumbering numbering(la + lb);
        if (!numbering.code(a, out) || !numbering.code(b, out + la)) return false;
    }
    a_ = {out, la};
    b_ = {out + la, lb};
    return true;
}

template bool DenseCodes::assign<uint32_t>(std::span<const uint32_t>, std::span<const uint32_t>);
template bool DenseCodes::assign<uint64_t>(std::span<const uint64_t>, std::span<const uint64_t>);

}  // namespace tarnwick::algorithms
