"""What the fuzzer calls: every registered function, method and constructor of the module,
grouped by subsystem, with arguments drawn from the grammar in values.py.

Arguments are chosen by parameter name from each builtin's text signature, so a name added
to the module is called as soon as it is registered (`check_coverage` fails otherwise).
"""
import inspect
import math
import os
import pickle
import sys

import numpy as np

import _tarnwick as m

import values
from values import (any_value, cutoff, index, json_text, number, processor, scorer,
                    string_list, text)

# TARNWICK_FUZZ_SHOW=1 prints each drawn call (for replaying a saved input).
SHOW = bool(os.environ.get("TARNWICK_FUZZ_SHOW"))

SUBSYSTEMS = {
    "scorers": lambda n: n.startswith("fuzz_") or n == "default_process",
    "metrics": lambda n: n.split("_")[0] in {
        "levenshtein", "hamming", "indel", "jaro", "lcs", "osa", "damerau", "prefix",
        "postfix", "soundex", "gotoh"} or n in ("sorensen_dice", "jaccard"),
    "process": lambda n: n in ("extract", "extract_one", "extract_iter", "cdist"),
    "results": lambda n: n in ("Editop", "Editops", "Opcode", "Opcodes", "MatchingBlock",
                               "ScoreAlignment"),
    "bktree": lambda n: n == "BKTree",
    "search": lambda n: n.startswith(("BM25", "save_mmap_", "Mmap")) or n in (
        "HybridSearchIndex", "cosine_similarity_matrix", "normalize_bayes"),
    "join": lambda n: n == "MultiJoiner",
}


def subsystem_of(name):
    for sub, test in SUBSYSTEMS.items():
        if test(name):
            return sub
    return None


def check_coverage():
    """Every registered name belongs to a subsystem the harness calls."""
    return sorted(n for n in m.__all__ if subsystem_of(n) is None)


def bools(d):
    n = d.below(8)
    kind = d.below(6)
    if kind == 0:
        return None
    if kind == 1:
        return np.array([d.chance(128) for _ in range(n)], dtype=d.pick([bool, np.uint8]))
    if kind == 2:
        return [any_value(d, 3) for _ in range(n)]
    return [d.chance(128) for _ in range(n)]


def floats(d, n=None):
    n = d.below(5) if n is None else n
    return [d.pick([0.0, 1.0, -1.0, 0.5, math.nan, math.inf, -0.0, 1e308, 3])
            if d.chance(220) else any_value(d, 3) for _ in range(n)]


def matrix(d, rows=None):
    rows = d.below(5) if rows is None else rows
    dim = d.below(4)
    out = [floats(d, dim if d.chance(220) else d.below(4)) for _ in range(rows)]
    kind = d.below(6)
    if kind == 0:
        return np.array([[d.below(5) - 2.0 for _ in range(dim)] for _ in range(rows)])
    if kind == 1:
        return None
    if kind == 2:
        return any_value(d, 2)
    return out


def sparse(d):
    out = []
    for _ in range(d.below(4)):
        if d.chance(40):
            out.append(None)
        elif d.chance(230):
            out.append({d.pick([0, 1, 7, -1, 2**32, 2**64]): d.pick([1.0, 0.5, math.nan, -2.0])
                        for _ in range(d.below(4))})
        else:
            out.append(any_value(d, 3))
    return out


def _finite(value):
    """The edit-list constructors skip items that are not operations one by one, and the
    index-directory writers read any iterable as documents (an int by its str()), both
    interruptibly (see test_robustness, test_index_dir_hostile): a huge range there only
    takes its time, so a short one stands in for it."""
    return range(50) if isinstance(value, range) and len(value) > 10**6 else value


