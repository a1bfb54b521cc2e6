#include "algorithms/dense_codes.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

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

/// Numbers distinct values in order of first occurrence, up to 256 of them, in an open-
/// addressing table sized for the pair (at most 512 slots, so that clearing it costs little
/// for short pairs).
class Numbering {
public:
    explicit Numbering(std::size_t elements) noexcept {
        const std::size_t want = 2 * std::min<std::size_t>(std::max<std::size_t>(elements, 8), 256);
        shift_ = 64 - std::bit_width(want - 1);
        std::memset(slots_, 0, (std::size_t{1} << (64 - shift_)) * sizeof slots_[0]);
    }

    /// Codes every element of `s` into `out`; false once a 257th distinct value occurs.
    template <class T>
    bool code(std::span<const T> s, uint8_t* out) noexcept {
        // Locals, since stores through `out` could otherwise alias the members.
        const int shift = shift_;
        const std::size_t mask = (std::size_t{1} << (64 - shift)) - 1;
        uint16_t* const slots = slots_;
        uint64_t* const keys = keys_;
        std::size_t count = count_;
        const std::size_t n = s.size();
        for (std::size_t i = 0; i < n; ++i) {
            const uint64_t v = static_cast<uint64_t>(s[i]);
            std::size_t h = static_cast<std::size_t>((v * 0x9E3779B97F4A7C15ULL) >> shift);
            std::size_t slot;
            while ((slot = slots[h]) != 0 && keys[slot - 1] != v) h = (h + 1) & mask;
            if (slot == 0) {
                if (count == 256) return false;
                keys[count] = v;
                slot = ++count;
                slots[h] = static_cast<uint16_t>(slot);
            }
            out[i] = static_cast<uint8_t>(slot - 1);
        }
        count_ = count;
        return true;
    }

private:
    int shift_;               // 64 minus the number of index bits
    std::size_t count_ = 0;   // codes given so far
    uint16_t slots_[512];     // 0: empty, else 1 + the code of the value held
    uint64_t keys_[256];      // the value of each code
};

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
        Numbering numbering(la + lb);
        if (!numbering.code(a, out) || !numbering.code(b, out + la)) return false;
    }
    a_ = {out, la};
    b_ = {out + la, lb};
    return true;
}

template bool DenseCodes::assign<uint32_t>(std::span<const uint32_t>, std::span<const uint32_t>);
template bool DenseCodes::assign<uint64_t>(std::span<const uint64_t>, std::span<const uint64_t>);

}  // namespace tarnwick::algorithms
