// Python adapter of the ratio scorers: the eleven fuzz_ builtins.
#include "distance/initialize/classes.hpp"
#include "fuzz/fuzz_partial.hpp"
#include "fuzz/fuzz_ratio.hpp"
#include "fuzz/fuzz_text.hpp"
#include "fuzz/fuzz_token.hpp"
#include "fuzz/fuzz_wratio.hpp"
#include "module.hpp"
#include "py/convert.hpp"
#include "py/module.hpp"
#include "types_py.hpp"

#include <algorithm>
#include <optional>

namespace tarnwick::fuzz {
namespace {

/// A score computation over two converted sequences with an optional cut-off; it applies
/// the cut-off rule itself (the weighted ratio keeps a perfect score whatever the cut-off).
using ScoreFn = double (*)(const types::Seq&, const types::Seq&, std::optional<double>);

/// Every scorer's signature: "name(s1, s2, *, processor=None, score_cutoff=None)".
constexpr py::Signature<4> scorer_signature(const char* name) {
    return {name, {{{"s1"}, {"s2"}, {"processor", "None"}, {"score_cutoff", "None"}}}, 2};
}

constexpr auto kRatio = scorer_signature("fuzz_ratio");
constexpr auto kPartialRatio = scorer_signature("fuzz_partial_ratio");
constexpr auto kPartialRatioAlignment = scorer_signature("fuzz_partial_ratio_alignment");
constexpr auto kTokenSortRatio = scorer_signature("fuzz_token_sort_ratio");
constexpr auto kTokenSetRatio = scorer_signature("fuzz_token_set_ratio");
constexpr auto kTokenRatio = scorer_signature("fuzz_token_ratio");
constexpr auto kPartialTokenSortRatio = scorer_signature("fuzz_partial_token_sort_ratio");
constexpr auto kPartialTokenSetRatio = scorer_signature("fuzz_partial_token_set_ratio");
constexpr auto kPartialTokenRatio = scorer_signature("fuzz_partial_token_ratio");
constexpr auto kWRatio = scorer_signature("fuzz_wratio");
constexpr auto kQRatio = scorer_signature("fuzz_qratio");

std::optional<double> cutoff_argument(PyObject* o) {
    return py::arg("score_cutoff", [&] { return py::to_opt_f64(o); });
}

/// The builtin of the scorer computed by `Score`: missing inputs give 0.0, then the
/// processor, conversion of s1 then s2 (Latin-1 text as bytes when `Score` compares
/// elements only for equality), and the score with its cut-off rule.
template <ScoreFn Score, types::Latin1 Latin1 = types::Latin1::Chars>
py::Object scorer_body(const py::Args<4>& a) {
    const std::optional<double> cutoff = cutoff_argument(a[3]);
    types::PreparedPair p;
    return py::from_f64(types::prepare_pair(p, a[0], a[1], a[2], Latin1) ? Score(p.a, p.b, cutoff) : 0.0);
}

/// A token scorer over two texts with an optional cut-off, on their UTF-8 forms and on
/// their code points.
using TextScoreFn = double (*)(std::string_view, std::string_view, std::optional<double>);
using WideScoreFn = double (*)(std::u32string_view, std::u32string_view, std::optional<double>);

/// Two processed inputs read as text, as the token scorers read them (to_string_lossy of
/// their sequences): a str's UTF-8 form, bytes decoded lossily, and the empty text for any
/// other input, which is still converted so that its errors are raised. A str needs no
/// code points here.
struct PreparedTexts {
    py::Object p1, p2;
    text::Utf8Text a, b;
};

text::Utf8Text text_of(PyObject* obj) {
    if (PyUnicode_Check(obj)) {
        Py_ssize_t n = 0;
        const char* p = PyUnicode_AsUTF8AndSize(obj, &n);
        if (!p) py::throw_already_set();
        return text::Utf8Text::view({p, static_cast<std::size_t>(n)});
    }
    const types::Seq seq = types::extract_single(obj);
    return text::from_seq(seq);  // bytes (viewed in obj) or items (the empty text)
}

/// The missing-value test, the processor and the conversion of s1 then s2, as for the
/// other scorers; nothing for a missing input.
std::optional<PreparedTexts> prepare_texts(PyObject* s1, PyObject* s2, PyObject* processor) {
    std::optional<PreparedTexts> t;
    if (types::is_none(s1) || types::is_none(s2)) return t;
    auto [p1, p2] = types::get_processed_args(s1, s2, processor);
    PreparedTexts& r = t.emplace();
    r.p1 = std::move(p1);
    r.p2 = std::move(p2);
    r.a = text_of(r.p1.get());
    r.b = text_of(r.p2.get());
    return t;
}

/// The code points of a str whose UTF-8 form is `utf8`, copied from the string's own
/// storage into `buf` by one call that also gives their number (pure ASCII is widened
/// from its UTF-8 form, which is that storage).
std::u32string_view code_points_of(PyObject* str, std::string_view utf8, text::WideBuffer& buf) {
    if (text::is_ascii(utf8)) return buf.widen(utf8);
    // A str has at most as many code points as its UTF-8 form has bytes: a text whose
    // UTF-8 form fits the inline room is copied by the first call.
    static_assert(sizeof(uint32_t) == sizeof(char32_t));
    const std::size_t room = std::min(utf8.size(), text::WideBuffer::kInline);
    char32_t* out = buf.reserve(room);
    const std::size_t len = py::str_code_points(str, reinterpret_cast<uint32_t*>(out), room);
    if (len > room) {
        out = buf.reserve(len);
        py::copy_code_points(str, reinterpret_cast<uint32_t*>(out), len);
    }
    return {out, len};
}

/// `Wide` on the code points of two str.
template <WideScoreFn Wide>
[[gnu::noinline]] double wide_score(const PreparedTexts& t, std::optional<double> cutoff) {
    text::WideBuffer wa, wb;
    const std::u32string_view ca = code_points_of(t.p1.get(), t.a.str(), wa);
    const std::u32string_view cb = code_points_of(t.p2.get(), t.b.str(), wb);
    return Wide(ca, cb, cutoff);
}

/// The builtin of the token scorer computed by `Score` on texts, or by `Wide` on the code
/// points of two str that are not both pure ASCII (the same score, with no UTF-8 to
/// decode on the way).
template <TextScoreFn Score, WideScoreFn Wide>
py::Object text_scorer_body(const py::Args<4>& a) {
    const std::optional<double> cutoff = cutoff_argument(a[3]);
    const std::optional<PreparedTexts> t = prepare_texts(a[0], a[1], a[2]);
    if (!t) return py::from_f64(0.0);
    const std::string_view ta = t->a.str(), tb = t->b.str();
    if (PyUnicode_Check(t->p1.get()) && PyUnicode_Check(t->p2.get()) &&
        !(text::is_ascii(ta) && text::is_ascii(tb)))
        return py::from_f64(wide_score<Wide>(*t, cutoff));
    return py::from_f64(Score(ta, tb, cutoff));
}

/// fuzz_partial_ratio_alignment: None for a missing input or a score below the cut-off,
/// else a new ScoreAlignment (src positions in s1, dest positions in s2).
py::Object partial_ratio_alignment_body(const py::Args<4>& a) {
    const std::optional<double> cutoff = cutoff_argument(a[3]);
    types::PreparedPair p;
    if (!types::prepare_pair(p, a[0], a[1], a[2], types::Latin1::Bytes)) return py::Object::borrow(Py_None);
    const auto al = partial_ratio_alignment(p.a, p.b, cutoff);
    if (!al) return py::Object::borrow(Py_None);
    return py::Class<distance::initialize::ScoreAlignment>::create(*al);
}

}  // namespace

void register_functions(py::Module& m) {
    // The ratio and the quick ratio compare elements only for equality (through
    // visit_pair); the partial ratio scores two byte strings by a kernel of its own, and
    // the weighted ratio also reads the inputs as text.
    m.add_function<kRatio, &scorer_body<&ratio, types::Latin1::Bytes>>();
    m.add_function<kPartialRatio, &scorer_body<&partial_ratio>>();
    m.add_function<kPartialRatioAlignment, &partial_ratio_alignment_body>();
    m.add_function<kTokenSortRatio,
                   &text_scorer_body<&token_sort_ratio_text, &token_sort_ratio_wide>>();
    m.add_function<kTokenSetRatio, &text_scorer_body<&token_set_ratio_text, &token_set_ratio_wide>>();
    m.add_function<kTokenRatio, &text_scorer_body<&token_ratio_text, &token_ratio_wide>>();
    m.add_function<kPartialTokenSortRatio, &text_scorer_body<&partial_token_sort_ratio_text,
                                                             &partial_token_sort_ratio_wide>>();
    m.add_function<kPartialTokenSetRatio, &text_scorer_body<&partial_token_set_ratio_text,
                                                            &partial_token_set_ratio_wide>>();
    m.add_function<kPartialTokenRatio,
                   &text_scorer_body<&partial_token_ratio_text, &partial_token_ratio_wide>>();
    m.add_function<kWRatio, &scorer_body<&wratio>>();
    m.add_function<kQRatio, &scorer_body<&qratio, types::Latin1::Bytes>>();
}

}  // namespace tarnwick::fuzz
