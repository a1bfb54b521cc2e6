// The dot-product matrix of two sets of embedding rows, exact to the last bit.
//
// Entry (i, j) is the dot product of row i of `a` and row j of `b` over their common
// length L = min(|a_i|, |b_j|): a 32-bit accumulator starts at -0.0 and adds the rounded
// 32-bit products a_i[k] * b_j[k] one by one in increasing k, with no fused multiply-add
// (the build sets -ffp-contract=off). Elements past L in the longer row are ignored, so a
// pair with an empty row gives -0.0.
//
// Because the additions of one entry are strictly sequential, the speed comes from
// computing many entries at once: `b` is regrouped into blocks of kLanes consecutive rows
// of equal length, stored element-major (element k of every row of the block side by
// side), and a block is scored with vector registers whose lanes are separate entries,
// each lane adding its own products in increasing k. Every lane performs exactly the
// scalar sequence of roundings, so the blocked and the scalar route give identical bits.
// Rows of a block whose lengths differ, and the last rows that fill no whole block, take
// the scalar route.
#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <vector>

namespace tarnwick::search {

/// Rows of 32-bit floats stored back to back: row r is values[offsets[r], offsets[r + 1]).
struct FloatRows {
    std::vector<float> values;
    std::vector<std::size_t> offsets{0};

    std::size_t size() const noexcept { return offsets.size() - 1; }
    std::span<const float> row(std::size_t r) const noexcept {
        return {values.data() + offsets[r], offsets[r + 1] - offsets[r]};
    }
    /// Closes the row made of the values appended since the previous one.
    void end_row() { offsets.push_back(values.size()); }
};

/// The scalar dot product of two rows over their common length, as described above.
float dot_f32(std::span<const float> x, std::span<const float> y) noexcept;

/// The rows of `b` regrouped for scoring many entries at once. Keeps a reference to `b`,
/// which must outlive it and stay unchanged.
class DotCorpus {
public:
    /// Regroups the rows (on the worker pool).
    explicit DotCorpus(const FloatRows& b);

    /// Number of rows.
    std::size_t size() const noexcept { return rows_.size(); }

    /// The dot products of x with every row, in row order, into out[0, size()).
    void score(std::span<const float> x, float* out) const noexcept;

private:
    static constexpr std::size_t kScalar = std::numeric_limits<std::size_t>::max();
    const FloatRows& rows_;
    std::vector<float> data_;          // the uniform blocks, element-major
    std::vector<std::size_t> start_;   // per block: its offset in data_, or kScalar when
                                       // its rows differ in length (scored row by row)
    std::vector<std::size_t> length_;  // per block: the common length of its rows
};

/// Rows [first, last) of the matrix of `a` against `b`, row i at out[(i - first) * b.size()]:
/// one row of `a` per task on the worker pool.
void dot_rows(const FloatRows& a, const DotCorpus& b, std::size_t first, std::size_t last,
              float* out);

}  // namespace tarnwick::search
