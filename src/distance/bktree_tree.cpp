#include "distance/bktree_tree.hpp"

#include "algorithms/levenshtein.hpp"

namespace tarnwick::distance::bktree {
namespace {

inline uint64_t abs_diff(uint64_t a, uint64_t b) noexcept { return a > b ? a - b : b - a; }

inline std::span<const uint8_t> bytes_of(std::string_view s) noexcept {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

}  // namespace

void QueryDistance::set(std::string_view query) noexcept {
    if (query_.size() <= 64)
        for (const char c : query_) masks_[static_cast<uint8_t>(c)] = 0;
    query_ = query;
    if (query_.size() <= 64) {
        uint64_t bit = 1;
        for (const char c : query_) {
            masks_[static_cast<uint8_t>(c)] |= bit;
            bit <<= 1;
        }
    }
}

uint64_t QueryDistance::operator()(std::string_view value) const noexcept {
    const std::size_t m = query_.size();
    if (m == 0) return value.size();
    if (m > 64) return algorithms::levenshtein_uniform(bytes_of(query_), bytes_of(value));
    // Myers' bit-vector algorithm with the query as the pattern: one word per column.
    uint64_t vp = ~uint64_t{0};
    uint64_t vn = 0;
    uint64_t score = m;
    const uint64_t top = uint64_t{1} << (m - 1);
    for (const char ch : value) {
        const uint64_t x = masks_[static_cast<uint8_t>(ch)];
        const uint64_t d0 = (((x & vp) + vp) ^ vp) | x | vn;
        const uint64_t hp = vn | ~(d0 | vp);
        const uint64_t hn = d0 & vp;
        score += (hp & top) != 0;
        score -= (hn & top) != 0;
        const uint64_t hps = (hp << 1) | 1;
        vn = hps & d0;
        vp = (hn << 1) | ~(hps | d0);
    }
    return score;
}

uint64_t BKTree::append(std::string_view s, uint64_t key) {
    BKTreeNode node;
    node.offset = pool_.size();
    node.length = s.size();
    node.key = key;
    nodes_.push_back(node);
    try {
        pool_.append(s);
    } catch (...) {
        nodes_.pop_back();  // a failed allocation leaves the tree as it was
        throw;
    }
    return nodes_.size() - 1;
}

bool BKTree::insert(const QueryDistance& q) {
    const std::string_view s = q.query();
    if (nodes_.empty()) {
        append(s, 0);
        return true;
    }
    uint64_t p = 0;
    for (;;) {
        const uint64_t d = q(value(nodes_[p]));
        if (d == 0) return false;
        uint64_t prev = kNoNode;
        uint64_t c = nodes_[p].first_child;
        while (c != kNoNode && nodes_[c].key < d) {
            prev = c;
            c = nodes_[c].next_sibling;
        }
        if (c != kNoNode && nodes_[c].key == d) {
            p = c;
            continue;
        }
        const uint64_t added = append(s, d);
        nodes_[added].next_sibling = c;
        if (prev == kNoNode)
            nodes_[p].first_child = added;
        else
            nodes_[prev].next_sibling = added;
        if (d > nodes_[p].max_key) nodes_[p].max_key = d;
        return true;
    }
}

bool BKTree::insert(std::string_view s) {
    QueryDistance q;
    q.set(s);
    return insert(q);
}

bool BKTree::has_within(const QueryDistance& q, uint64_t threshold,
                        std::vector<uint64_t>& stack) const {
    if (nodes_.empty()) return false;
    const uint64_t qlen = q.query().size();
    stack.clear();
    stack.push_back(0);
    while (!stack.empty()) {
        const BKTreeNode& node = nodes_[stack.back()];
        stack.pop_back();
        // The length difference is a lower bound of the distance: when it already puts
        // the node and every child key out of reach, the node needs no comparison.
        const uint64_t lower = abs_diff(node.length, qlen);
        if (lower > threshold &&
            (node.first_child == kNoNode || lower - threshold > node.max_key))
            continue;
        const uint64_t d = q(value(node));
        if (d <= threshold) return true;
        // Triangle inequality: only children keyed within threshold of d can be close.
        const uint64_t lo = d - threshold;
        const uint64_t hi = d + threshold < d ? ~uint64_t{0} : d + threshold;
        for (uint64_t c = node.first_child; c != kNoNode; c = nodes_[c].next_sibling) {
            const uint64_t k = nodes_[c].key;
            if (k < lo) continue;
            if (k > hi) break;
            stack.push_back(c);
        }
    }
    return false;
}

std::vector<std::size_t> BKTree::dedupe(std::span<const std::string_view> items,
                                        uint64_t threshold) {
    std::vector<std::size_t> kept;
    std::vector<uint64_t> stack;
    QueryDistance q;
    for (std::size_t i = 0; i < items.size(); ++i) {
        q.set(items[i]);
        if (has_within(q, threshold, stack)) continue;
        insert(q);
        kept.push_back(i);
    }
    return kept;
}

std::vector<std::string_view> BKTree::values() const {
    std::vector<std::string_view> out;
    if (nodes_.empty()) return out;
    out.reserve(nodes_.size());
    std::vector<uint64_t> stack{0};
    while (!stack.empty()) {
        const BKTreeNode& node = nodes_[stack.back()];
        stack.pop_back();
        out.push_back(value(node));
        for (uint64_t c = node.first_child; c != kNoNode; c = nodes_[c].next_sibling)
            stack.push_back(c);
    }
    return out;
}

void BKTree::clear() noexcept {
    nodes_.clear();
    pool_.clear();
}

}  // namespace tarnwick::distance::bktree
