#include "distance/phonetic.hpp"

#include "algorithms/soundex.hpp"
#include "module.hpp"
#include "py/convert.hpp"
#include "py/module.hpp"

namespace tarnwick::distance::phonetic {

std::string soundex(std::string_view text) {
    const algorithms::SoundexCode code = algorithms::soundex(text);
    return std::string(code.data(), code.size());
}

namespace {

using algorithms::SoundexCode;

/// The UTF-8 of a str argument. Only ASCII letters matter to Soundex, so a str holding a
/// lone surrogate is read with the surrogate passed through as three non-ASCII bytes
/// (skipped like any other non-ASCII character) instead of failing; `keep` owns those
/// bytes.
std::string_view soundex_text(const char* name, PyObject* o, py::Object& keep) {
    if (PyUnicode_Check(o)) {
        Py_ssize_t n = 0;
        if (const char* p = PyUnicode_AsUTF8AndSize(o, &n)) return {p, static_cast<std::size_t>(n)};
        PyErr_Clear();
        keep = py::check(PyUnicode_AsEncodedString(o, "utf-8", "surrogatepass"));
        char* p = nullptr;
        if (PyBytes_AsStringAndSize(keep.get(), &p, &n) < 0) py::throw_already_set();
        return {p, static_cast<std::size_t>(n)};
    }
    return py::arg(name, [&] { return py::to_str(o); });
}

constexpr py::Signature<1> kEncode{"soundex_encode", {{{"s"}}}};

py::Object encode_body(const py::Args<1>& a) {
    py::Object keep;
    const std::string_view s = soundex_text("s", a[0], keep);
    const SoundexCode code = algorithms::soundex(s);
    return py::from_str({code.data(), code.size()});
}

/// The comparisons' signature: "name(s1, s2)".
constexpr py::Signature<2> pair_signature(const char* name) { return {name, {{{"s1"}, {"s2"}}}}; }

constexpr auto kDistance = pair_signature("soundex_distance");
constexpr auto kSimilarity = pair_signature("soundex_similarity");
constexpr auto kNormalizedSimilarity = pair_signature("soundex_normalized_similarity");
constexpr auto kNormalizedDistance = pair_signature("soundex_normalized_distance");

/// The number of positions where the codes of s1 and s2 agree.
int agreement(const py::Args<2>& a) {
    py::Object keep1, keep2;
    const std::string_view s1 = soundex_text("s1", a[0], keep1);
    const std::string_view s2 = soundex_text("s2", a[1], keep2);
    return algorithms::soundex_agreement(algorithms::soundex(s1), algorithms::soundex(s2));
}

py::Object distance_body(const py::Args<2>& a) { return py::from_u64(4 - agreement(a)); }

py::Object similarity_body(const py::Args<2>& a) { return py::from_u64(agreement(a)); }

py::Object normalized_similarity_body(const py::Args<2>& a) {
    return py::from_f64(static_cast<double>(agreement(a)) / 4.0);
}

py::Object normalized_distance_body(const py::Args<2>& a) {
    return py::from_f64(1.0 - static_cast<double>(agreement(a)) / 4.0);
}

}  // namespace

void register_functions(py::Module& m) {
    m.add_function<kEncode, &encode_body>();
    m.add_function<kDistance, &distance_body>();
    m.add_function<kSimilarity, &similarity_body>();
    m.add_function<kNormalizedSimilarity, &normalized_similarity_body>();
    m.add_function<kNormalizedDistance, &normalized_distance_body>();
}

}  // namespace tarnwick::distance::phonetic
