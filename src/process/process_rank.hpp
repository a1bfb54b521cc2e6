// Ranking of scored choices for the extraction functions: the candidate record, the total
// order of the results, and a bounded selection of the best. Free of Python.
//
// The bounded selection is not search's TopHeap (search/ranking/top_n.hpp): that heap's
// tie rules are fixed by its sift steps (which of several tied documents stays depends on
// the order of the offers), while here every comparison is by the total ranking order, so
// among equal scores the lowest index stays, whatever the order of the offers.
#pragma once

#include "rank_order.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tarnwick::process {

/// A scored choice: its score and its position in reading order, plus a payload (an
/// object reference in the adapters).
template <class P>
struct Candidate {
    double score;
    uint64_t index;
    P payload;
};

/// Ranking order of candidates (rank_order.hpp): higher score first, NaN below every
/// number, then lower index first. A total order, so results do not depend on how work was
/// split.
struct Better {
    template <class C>
    bool operator()(const C& a, const C& b) const noexcept {
        return ranks_before(a.score, a.index, b.score, b.index);
    }
};

/// Sorts candidates by `Better` and keeps the first `limit` (all without a limit).
template <class C>
void rank(std::vector<C>& c, std::optional<uint64_t> limit) {
    if (limit && *limit < c.size()) {
        const auto mid = c.begin() + static_cast<std::ptrdiff_t>(*limit);
        std::partial_sort(c.begin(), mid, c.end(), Better{});
        c.erase(mid, c.end());
    } else {
        std::sort(c.begin(), c.end(), Better{});
    }
}

/// Keeps the best `k` candidates offered to it (by `Better`; among equals the earliest
/// offered when offered in index order).
template <class C>
class BoundedHeap {
public:
    explicit BoundedHeap(uint64_t k) : k_(k) {
        heap_.reserve(static_cast<std::size_t>(std::min<uint64_t>(k, 100)));
    }
    /// Whether the heap holds k candidates.
    bool full() const noexcept { return heap_.size() >= k_; }
    /// Score of the worst kept candidate (only when not empty).
    double lowest() const noexcept { return heap_.front().score; }
    /// Offers a candidate; returns whether it was kept.
    bool offer(C&& c) {
        if (k_ == 0) return false;
        if (heap_.size() < k_) {
            heap_.push_back(std::move(c));
            std::push_heap(heap_.begin(), heap_.end(), Better{});
            return true;
        }
        if (!Better{}(c, heap_.front())) return false;
        std::pop_heap(heap_.begin(), heap_.end(), Better{});
        heap_.back() = std::move(c);
        std::push_heap(heap_.begin(), heap_.end(), Better{});
        return true;
    }
    /// The kept candidates, in no particular order.
    std::vector<C> take() && { return std::move(heap_); }

private:
    uint64_t k_;
    std::vector<C> heap_;
};

}  // namespace tarnwick::process
