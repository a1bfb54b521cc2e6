// The calling convention shared by every metric function, written once.
//
// A score function is "<family>_<ending>(s1, s2, *, [param], processor=None,
// score_cutoff=None)" and runs, in this order:
//   1. bind the arguments;
//   2. convert the family parameter, then score_cutoff (processor is called, not
//      converted); a TypeError of a conversion becomes "argument '<name>': <message>";
//   3. missing-value test on the raw s1, then s2: a missing input gives the fixed result
//      of the result kind at once;
//   4. processor on s1, then s2;
//   5. conversion of the processed s1, then s2, to sequences;
//   6. the family's check of the pair, when it has one;
//   7. widening to one element width and the family's computation;
//   8. the value of the result kind and its cutoff rule.
// Edit-script functions use steps 1 to 5 through `types::prepare_required` (a missing input
// raises TypeError there).
//
// A family is a struct with
//   static constexpr const char* kName;          // "osa": the prefix of the function names
//   static constexpr const char* kParam;         // nullptr, or the keyword of its parameter
//   static constexpr const char* kParamDefault;  // with kParam: its default in the signature
//   using Param;                                 // NoParam, or the converted parameter
//   static Param param(PyObject* o);             // with kParam only; `o` is null when absent
//   static constexpr Score kScore;
//   static constexpr bool kEditScripts;          // it has _editops and _opcodes functions
// and, for Score::EditCount (integer distance d, similarity max(maximum - d, 0)):
//   static constexpr bool kBounded;          // the kernel accepts a bound
//   static uint64_t maximum(std::size_t l1, std::size_t l2, const Param&);
//   template <class T>
//   static uint64_t distance(std::span<const T>, std::span<const T>, const Param&,
//                            uint64_t bound);  // exact when <= bound, else any value > bound
// or, for Score::Similarity (a float similarity s; the distances are 1.0 - s):
//   template <class T>
//   static double similarity(std::span<const T>, std::span<const T>, const Param&);
// and optionally
//   static void check(const types::Seq&, const types::Seq&, const Param&);  // step 6
//
// Bounds: for a bounded family the kernel is given the largest distance that can still
// pass the cutoff rule, computed exactly in the arithmetic of the rule itself, so a value
// exactly equal to the cutoff is never rejected.
#pragma once

#include "algorithms/common.hpp"
#include "module.hpp"
#include "py/convert.hpp"
#include "py/module.hpp"
#include "types.hpp"
#include "types_py.hpp"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>

