// The edit-script metric families. Levenshtein takes a weight triple and no bound;
// hamming counts mismatches in place, padded by the length difference unless pad is
// false; indel and lcs_seq hand a bound derived from the cutoff to the LCS kernels. The
// _editops and _opcodes functions run the family's trace on the widened pair.
#include "distance/metrics_edit.hpp"

#include "algorithms/editops.hpp"
#include "algorithms/lcs.hpp"
#include "algorithms/levenshtein.hpp"
#include "distance/initialize/edit_classes.hpp"
#include "distance/metrics.hpp"

#include <algorithm>

namespace tarnwick::distance::metrics {
namespace {

struct Levenshtein {
    static constexpr const char* kName = "levenshtein";
    static constexpr const char* kParam = "weights";
    static constexpr const char* kParamDoc = "weights=None, ";
    using Param = algorithms::LevenshteinWeights;
    static constexpr Score kScore = Score::EditCount;
    static constexpr bool kBounded = false;

    /// None or absent: (1, 1, 1); else a tuple of exactly three unsigned integers.
    static Param param(PyObject* o) {
        if (py::is_absent(o)) return {};
        py::check_tuple(o, 3);
        return {py::to_u64(PyTuple_GetItem(o, 0)), py::to_u64(PyTuple_GetItem(o, 1)),
                py::to_u64(PyTuple_GetItem(o, 2))};
    }
    static uint64_t maximum(std::size_t l1, std::size_t l2, const Param& w) noexcept {
        return algorithms::levenshtein_maximum(l1, l2, w);
    }
    template <class T>
    static uint64_t distance(std::span<const T> a, std::span<const T> b, const Param& w, uint64_t) {
        return algorithms::levenshtein(a, b, w);
    }
};

struct Hamming {
    static constexpr const char* kName = "hamming";
    static constexpr const char* kParam = "pad";
    static constexpr const char* kParamDoc = "pad=True, ";
    using Param = bool;
    static constexpr Score kScore = Score::EditCount;
    static constexpr bool kBounded = false;

    static Param param(PyObject* o) { return o == nullptr ? true : py::to_bool(o); }
    static void check(const types::Seq& a, const types::Seq& b, const Param& pad) {
        if (!pad && a.size() != b.size())
            throw py::Error{PyExc_ValueError, "Sequences are not the same length.", {}};
    }
    static uint64_t maximum(std::size_t l1, std::size_t l2, const Param&) noexcept {
        return std::max(l1, l2);
    }
    template <class T>
    static uint64_t distance(std::span<const T> a, std::span<const T> b, const Param& pad,
                             uint64_t) noexcept {
        const std::size_t common = std::min(a.size(), b.size());
        uint64_t d = 0;
        for (std::size_t i = 0; i < common; ++i) d += a[i] != b[i];
        if (pad) d += std::max(a.size(), b.size()) - common;
        return d;
    }
};

struct Indel {
    static constexpr const char* kName = "indel";
    static constexpr const char* kParam = nullptr;
    static constexpr const char* kParamDoc = "";
    using Param = NoParam;
    static constexpr Score kScore = Score::EditCount;
    static constexpr bool kBounded = true;

    static uint64_t maximum(std::size_t l1, std::size_t l2, const Param&) noexcept {
        return static_cast<uint64_t>(l1) + l2;
    }
    template <class T>
    static uint64_t distance(std::span<const T> a, std::span<const T> b, const Param&, uint64_t bound) {
        return algorithms::indel_distance(a, b, bound);
    }
};

struct LcsSeq {
    static constexpr const char* kName = "lcs_seq";
    static constexpr const char* kParam = nullptr;
    static constexpr const char* kParamDoc = "";
    using Param = NoParam;
    static constexpr Score kScore = Score::EditCount;
    static constexpr bool kBounded = true;

