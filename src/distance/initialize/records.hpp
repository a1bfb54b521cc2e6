// Plain records of the edit-operation result model, free of Python. The Python classes
// that hold them live in one file per class beside this header.
#pragma once

#include <cstdint>

namespace tarnwick::distance::initialize {

/// `size` consecutive equal elements at source position `a` and destination position `b`.
struct MatchingBlock {
    uint64_t a = 0;
    uint64_t b = 0;
    uint64_t size = 0;
    friend bool operator==(const MatchingBlock&, const MatchingBlock&) = default;
};

/// A score with the windows of source and destination that produced it (end exclusive).
struct ScoreAlignment {
    double score = 0.0;
    uint64_t src_start = 0;
    uint64_t src_end = 0;
    uint64_t dest_start = 0;
    uint64_t dest_end = 0;
    /// Field-wise equality; the score compares as a float (a NaN score is never equal).
    friend bool operator==(const ScoreAlignment&, const ScoreAlignment&) = default;
};

}  // namespace tarnwick::distance::initialize
