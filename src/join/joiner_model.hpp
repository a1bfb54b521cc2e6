// The records of the multi-array join: a joiner's configuration, its named arrays of
// elements, and the rows a join produces. Free of Python; the adapter fills them.
//
// A joiner owns every text and number it was given. Its configuration never changes after
// construction and its arrays are only ever appended to, so a join reads a stable value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::join {

/// One entry of a sparse vector.
struct SparseEntry {
    uint32_t id;
    float weight;
};

/// A sparse vector: entries in strictly ascending order of id.
using SparseVector = std::vector<SparseEntry>;

/// One element of an array; each of its three parts is optional and independent.
struct JoinElement {
    std::optional<std::string> text;
    std::optional<SparseVector> sparse;     // present but empty is distinct from absent
    std::optional<std::vector<float>> dense;
};

/// One registered array. Names need not be unique.
struct JoinArray {
    std::string name;
    std::vector<JoinElement> elements;
};

/// The scoring configuration, stored as given (no value is checked or clamped).
struct JoinConfig {
    double text_weight = 1.0;
    double sparse_weight = 1.0;
    double dense_weight = 1.0;
    double bm25_k1 = 1.5;
    double bm25_b = 0.75;
    std::string bm25_variant = "BM25Okapi";
    uint64_t rrf_k = 60;
    uint64_t bm25_candidates = 100;
};

/// One result row: one match of one source element.
struct JoinRow {
    std::string src_array;
    uint64_t src_idx = 0;
    std::optional<std::string> src_text;
    std::string tgt_array;
    uint64_t tgt_idx = 0;
    std::optional<std::string> tgt_text;
    double score = 0.0;
    std::optional<double> text_score;    // present when the channel was active
    std::optional<double> sparse_score;
    std::optional<double> dense_score;
};

/// The joiner: a configuration and the arrays in registration order.
class MultiJoiner {
public:
    JoinConfig config;
    std::vector<JoinArray> arrays;

    /// The rows of the ordered pair (src, tgt): for every source element in ascending
    /// position, its at most `n` matches in match order. Runs on the worker pool when the
    /// source has 2 or more elements; safe to call from several threads at once.
    std::vector<JoinRow> join_arrays_inner(const JoinArray& src, const JoinArray& tgt,
                                           uint64_t n, std::optional<double> score_cutoff) const;

    /// The rows of every ordered pair of distinct arrays (told apart by position), by source
    /// array, then target array, in registration order.
    std::vector<JoinRow> join_all(uint64_t n, std::optional<double> score_cutoff) const;

    /// The first array registered under `name`, or null.
    const JoinArray* find(std::string_view name) const noexcept;
};

}  // namespace tarnwick::join
