// Rounding a double to the nearest 32-bit float, defined for every double (a plain
// conversion is undefined for magnitudes beyond the float range).
#pragma once

namespace tarnwick {

/// `v` rounded to the nearest 32-bit float: magnitudes beyond the float range become
/// infinities, NaN stays NaN.
inline float round_f32(double v) noexcept {
    // Below this magnitude a double rounds to a finite float; from it on, to an infinity.
    constexpr double kOverflow = 0x1.ffffffp127;
    if (v >= kOverflow) return __builtin_inff();
    if (v <= -kOverflow) return -__builtin_inff();
    return static_cast<float>(v);
}

}  // namespace tarnwick
