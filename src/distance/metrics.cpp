// Python adapter of the metric families: each family's traits on the calling convention
// of metrics.hpp, and its registration.
//
// The edit-script families: levenshtein takes a weight triple and no bound; hamming counts
// mismatches in place, padded by the length difference unless pad is false; indel and
// lcs_seq hand a bound derived from the cutoff to the LCS kernels. Their _editops and
// _opcodes functions run the family's trace on the widened pair.
//
// The score families: osa and damerau_levenshtein count edits up to max(len1, len2);
// prefix and postfix count the elements outside the common prefix or suffix; jaro and
// jaro_winkler are float similarities. None of them takes a kernel bound: the value is
// computed in full and the cutoff rule applied to it.
#include "algorithms/damerau_levenshtein.hpp"
#include "algorithms/editops.hpp"
#include "algorithms/jaro.hpp"
#include "algorithms/lcs.hpp"
#include "algorithms/levenshtein.hpp"
#include "algorithms/osa.hpp"
#include "distance/initialize/classes.hpp"
#include "distance/metrics.hpp"

#include <algorithm>

namespace tarnwick::distance::metrics {

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

// Besides the metric traits, an edit-script family names its kernel trace (`Trace`) and
// whether its parameter applies to the scripts too (`kScriptParam`; they are always
// unit-cost, so only hamming's pad does).

struct Levenshtein {
    static constexpr const char* kName = "levenshtein";
    static constexpr const char* kParam = "weights";
    static constexpr const char* kParamDefault = "None";
    using Param = algorithms::LevenshteinWeights;
    static constexpr Score kScore = Score::EditCount;
    static constexpr bool kBounded = false;
    static constexpr bool kEditScripts = true;
    using Trace = LevenshteinTrace;
    static constexpr bool kScriptParam = false;

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
    static constexpr const char* kParamDefault = "True";
    using Param = bool;
    static constexpr Score kScore = Score::EditCount;
    static constexpr bool kBounded = false;
    static constexpr bool kEditScripts = true;
    using Trace = HammingTrace;
    static constexpr bool kScriptParam = true;

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
    using Param = NoParam;
    static constexpr Score kScore = Score::EditCount;
    static constexpr bool kBounded = true;
    static constexpr bool kEditScripts = true;
    using Trace = IndelTrace;
    static constexpr bool kScriptParam = false;

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
    using Param = NoParam;
    static constexpr Score kScore = Score::EditCount;
    static constexpr bool kBounded = true;
    static constexpr bool kEditScripts = true;
    using Trace = IndelTrace;
    static constexpr bool kScriptParam = false;

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

// ---- The score families ----

/// Shared traits of osa, damerau_levenshtein, prefix and postfix: no parameter, no bound, the
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

// ---- Edit-script functions ----

namespace {

using algorithms::EditOp;
using initialize::Editops;
using initialize::Opcodes;

/// Runs `trace` on the widened pair and wraps the script as Editops or Opcodes.
template <bool AsOpcodes, class Trace>
py::Object script_result(const types::PreparedPair& in, Trace trace) {
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
types::PreparedPair prepare_script(PyObject* s1, PyObject* s2, PyObject* processor) {
    if (types::is_none(s1) || types::is_none(s2))
        throw py::Error{PyExc_TypeError, "expected str, bytes, or sequence", {}};
    return types::prepare_required(s1, s2, processor);
}

constexpr std::string_view kEditopsSuffix = "_editops";
constexpr std::string_view kOpcodesSuffix = "_opcodes";

/// "<family>_editops(s1, s2, *, [param=default, ]processor=None)", likewise _opcodes.
template <class Family, bool AsOpcodes>
inline constexpr auto kScriptSignature = [] {
    const char* name =
        kFunctionName<Family, AsOpcodes ? kOpcodesSuffix : kEditopsSuffix>.data();
    if constexpr (Family::kScriptParam)
        return py::Signature<4>{
            name, {{{"s1"}, {"s2"}, {Family::kParam, Family::kParamDefault}, {"processor", "None"}}}, 2};
    else
        return py::Signature<3>{name, {{{"s1"}, {"s2"}, {"processor", "None"}}}, 2};
}();

/// Builtin body of `<Family>_editops` / `<Family>_opcodes`: the parameter (when it applies)
/// is converted first and checked on the pair.
template <class Family, bool AsOpcodes>
py::Object script_body(const py::Args<py::kArity<kScriptSignature<Family, AsOpcodes>>>& a) {
    if constexpr (Family::kScriptParam) {
        const auto param = py::arg(Family::kParam, [&] { return Family::param(a[2]); });
        const types::PreparedPair in = prepare_script(a[0], a[1], a[3]);
        Family::check(in.a, in.b, param);
        return script_result<AsOpcodes>(in, typename Family::Trace{});
    } else {
        const types::PreparedPair in = prepare_script(a[0], a[1], a[2]);
        return script_result<AsOpcodes>(in, typename Family::Trace{});
    }
}

}  // namespace

template <class Family>
void register_script_functions(py::Module& m) {
    m.add_function<kScriptSignature<Family, false>, &script_body<Family, false>>();
    m.add_function<kScriptSignature<Family, true>, &script_body<Family, true>>();
}

template void register_metric_family<Levenshtein>(py::Module&);
template void register_metric_family<Hamming>(py::Module&);
template void register_metric_family<Indel>(py::Module&);
template void register_metric_family<LcsSeq>(py::Module&);
template void register_metric_family<Jaro>(py::Module&);
template void register_metric_family<JaroWinkler>(py::Module&);
template void register_metric_family<Osa>(py::Module&);
template void register_metric_family<DamerauLevenshtein>(py::Module&);
template void register_metric_family<Prefix>(py::Module&);
template void register_metric_family<Postfix>(py::Module&);


}  // namespace tarnwick::distance::metrics
