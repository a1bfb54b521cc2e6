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

}  // namespace tarnwick::distance::initialize
