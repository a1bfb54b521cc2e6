#include "distance/metrics.hpp"

namespace tarnwick::distance::metrics {

std::optional<Prepared> prepare(PyObject* s1, PyObject* s2, PyObject* processor) {
    if (types::is_none(s1) || types::is_none(s2)) return std::nullopt;
    return prepare_required(s1, s2, processor);
}

Prepared prepare_required(PyObject* s1, PyObject* s2, PyObject* processor) {
    PyObject* r1 = nullptr;
    PyObject* r2 = nullptr;
    types::get_processed_args(s1, s2, processor, &r1, &r2);
    Prepared p{py::Object::steal(r1), py::Object::steal(r2), {}, {}};
    p.a = types::extract_single(p.p1.get());
    p.b = types::extract_single(p.p2.get());
    return p;
}

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