namespace tarnwick::distance::metrics {

/// The result kinds (rows of the result table) of the score functions.
enum class Kind : uint8_t {
    Distance,              // int; d > c gives c + 1; missing input 0
    Similarity,            // int; s < c gives 0; missing input 0
    NormalizedDistance,    // float; nd > c gives 1.0; missing input 1.0
    NormalizedSimilarity,  // float; ns < c gives 0.0; missing input 0.0
    FloatDistance,         // float _distance of a Similarity family: as NormalizedDistance,
                           // but 0.0 for a missing input
};

/// The four score functions of a family, by the ending of their names.
enum class Ending : uint8_t { Distance, Similarity, NormalizedDistance, NormalizedSimilarity };

/// What a family computes: an integer edit count, or a float similarity.
enum class Score : uint8_t { EditCount, Similarity };

/// The parameter of a family that has none.
struct NoParam {};

/// Whether results and cutoffs of kind `K` are integers.
template <Kind K>
inline constexpr bool kIntegerKind = K == Kind::Distance || K == Kind::Similarity;

/// The value type (and cutoff type) of kind `K`.
template <Kind K>
using Value = std::conditional_t<kIntegerKind<K>, uint64_t, double>;

/// The kind of the function with `ending` in a family scoring by `score`.
constexpr Kind kind_of(Score score, Ending ending) noexcept {
    switch (ending) {
        case Ending::Distance:
            return score == Score::EditCount ? Kind::Distance : Kind::FloatDistance;
        case Ending::Similarity:
            return score == Score::EditCount ? Kind::Similarity : Kind::NormalizedSimilarity;
        case Ending::NormalizedDistance: return Kind::NormalizedDistance;
        default: return Kind::NormalizedSimilarity;
    }
}

// ---- Values and cutoff rules (pure) ----

/// d / maximum in 64-bit floating point; 0.0 when the maximum is 0.
inline double normalize(uint64_t d, uint64_t maximum) noexcept {
    return maximum == 0 ? 0.0 : static_cast<double>(d) / static_cast<double>(maximum);
}

/// The value of kind `K` for an edit count `d` with `maximum`.
template <Kind K>
inline Value<K> edit_count_value(uint64_t d, uint64_t maximum) noexcept {
    if constexpr (K == Kind::Distance) return d;
    else if constexpr (K == Kind::Similarity) return maximum >= d ? maximum - d : 0;
    else if constexpr (K == Kind::NormalizedSimilarity) return 1.0 - normalize(d, maximum);
    else return normalize(d, maximum);
}

/// The value of kind `K` for a float similarity `s`.
template <Kind K>
inline double similarity_value(double s) noexcept {
    static_assert(!kIntegerKind<K>);
    if constexpr (K == Kind::NormalizedSimilarity) return s;
    else return 1.0 - s;
}

/// The result of kind `K` for a value that fails the cutoff `c`.
template <Kind K>
inline Value<K> rejected(Value<K> c) noexcept {
    if constexpr (K == Kind::Distance) return c + 1;
    else if constexpr (K == Kind::Similarity) return 0;
    else if constexpr (K == Kind::NormalizedSimilarity) return 0.0;
    else return 1.0;
}

/// Whether value `v` fails the cutoff `c` of kind `K` (an ordinary comparison: a NaN
/// cutoff never fails a value).
template <Kind K>
inline bool fails(Value<K> v, Value<K> c) noexcept {
    if constexpr (K == Kind::Similarity || K == Kind::NormalizedSimilarity)
        return v < c;
    else
        return v > c;
}

/// The cutoff rule of kind `K`: `v` itself, or the rejected result.
template <Kind K>
inline Value<K> apply_cutoff(Value<K> v, std::optional<Value<K>> c) noexcept {
    return c && fails<K>(v, *c) ? rejected<K>(*c) : v;
}

/// The result of kind `K` for a missing input.
template <Kind K>
inline constexpr Value<K> missing_result() noexcept {
    if constexpr (K == Kind::NormalizedDistance) return 1.0;
    else return Value<K>{};
}

/// A kernel bound derived from a cutoff: the largest distance whose value passes the rule
/// (kNoBound: every distance may pass), or "every distance fails".
struct Bound {
    uint64_t max_distance = algorithms::kNoBound;
    bool reject_all = false;
};

/// The exact bound of kind `K` for cutoff `c` and `maximum`. Monotone rules make it the
/// largest d with a passing value; it is found from a floating-point guess and then
/// corrected by evaluating the rule itself, so rounding in the guess never matters.
template <Kind K>
Bound bound_for(Value<K> c, uint64_t maximum) noexcept {
    if constexpr (K == Kind::Distance) {
        return {c, false};
    } else if constexpr (K == Kind::Similarity) {
        if (c == 0) return {};
        if (c > maximum) return {0, true};
        return {maximum - c, false};
    } else {
        const auto passes = [&](uint64_t d) {
            return !fails<K>(edit_count_value<K>(d, maximum), c);
        };
        if (std::isnan(c) || maximum == 0 || passes(maximum)) return {};  // NaN: no rule
        if (!passes(0)) return {0, true};
        // 0 passes and maximum fails: the answer lies in [0, maximum).
        const double frac = K == Kind::NormalizedSimilarity ? 1.0 - c : c;
        const double guess = frac * static_cast<double>(maximum);
        uint64_t d = guess <= 0.0 ? 0
                     : guess >= static_cast<double>(maximum) ? maximum - 1
                                                             : static_cast<uint64_t>(guess);
        while (d > 0 && !passes(d)) --d;
        while (d + 1 < maximum && passes(d + 1)) ++d;
        return {d, false};
    }
}

// ---- Steps with the interpreter ----

/// The score_cutoff of kind `K`: absent/None gives nothing; ints (unsigned 64-bit) for
/// the integer kinds, any float value for the others; TypeErrors name score_cutoff.
template <Kind K>
std::optional<Value<K>> convert_cutoff(PyObject* o) {
    if (py::is_absent(o)) return std::nullopt;
    if constexpr (kIntegerKind<K>)
        return py::arg("score_cutoff", [o] { return py::to_u64(o); });
    else
        return py::arg("score_cutoff", [o] { return py::to_f64(o); });
}

/// The Python result of kind `K`.
template <Kind K>
py::Object to_python(Value<K> v) {
    if constexpr (kIntegerKind<K>) return py::from_u64(v);
    else return py::from_f64(v);
}

/// The name suffix of an ending ("_distance", ...).
constexpr std::string_view ending_suffix(Ending e) noexcept {
    switch (e) {
        case Ending::Distance: return "_distance";
        case Ending::Similarity: return "_similarity";
        case Ending::NormalizedDistance: return "_normalized_distance";
        default: return "_normalized_similarity";
    }
}

/// `a` followed by `b` as a NUL-terminated constant of N characters.
template <std::size_t N>
constexpr std::array<char, N + 1> join_name(std::string_view a, std::string_view b) noexcept {
    std::array<char, N + 1> out{};
    for (std::size_t i = 0; i < a.size(); ++i) out[i] = a[i];
    for (std::size_t i = 0; i < b.size(); ++i) out[a.size() + i] = b[i];
    return out;
}

/// The name of a family's function: the family's name followed by `suffix`.
template <class Family, const std::string_view& Suffix>
inline constexpr auto kFunctionName =
    join_name<std::string_view(Family::kName).size() + Suffix.size()>(Family::kName, Suffix);

template <Ending E>
inline constexpr std::string_view kEndingSuffix = ending_suffix(E);

/// "<family>_<ending>(s1, s2, *, [param=default, ]processor=None, score_cutoff=None)".
template <class Family, Ending E>
inline constexpr auto kScoreSignature = [] {
    const char* name = kFunctionName<Family, kEndingSuffix<E>>.data();
    if constexpr (Family::kParam == nullptr)
        return py::Signature<4>{
            name, {{{"s1"}, {"s2"}, {"processor", "None"}, {"score_cutoff", "None"}}}, 2};
    else
        return py::Signature<5>{name,
                                {{{"s1"},
                                  {"s2"},
                                  {Family::kParam, Family::kParamDefault},
                                  {"processor", "None"},
                                  {"score_cutoff", "None"}}},
                                2};
}();

// ---- The generic score function ----

/// Steps 3 to 8 of kind `K` for `Family`, after binding and conversion.
template <class Family, Kind K>
py::Object run_score(PyObject* s1, PyObject* s2, const typename Family::Param& param,
                     PyObject* processor, std::optional<Value<K>> cutoff) {
    types::PreparedPair in;
    // Every family compares elements for equality only (through visit_pair).
    if (!types::prepare_pair(in, s1, s2, processor, types::Latin1::Bytes))
        return to_python<K>(missing_result<K>());
    if constexpr (requires { Family::check(in.a, in.b, param); })
        Family::check(in.a, in.b, param);
    if constexpr (Family::kScore == Score::EditCount) {
        const uint64_t maximum = Family::maximum(in.a.size(), in.b.size(), param);
        Bound bound;
        if constexpr (Family::kBounded) {
            if (cutoff) {
                bound = bound_for<K>(*cutoff, maximum);
                if (bound.reject_all) return to_python<K>(rejected<K>(*cutoff));
            }
        }
        const uint64_t d = types::visit_pair(in.a, in.b, [&](auto x, auto y) {
            return Family::distance(x, y, param, bound.max_distance);
        });
        if (d > bound.max_distance) return to_python<K>(rejected<K>(*cutoff));
        return to_python<K>(apply_cutoff<K>(edit_count_value<K>(d, maximum), cutoff));
    } else {
        const double s = types::visit_pair(
            in.a, in.b, [&](auto x, auto y) { return Family::similarity(x, y, param); });
        return to_python<K>(apply_cutoff<K>(similarity_value<K>(s), cutoff));
    }
}

/// The builtin body of `Family`'s function with `ending`: step 2, then run_score.
template <class Family, Ending E>
py::Object score_body(const py::Args<py::kArity<kScoreSignature<Family, E>>>& a) {
    constexpr Kind K = kind_of(Family::kScore, E);
    if constexpr (Family::kParam == nullptr) {
        const auto cutoff = convert_cutoff<K>(a[3]);
        return run_score<Family, K>(a[0], a[1], typename Family::Param{}, a[2], cutoff);
    } else {
        const auto param = py::arg(Family::kParam, [&] { return Family::param(a[2]); });
        const auto cutoff = convert_cutoff<K>(a[4]);
        return run_score<Family, K>(a[0], a[1], param, a[3], cutoff);
    }
}

/// Registers `Family`'s _editops and _opcodes functions (defined with the edit-script
/// families).
template <class Family>
void register_script_functions(py::Module& m);

template <class Family>
void register_metric_family(py::Module& m) {
    m.add_function<kScoreSignature<Family, Ending::Distance>, &score_body<Family, Ending::Distance>>();
    m.add_function<kScoreSignature<Family, Ending::Similarity>,
                   &score_body<Family, Ending::Similarity>>();
    m.add_function<kScoreSignature<Family, Ending::NormalizedDistance>,
                   &score_body<Family, Ending::NormalizedDistance>>();
    m.add_function<kScoreSignature<Family, Ending::NormalizedSimilarity>,
                   &score_body<Family, Ending::NormalizedSimilarity>>();
    if constexpr (Family::kEditScripts) register_script_functions<Family>(m);
}

}  // namespace tarnwick::distance::metrics
