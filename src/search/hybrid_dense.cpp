#include "search/hybrid_dense.hpp"

#include <cmath>

namespace tarnwick::search {
namespace {

/// Eight 32-bit lanes; arithmetic on it is lane-wise IEEE single precision.
using V8 = float __attribute__((vector_size(32)));
constexpr std::size_t kLanes = 8;

float norm_of_sum(float s, NormRule rule) noexcept {
    const float root = std::sqrt(s);
    if (rule == NormRule::OneWhenZero) return s > 0.0f ? root : 1.0f;
    constexpr float kEpsilon = 0x1p-23f;
    return root > kEpsilon ? root : kEpsilon;  // NaN fails the test too
}

/// Sum of squares of `row` and its dot product with `query`, one row at a time.
void sums_one(const float* row, const float* query, std::size_t dim, float& squares,
              float& dot) noexcept {
    float t = -0.0f, s = -0.0f;
    for (std::size_t j = 0; j < dim; ++j) {
        t += row[j] * row[j];
        s += query[j] * row[j];
    }
    squares = t;
    dot = s;
}

/// The same for eight rows at once, lane l for rows[l]. Compiled for the baseline and, on
/// x86-64, also with AVX2 (chosen at load time); both give the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void sums_eight(const float* const* rows, const float* query, std::size_t dim, float* squares,
                float* dot) noexcept {
    V8 t = {-0.0f, -0.0f, -0.0f, -0.0f, -0.0f, -0.0f, -0.0f, -0.0f};
    V8 s = t;
    for (std::size_t j = 0; j < dim; ++j) {
        const V8 r = {rows[0][j], rows[1][j], rows[2][j], rows[3][j],
                      rows[4][j], rows[5][j], rows[6][j], rows[7][j]};
        const float qj = query[j];
        const V8 q = {qj, qj, qj, qj, qj, qj, qj, qj};
        t += r * r;
        s += q * r;
    }
    for (std::size_t l = 0; l < kLanes; ++l) {
        squares[l] = t[l];
        dot[l] = s[l];
    }
}

}  // namespace

float dense_norm(std::span<const float> v, NormRule rule) noexcept {
    float s = -0.0f;
    for (const float x : v) s += x * x;
    return norm_of_sum(s, rule);
}

void cosines(const DenseRows& rows, std::span<const float> query, float query_norm,
             std::span<const uint64_t> docs, float* out) noexcept {
    const std::size_t dim = rows.dim;
    const float* q = query.data();
    float squares[kLanes], dot[kLanes];
    std::size_t i = 0;
    for (; i + kLanes <= docs.size(); i += kLanes) {
        const float* group[kLanes];
        for (std::size_t l = 0; l < kLanes; ++l) group[l] = rows.row(static_cast<std::size_t>(docs[i + l])).data();
        sums_eight(group, q, dim, squares, dot);
        for (std::size_t l = 0; l < kLanes; ++l)
            out[i + l] = dot[l] / (norm_of_sum(squares[l], rows.norm) * query_norm);
    }
    for (; i < docs.size(); ++i) {
        sums_one(rows.row(static_cast<std::size_t>(docs[i])).data(), q, dim, squares[0], dot[0]);
        out[i] = dot[0] / (norm_of_sum(squares[0], rows.norm) * query_norm);
    }
}

}  // namespace tarnwick::search
