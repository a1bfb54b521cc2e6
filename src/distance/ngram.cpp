#include "distance/ngram.hpp"

#include "algorithms/ngram.hpp"
#include "distance/same_width.hpp"
#include "module.hpp"
#include "py/convert.hpp"
#include "py/module.hpp"
#include "types_py.hpp"

#include <optional>

namespace tarnwick::distance::ngram {

double similarity(Measure measure, const types::Seq& a, const types::Seq& b, uint64_t n) {
    // The widths are checked before any emptiness or length test.
    if (a.kind() != b.kind()) throw py::Error{PyExc_ValueError, "Mismatched sequence types", {}};
    const uint64_t len1 = a.size();
    const uint64_t len2 = b.size();
    if (len1 == 0 && len2 == 0) return 1.0;
    if (len1 < n || len2 < n) return 0.0;
    const uint64_t shared = visit_same_width(
        a, b, [n](auto x, auto y) { return algorithms::ngram_intersection(x, y, n); });
    // Number of n-gram occurrences in the two sequences together.
    const uint64_t total = (len1 - n + 1) + (len2 - n + 1);
    if (measure == Measure::Jaccard) {
        const uint64_t union_ = total - shared;
        return union_ == 0 ? 1.0 : static_cast<double>(shared) / static_cast<double>(union_);
    }
    return (static_cast<double>(shared) * 2.0) / static_cast<double>(total);
}

namespace {

/// Both functions' signature: "name(s1, s2, *, n=2, processor=None, score_cutoff=None)".
constexpr py::Signature<5> ngram_signature(const char* name) {
    return {name,
            {{{"s1"}, {"s2"}, {"n", "2"}, {"processor", "None"}, {"score_cutoff", "None"}}},
            2};
}

constexpr auto kSorensenDice = ngram_signature("sorensen_dice");
constexpr auto kJaccard = ngram_signature("jaccard");

template <Measure M>
py::Object body(const py::Args<5>& a) {
    // None is no default here: only an absent n means 2.
    const uint64_t n = a[2] == nullptr ? 2 : py::arg("n", [&] { return py::to_u64(a[2]); });
    const std::optional<double> cutoff =
        py::arg("score_cutoff", [&] { return py::to_opt_f64(a[4]); });
    const types::PreparedPair in = types::prepare_required(a[0], a[1], a[3]);
    const double v = similarity(M, in.a, in.b, n);
    return py::from_f64(cutoff && v < *cutoff ? 0.0 : v);
}

}  // namespace

void register_functions(py::Module& m) {
    m.add_function<kSorensenDice, &body<Measure::SorensenDice>>();
    m.add_function<kJaccard, &body<Measure::Jaccard>>();
}

}  // namespace tarnwick::distance::ngram
