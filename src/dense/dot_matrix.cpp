#include "dense/dot_matrix.hpp"

#include "parallel.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tarnwick::search {
namespace {

/// Four 32-bit lanes; arithmetic on it is lane-wise IEEE single precision.
using V4 = float __attribute__((vector_size(16)));

/// Vector registers per block, and the rows of `b` they score together. Eight independent
/// accumulators keep the adder busy while each one waits for its previous sum.
constexpr std::size_t kVecs = 8;
constexpr std::size_t kLanes = 4 * kVecs;

/// The kLanes entries of one uniform block (rows of `length` elements, element-major)
/// against the row x, into out[0, kLanes).
void dot_block(std::span<const float> x, const float* block, std::size_t length,
               float* out) noexcept {
    V4 acc[kVecs];
    for (V4& v : acc) v = V4{-0.0f, -0.0f, -0.0f, -0.0f};
    const std::size_t n = std::min(x.size(), length);
    for (std::size_t k = 0; k < n; ++k) {
        const float s = x[k];
        const V4 xs = V4{s, s, s, s};
        const float* p = block + k * kLanes;
        for (std::size_t v = 0; v < kVecs; ++v) {
            V4 y;
            std::memcpy(&y, p + 4 * v, sizeof y);
            acc[v] += xs * y;
        }
    }
    std::memcpy(out, acc, sizeof acc);
}

}  // namespace

float dot_f32(std::span<const float> x, std::span<const float> y) noexcept {
    const std::size_t n = std::min(x.size(), y.size());
    float acc = -0.0f;
    for (std::size_t k = 0; k < n; ++k) acc += x[k] * y[k];
    return acc;
}

DotCorpus::DotCorpus(const FloatRows& b) : rows_(b) {
    const std::size_t groups = b.size() / kLanes;
    start_.assign(groups, kScalar);
    length_.assign(groups, 0);
    std::size_t total = 0;
    for (std::size_t g = 0; g < groups; ++g) {
        const std::size_t first = g * kLanes, len = b.row(first).size();
        bool equal = true;
        for (std::size_t l = 1; l < kLanes && equal; ++l) equal = b.row(first + l).size() == len;
        if (!equal) continue;
        start_[g] = total;
        length_[g] = len;
        total += len * kLanes;
    }
    data_.resize(total);
    parallel::for_each_index(groups, true, [&](std::size_t g) {
        if (start_[g] == kScalar) return;
        float* dst = data_.data() + start_[g];
        for (std::size_t l = 0; l < kLanes; ++l) {
            const std::span<const float> row = b.row(g * kLanes + l);
            for (std::size_t k = 0; k < row.size(); ++k) dst[k * kLanes + l] = row[k];
        }
    });
}

void DotCorpus::score(std::span<const float> x, float* out) const noexcept {
    const std::size_t groups = start_.size();
    for (std::size_t g = 0; g < groups; ++g) {
        float* dst = out + g * kLanes;
        if (start_[g] != kScalar) {
            dot_block(x, data_.data() + start_[g], length_[g], dst);
            continue;
        }
        for (std::size_t l = 0; l < kLanes; ++l) dst[l] = dot_f32(x, rows_.row(g * kLanes + l));
    }
    for (std::size_t j = groups * kLanes; j < rows_.size(); ++j) out[j] = dot_f32(x, rows_.row(j));
}

void dot_rows(const FloatRows& a, const DotCorpus& b, std::size_t first, std::size_t last,
              float* out) {
    const std::size_t nc = b.size();
    parallel::for_each_index(last - first, true, [&](std::size_t k) {
        cancel::cancellation_point();
        b.score(a.row(first + k), out + k * nc);
    });
}

}  // namespace tarnwick::search