# Values by parameter name: what a caller would plausibly pass, with hostile variants.
def _by_name(name, d):
    if name in ("s1", "s2", "s", "query", "item", "src_name", "tgt_name", "name"):
        if name in ("query", "name", "src_name", "tgt_name") and d.chance(180):
            return text(d) if d.chance(200) else json_text(d)
        return any_value(d)
    if name == "path":
        return _index_path(d)
    if name in ("choices", "queries", "items", "corpus", "corpus_iter", "texts", "ops",
                "scores"):
        if name == "scores" and d.chance(180):
            return [(text(d), number(d)) for _ in range(d.below(5))]
        if name == "ops" and d.chance(180):
            return [(d.pick(["equal", "replace", "insert", "delete", "bogus"]), index(d),
                     index(d)) + ((index(d), index(d)) if d.chance(128) else ())
                    for _ in range(d.below(5))]
        value = string_list(d) if d.chance(200) else any_value(d)
        return _finite(value) if name in ("ops", "corpus_iter") else value
    if name == "processor":
        return processor(d)
    if name == "score_cutoff":
        return cutoff(d)
    if name == "weights":
        return d.pick([(1, 1, 1), (0, 0, 0), (1, 1, 2), (2**63, 1, 1), (-1, 1, 1), (1, 1),
                       None, "abc", (1.5, 1, 1)])
    if name in ("allowed",):
        return bools(d)
    if name in ("embeddings", "dense", "a", "b") and d.chance(200):
        return matrix(d)
    if name in ("query_embedding",):
        return floats(d) if d.chance(200) else any_value(d)
    if name == "sparse":
        return sparse(d)
    if name in ("prefix_weight", "open_penalty", "extend_penalty", "k1", "b", "delta",
                "fuzzy_weight", "phrase_boost", "text_weight", "sparse_weight", "dense_weight",
                "bm25_k1", "bm25_b", "score"):
        return d.pick([0.0, 0.1, 0.25, 1.0, 1.5, -1.0, math.nan, math.inf, 1e308]) \
            if d.chance(200) else number(d)
    if name in ("algorithm", "bm25_variant", "tag"):
        return d.pick(["bm25", "bm25l", "bm25+", "bm25plus", "bm25t", "BM25", "okapi", "",
                       "equal", "replace", "insert", "delete", None, 1])
    if name in ("pad", "normalize"):
        return d.pick([True, False, 0, 1, None, "yes", np.bool_(False)])
    return index(d)


def call_with_drawn_args(fn, d, skip_first=False, adjust=None):
    """Calls `fn` with arguments drawn for its signature, sometimes with wrong keywords,
    surplus positionals or missing required arguments. `adjust(args, kwargs)`, if given,
    may bound the drawn values before the call."""
    try:
        params = list(inspect.signature(fn).parameters.values())
    except (ValueError, TypeError):
        params = []
    if skip_first and params and params[0].name in ("self", "cls", "$self", "$cls"):
        params = params[1:]
    args, kwargs = [], {}
    for p in params:
        required = p.default is inspect.Parameter.empty
        if not required and not d.chance(100):
            continue
        value = _by_name(p.name, d)
        if p.kind in (p.KEYWORD_ONLY,) or (p.kind == p.POSITIONAL_OR_KEYWORD and not required
                                           and d.chance(128)):
            kwargs[p.name] = value
        elif p.kind in (p.POSITIONAL_ONLY, p.POSITIONAL_OR_KEYWORD):
            if kwargs:
                kwargs[p.name] = value
            else:
                args.append(value)
    twist = d.below(24)
    if twist == 0:
        kwargs[d.pick(["bogus", "s1", "processor", "score_cutoff", "\ud800", "self"])] = 1
    elif twist == 1:
        args.append(any_value(d, 2))
    elif twist == 2 and args:
        args.pop()
    if adjust is not None:
        adjust(args, kwargs)
    if SHOW:
        print("call", getattr(fn, "__qualname__", fn), _short(args), _short(kwargs),
              file=sys.stderr, flush=True)
    return fn(*args, **kwargs)


def _short(v):
    r = repr(v)
    return r if len(r) < 300 else r[:150] + "...(%d chars)..." % len(r) + r[-100:]


# ---- per-subsystem drivers ----

