// The records of the multi-array join: a joiner's configuration and its named arrays of
// elements. Free of Python; the adapter fills them.
//
// A joiner owns every text and number it was given. Its configuration never changes after
// construction and its arrays are only ever appended to, so a join reads a stable value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
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

/// The joiner: a configuration and the arrays in registration order.
class MultiJoiner {
public:
    JoinConfig config;
    std::vector<JoinArray> arrays;
};

}  // namespace tarnwick::join
