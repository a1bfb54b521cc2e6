// extract, extract_one and extract_iter: argument conversion, the engine's choice of
// route, the general route, and the results.
#include "process_extract.hpp"

#include "module.hpp"
#include "process_py.hpp"
#include "py/args.hpp"
#include "py/convert.hpp"
#include "py/module.hpp"

namespace tarnwick::process::extract {
namespace {

/// Raises the saved exception `exc` again.
[[noreturn]] void reraise(const py::Object& exc) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
    throw py::ErrorAlreadySet{};
}

/// Keyword arguments for a scorer object: processor and score_cutoff when given.
py::Object scorer_kwargs(const Request& req) {
    if (!req.processor && !req.cutoff) return {};
    py::Object kw = py::check(PyDict_New());
    if (req.processor && PyDict_SetItemString(kw.get(), "processor", req.processor) < 0)
        py::throw_already_set();
    if (req.cutoff) {
        py::Object c = py::from_f64(*req.cutoff);
        if (PyDict_SetItemString(kw.get(), "score_cutoff", c.get()) < 0) py::throw_already_set();
    }
    return kw;
}

/// The general route: every item from the iteration protocol, scored by the named scorer
/// (the query already processed and converted) or by the caller's scorer object.
std::vector<Cand> general_route(PyObject* q, bool query_missing, const std::optional<types::Seq>& qseq,
                                const py::Object& qerr, const Request& req) {
    py::Object it = py::check(PyObject_GetIter(req.choices));
    const bool known = req.scorer.known();
    std::optional<PreparedQuery> prepared;
    if (known && qseq) prepared.emplace(req.scorer, *qseq);
    const py::Object kwargs = (!known && req.scorer_obj) ? scorer_kwargs(req) : py::Object{};

    // With a limit only the best `limit` are kept while reading; offered in reading order,
    // the heap keeps the earliest among equal scores, as a stable sort would.
    BoundedHeap<Cand> heap(req.limit.value_or(0));
    std::vector<Cand> all;
    for (uint64_t i = 0;; ++i) {
        py::Object item = py::Object::steal(PyIter_Next(it.get()));
        if (!item) {
            py::check_error();
            break;
        }
        double score = 0.0;
        if (known) {
            if (!query_missing && !types::is_missing(item.get())) {
                if (!prepared) reraise(qerr);
                py::Object processed =
                    req.processor ? py::check(PyObject_CallFunctionObjArgs(req.processor, item.get(), nullptr))
                                  : item.copy();
                const types::Seq seq = types::to_seq(processed.get());
                score = prepared->score(seq, req.cutoff);
            }
        } else if (req.scorer_obj) {
            py::Object args = py::check(PyTuple_Pack(2, q, item.get()));
            py::Object r = py::check(PyObject_Call(req.scorer_obj, args.get(), kwargs.get()));
            score = py::to_f64(r.get());
        }
        if (req.cutoff && score < *req.cutoff) continue;
        Cand c{score, i, std::move(item)};
        if (req.limit) heap.offer(std::move(c));
        else all.push_back(std::move(c));
    }
    std::vector<Cand> out = req.limit ? std::move(heap).take() : std::move(all);
    rank(out, req.limit);
    return out;
}

}  // namespace

std::vector<Cand> run(PyObject* query, const Request& req) {
    const bool known = req.scorer.known();
    // The missing-value test of the scorers, on the raw query only (as the fuzz_ functions
    // do it): every choice then scores 0.0 and the processor is not called. What the
    // processor returns is converted like any query, whatever it is.
    const bool query_missing = known && types::is_missing(query);
    py::Object q = (req.processor && !query_missing)
                       ? py::check(PyObject_CallFunctionObjArgs(req.processor, query, nullptr))
                       : py::Object::borrow(query);

    // Converted once (an iterator query is consumed here); a conversion error is raised
    // only when a choice is scored against the query.
    std::optional<types::Seq> qseq;
    py::Object qerr;
    if (known && !query_missing) {
        try {
            qseq = types::to_seq(q.get());
        } catch (const py::ErrorAlreadySet&) {
            if (!PyErr_ExceptionMatches(PyExc_Exception)) throw;  // KeyboardInterrupt and the like
            qerr = py::fetch_error();
        } catch (const py::Error& e) {
            py::raise(e);
            qerr = py::fetch_error();
        }
    }
    if (known && !req.processor && !req.scorer_obj && qseq && qseq->kind() == types::SeqKind::Bytes)
        return fast_route(*qseq, req);
    return general_route(q.get(), query_missing, qseq, qerr, req);
}

