#include "fuzz/fuzz_ratio.hpp"

#include "algorithms/lcs.hpp"

#include <algorithm>
#include <cmath>

namespace tarnwick::fuzz {

// floor((1 - c/100) * lensum) can round below the exact bound, so one more is allowed and
// the final score is compared with the cut-off afterwards.
uint64_t max_distance(double c, uint64_t lensum) noexcept {
    return max_distance_of_factor(1.0 - c / 100.0, lensum);
}

uint64_t max_distance_of_factor(double factor, uint64_t lensum) noexcept {
    const double f = factor * static_cast<double>(lensum);
    const double fl = std::floor(f);
    if (!(fl >= 0.0)) return 1;  // negative or NaN
    if (fl >= 18446744073709551615.0) return algorithms::kNoBound;
    const uint64_t m = static_cast<uint64_t>(fl);
    return m >= lensum ? lensum : m + 1;
}

template <class T>
double indel_normalized_sim(std::span<const T> a, std::span<const T> b,
                            std::optional<double> cutoff) {
    const uint64_t lensum = a.size() + b.size();
    if (lensum == 0) return 1.0;
    double c = 0.0;
    uint64_t max = algorithms::kNoBound;
    if (cutoff) {
        c = clamp_cutoff(*cutoff);
        max = max_distance(c, lensum);
    }
    const uint64_t d = algorithms::indel_distance(a, b, max);
    if (d == algorithms::kNoBound) return 0.0;
    const double sim = 1.0 - static_cast<double>(d) / static_cast<double>(lensum);
    if (cutoff && 100.0 * sim < c) return 0.0;
    return sim;
}

template double indel_normalized_sim<uint8_t>(std::span<const uint8_t>, std::span<const uint8_t>,
                                              std::optional<double>);
template double indel_normalized_sim<uint32_t>(std::span<const uint32_t>,
                                               std::span<const uint32_t>, std::optional<double>);
template double indel_normalized_sim<uint64_t>(std::span<const uint64_t>,
                                               std::span<const uint64_t>, std::optional<double>);

double indel_normalized_sim(const types::Seq& a, const types::Seq& b,
                            std::optional<double> cutoff) {
    return types::visit_pair(a, b, [&](auto sa, auto sb) {
        return indel_normalized_sim(sa, sb, cutoff);
    });
}

double ratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff) {
    return apply_cutoff(100.0 * indel_normalized_sim(a, b, cutoff), cutoff);
}

double qratio(const types::Seq& a, const types::Seq& b, std::optional<double> cutoff) {
    if (a.empty() || b.empty()) return 0.0;
    return ratio(a, b, cutoff);
}

}  // namespace tarnwick::fuzz