def _function(name):
    def run(d):
        return call_with_drawn_args(getattr(m, name), d)
    return run


GRID_CELLS = 10**6


def _bounded_grid(queries, choices):
    """cdist scores every pair, and reads a text as the sequence of its characters: two
    long texts make a grid of tens of millions of one-character pairs, which only takes
    its time (seconds under the sanitizer). Plain sequences are cut so that the grid stays
    under GRID_CELLS; anything else is left as drawn (its length is the caller's code)."""
    plain = (str, list, tuple)
    if type(queries) in plain and type(choices) in plain and \
            len(queries) * len(choices) > GRID_CELLS:
        return choices[:max(1, GRID_CELLS // max(1, len(queries)))]
    return choices


def _bound_cdist_args(args, kwargs):
    if len(args) >= 2:
        args[1] = _bounded_grid(args[0], args[1])
    elif len(args) == 1 and "choices" in kwargs:
        kwargs["choices"] = _bounded_grid(args[0], kwargs["choices"])
    elif "queries" in kwargs and "choices" in kwargs:
        kwargs["choices"] = _bounded_grid(kwargs["queries"], kwargs["choices"])


def _process(name):
    def run(d):
        fn = getattr(m, name)
        if d.chance(60):
            return call_with_drawn_args(fn, d,
                                        adjust=_bound_cdist_args if name == "cdist" else None)
        query = any_value(d) if d.chance(60) else text(d)
        choices = string_list(d, 40) if d.chance(200) else any_value(d)
        if d.chance(40) and isinstance(choices, list):
            choices = {i: c for i, c in enumerate(choices)}
        if isinstance(choices, range) and len(choices) > 10**6 and name != "cdist":
            # extract reads choices lazily, as max() would: a huge range takes its time.
            choices = range(50)
        if name == "cdist":
            choices = _bounded_grid(query, choices)
        sname, sobj = scorer(d)
        kwargs = {}
        if d.chance(100):
            kwargs["processor"] = processor(d)
        if d.chance(100):
            kwargs["score_cutoff"] = cutoff(d)
        if name == "extract" and d.chance(100):
            kwargs["limit"] = d.pick([None, 0, 1, 3, -1, 2**64, 1.5, "3"])
        if SHOW:
            print("call", name, _short((query, choices, sname, sobj)), _short(kwargs),
                  file=sys.stderr, flush=True)
        return fn(query, choices, sname, sobj, **kwargs)
    return run


def _pickle_round(d, obj):
    """Reduces `obj`, tampers with the state and rebuilds it."""
    red = obj.__reduce__()
    if not isinstance(red, tuple):
        return red
    ctor, args = red[0], list(red[1]) if len(red) > 1 and isinstance(red[1], tuple) else []
    state = red[2] if len(red) > 2 else None
    if args and d.chance(160):
        i = d.below(len(args))
        args[i] = any_value(d, 2) if d.chance(128) else _by_name("ops", d)
        args[i] = _finite(args[i])
    rebuilt = ctor(*args)
    if state is not None or d.chance(60):
        if d.chance(160):
            state = any_value(d, 1) if d.chance(128) else string_list(d)
        setstate = getattr(rebuilt, "__setstate__", None)
        if setstate is not None:
            setstate(state)
    if d.chance(60):
        pickle.loads(pickle.dumps(rebuilt))
    return rebuilt


def _method_calls(d, obj, rounds=4):
    names = [a for a in dir(obj) if not a.startswith("__")]
    names += ["__getitem__", "__setitem__", "__delitem__", "__len__", "__iter__", "__eq__",
              "__hash__", "__repr__", "__reduce__", "pickle"]
    for _ in range(rounds):
        attr = d.pick(names)
        try:
            if attr == "pickle":
                obj = _pickle_round(d, obj)
                continue
            if attr in ("__getitem__", "__delitem__", "__setitem__"):
                key = index(d) if d.chance(160) else slice(index(d), index(d),
                                                           d.pick([None, 1, -1, 2, 0]))
                if attr == "__getitem__":
                    obj[key]
                elif attr == "__delitem__":
                    del obj[key]
                else:
                    obj[key] = any_value(d, 1) if d.chance(100) else _sample_result(d, obj)
                continue
            if attr == "__len__":
                len(obj)
                continue
            if attr == "__iter__":
                list(obj)
                continue
            if attr == "__eq__":
                obj == (any_value(d, 1) if d.chance(128) else _sample_result(d, obj))
                continue
            if attr == "__hash__":
                hash(obj)
                continue
            if attr == "__repr__":
                repr(obj)
                continue
            member = getattr(obj, attr)
            if callable(member):
                call_with_drawn_args(member, d)
            elif d.chance(60):
                setattr(obj, attr, any_value(d, 2))
        except Exception as e:  # noqa: BLE001 - checked by the caller's rules too
            check_exception(e)
    return obj


def _sample_result(d, like):
    if isinstance(like, (m.Editops, m.Editop)):
        return m.levenshtein_editops(text(d), text(d))[0:1] if d.chance(128) else \
            m.Editop(d.pick(["insert", "delete", "replace"]), d.below(4), d.below(4))
    return m.Opcode("equal", 0, 0, 0, 0)


def _results(name):
    def run(d):
        cls = getattr(m, name)
        kind = d.below(4)
        if kind == 0:
            obj = call_with_drawn_args(cls, d)
        elif name in ("Editops", "Opcodes") and kind != 3:
            a, b = text(d), text(d)
            base = m.levenshtein_editops if d.chance(128) else m.indel_opcodes
            obj = cls(base(a[:200], b[:200]), len(a[:200]), len(b[:200]))
        else:
            obj = call_with_drawn_args(cls, d)
        return _method_calls(d, obj)
    return run


def _bktree(d):
    t = m.BKTree()
    for w in string_list(d):
        try:
            t.insert(w)
        except Exception as e:  # noqa: BLE001
            check_exception(e)
    return _method_calls(d, t, rounds=5)


def _bm25(name):
    def run(d):
        cls = getattr(m, name)
        if d.chance(40):
            obj = call_with_drawn_args(cls, d)
        else:
            corpus = [text(d) if d.chance(230) else json_text(d) for _ in range(d.below(12))]
            kwargs = {}
            if d.chance(80):
                kwargs["normalize"] = d.chance(128)
            if d.chance(60):
                kwargs[d.pick(["k1", "b", "delta"])] = _by_name("k1", d)
            if name == "HybridSearchIndex":
                kwargs = {}
                if d.chance(160):
                    kwargs["embeddings"] = matrix(d, len(corpus))
                if d.chance(80):
                    kwargs["algorithm"] = _by_name("algorithm", d)
                if d.chance(60):
                    kwargs["delta"] = _by_name("delta", d)
            obj = cls(corpus, **kwargs)
        return _method_calls(d, obj, rounds=5)
    return run


_TMP = None


def _index_path(d):
    """Where an index directory is written: always inside one temporary directory."""
    global _TMP
    if _TMP is None:
        import atexit
        import shutil
        import tempfile

        # In memory where there is such a file system: the writers sync their files.
        _TMP = tempfile.mkdtemp(prefix="tarnwick-fuzz-",
                                dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
        atexit.register(shutil.rmtree, _TMP, True)
        with open(os.path.join(_TMP, "a-file"), "w") as f:
            f.write("not a directory")
    name = d.pick(["idx%d" % d.below(4), "a-file", "a-file/sub", "missing/deeper/idx",
                   "\udc80", "", "idx\0"])
    if d.chance(230):
        return os.path.join(_TMP, name)
    odd = any_value(d, 2)
    # A text is a path relative to the working directory: kept inside the temporary one.
    return os.path.join(_TMP, odd) if isinstance(odd, (str, bytes)) and odd else odd


def _save_mmap(name):
    def run(d):
        fn = getattr(m, name)
        if d.chance(40):
            return call_with_drawn_args(fn, d)
        corpus = [text(d) if d.chance(230) else any_value(d, 3) for _ in range(d.below(8))]
        args = [_index_path(d), corpus if d.chance(200) else iter(corpus),
                _by_name("k1", d) if d.chance(40) else 1.5,
                _by_name("b", d) if d.chance(40) else 0.75,
                d.pick([False, True, None, 1])]
        kwargs = {}
        if d.chance(100):
            kwargs["algorithm"] = _by_name("algorithm", d)
        if d.chance(60):
            kwargs["delta"] = _by_name("delta", d)
        if d.chance(100):
            kwargs["include_positions"] = d.pick([True, False, None, "x"])
        if name == "save_mmap_hybrid" and d.chance(160):
            kwargs["embeddings"] = matrix(d, len(corpus))
        if SHOW:
            print("call", name, _short(args), _short(kwargs), file=sys.stderr, flush=True)
        return fn(*args, **kwargs)
    return run


def _mmap_class(name):
    """Writes a small index, mutates its files (a byte changed, a file cut short, removed or
    replaced by a FIFO or a device), loads it and calls the methods; then, sometimes,
    rewrites a mapped file in place (same length) and calls the methods again."""
    def run(d):
        cls = getattr(m, name)
        path = os.path.join(_index_path(d) if False else _tmp_dir(), "load%d" % d.below(4))
        corpus = [text(d) for _ in range(1 + d.below(6))]
        if os.path.lexists(path):
            # What an earlier input left there (a FIFO would block the mutations below).
            import shutil
            shutil.rmtree(path)
        if name == "MmapHybridSearchIndex":
            m.save_mmap_hybrid(path, corpus, 1.5, 0.75, d.chance(128),
                               embeddings=[[1.0, 0.5]] * len(corpus) if d.chance(128) else None)
        else:
            m.save_mmap_bm25(path, corpus, 1.5, 0.75, d.chance(128))
        files = sorted(os.listdir(path))
        for _ in range(d.below(3)):
            f = os.path.join(path, d.pick(files))
            size = os.path.getsize(f)
            kind = d.below(4)
            if kind == 0 and size:
                with open(f, "r+b") as fh:
                    fh.seek(d.below(size))
                    fh.write(bytes([d.byte()]))
            elif kind == 1:
                os.truncate(f, d.below(size + 1))
            elif kind == 2:
                os.remove(f)
                files.remove(os.path.basename(f))
                if not files:
                    break
            else:
                with open(f, "ab") as fh:
                    fh.write(d.raw(d.below(16)))
        if files and d.chance(24):
            _not_regular(d, os.path.join(path, d.pick(files)))
        obj = cls.load(path) if hasattr(cls, "load") else cls(path)
        if hasattr(obj, "set_metadata_json") and d.chance(128):
            try:
                obj.set_metadata_json([json_text(d) for _ in range(d.below(8))])
            except Exception as e:  # noqa: BLE001
                check_exception(e)
        obj = _method_calls(d, obj, rounds=5)
        binary = [f for f in ("postings.bin", "positions.bin", "embeddings.bin")
                  if os.path.isfile(os.path.join(path, f))]
        if binary and d.chance(100):
            # Every term's records are read (and checked) before the rewrite, and again
            # after it.
            every_term = " ".join(corpus)
            query = obj.get_top_n_phrase if hasattr(obj, "get_top_n_phrase") else obj.search
            for rewrite in (False, True):
                if rewrite:
                    _rewrite_in_place(d, os.path.join(path, d.pick(binary)))
                try:
                    query(every_term)
                except Exception as e:  # noqa: BLE001
                    check_exception(e)
            obj = _method_calls(d, obj, rounds=5)
        return obj
    return run


def _not_regular(d, f):
    """Replaces the file `f` by a FIFO, a symbolic link to a device or a directory."""
    os.remove(f)
    kind = d.below(3)
    if kind == 0:
        os.mkfifo(f)
    elif kind == 1:
        os.symlink("/dev/zero" if d.chance(128) else "/dev/null", f)
    else:
        os.mkdir(f)


def _rewrite_in_place(d, f):
    """Writes into the file `f` without changing its length (its mapping stays valid):
    all of it 0xFF bytes, or a few bytes, or a few 32-bit values."""
    size = os.path.getsize(f)
    if not size:
        return
    with open(f, "r+b") as fh:
        kind = d.below(3)
        if kind == 0:
            fh.write(b"\xff" * size)
            return
        for _ in range(1 + d.below(4)):
            at = d.below(size)
            fh.seek(at)
            if kind == 1:
                fh.write(d.raw(min(size - at, 1 + d.below(8))))
            else:
                fh.write(d.pick([0, 1, 2**31, 2**32 - 1, 2**32 - 2]).to_bytes(4, "little")[:size - at])


def _tmp_dir():
    if _TMP is None:
        _index_path(Draw_zero())
    return _TMP


class Draw_zero:
    def pick(self, options):
        return options[0]

    def below(self, n):
        return 0

    def chance(self, x):
        return True


def _joiner(d):
    j = call_with_drawn_args(m.MultiJoiner, d) if d.chance(60) else m.MultiJoiner()
    for _ in range(d.below(4)):
        try:
            if d.chance(60):
                call_with_drawn_args(j.add_array, d)
                continue
            rows = 1 + d.below(4)
            kwargs = {}
            if d.chance(180):
                kwargs["texts"] = [text(d) if d.chance(220) else None for _ in range(rows)]
            if d.chance(100):
                kwargs["sparse"] = sparse(d)
            if d.chance(100):
                kwargs["dense"] = matrix(d, rows)
            name = d.pick(["a", "b", "c", "", "a\ud800"])
            if SHOW:
                print("call add_array", _short(name), _short(kwargs), file=sys.stderr)
            j.add_array(name, **kwargs)
        except Exception as e:  # noqa: BLE001
            check_exception(e)
    return _method_calls(d, j, rounds=4)


def drivers():
    """{subsystem: [(name, driver)]} for every registered name."""
    out = {sub: [] for sub in SUBSYSTEMS}
    for name in m.__all__:
        sub = subsystem_of(name)
        if sub in ("scorers", "metrics"):
            out[sub].append((name, _function(name)))
        elif sub == "process":
            out[sub].append((name, _process(name)))
        elif sub == "results":
            out[sub].append((name, _results(name)))
        elif sub == "bktree":
            out[sub].append((name, _bktree))
        elif sub == "search":
            obj = getattr(m, name)
            if name.startswith("Mmap"):
                out[sub].append((name, _mmap_class(name)))
            elif isinstance(obj, type):
                out[sub].append((name, _bm25(name)))
            elif name.startswith("save_mmap_"):
                out[sub].append((name, _save_mmap(name)))
            else:
                out[sub].append((name, _function(name)))
        elif sub == "join":
            out[sub].append((name, _joiner))
    # Every entry point again (but the edit-list classes, whose lengths the sanitizer's
    # allocator cannot fail) with hostile methods that raise Stop and lengths that claim
    # more than memory holds.
    out["stops"] = [(name, _stopping(driver)) for sub in SUBSYSTEMS if sub != "results"
                    for name, driver in out[sub]]
    return out


def _stopping(driver):
    def run(d):
        values.STOPS["on"] = True
        try:
            driver(d)
        finally:
            values.STOPS["on"] = False
    return run


class FuzzFailure(AssertionError):
    """An outcome the module must never produce."""


def check_exception(e):
    if isinstance(e, SystemError):
        raise FuzzFailure("SystemError: %s" % e) from e
    if isinstance(e, FuzzFailure):
        raise e
    if not str(e) and not isinstance(e, (StopIteration, KeyboardInterrupt)):
        raise FuzzFailure("%s with an empty message" % type(e).__name__) from e
