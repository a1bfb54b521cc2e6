#include "dense/cosine.hpp"

#include "cpu_dispatch.hpp"

#include <cmath>
#include <cstring>

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

/// Lane indexes of a two-vector shuffle (0-7 the first vector, 8-15 the second).
using I8 = int32_t __attribute__((vector_size(32)));

/// Eight consecutive floats of each of eight rows, turned so that c[k] holds element k of
/// every row (lane l for row l): pairs of rows interleave, pairs of pairs take their
/// halves, and the 128-bit halves are exchanged last.
inline void transpose8(const V8 (&r)[kLanes], V8 (&c)[kLanes]) noexcept {
    constexpr I8 lo{0, 8, 1, 9, 4, 12, 5, 13}, hi{2, 10, 3, 11, 6, 14, 7, 15};
    constexpr I8 even{0, 1, 8, 9, 4, 5, 12, 13}, odd{2, 3, 10, 11, 6, 7, 14, 15};
    constexpr I8 first{0, 1, 2, 3, 8, 9, 10, 11}, second{4, 5, 6, 7, 12, 13, 14, 15};
    V8 t[kLanes], u[kLanes];
    for (std::size_t p = 0; p < 4; ++p) {
        t[2 * p] = __builtin_shuffle(r[2 * p], r[2 * p + 1], lo);
        t[2 * p + 1] = __builtin_shuffle(r[2 * p], r[2 * p + 1], hi);
    }
    for (std::size_t h = 0; h < 2; ++h) {
        const std::size_t a = 4 * h;
        u[a] = __builtin_shuffle(t[a], t[a + 2], even);
        u[a + 1] = __builtin_shuffle(t[a], t[a + 2], odd);
        u[a + 2] = __builtin_shuffle(t[a + 1], t[a + 3], even);
        u[a + 3] = __builtin_shuffle(t[a + 1], t[a + 3], odd);
    }
    for (std::size_t k = 0; k < 4; ++k) {
        c[k] = __builtin_shuffle(u[k], u[k + 4], first);
        c[k + 4] = __builtin_shuffle(u[k], u[k + 4], second);
    }
}

/// The same for eight rows at once, lane l for rows[l]: blocks of eight elements are read
/// from every row and transposed, so each lane still adds its products in increasing j.
/// Compiled for the baseline and, on x86-64, also with AVX2 (chosen at load time); both
/// give the same bits.
TARNWICK_AVX2_CLONES
void sums_eight(const float* const* rows, const float* query, std::size_t dim, float* squares,
                float* dot) noexcept {
    V8 t = {-0.0f, -0.0f, -0.0f, -0.0f, -0.0f, -0.0f, -0.0f, -0.0f};
    V8 s = t;
    std::size_t j = 0;
    for (; j + kLanes <= dim; j += kLanes) {
        V8 r[kLanes], c[kLanes];
        for (std::size_t l = 0; l < kLanes; ++l) std::memcpy(&r[l], rows[l] + j, sizeof(V8));
        transpose8(r, c);
        for (std::size_t k = 0; k < kLanes; ++k) {
            const float qj = query[j + k];
            const V8 q = {qj, qj, qj, qj, qj, qj, qj, qj};
            t += c[k] * c[k];
            s += q * c[k];
        }
    }
    for (; j < dim; ++j) {
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
