// Cosine similarity of a query embedding with the embeddings of a set of documents, in
// 32-bit floats, exact to the last bit.
//
// For a row r of `dim` floats: t = the sum of r[j]^2 and dot = the sum of q[j] * r[j], both
// accumulated in 32-bit floats in increasing j, each product rounded before its addition
// (nothing fused: -ffp-contract=off); the row's norm comes from t by the channel's norm
// rule, the query's from its own sum of squares in the same way; cosine = dot / (norm(r) *
// norm(q)).
//
// The additions of one sum are strictly sequential, so the speed comes from several
// documents at once: eight rows are read side by side, and vector lanes hold their eight
// running sums, each lane adding its own products in increasing j. Every lane performs
// exactly the scalar sequence of roundings, so the result does not depend on how the
// documents were grouped.
//
// Why not the packed panel of dot_matrix.hpp: each call scores a different subset of the
// documents (the candidates of one query), read in place from row-major embeddings that
// may be a mapped file, so there is no panel laid out ahead to read; the eight rows are
// transposed on the fly instead, and each row's sum of squares is added in the same pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarnwick::search {

/// How a norm is formed from a sum of squares s.
enum class NormRule : uint8_t {
    OneWhenZero,   // sqrt(s) when s > 0, else 1.0 (also for NaN)
    FloorEpsilon,  // the larger of sqrt(s) and 2^-23; 2^-23 when sqrt(s) is NaN
};

/// Embeddings of a corpus: `count` rows of `dim` floats, row-major from `data`.
struct DenseRows {
    const float* data = nullptr;
    std::size_t dim = 0;
    std::size_t count = 0;
    NormRule norm = NormRule::OneWhenZero;

    std::span<const float> row(std::size_t d) const noexcept { return {data + d * dim, dim}; }
};

/// The norm of `v` under `rule`.
float dense_norm(std::span<const float> v, NormRule rule) noexcept;

/// out[i] = cosine of `query` (dim floats) with row docs[i] (each below rows.count), whose
/// query norm is `query_norm` (dense_norm of the query).
void cosines(const DenseRows& rows, std::span<const float> query, float query_norm,
             std::span<const uint64_t> docs, float* out) noexcept;

}  // namespace tarnwick::search
