// The score metric families. OSA and Damerau-Levenshtein count edits up to
// max(len1, len2); prefix and postfix count the elements outside the common prefix or
// suffix; Jaro and Jaro-Winkler are float similarities. None of them takes a kernel bound:
// the value is computed in full and the cutoff rule applied to it.
#include "algorithms/damerau_levenshtein.hpp"
#include "algorithms/jaro.hpp"
#include "algorithms/osa.hpp"
#include "distance/metrics.hpp"

#include <algorithm>

namespace tarnwick::distance::metrics {

/// Shared traits of the edit-count families of this file: no parameter, no bound, the
/// longer length as the maximum.
struct LongerLengthFamily {
    static constexpr const char* kParam = nullptr;
    using Param = NoParam;
    static constexpr Score kScore = Score::EditCount;
    static constexpr bool kBounded = false;
    static constexpr bool kEditScripts = false;
    static uint64_t maximum(std::size_t l1, std::size_t l2, const Param&) noexcept {
        return std::max(l1, l2);
    }
};

struct Osa : LongerLengthFamily {
    static constexpr const char* kName = "osa";
    template <class T>
    static uint64_t distance(std::span<const T> a, std::span<const T> b, const Param&, uint64_t) {
        return algorithms::osa_distance(a, b);
    }
};

struct DamerauLevenshtein : LongerLengthFamily {
    static constexpr const char* kName = "damerau_levenshtein";
    template <class T>
    static uint64_t distance(std::span<const T> a, std::span<const T> b, const Param&, uint64_t) {
        return algorithms::damerau_levenshtein_distance(a, b);
    }
};

struct Prefix : LongerLengthFamily {
    static constexpr const char* kName = "prefix";
    template <class T>
    static uint64_t distance(std::span<const T> a, std::span<const T> b, const Param&,
                             uint64_t) noexcept {
        return std::max(a.size(), b.size()) - algorithms::common_prefix(a, b);
    }
};

struct Postfix : LongerLengthFamily {
    static constexpr const char* kName = "postfix";
    template <class T>
    static uint64_t distance(std::span<const T> a, std::span<const T> b, const Param&,
                             uint64_t) noexcept {
        return std::max(a.size(), b.size()) - algorithms::common_suffix(a, b);
    }
};

struct Jaro {
    static constexpr const char* kName = "jaro";
    static constexpr const char* kParam = nullptr;
    using Param = NoParam;
    static constexpr Score kScore = Score::Similarity;
    static constexpr bool kEditScripts = false;
    template <class T>
    static double similarity(std::span<const T> a, std::span<const T> b, const Param&) {
        return algorithms::jaro(a, b);
    }
};

struct JaroWinkler {
    static constexpr const char* kName = "jaro_winkler";
    static constexpr const char* kParam = "prefix_weight";
    static constexpr const char* kParamDefault = "0.1";
    using Param = double;
    static constexpr Score kScore = Score::Similarity;
    static constexpr bool kEditScripts = false;
    /// Any float value, unchecked (None is rejected by the float conversion).
    static double param(PyObject* o) { return o ? py::to_f64(o) : 0.1; }
    template <class T>
    static double similarity(std::span<const T> a, std::span<const T> b, double prefix_weight) {
        return algorithms::jaro_winkler(a, b, prefix_weight);
    }
};

template void register_metric_family<Jaro>(py::Module&);
template void register_metric_family<JaroWinkler>(py::Module&);
template void register_metric_family<Osa>(py::Module&);
template void register_metric_family<DamerauLevenshtein>(py::Module&);
template void register_metric_family<Prefix>(py::Module&);
template void register_metric_family<Postfix>(py::Module&);

}  // namespace tarnwick::distance::metrics
