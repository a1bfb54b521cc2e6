#include "process/process_py.hpp"

#include "py/convert.hpp"
#include "types_py.hpp"

#include <cstring>
#include <optional>
#include <vector>

namespace tarnwick::process {

/// With a Python error set: clears it when it is an ordinary exception (a subclass of
/// Exception); anything else (KeyboardInterrupt, SystemExit) is thrown on.
void discard_ordinary_error() {
    if (!PyErr_Occurred()) return;
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw py::ErrorAlreadySet{};
    PyErr_Clear();
}

/// The sequence of `obj`, or nothing when its conversion raises an ordinary exception.
/// A Bytes result views `obj`: keep it alive while the sequence is used.
std::optional<types::Seq> try_convert(PyObject* obj) {
    try {
        return types::extract_single(obj);
    } catch (const py::ErrorAlreadySet&) {
        discard_ordinary_error();
    } catch (const py::Error& e) {
        if (!PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(e.type),
                              reinterpret_cast<PyTypeObject*>(PyExc_Exception)))
            throw;
    }
    return std::nullopt;
}

namespace {

/// What the direct reading of a batch item found.
enum class Direct : uint8_t {
    View,     // bytes or pure-ASCII text: a view of its bytes
    Missing,  // "<NA>", or text or bytes whose contents cannot be read (an ordinary error)
    Convert,  // text with other characters: the conversion gives its sequence
    Other,    // not an exact str or bytes
};

/// Reads an exact str or bytes `obj` without a conversion; a View's bytes are `n` at `p`.
inline Direct read_direct(PyObject* obj, const char*& p, Py_ssize_t& n) {
    if (PyUnicode_CheckExact(obj)) {
        p = PyUnicode_AsUTF8AndSize(obj, &n);
        if (!p) {
            discard_ordinary_error();
            return Direct::Missing;
        }
        if (n == 4 && std::memcmp(p, "<NA>", 4) == 0) return Direct::Missing;
        // One UTF-8 byte per code point exactly when the text is ASCII.
        return PyUnicode_GetLength(obj) == n ? Direct::View : Direct::Convert;
    }
    if (PyBytes_CheckExact(obj)) {
        char* b = nullptr;
        if (PyBytes_AsStringAndSize(obj, &b, &n) < 0) {
            discard_ordinary_error();
            return Direct::Missing;
        }
        p = b;
        return Direct::View;
    }
    return Direct::Other;
}

/// fast_choice for what read_direct found, other than a View.
std::optional<types::Seq> convert_rest(Direct d, PyObject* obj) {
    if (d == Direct::Missing) return std::nullopt;
    if (d == Direct::Other && (obj == Py_None || types::is_none(obj))) return std::nullopt;
    return try_convert(obj);
}

}  // namespace

/// A batch item as a sequence, or nothing when it is skipped: None and the other missing
/// values, and objects whose conversion raises an ordinary exception. Bytes and pure-ASCII
/// text are viewed without a copy (the result views `obj`: keep it alive while it is used).
std::optional<types::Seq> fast_choice(PyObject* obj) {
    const char* p = nullptr;
    Py_ssize_t n = 0;
    const Direct d = read_direct(obj, p, n);
    if (d == Direct::View)
        return types::Seq::bytes(reinterpret_cast<const uint8_t*>(p), static_cast<std::size_t>(n));
    return convert_rest(d, obj);
}

void store_view(types::Seq&& seq, ChoiceView& view, Sequences& others) {
    // A Bytes sequence of a conversion views its object's bytes, which are their own
    // values: scored as a byte string, as the sequence would be.
    if (seq.kind() == types::SeqKind::Bytes && seq.size() <= UINT32_MAX) {
        view = ChoiceView{seq.as_bytes().data(), static_cast<uint32_t>(seq.size()), ChoiceView::kBytes};
        return;
    }
    view = ChoiceView{nullptr, 0, static_cast<int32_t>(others.size())};
    others.push_back(std::move(seq));
}

bool view_text(PyObject* obj, ChoiceView& view, Sequences& others, bool keep_text) {
    const char* p = nullptr;
    Py_ssize_t n = 0;
    const Direct d = read_direct(obj, p, n);
    if ((d == Direct::View || (d == Direct::Convert && keep_text)) && static_cast<uint64_t>(n) <= UINT32_MAX)
        [[likely]] {
        view = ChoiceView{reinterpret_cast<const uint8_t*>(p), static_cast<uint32_t>(n),
                          d == Direct::View ? ChoiceView::kBytes : ChoiceView::kText};
        return true;
    }
    if (d == Direct::Other) return false;
    view = ChoiceView{};
    std::optional<types::Seq> seq;
    if (d == Direct::View)
        seq = types::Seq::bytes(reinterpret_cast<const uint8_t*>(p), static_cast<std::size_t>(n));
    else if (d == Direct::Convert)
        seq = try_convert(obj);
    if (seq) store_view(std::move(*seq), view, others);
    return true;
}

void view_choice(PyObject* obj, ChoiceView& view, Sequences& others) {
    if (view_text(obj, view, others)) return;
    view = ChoiceView{};
    if (std::optional<types::Seq> seq = convert_rest(Direct::Other, obj))
        store_view(std::move(*seq), view, others);
}

/// Every item of an iterable, in order, as owned references. The iteration's errors
/// propagate.
std::vector<py::Object> collect(PyObject* iterable) {
    py::Object it = py::check(py::get_iter(iterable));
    std::vector<py::Object> out;
    py::reserve_for(iterable, out);
    while (py::Object item = next_item(it.get())) out.push_back(std::move(item));
    return out;
}

py::Object next_item(PyObject* it) {
    // An endless iterator written in C (itertools.count()) runs no Python code that would
    // see Ctrl-C.
    cancel::cancellation_point();
    py::Object item = py::Object::steal(py::iter_next(it));
    if (!item) py::check_error();
    return item;
}

/// The scorer chosen by the `scorer_name` argument (TypeError naming it when it is not a
/// str).
ScorerType scorer_argument(PyObject* name) {
    return ScorerType::from_str(py::arg("scorer_name", [&] { return py::to_str(name); }));
}

}  // namespace tarnwick::process