    static uint64_t maximum(std::size_t l1, std::size_t l2, const Param&) noexcept {
        return std::max(l1, l2);
    }
    // d = max(l1, l2) - LCS stays within `bound` exactly when the Indel distance
    // l1 + l2 - 2 LCS stays within l1 + l2 - 2 (max - bound), the LCS kernel's bound.
    // After an early exit the kernel's LCS is too small, so d comes out above `bound`.
    template <class T>
    static uint64_t distance(std::span<const T> a, std::span<const T> b, const Param&, uint64_t bound) {
        const uint64_t longest = std::max(a.size(), b.size());
        uint64_t indel_bound = algorithms::kNoBound;
        if (bound < longest) indel_bound = a.size() + b.size() - 2 * (longest - bound);
        return longest - algorithms::lcs_seq_similarity(a, b, indel_bound);
    }
};

// ---- Edit-script functions ----

using algorithms::EditOp;
using initialize::Editops;
using initialize::Opcodes;

/// Runs `trace` on the widened pair and wraps the script as Editops or Opcodes.
template <bool AsOpcodes, class Trace>
py::Object script_result(const Prepared& in, Trace trace) {
    const std::vector<EditOp> ops =
        types::visit_pair(in.a, in.b, [&](auto x, auto y) { return trace(x, y); });
    const uint64_t l1 = in.a.size(), l2 = in.b.size();
    std::vector<initialize::Editop> records = initialize::editops_from_trace(ops);
    if constexpr (AsOpcodes) {
        return py::Class<Opcodes>::create(Opcodes{initialize::editops_to_opcodes(records, l1, l2), l1, l2});
    } else {
        return py::Class<Editops>::create(Editops{std::move(records), l1, l2});
    }
}

/// Steps 3 to 5 of an edit-script function: a missing input raises TypeError.
Prepared prepare_script(PyObject* s1, PyObject* s2, PyObject* processor) {
    if (types::is_none(s1) || types::is_none(s2))
        throw py::Error{PyExc_TypeError, "expected str, bytes, or sequence", {}};
    return prepare_required(s1, s2, processor);
}

constexpr std::array<py::Param, 3> kScriptParams{{{"s1", true}, {"s2", true}, {"processor", false}}};
constexpr std::array<py::Param, 4> kHammingScriptParams{
    {{"s1", true}, {"s2", true}, {"pad", false}, {"processor", false}}};

/// Kernel trace selectors.
struct LevenshteinTrace {
    template <class T>
    auto operator()(std::span<const T> a, std::span<const T> b) const {
        return algorithms::levenshtein_editops_trace(a, b);
    }
};
struct IndelTrace {
    template <class T>
    auto operator()(std::span<const T> a, std::span<const T> b) const {
        return algorithms::indel_editops_trace(a, b);
    }
};
struct HammingTrace {
    template <class T>
    auto operator()(std::span<const T> a, std::span<const T> b) const {
        return algorithms::hamming_editops_trace(a, b);
    }
};

template <class Family, bool AsOpcodes>
const FunctionText& script_text() {
    // Of the family parameters only pad applies to the scripts (they are always unit-cost).
    static const FunctionText text =
        make_text(Family::kName, AsOpcodes ? "_opcodes" : "_editops",
                  std::is_same_v<Family, Hamming> ? Family::kParamDoc : "", false);
    return text;
}

/// Builtin body of `<Family>_editops` / `<Family>_opcodes` for the families without a
/// parameter.
template <class Family, class Trace, bool AsOpcodes>
py::Object script_body(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const py::Signature<3> sig{script_text<Family, AsOpcodes>().display.c_str(), kScriptParams, 2};
    const auto a = py::bind(sig, args, nargs, kwnames);
    const Prepared in = prepare_script(a[0], a[1], a[2]);
    return script_result<AsOpcodes>(in, Trace{});
}

/// The hamming edit-script functions: pad is converted first and checked on the pair.
template <bool AsOpcodes>
py::Object hamming_script_body(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
    const py::Signature<4> sig{script_text<Hamming, AsOpcodes>().display.c_str(),
                               kHammingScriptParams, 2};
    const auto a = py::bind(sig, args, nargs, kwnames);
    const bool pad = py::arg("pad", [&] { return Hamming::param(a[2]); });
    const Prepared in = prepare_script(a[0], a[1], a[3]);
    Hamming::check(in.a, in.b, pad);
    return script_result<AsOpcodes>(in, HammingTrace{});
}

template <class Family, bool AsOpcodes, py::FastBody Body>
PyMethodDef script_def() {
    PyMethodDef def = py::method_def<Body>(nullptr, nullptr);
    def.ml_name = script_text<Family, AsOpcodes>().name.c_str();
    def.ml_doc = script_text<Family, AsOpcodes>().doc.c_str();
    return def;
}

template <class Family, class Trace, bool AsOpcodes>
PyMethodDef plain_script_def() {
    return script_def<Family, AsOpcodes, &script_body<Family, Trace, AsOpcodes>>();
}

}  // namespace

#define TARNWICK_SCORE_DEFS(prefix, Family)                                                  \
    PyMethodDef prefix##_distance_def = score_def<Family, Ending::Distance>();                \
    PyMethodDef prefix##_similarity_def = score_def<Family, Ending::Similarity>();            \
    PyMethodDef prefix##_normalized_distance_def = score_def<Family, Ending::NormalizedDistance>(); \
    PyMethodDef prefix##_normalized_similarity_def =                                          \
        score_def<Family, Ending::NormalizedSimilarity>();

TARNWICK_SCORE_DEFS(levenshtein, Levenshtein)
TARNWICK_SCORE_DEFS(hamming, Hamming)
TARNWICK_SCORE_DEFS(indel, Indel)
TARNWICK_SCORE_DEFS(lcs_seq, LcsSeq)
#undef TARNWICK_SCORE_DEFS

PyMethodDef levenshtein_editops_def = plain_script_def<Levenshtein, LevenshteinTrace, false>();
PyMethodDef levenshtein_opcodes_def = plain_script_def<Levenshtein, LevenshteinTrace, true>();
PyMethodDef hamming_editops_def = script_def<Hamming, false, &hamming_script_body<false>>();
PyMethodDef hamming_opcodes_def = script_def<Hamming, true, &hamming_script_body<true>>();
PyMethodDef indel_editops_def = plain_script_def<Indel, IndelTrace, false>();
PyMethodDef indel_opcodes_def = plain_script_def<Indel, IndelTrace, true>();
PyMethodDef lcs_seq_editops_def = plain_script_def<LcsSeq, IndelTrace, false>();
PyMethodDef lcs_seq_opcodes_def = plain_script_def<LcsSeq, IndelTrace, true>();

}  // namespace tarnwick::distance::metrics
