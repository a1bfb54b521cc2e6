#include "join/joiner_sparse.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick::join {

float sparse_dot(SparseView a, SparseView b) noexcept {
    float sum = 0.0f;
    std::size_t i = 0, j = 0;
#if defined(__SSE2__)
    // Four against four: the b block rotated by one, two and three places covers all
    // sixteen pairs. Bit k of `hits` says that a.ids[i + k] occurs in the b block.
    while (i + 4 <= a.size && j + 4 <= b.size) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a.ids + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.ids + j));
        const __m128i r1 = _mm_shuffle_epi32(vb, _MM_SHUFFLE(0, 3, 2, 1));
        const __m128i r2 = _mm_shuffle_epi32(vb, _MM_SHUFFLE(1, 0, 3, 2));
        const __m128i r3 = _mm_shuffle_epi32(vb, _MM_SHUFFLE(2, 1, 0, 3));
        const __m128i eq = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi32(va, vb), _mm_cmpeq_epi32(va, r1)),
                                        _mm_or_si128(_mm_cmpeq_epi32(va, r2), _mm_cmpeq_epi32(va, r3)));
        unsigned hits = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(eq)));
        while (hits) {
            const unsigned k = static_cast<unsigned>(__builtin_ctz(hits));
            hits &= hits - 1;
            const uint32_t id = a.ids[i + k];
            std::size_t m = j;
            while (b.ids[m] != id) ++m;
            const float prod = a.weights[i + k] * b.weights[m];
            sum += prod;
        }
        const uint32_t a_last = a.ids[i + 3], b_last = b.ids[j + 3];
        i += a_last <= b_last ? 4 : 0;
        j += b_last <= a_last ? 4 : 0;
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
