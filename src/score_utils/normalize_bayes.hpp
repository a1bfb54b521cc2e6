// Sigmoid calibration of a list of scores into [0, 1].
//
// The statistics come from the positive scores only (zero, negative and NaN scores take
// no part): their median beta and their population standard deviation, both summed in
// ascending order of the scores so that the result does not depend on the input order.
// Each positive score s becomes 1 / (exp(c * (s - beta)) + 1) with c = -1 / d and
// d = max(std_dev, 1e-6) (1e-6 also when the deviation is NaN, which only an infinite
// score can cause); every other score is left as it is. The median thus maps to 0.5, and
// exp overflowing or underflowing gives exactly 0.0 or 1.0.
#pragma once

#include <span>

namespace tarnwick::search {

/// Calibrates `scores` in place as described above; with no positive score nothing changes.
void normalize_bayes(std::span<double> scores);

}  // namespace tarnwick::search
