#include "join/joiner_sparse.hpp"

#include "cpu_dispatch.hpp"

#if defined(TARNWICK_HAS_AVX2_TARGET)
#include <immintrin.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick::join {
namespace {

/// One merge step after the blocks at i and j were compared (bit k of `hits`: a.ids[i + k]
/// occurs in the b block): adds the products of the common ids in ascending order, then
/// moves past the block whose largest id is not above the other's.
template <std::size_t width>
[[gnu::always_inline]] inline void step(SparseView a, SparseView b, std::size_t& i,
                                        std::size_t& j, float& sum, unsigned hits) {
    while (hits) {
        const unsigned k = static_cast<unsigned>(__builtin_ctz(hits));
        hits &= hits - 1;
        const uint32_t id = a.ids[i + k];
        std::size_t m = j;
        while (b.ids[m] != id) ++m;
        const float prod = a.weights[i + k] * b.weights[m];
        sum += prod;
    }
    const uint32_t a_last = a.ids[i + width - 1], b_last = b.ids[j + width - 1];
    i += a_last <= b_last ? width : 0;
    j += b_last <= a_last ? width : 0;
}

#if defined(TARNWICK_HAS_AVX2_TARGET)
/// Blocks of eight: the b block, its halves swapped, and each rotated within its halves by
/// one, two and three places cover all sixty-four pairs.
TARNWICK_AVX2_TARGET void merge8(SparseView a, SparseView b, std::size_t& i,
                                            std::size_t& j, float& sum) {
    const __m256i swap = _mm256_setr_epi32(4, 5, 6, 7, 0, 1, 2, 3);
    while (i + 8 <= a.size && j + 8 <= b.size) {
        const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a.ids + i));
        const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b.ids + j));
        const __m256i vs = _mm256_permutevar8x32_epi32(vb, swap);
        __m256i eq = _mm256_or_si256(_mm256_cmpeq_epi32(va, vb), _mm256_cmpeq_epi32(va, vs));
        eq = _mm256_or_si256(eq, _mm256_cmpeq_epi32(va, _mm256_shuffle_epi32(vb, _MM_SHUFFLE(0, 3, 2, 1))));
        eq = _mm256_or_si256(eq, _mm256_cmpeq_epi32(va, _mm256_shuffle_epi32(vb, _MM_SHUFFLE(1, 0, 3, 2))));
        eq = _mm256_or_si256(eq, _mm256_cmpeq_epi32(va, _mm256_shuffle_epi32(vb, _MM_SHUFFLE(2, 1, 0, 3))));
        eq = _mm256_or_si256(eq, _mm256_cmpeq_epi32(va, _mm256_shuffle_epi32(vs, _MM_SHUFFLE(0, 3, 2, 1))));
        eq = _mm256_or_si256(eq, _mm256_cmpeq_epi32(va, _mm256_shuffle_epi32(vs, _MM_SHUFFLE(1, 0, 3, 2))));
        eq = _mm256_or_si256(eq, _mm256_cmpeq_epi32(va, _mm256_shuffle_epi32(vs, _MM_SHUFFLE(2, 1, 0, 3))));
        step<8>(a, b, i, j, sum, static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(eq))));
    }
}
#endif

}  // namespace

float sparse_dot(SparseView a, SparseView b) noexcept {
    float sum = 0.0f;
    std::size_t i = 0, j = 0;
#if defined(TARNWICK_HAS_AVX2_TARGET)
    if (tarnwick::has_avx2()) merge8(a, b, i, j, sum);
#endif
#if defined(__SSE2__)
    // Blocks of four: the b block rotated by one, two and three places covers all sixteen
    // pairs.
    while (i + 4 <= a.size && j + 4 <= b.size) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a.ids + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.ids + j));
        const __m128i r1 = _mm_shuffle_epi32(vb, _MM_SHUFFLE(0, 3, 2, 1));
        const __m128i r2 = _mm_shuffle_epi32(vb, _MM_SHUFFLE(1, 0, 3, 2));
        const __m128i r3 = _mm_shuffle_epi32(vb, _MM_SHUFFLE(2, 1, 0, 3));
        const __m128i eq = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi32(va, vb), _mm_cmpeq_epi32(va, r1)),
                                        _mm_or_si128(_mm_cmpeq_epi32(va, r2), _mm_cmpeq_epi32(va, r3)));
        step<4>(a, b, i, j, sum, static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(eq))));
    }
#endif
    while (i < a.size && j < b.size) {
        const uint32_t x = a.ids[i], y = b.ids[j];
        if (x == y) {
            const float prod = a.weights[i] * b.weights[j];
            sum += prod;
        }
        i += x <= y;
        j += y <= x;
    }
    return sum;
}

SparsePanel::SparsePanel(std::span<const JoinElement> targets) {
    offsets_.push_back(0);
    for (std::size_t t = 0; t < targets.size(); ++t) {
        const auto& v = targets[t].sparse;
        if (!v || v->empty()) continue;
        targets_.push_back(static_cast<uint32_t>(t));
        for (const SparseEntry& e : *v) {
            ids_.push_back(e.id);
            weights_.push_back(e.weight);
        }
        offsets_.push_back(ids_.size());
    }
}

SparseView SparseSource::set(const SparseVector& v) {
    ids_.resize(v.size());
    weights_.resize(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) {
        ids_[i] = v[i].id;
        weights_[i] = v[i].weight;
    }
    return {ids_.data(), weights_.data(), v.size()};
}

}  // namespace tarnwick::join
