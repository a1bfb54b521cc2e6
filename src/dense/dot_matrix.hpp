// Dot products of many pairs of 32-bit float rows, exact to the last bit: the kernel of
// cosine_similarity_matrix and of the join's dense channel.
//
// The dot product of x and y is taken over their common length L = min(|x|, |y|): a
// 32-bit accumulator starts at -0.0 and adds the rounded 32-bit products x[k] * y[k] one
// by one in increasing k, with no fused multiply-add (the build sets -ffp-contract=off).
// Elements past L in the longer row are ignored, so a pair with an empty row gives -0.0.
//
// Because the additions of one product are strictly sequential, the speed comes from
// computing many at once. A DotPanel holds the target rows in blocks of kLanes rows, a
// block storing element k of its rows side by side (element-major, padded to its longest
// row). One vector register then holds kLanes running sums, one per target, and each lane
// still adds its own products in increasing k, so every lane performs exactly the scalar
// sequence of roundings: the result does not depend on the grouping. Within a block,
// elements below every lane's common length go through the vector loop; a lane whose row
// is longer than the block's shortest row finishes alone. Up to eight sources are
// multiplied with a block while it is in registers, and the panel is read a cache-sized
// chunk at a time by every group of sources of a call, which keeps the memory traffic per
// source low. The loop is compiled for the baseline and with AVX2 (cpu_dispatch.hpp).
//
// The hybrid index's cosine (cosine.hpp) keeps its own kernel: it scores one query against
// a different subset of the documents on every call, read in place from the row-major
// embeddings (which may be a mapped file), so there is no packed panel to read, and it
// adds each row's sum of squares in the same pass.
#pragma once

#include <cstddef>
#include <cstdint>
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

/// Target rows laid out for dot products with many sources (see the file comment).
class DotPanel {
public:
    /// Targets per block (one vector register of sums).
    static constexpr std::size_t kLanes = 8;
    /// Most sources of one call of dots().
    static constexpr std::size_t kMaxSources = 64;

    DotPanel() = default;
    /// Copies the rows into blocks (on the worker pool when they are many).
    explicit DotPanel(std::span<const std::span<const float>> rows);

    /// Number of target rows, and of blocks.
    std::size_t size() const noexcept { return lengths_.size(); }
    std::size_t blocks() const noexcept { return blocks_.size(); }

    /// For each of the (at most kMaxSources) `sources`, the dot products with the targets
    /// of blocks [first_block, last_block): source g's product with target t goes to
    /// out[g * size() + t].
    void dots(std::span<const std::span<const float>> sources, float* out,
              std::size_t first_block, std::size_t last_block) const noexcept;
    /// The same with every target.
    void dots(std::span<const std::span<const float>> sources, float* out) const noexcept {
        dots(sources, out, 0, blocks());
    }

    /// One block of the panel.
    struct Block {
        std::size_t offset;    // first float of the block in data_
        std::size_t shortest;  // length of the block's shortest row
        bool uniform;          // all its rows have that length (and the block is full)
    };

private:
    std::vector<std::size_t> lengths_;  // per target
    std::vector<Block> blocks_;
    std::vector<float> data_;        // per block: (longest length) * kLanes floats, element-major
};

/// Rows [first, last) of the matrix of `a` against the panel's targets, row i at
/// out[(i - first) * b.size()], on the worker pool (tasks of up to kMaxSources rows of `a`
/// against a range of blocks).
void dot_rows(const FloatRows& a, const DotPanel& b, std::size_t first, std::size_t last,
              float* out);

}  // namespace tarnwick::search
