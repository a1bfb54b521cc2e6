#include "score_utils/normalize_bayes.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tarnwick::search {

void normalize_bayes(std::span<double> scores) {
    std::vector<double> positive;
    for (const double s : scores)
        if (s > 0.0) positive.push_back(s);
    if (positive.empty()) return;
    // No NaN is positive, so the plain less-than is a strict weak order here.
    std::sort(positive.begin(), positive.end());
    const std::size_t m = positive.size();
    const double median = m % 2 == 1 ? positive[m / 2]
                                     : (positive[m / 2 - 1] + positive[m / 2]) * 0.5;
    double sum = 0.0;
    for (const double p : positive) sum += p;
    const double mean = sum / static_cast<double>(m);
    double squares = 0.0;
    for (const double p : positive) squares += (p - mean) * (p - mean);
    const double std_dev = std::sqrt(squares / static_cast<double>(m));
    const double d = std_dev > 1e-6 ? std_dev : 1e-6;  // a NaN deviation gives 1e-6
    const double c = -1.0 / d;
    for (double& s : scores)
        if (s > 0.0) s = 1.0 / (std::exp(c * (s - median)) + 1.0);
}

}  // namespace tarnwick::search
