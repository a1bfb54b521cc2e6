#include "distance/metrics.hpp"

namespace tarnwick::distance::metrics {

FunctionText make_text(const char* family, const char* suffix, const char* param_doc,
                       bool score_cutoff) {
    FunctionText t;
    t.name = std::string(family) + suffix;
    t.display = t.name + "()";
    t.doc = t.name + "(s1, s2, *, " + param_doc + "processor=None" +
            (score_cutoff ? ", score_cutoff=None" : "") + ")\n--\n\n";
    return t;
}

const char* ending_suffix(Ending e) noexcept {
    switch (e) {
        case Ending::Distance: return "_distance";
        case Ending::Similarity: return "_similarity";
        case Ending::NormalizedDistance: return "_normalized_distance";
        default: return "_normalized_similarity";
    }
}

}  // namespace tarnwick::distance::metrics
