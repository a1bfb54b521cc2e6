#include "distance/bktree_tree.hpp"

#include "algorithms/levenshtein.hpp"
#include "algorithms/myers_step.hpp"
#include "algorithms/pattern_mask.hpp"
#include "cancel.hpp"

#include <algorithm>
#include <new>

namespace tarnwick::distance::bktree {
namespace {

using algorithms::saturating_add;

inline uint64_t abs_diff(uint64_t a, uint64_t b) noexcept { return a > b ? a - b : b - a; }

inline std::span<const uint8_t> bytes_of(std::string_view s) noexcept {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

}  // namespace

void QueryDistance::set(std::string_view query) noexcept {
    if (query_.size() <= 64) algorithms::clear_byte_masks(masks_, bytes_of(query_));
    query_ = query;
    bytes_ = byte_set(query);
    if (query_.size() <= 64) algorithms::set_byte_masks(masks_, bytes_of(query_));
}

uint64_t QueryDistance::operator()(std::string_view value) const {
    const std::size_t m = query_.size();
    if (m == 0) return value.size();
    if (m > 64) return algorithms::levenshtein_uniform(bytes_of(query_), bytes_of(value));
    // Myers' bit-vector algorithm with the query as the pattern: one word per column.
    return algorithms::detail::uniform_one_word(
        m, value, [this](char ch) noexcept { return masks_[static_cast<uint8_t>(ch)]; });
}

std::string_view BKTree::value(const BKTreeNode& node) const noexcept {
    const auto len = static_cast<std::size_t>(node.length);
    if (len <= BKTreeNode::kInlineBytes) return {node.data, len};
    uint64_t offset;
    std::memcpy(&offset, node.data, sizeof offset);
    return {pool_.data() + offset, len};
}

uint64_t BKTree::append(std::string_view s) {
    const uint64_t at = append_node(s);
    try {
        for (SegmentIndex& index : indexes_) index.add(at, s);
    } catch (...) {
        indexes_.clear();  // an index missing a string would hide it: drop them all
    }
    return at;
}

uint64_t BKTree::append_node(std::string_view s) {
    BKTreeNode node;
    node.length = s.size();
    if (s.size() <= BKTreeNode::kInlineBytes) {
        std::memcpy(node.data, s.data(), s.size());
        nodes_.push_back(std::move(node));
        return nodes_.size() - 1;
    }
    const uint64_t offset = pool_.size();
    std::memcpy(node.data, &offset, sizeof offset);
    pool_.append(s);
    try {
        nodes_.push_back(std::move(node));
    } catch (...) {
        pool_.resize(offset);  // a failed allocation leaves the tree as it was
        throw;
    }
    return nodes_.size() - 1;
}

bool BKTree::insert(const QueryDistance& q) {
    const std::string_view s = q.query();
    if (nodes_.empty()) {
        append(s);
        return true;
    }
    uint64_t p = 0;
    BKTreeChild* link = nullptr;  // the link to p from its parent (none for the root)
    for (;;) {
        const uint64_t d = q(value(nodes_[p]));
        if (d == 0) return false;
        std::vector<BKTreeChild>& kids = nodes_[p].children;
        auto it = std::lower_bound(kids.begin(), kids.end(), d,
                                   [](const BKTreeChild& c, uint64_t k) { return c.key < k; });
        if (it != kids.end() && it->key == d) {
            if (journal_) journal_->push_back({p, d, *it});
            // The string joins this subtree (or is already in it): widen its summary.
            it->min_length = std::min<uint64_t>(it->min_length, s.size());
            it->max_length = std::max<uint64_t>(it->max_length, s.size());
            it->any_bytes |= q.bytes();
            it->all_bytes &= q.bytes();
            p = it->node;
            link = &*it;
            continue;
        }
        // Make room for the link first, so that a failed allocation changes nothing.
        const auto at = it - kids.begin();
        if (journal_) journal_->push_back({p, d, std::nullopt});
        if (kids.size() == kids.capacity()) kids.reserve(2 * kids.size() + 1);
        // Appending may move the nodes, but not their child arrays: `link` stays valid.
        const uint64_t added = append(s);
        nodes_[p].children.insert(nodes_[p].children.begin() + at,
                                  BKTreeChild{d, added, 0, s.size(), s.size(), q.bytes(),
                                              q.bytes()});
        if (link && d > link->max_key) link->max_key = d;
        return true;
    }
}

bool BKTree::insert(std::string_view s) {
    QueryDistance q;
    q.set(s);
    return insert(q);
}

bool BKTree::has_within(const QueryDistance& q, uint64_t threshold,
                        std::vector<Pending>& queue) const {
    if (nodes_.empty()) return false;
    // Beyond its reach a node is no near-duplicate and no child key lies within the
    // threshold of its distance.
    const auto reach_of = [threshold](uint64_t max_key) {
        return max_key == 0 ? threshold : saturating_add(max_key, threshold);
    };
    // Breadth-first, so that a node is read long after its prefetch was issued; the
    // order of the visits does not change the answer.
    queue.clear();
    const auto& root_children = nodes_[0].children;
    queue.push_back({0, reach_of(root_children.empty() ? 0 : root_children.back().key)});
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const Pending next = queue[head];
        cancel::cancellation_point();
        const BKTreeNode& node = nodes_[next.node];
        const std::string_view v = value(node);
        // The length difference bounds the distance from below: past the node's reach
        // it spares the comparison.
        if (abs_diff(v.size(), q.query().size()) > next.reach) continue;
        if (!node.children.empty()) __builtin_prefetch(node.children.data());
        const uint64_t d = q(v);
        if (d <= threshold) return true;
        // Triangle inequality: only children keyed within threshold of d can be close.
        // Of those, a child whose subtree holds nothing close enough is not even read.
        const uint64_t lo = d - threshold;
        const uint64_t hi = saturating_add(d, threshold);
        for (const BKTreeChild& c : node.children) {
            if (c.key < lo) continue;
            if (c.key > hi) break;
            if (q.subtree_lower_bound(c) > threshold) continue;
            __builtin_prefetch(&nodes_[c.node]);
            queue.push_back({c.node, reach_of(c.max_key)});
        }
    }
    return false;
}

const SegmentIndex* BKTree::index_for(uint64_t threshold) {
    if (threshold == 0 || threshold > kMaxIndexedThreshold) return nullptr;
    for (const SegmentIndex& index : indexes_)
        if (index.threshold() == threshold) return &index;
    try {
        SegmentIndex index(threshold);
        for (uint64_t i = 0; i < nodes_.size(); ++i) index.add(i, value(nodes_[i]));
        indexes_.push_back(std::move(index));
        return &indexes_.back();
    } catch (const std::bad_alloc&) {
        return nullptr;  // the tree search alone still answers
    }
}

void BKTree::roll_back(std::size_t nodes, std::size_t pool,
                       const std::vector<Undo>& journal) noexcept {
    for (auto e = journal.rbegin(); e != journal.rend(); ++e) {
        if (e->parent >= nodes) continue;  // a node that goes anyway
        std::vector<BKTreeChild>& kids = nodes_[e->parent].children;
        const auto it = std::lower_bound(kids.begin(), kids.end(), e->key,
                                         [](const BKTreeChild& c, uint64_t k) { return c.key < k; });
        if (it == kids.end() || it->key != e->key) continue;  // its change never happened
        if (e->before) *it = *e->before;
        else if (it->node >= nodes) kids.erase(it);
    }
    nodes_.erase(nodes_.begin() + static_cast<std::ptrdiff_t>(nodes), nodes_.end());
    pool_.resize(pool);
    indexes_.clear();  // they hold the dropped nodes; built again when needed
}

std::vector<std::size_t> BKTree::dedupe(std::span<const std::string_view> items,
                                        uint64_t threshold) {
    const std::size_t nodes = nodes_.size(), pool = pool_.size();
    std::vector<Undo> journal;
    journal_ = &journal;
    try {
        std::vector<std::size_t> kept = dedupe_items(items, threshold);
        journal_ = nullptr;
        return kept;
    } catch (...) {
        journal_ = nullptr;
        roll_back(nodes, pool, journal);
        throw;
    }
}

std::vector<std::size_t> BKTree::dedupe_items(std::span<const std::string_view> items,
                                              uint64_t threshold) {
    std::vector<std::size_t> kept;
    std::vector<Pending> queue;
    std::vector<uint64_t> candidates;
    QueryDistance q;
    const bool indexed = index_for(threshold) != nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
        cancel::cancellation_point();
        q.set(items[i]);
        // Looked up again for every item: an insertion may have dropped the indexes.
        const SegmentIndex* index = nullptr;
        if (indexed)
            for (const SegmentIndex& ix : indexes_)
                if (ix.threshold() == threshold) index = &ix;
        bool near;
        if (index && index->candidates(q.query(), candidates)) {
            near = std::any_of(candidates.begin(), candidates.end(), [&](uint64_t n) {
                cancel::cancellation_point();
                return q(value(nodes_[n])) <= threshold;
            });
        } else {
            near = has_within(q, threshold, queue);
        }
        if (near) continue;
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
        for (const BKTreeChild& c : node.children) stack.push_back(c.node);
    }
    return out;
}

void BKTree::clear() noexcept {
    indexes_.clear();
    nodes_.clear();
    pool_.clear();
}

}  // namespace tarnwick::distance::bktree
