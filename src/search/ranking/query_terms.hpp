// A query's distinct terms and the slot of each of its tokens, for the scans that keep one
// cursor per distinct term but must add the products in the order of the tokens (a score
// is the per-document sum over the tokens in query order, starting at -0.0, where a token
// that matches nothing adds +0.0).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnwick::search {

class QueryTerms {
public:
    static constexpr int kAbsent = -1;

    /// From the query's term ids in token order; a token equal to `no_term` occurs nowhere.
    QueryTerms(std::span<const uint32_t> tokens, uint32_t no_term) {
        slot_of_token_.reserve(tokens.size());
        for (const uint32_t t : tokens) {
            if (t == no_term) {
                slot_of_token_.push_back(kAbsent);
                continue;
            }
            const auto it = std::find(ids_.begin(), ids_.end(), t);
            slot_of_token_.push_back(static_cast<int>(it - ids_.begin()));
            if (it == ids_.end()) ids_.push_back(t);
        }
    }

    /// The distinct known terms, in order of first occurrence; a term's slot is its index.
    std::span<const uint32_t> ids() const noexcept { return ids_; }
    std::size_t size() const noexcept { return ids_.size(); }

    /// The sum over the tokens in query order, from -0.0, of value(slot) for a known token
    /// and +0.0 for the others: a document's score when value gives its products.
    template <class Value>
    double fold(Value&& value) const {
        double sum = -0.0;
        for (const int j : slot_of_token_)
            sum += j == kAbsent ? 0.0 * 0.0 : value(static_cast<std::size_t>(j));
        return sum;
    }

private:
    std::vector<uint32_t> ids_;
    std::vector<int> slot_of_token_;
};

}  // namespace tarnwick::search
