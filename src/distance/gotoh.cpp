#include "distance/gotoh.hpp"

#include "algorithms/gotoh.hpp"
#include "distance/same_width.hpp"
#include "module.hpp"
#include "py/convert.hpp"
#include "py/module.hpp"
#include "types_py.hpp"

#include <optional>

namespace tarnwick::distance::gotoh {

uint64_t scale_penalty(double penalty) noexcept {
    const double p = penalty * 100.0;
    if (!(p > 0.0)) return 0;                           // negative, zero or NaN
    if (p >= 18446744073709551616.0) return ~uint64_t{0};  // 2^64 or more
    return static_cast<uint64_t>(p);
}

Raw gotoh_raw(const types::Seq& a, const types::Seq& b, uint64_t open, uint64_t extend) {
    return visit_same_width(a, b, [&](auto x, auto y) {
        const algorithms::GotohResult r = algorithms::gotoh(x, y, open, extend);
        return Raw{r.cost, r.maximum};
    });
}

namespace {

enum class Fn { Distance, Similarity, NormalizedDistance, NormalizedSimilarity };

/// Every function's signature: "name(s1, s2, *, open_penalty=1.0, extend_penalty=0.5,
/// processor=None, score_cutoff=None)".
constexpr py::Signature<6> gotoh_signature(const char* name) {
    return {name,
            {{{"s1"},
              {"s2"},
              {"open_penalty", "1.0"},
              {"extend_penalty", "0.5"},
              {"processor", "None"},
              {"score_cutoff", "None"}}},
            2};
}

constexpr auto kDistance = gotoh_signature("gotoh_distance");
constexpr auto kSimilarity = gotoh_signature("gotoh_similarity");
constexpr auto kNormalizedDistance = gotoh_signature("gotoh_normalized_distance");
constexpr auto kNormalizedSimilarity = gotoh_signature("gotoh_normalized_similarity");

/// A penalty argument: its default when absent; None and non-numbers are TypeErrors
/// naming the argument.
double penalty(const char* name, PyObject* o, double fallback) {
    if (o == nullptr) return fallback;
    return py::arg(name, [o] { return py::to_f64(o); });
}

/// The value of `F` and its cutoff rule.
template <Fn F>
double result(Raw r, std::optional<double> cutoff) {
    const double cost = static_cast<double>(r.cost);
    const double maximum = static_cast<double>(r.maximum);
    if constexpr (F == Fn::Distance) {
        const double v = cost / 100.0;
        return cutoff && v > *cutoff ? *cutoff + 1.0 : v;
    } else if constexpr (F == Fn::Similarity) {
        const double v = r.maximum == 0 ? 0.0 : (maximum - cost) / 100.0;
        return cutoff && v < *cutoff ? 0.0 : v;
    } else if constexpr (F == Fn::NormalizedDistance) {
        const double v = r.maximum == 0 ? 0.0 : cost / maximum;
        return cutoff && v > *cutoff ? 1.0 : v;
    } else {
        const double v = r.maximum == 0 ? 1.0 : 1.0 - cost / maximum;
        return cutoff && v < *cutoff ? 0.0 : v;
    }
}

template <Fn F>
py::Object body(const py::Args<6>& a) {
    const double open = penalty("open_penalty", a[2], 1.0);
    const double extend = penalty("extend_penalty", a[3], 0.5);
    const std::optional<double> cutoff =
        py::arg("score_cutoff", [&] { return py::to_opt_f64(a[5]); });
    const uint64_t o = scale_penalty(open);
    const uint64_t e = scale_penalty(extend);
    const types::PreparedPair in = types::prepare_required(a[0], a[1], a[4]);
    return py::from_f64(result<F>(gotoh_raw(in.a, in.b, o, e), cutoff));
}

}  // namespace

void register_functions(py::Module& m) {
    m.add_function<kDistance, &body<Fn::Distance>>();
    m.add_function<kSimilarity, &body<Fn::Similarity>>();
    m.add_function<kNormalizedDistance, &body<Fn::NormalizedDistance>>();
    m.add_function<kNormalizedSimilarity, &body<Fn::NormalizedSimilarity>>();
}

}  // namespace tarnwick::distance::gotoh