namespace {

constexpr py::Signature<7> kExtract{
    "extract",
    {{{"query"}, {"choices"}, {"scorer_name"}, {"scorer_obj"}, {"processor", "None"},
      {"limit", "..."}, {"score_cutoff", "None"}}},
    7,
    "The choices that best match the query under the named scorer, best first, as\n"
    "(choice, score, index) tuples: at most `limit` of them (5 when not given, all for\n"
    "None)."};
// extract_one and extract_iter: the same parameters without limit.
constexpr py::Signature<6> kExtractOne{
    "extract_one",
    {{{"query"}, {"choices"}, {"scorer_name"}, {"scorer_obj"}, {"processor", "None"},
      {"score_cutoff", "None"}}},
    6,
    "The best match as a (choice, score, index) tuple, or None when no choice reaches\n"
    "score_cutoff."};
constexpr py::Signature<6> kExtractIter{
    "extract_iter",
    kExtractOne.params,
    6,
    "Every choice that reaches score_cutoff, best first, as a list of (choice, score,\n"
    "index) tuples."};

/// Converts the arguments shared by the three functions, in parameter order; `limit`
/// converts the limit argument between the processor and the cut-off.
template <class Limit>
Request request(PyObject* choices, PyObject* name, PyObject* obj, PyObject* processor,
                Limit&& limit, PyObject* cutoff) {
    Request r;
    r.scorer = adapter::scorer_argument(name);
    r.choices = choices;
    r.scorer_obj = py::is_absent(obj) ? nullptr : obj;
    r.processor = py::is_absent(processor) ? nullptr : processor;
    r.limit = limit();
    r.cutoff = py::arg("score_cutoff", [&] { return py::to_opt_f64(cutoff); });
    return r;
}

/// The result item (choice, score, index).
py::Object result_tuple(Cand& c) {
    py::Object score = py::from_f64(c.score);
    py::Object index = py::from_u64(c.index);
    py::Object t = py::check(PyTuple_New(3));
    PyTuple_SetItem(t.get(), 0, c.payload.release());
    PyTuple_SetItem(t.get(), 1, score.release());
    PyTuple_SetItem(t.get(), 2, index.release());
    return t;
}

py::Object result_list(std::vector<Cand>& cands) {
    py::Object list = py::check(PyList_New(static_cast<Py_ssize_t>(cands.size())));
    for (std::size_t i = 0; i < cands.size(); ++i)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), result_tuple(cands[i]).release());
    return list;
}

py::Object extract_body(const py::Args<7>& a) {
    // An absent limit gives 5, None no limit.
    const auto limit = [&]() -> std::optional<uint64_t> {
        if (!a[5]) return 5;
        if (a[5] == Py_None) return std::nullopt;
        return py::arg("limit", [&] { return py::to_u64(a[5]); });
    };
    const Request req = request(a[1], a[2], a[3], a[4], limit, a[6]);
    std::vector<Cand> cands = run(a[0], req);
    return result_list(cands);
}

py::Object extract_one_body(const py::Args<6>& a) {
    const Request req = request(
        a[1], a[2], a[3], a[4], [] { return std::optional<uint64_t>(1); }, a[5]);
    std::vector<Cand> cands = run(a[0], req);
    if (cands.empty()) return py::Object::borrow(Py_None);
    return result_tuple(cands.front());
}

py::Object extract_iter_body(const py::Args<6>& a) {
    const Request req = request(
        a[1], a[2], a[3], a[4], [] { return std::optional<uint64_t>(); }, a[5]);
    std::vector<Cand> cands = run(a[0], req);
    return result_list(cands);
}

}  // namespace
}  // namespace tarnwick::process::extract

namespace tarnwick::process {

void register_extract(py::Module& m) {
    m.add_function<extract::kExtract, &extract::extract_body>();
    m.add_function<extract::kExtractOne, &extract::extract_one_body>();
    m.add_function<extract::kExtractIter, &extract::extract_iter_body>();
}

}  // namespace tarnwick::process
