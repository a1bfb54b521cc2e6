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
// Edit-script functions use steps 1 to 5 through `prepare_required` (a missing input
// raises TypeError there).
//
// A family is a struct with
//   static constexpr const char* kName;      // "osa": the prefix of the function names
//   static constexpr const char* kParam;     // nullptr, or the keyword of its parameter
//   static constexpr const char* kParamDoc;  // "" or that keyword with its default and ", "
//   using Param;                             // NoParam, or the converted parameter
//   static Param param(PyObject* o);         // with kParam only; `o` is null when absent
//   static constexpr Score kScore;
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
#include "py/args.hpp"
#include "py/convert.hpp"
#include "py/function.hpp"
#include "types.hpp"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
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

/// The processed inputs (kept alive: a byte sequence views them) and their sequences.
struct Prepared {
    py::Object p1;
    py::Object p2;
    types::Seq a;
    types::Seq b;
};

/// Steps 3 to 5: nothing when s1 or s2 is missing, else the processed and converted
/// pair.
std::optional<Prepared> prepare(PyObject* s1, PyObject* s2, PyObject* processor);

/// Steps 4 and 5 for the edit-script functions, after their missing-value test that
/// raises TypeError "expected str, bytes, or sequence".
Prepared prepare_required(PyObject* s1, PyObject* s2, PyObject* processor);

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

/// Name, message name and docstring of one metric function.
struct FunctionText {
    std::string name;     // "osa_distance"
    std::string display;  // "osa_distance()" (argument errors)
    std::string doc;      // "osa_distance(s1, s2, *, processor=None, score_cutoff=None)\n--\n\n"
};

/// The text of function `<family>_<suffix>`; `param_doc` is "" or "<param>=<default>, ";
/// edit-script functions have no score_cutoff.
FunctionText make_text(const char* family, const char* suffix, const char* param_doc,
                       bool score_cutoff);

/// The name suffix of an ending ("_distance", ...).
const char* ending_suffix(Ending e) noexcept;

// ---- The generic score function ----

/// Steps 3 to 8 of kind `K` for `Family`, after binding and conversion.
template <class Family, Kind K>
py::Object run_score(PyObject* s1, PyObject* s2, const typename Family::Param& param,
                     PyObject* processor, std::optional<Value<K>> cutoff) {
    std::optional<Prepared> in = prepare(s1, s2, processor);
    if (!in) return to_python<K>(missing_result<K>());
    if constexpr (requires { Family::check(in->a, in->b, param); })
        Family::check(in->a, in->b, param);
    if constexpr (Family::kScore == Score::EditCount) {
        const uint64_t maximum = Family::maximum(in->a.size(), in->b.size(), param);
        Bound bound;
        if constexpr (Family::kBounded) {
            if (cutoff) {
                bound = bound_for<K>(*cutoff, maximum);
                if (bound.reject_all) return to_python<K>(rejected<K>(*cutoff));
            }
        }
        const uint64_t d = types::visit_pair(in->a, in->b, [&](auto x, auto y) {
            return Family::distance(x, y, param, bound.max_distance);
        });
        if (d > bound.max_distance) return to_python<K>(rejected<K>(*cutoff));
        return to_python<K>(apply_cutoff<K>(edit_count_value<K>(d, maximum), cutoff));
    } else {
        const double s = types::visit_pair(
            in->a, in->b, [&](auto x, auto y) { return Family::similarity(x, y, param); });
        return to_python<K>(apply_cutoff<K>(similarity_value<K>(s), cutoff));
    }
}

/// The text of `Family`'s function with `ending`, built once.
template <class Family, Ending E>
const FunctionText& score_text() {
    static const FunctionText text =
        make_text(Family::kName, ending_suffix(E), Family::kParamDoc, true);
    return text;
}

/// Parameters of a score function without and with a family parameter.
inline constexpr std::array<py::Param, 4> kScoreParams{
    {{"s1", true}, {"s2", true}, {"processor", false}, {"score_cutoff", false}}};
template <class Family>
inline constexpr std::array<py::Param, 5> kScoreParamsWith{{{"s1", true},
                                                            {"s2", true},
                                                            {Family::kParam, false},
                                                            {"processor", false},
                                                            {"score_cutoff", false}}};

/// The builtin body of `Family`'s function with `ending`: steps 1 and 2, then run_score.
template <class Family, Ending E>
py::Object score_body(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr Kind K = kind_of(Family::kScore, E);
    const char* display = score_text<Family, E>().display.c_str();
    if constexpr (Family::kParam == nullptr) {
        const py::Signature<4> sig{display, kScoreParams, 2};
        const auto a = py::bind(sig, args, nargs, kwnames);
        const auto cutoff = convert_cutoff<K>(a[3]);
        return run_score<Family, K>(a[0], a[1], typename Family::Param{}, a[2], cutoff);
    } else {
        const py::Signature<5> sig{display, kScoreParamsWith<Family>, 2};
        const auto a = py::bind(sig, args, nargs, kwnames);
        const auto param = py::arg(Family::kParam, [&] { return Family::param(a[2]); });
        const auto cutoff = convert_cutoff<K>(a[4]);
        return run_score<Family, K>(a[0], a[1], param, a[3], cutoff);
    }
}

/// The method definition of `Family`'s function with `ending`.
template <class Family, Ending E>
PyMethodDef score_def() {
    PyMethodDef def = py::method_def<score_body<Family, E>>(nullptr, nullptr);
    def.ml_name = score_text<Family, E>().name.c_str();
    def.ml_doc = score_text<Family, E>().doc.c_str();
    return def;
}

}  // namespace tarnwick::distance::metrics
