"""cdist, extract, extract_one and extract_iter against the single-pair scorers.

Every batch score must be the score that the scorer's fuzz_ function gives for the same
query, choice and processor; the tests rebuild each batch result from those calls.
"""
import math
import os
import pickle
import random
import subprocess
import sys
import threading

import pytest

import _tarnwick
from _tarnwick import cdist, extract, extract_iter, extract_one

NAMES = ["ratio", "qratio", "wratio", "partial_ratio", "token_sort_ratio",
         "partial_token_sort_ratio", "token_set_ratio", "partial_token_set_ratio",
         "token_ratio", "partial_token_ratio"]
FUZZ = {n: getattr(_tarnwick, "fuzz_" + n) for n in NAMES}
WORDS = ["new", "york", "yorks", "mets", "new", "ny", "nwe", "yrok", "abc", "abd", "caf\u00e9",
         "stra\u00dfe", "a", "b"]


def random_text(rng):
    kind = rng.random()
    if kind < 0.6:
        return " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 4)))
    if kind < 0.8:
        return "".join(rng.choice("abcde ") for _ in range(rng.randint(0, 12)))
    return "".join(rng.choice("abcdefghij") for _ in range(rng.randint(60, 140)))


def random_item(rng):
    """Mostly text, some bytes, and the other inputs a scorer may meet."""
    r = rng.random()
    if r < 0.75:
        return random_text(rng)
    if r < 0.85:
        return random_text(rng).encode("utf-8")
    return rng.choice([None, "<NA>", float("nan"), "", list("abc"), ("a", "b", "d"), 17,
                       ["ab", "c"], "\u00e9t\u00e9 caf\u00e9"])


def single(name, q, c, processor=None, cutoff=None):
    """The fuzz_ score, or 0.0 where the pair cannot be scored (cdist's rule)."""
    try:
        return FUZZ[name](q, c, processor=processor, score_cutoff=cutoff)
    except Exception:
        return 0.0


def expected_matrix(name, queries, choices, processor=None, cutoff=None):
    if cutoff is not None and math.isnan(cutoff):
        return [0.0] * (len(queries) * len(choices))
    return [single(name, q, c, processor, cutoff) for q in queries for c in choices]


# ---------------------------------------------------------------- cdist

class TestCdistAgainstSingleScorers:
    @pytest.mark.parametrize("name", NAMES)
    def test_random_items_sequential_and_pool(self, rng, name):
        for nq, nc in ((6, 9), (40, 30)):  # 54 cells on the calling thread, 1200 on the pool
            queries = [random_item(rng) for _ in range(nq)]
            choices = [random_item(rng) for _ in range(nc)]
            for cutoff in (None, 0, 50.0, 80, 100):
                scores, n, m = cdist(queries, choices, name, None, score_cutoff=cutoff)
                assert (n, m) == (nq, nc)
                assert scores == expected_matrix(name, queries, choices, cutoff=cutoff)

    @pytest.mark.parametrize("name", NAMES)
    def test_processor_and_fuzz_prefix(self, rng, name):
        queries = [random_text(rng).upper() for _ in range(25)]
        choices = [random_text(rng) for _ in range(45)]
        proc = str.lower
        scores, _, _ = cdist(queries, choices, "fuzz_" + name, None, processor=proc,
                             score_cutoff=60)
        assert scores == expected_matrix(name, queries, choices, proc, 60)

    def test_scorer_object_changes_nothing(self):
        q, c = ["new york", "abc"], ["york new", "abd"]
        plain = cdist(q, c, "token_sort_ratio", None)
        assert cdist(q, c, "token_sort_ratio", _tarnwick.fuzz_ratio) == plain
        assert plain[0][0] == 100.0

    @pytest.mark.parametrize("name", NAMES)
    def test_malformed_utf8_bytes_score_as_their_decoding(self, rng, name):
        """Byte strings with invalid UTF-8 are read as text by the token scorers; every
        route gives the fuzz_ value."""
        pieces = [b"ab", b" ", b"\xe2\x82", b"\xef\xbf\xbd", b"\xff", b"x y", b"\xc3\xa9"]
        items = [b"".join(rng.choice(pieces) for _ in range(rng.randint(0, 6)))
                 for _ in range(40)]
        items += [b"\xe2\x82\xe2\x82", b"\xef\xbf\xbd\xef\xbf\xbd", b"\xe2\x82 x", b"\xef\xbf\xbd y"]
        for cutoff in (None, 50):
            scores, _, _ = cdist(items, items, name, None, score_cutoff=cutoff)
            assert scores == expected_matrix(name, items, items, cutoff=cutoff)
            for q in items[-4:]:
                got = extract(q, items, name, None, None, None, cutoff)
                want = sorted(((c, single(name, q, c, cutoff=cutoff), i)
                               for i, c in enumerate(items)),
                              key=lambda t: -t[1])
                assert sorted(got, key=lambda t: t[2]) == sorted(
                    [t for t in want if cutoff is None or t[1] >= cutoff], key=lambda t: t[2])

    @pytest.mark.parametrize("shape", [(27, 37), (40, 25), (1, 999), (1, 1000)])
    def test_threshold_999_and_1000_cells_agree(self, shape):
        rng = random.Random(shape[0] * 1000 + shape[1])
        queries = [random_item(rng) for _ in range(shape[0])]
        choices = [random_item(rng) for _ in range(shape[1])]
        for name in ("ratio", "wratio", "partial_ratio"):
            scores, _, _ = cdist(queries, choices, name, None)
            assert scores == expected_matrix(name, queries, choices)


    @pytest.mark.parametrize("shape", [(300, 500), (20, 10_000)])
    def test_matrices_scored_in_several_blocks(self, rng, shape):
        queries = [random_item(rng) for _ in range(shape[0])]
        choices = [random_item(rng) for _ in range(shape[1])]
        scores, n, m = cdist(queries, choices, "ratio", None, score_cutoff=50)
        assert (n, m) == shape
        assert scores == expected_matrix("ratio", queries, choices, cutoff=50)


class TestCdistInputs:
    def test_empty_sides(self):
        assert cdist([], ["a"], "ratio", None) == ([], 0, 1)
        assert cdist(["a"], [], "ratio", None) == ([], 1, 0)

    def test_iterables_of_every_kind(self):
        want = cdist(["ab", "ba"], ["ab", "b"], "ratio", None)
        assert cdist(("ab", "ba"), iter(["ab", "b"]), "ratio", None) == want
        assert cdist({"ab": 1, "ba": 2}, (x for x in ["ab", "b"]), "ratio", None) == want
        # A str is read as its characters.
        assert cdist("ab", ["a"], "ratio", None) == ([100.0, 0.0], 2, 1)

    def test_non_ascii_text_and_sequences_are_scored(self):
        scores, _, _ = cdist(["caf\u00e9", "xyz"], ["caf\u00e9", b"xyz", list("xyz")], "ratio", None)
        assert scores == [100.0, 0.0, 0.0, 0.0, 100.0, 100.0]

    def test_missing_items_score_zero(self):
        items = [None, float("nan"), "<NA>"]
        scores, _, _ = cdist(items + ["x"], items + ["x"], "ratio", None)
        assert scores == [0.0] * 15 + [100.0]

    def test_unknown_names_give_zeros(self):
        for name in ("WRatio", "Ratio", "fuzz_", "", "fuzz_fuzz_ratio"):
            assert cdist(["a", "b"], ["a"], name, None) == ([0.0, 0.0], 2, 1)

    def test_cutoff_equal_to_the_score_is_kept(self):
        assert cdist(["abcde"], ["abcdf"], "ratio", None, score_cutoff=80)[0] == [80.0]
        assert cdist(["abcde"], ["abcdf"], "ratio", None, score_cutoff=79.9)[0] == [80.0]
        assert cdist(["abcde"], ["abcdf"], "ratio", None, score_cutoff=80.001)[0] == [0.0]

    def test_empty_strings_follow_the_scorers(self):
        for name in NAMES:
            assert cdist([""], [""], name, None)[0] == [FUZZ[name]("", "")]
        assert cdist([""], [""], "ratio", None, score_cutoff=101)[0] == [0.0]

    def test_nan_cutoff_zeroes_every_cell(self):
        assert cdist(["abc"], ["abc"], "ratio", None, score_cutoff=float("nan"))[0] == [0.0]

    def test_processor_errors_are_absorbed(self):
        def proc(s):
            if s == "bad":
                raise ValueError("no")
            return s
        scores, _, _ = cdist(["abc", "bad"], ["abc", "bad"], "ratio", None, processor=proc)
        assert scores == [100.0, 0.0, 0.0, 0.0]
        assert cdist(["a"], ["a"], "ratio", None, processor=5)[0] == [0.0]
        fail = lambda s: 1 / 0
        assert cdist(["a"], [], "ratio", None, processor=fail) == ([], 1, 0)
        assert cdist(["a"], ["a"], "WRatio", None, processor=fail) == ([0.0], 1, 1)

    @pytest.mark.parametrize("exc", [KeyboardInterrupt, SystemExit])
    @pytest.mark.parametrize("queries, choices, name, cutoff", [
        (["a"], ["a"], "ratio", None),
        (["a"], ["a"], "WRatio", None),             # unknown name: scores nothing
        (["a"], ["a"], "ratio", float("nan")),      # NaN cut-off: scores nothing
        (["a"], [], "ratio", None),                 # no cells
        ([], ["a"], "ratio", None),
    ])
    def test_interrupt_from_processor_propagates(self, exc, queries, choices, name, cutoff):
        def proc(s):
            raise exc
        with pytest.raises(exc):
            cdist(queries, choices, name, None, processor=proc, score_cutoff=cutoff)

    def test_argument_errors(self):
        with pytest.raises(TypeError, match="argument 'scorer_name'"):
            cdist(["a"], ["a"], 3, None)
        with pytest.raises(TypeError, match="argument 'score_cutoff'"):
            cdist(["a"], ["a"], "ratio", None, score_cutoff="x")
        with pytest.raises(TypeError):
            cdist(5, ["a"], "ratio", None)
        with pytest.raises(TypeError):
            cdist(["a"], ["a"], "ratio")

    def test_iteration_error_propagates_before_any_processing(self):
        calls = []

        def gen():
            yield "a"
            raise RuntimeError("broken")
        with pytest.raises(RuntimeError, match="broken"):
            cdist(["a"], gen(), "ratio", None, processor=lambda s: calls.append(s) or s)
        assert calls == []


class TestCdistItemReading:
    """Lists and tuples are read directly and exact str items are viewed without the
    general conversion; every kind of item must score as the iterator route and the
    single scorers do."""

    class Text(str):
        pass

    def items(self):
        return ["abc", "abcd", "<NA>", "<NB>", "x" * 16, "x" * 17 + "y", "caf\u00e9",
                "\u00e9t\u00e9 " * 6, "\u03b1\u03b2\u03b3\u03b4", "\ud800ab", "",
                self.Text("abcd"), self.Text("<NA>"), b"abcd", b"<NA>", None, float("nan"),
                list("abc"), 17, "abc\x00d"]

    @pytest.mark.parametrize("name", ["ratio", "token_sort_ratio", "partial_ratio"])
    def test_lists_tuples_and_iterators_agree_with_the_scorers(self, name):
        items = self.items()
        want = expected_matrix(name, items, items)
        for queries, choices in ((items, items), (tuple(items), tuple(items)),
                                 (iter(items), (x for x in items))):
            assert cdist(queries, choices, name, None) == (want, len(items), len(items))
        # On the pool: the items repeated past its threshold.
        many = items * 60
        scores, n, m = cdist(items, tuple(many), name, None, score_cutoff=30)
        assert (n, m) == (len(items), len(many))
        assert scores == expected_matrix(name, items, many, cutoff=30)

    def test_references_are_given_back(self):
        import sys
        items = [("w%d" % i) * (1 + i % 9) for i in range(3000)] + ["caf\u00e9", b"ab", None]
        before = [sys.getrefcount(x) for x in items]
        for processor in (None, str.upper):
            cdist(items, items[:700], "ratio", None, processor=processor)
            cdist(tuple(items[:5]), items, "ratio", None)
        assert [sys.getrefcount(x) for x in items] == before

    def test_choices_are_read_before_any_processing(self):
        choices = ["abc", "abd", "xyz"]

        def proc(s):
            choices.clear()  # too late: every choice was read
            return s
        scores, n, m = cdist(["abc"], choices, "ratio", None, processor=proc)
        assert (n, m) == (1, 3)
        assert scores == [100.0, single("ratio", "abc", "abd"), 0.0]


    def test_items_are_read_before_any_conversion(self):
        # Converting a sequence runs its __iter__, which here empties both lists: every
        # item of both was already read, text and bytes viewed as they were read.
        class Emptying:
            def __iter__(self):
                queries.clear()
                choices.clear()
                return iter("abc")
        queries = ["abd", Emptying(), "\ud800ab", b"ab"]
        choices = ["abc", Emptying(), "ab\u00e9", "<NA>", b"abd", "xyz"]
        read = list(queries), list(choices)
        assert cdist(queries, choices, "ratio", None) == (expected_matrix("ratio", *read), 4, 6)

    def test_list_shrunk_by_finalizers_while_it_is_read(self):
        # The text that cannot be encoded makes an error as it is read; that allocation
        # collects the pending cycles, whose finalizers replace the list's items (freeing
        # the texts read ahead of it) by fewer: the reading goes on with the list as it
        # stands, never with items fetched before.
        import gc

        class Shrinking:
            def __init__(self):
                self.cycle = self

            def __del__(self):
                if len(choices) > 40:
                    choices[:] = ["new%d" % i for i in range(40)]

        old_threshold, was_enabled = gc.get_threshold(), gc.isenabled()
        gc.disable()
        try:
            gc.collect()
            choices = ["".join(("x\ud800", str(i))) if i == 0 else "".join(("abc", str(i)))
                       for i in range(600)]
            first = choices[0]
            for _ in range(3):
                Shrinking()
            queries = ["abc1", "new3"]
            gc.set_threshold(1, 1, 1)
            gc.enable()
            got = cdist(queries, choices, "ratio", None)
        finally:
            gc.set_threshold(*old_threshold)
            if not was_enabled:
                gc.disable()
        # The first k items read from the list as it was, the rest from the list as it
        # stands after the change (which allocation sets the collection off differs between
        # interpreter versions); the old items are rebuilt by value, since holding them
        # would keep the texts read ahead alive.
        old = [first] + ["abc%d" % i for i in range(1, 600)]
        reads = [old[:k] + choices[k:] for k in range(1, len(old) + 1)]
        assert any(got == (expected_matrix("ratio", queries, r), 2, len(r))
                   for r in reads if len(r) == got[2])
        assert len(choices) == 40


class TestCdistLongRows:
    """Rows over tens of thousands of choices in a matrix of one to three rows: a row is
    then scored and coded in parts by several workers, and every cell must still be the
    single scorer's, on the pool of this process, a pool of three workers and one
    worker."""

    @staticmethod
    def pool_items():
        """Distinct choices: text, bytes, text beyond ASCII (Latin, Cyrillic, Greek, CJK)
        and missing values."""
        rng = random.Random(77)
        items = [random_item(rng) for _ in range(300)]
        items += ["".join(rng.choice("\u00e9\u00fc\u00df\u0436\u0449\u03b1\u03b2\u4e2d\u6587ab ")
                          for _ in range(rng.randint(1, 12))) for _ in range(80)]
        return items + [None, float("nan"), "<NA>", "", b"", "new york", "york new"]

    @staticmethod
    def long_texts():
        """Texts of 16 letters, of one to 3000 characters: a query of 40 gives them
        thousands of distinct scores, too many to code."""
        rng = random.Random(78)
        letters = bytes(ord("a") + b % 16 for b in range(256))
        return [rng.randbytes(rng.randint(1, 3000)).translate(letters).decode()
                for _ in range(30_000)]

    @classmethod
    def cases(cls):
        """(queries, choices, scorer name, cut-off) of each matrix; the choices are
        drawn from pool_items() (repeated: ties), or for "mixed" the long texts followed
        by such a draw."""
        rng = random.Random(79)
        pool = cls.pool_items()
        drawn = [rng.randrange(len(pool)) for _ in range(70_000)]
        choices = [pool[k] for k in drawn]
        mixed = cls.long_texts() + choices[:40_000]
        out = [
            (["abcde"], choices, "ratio", None),                     # the lane kernel
            (["new york"], choices, "qratio", 50),
            # four at a time (30 bytes), a missing row, a wide query
            (["abcdefghij" * 3, None, "caf\u00e9 stra\u00dfe"], choices, "ratio", None),
            (["ny mets", "\u0436\u0443\u043a new", "<NA>"], choices, "wratio", 60),
            # four at a time again: parts with too many scores to code, then coded parts
            (["abcdefghijklmnopqrstuvwxyzabcdefghijklmn"], mixed, "ratio", None),
        ]
        for k, name in enumerate(NAMES[3:]):
            out.append((["york mets"], choices, name, None if k % 2 else 40))
        return out

    SCRIPT = (
        "import pickle, sys\n"
        "sys.path.insert(0, sys.argv[1])\n"
        "import test_process as t\n"
        "out = [t.cdist(q, c, name, None, score_cutoff=cut)[0]\n"
        "       for q, c, name, cut in t.TestCdistLongRows.cases()]\n"
        "sys.stdout.buffer.write(pickle.dumps(out))\n")

    @classmethod
    def expected(cls, queries, choices, name, cutoff):
        # Each distinct pair once: equal objects score alike.
        memo = {}

        def cell(q, c):
            key = (id(q), id(c))
            if key not in memo:
                memo[key] = single(name, q, c, cutoff=cutoff)
            return memo[key]
        return [cell(q, c) for q in queries for c in choices]

    def test_every_cell_is_the_single_scorer(self):
        cases = self.cases()
        got = [cdist(q, c, name, None, score_cutoff=cut) for q, c, name, cut in cases]
        want = [self.expected(*case) for case in cases]
        for (q, c, name, cut), (scores, n, m), w in zip(cases, got, want):
            assert (n, m) == (len(q), len(c))
            assert scores == w, (q, name, cut)
        # The mixed row's first long texts have too many distinct scores to be coded.
        assert len(set(want[4][:17_000])) > 2048
        env = {k: v for k, v in os.environ.items() if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
        env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
        for workers in ("1", "3"):
            env["RAYON_NUM_THREADS"] = workers
            out = subprocess.run([sys.executable, "-c", self.SCRIPT, os.path.dirname(__file__)],
                                 env=env, capture_output=True, timeout=600)
            assert out.returncode == 0, out.stderr.decode()
            assert pickle.loads(out.stdout) == want, workers

    def test_each_float_holds_one_reference_per_cell(self):
        """The calling thread takes a part's references at once, one float per distinct
        score: every float of the list must hold exactly as many as the cells showing it."""
        for q, c, name, cut in self.cases()[:5]:
            scores = cdist(q, c, name, None, score_cutoff=cut)[0]
            seen = {}
            for f in scores:
                seen.setdefault(id(f), [f, 0])[1] += 1
            del f
            for entry in seen.values():
                # The list of the entry, the argument: two more than the cells (counted
                # outside the assertion, whose rewriting holds its operands).
                held = sys.getrefcount(entry[0])
                assert held == entry[1] + 2


# ---------------------------------------------------------------- extraction


def reference(name, query, choices, processor=None, cutoff=None, fast=False):
    """Every kept choice as (choice, score, index), rebuilt from the fuzz_ scorer, best
    first and in reading order among equal scores. On the fast route a dict gives its
    values, and missing or unconvertible choices are skipped."""
    items = list(choices.values()) if fast and isinstance(choices, dict) else list(choices)
    out = []
    for i, item in enumerate(items):
        if fast:
            if item is None or (isinstance(item, str) and item == "<NA>") or (
                    isinstance(item, float) and math.isnan(item)):
                continue
            try:
                _tarnwick.fuzz_ratio(item, "")
            except Exception:
                continue  # not a sequence
        score = FUZZ[name](query, item, processor=processor)
        if cutoff is None or score >= cutoff:
            out.append((item, score, i))
    out.sort(key=lambda t: -t[1])
    return out


def check(got, full, limit, stable=False):
    """`got` is the top `limit` of `full`: the same scores in the same order, each entry
    the choice read at its index with its exact score. Equal scores may come in any order
    (and differ at the limit's boundary) unless `stable`."""
    want = full if limit is None else full[:limit]
    if stable:
        assert got == want
        return
    assert [s for _, s, _ in got] == [s for _, s, _ in want]
    by_index = {i: (c, s) for c, s, i in full}
    assert len({i for _, _, i in got}) == len(got)
    for c, s, i in got:
        assert by_index[i][0] is c and by_index[i][1] == s


class TestExtractAgainstSingleScorers:
    @pytest.mark.parametrize("name", NAMES)
    @pytest.mark.parametrize("size", [5, 31, 32, 200])
    def test_fast_route_lists(self, rng, name, size):
        query = random_text(rng).encode("ascii", "ignore").decode()
        choices = [random_item(rng) for _ in range(size)]
        for limit in (0, 1, 5, None):
            for cutoff in (None, 40, 90):
                got = extract(query, choices, name, None, limit=limit, score_cutoff=cutoff)
                check(got, reference(name, query, choices, cutoff=cutoff, fast=True), limit)

    @pytest.mark.parametrize("name", NAMES)
    def test_general_route_with_processor(self, rng, name):
        query = random_text(rng)
        choices = [random_text(rng) for _ in range(50)] + [None]
        for limit in (1, 5, None):
            got = extract(query, choices, name, None, processor=str.upper, limit=limit,
                          score_cutoff=30)
            check(got, reference(name, query, choices, str.upper, 30), limit, stable=True)

    @pytest.mark.parametrize("name", ["ratio", "wratio", "token_set_ratio"])
    def test_non_ascii_query_takes_the_general_route(self, rng, name):
        query = "caf\u00e9 " + random_text(rng)
        choices = [random_text(rng) for _ in range(40)]
        check(extract_iter(query, choices, name, None), reference(name, query, choices), None,
              stable=True)

    @pytest.mark.parametrize("size", [256, 257, 300])
    def test_tuples_with_small_limits(self, rng, size):
        choices = tuple(random_text(rng) for _ in range(size))
        for limit in (1, 2, 3, 10):
            got = extract("new york mets", choices, "wratio", None, limit=limit)
            check(got, reference("wratio", "new york mets", choices, fast=True), limit)

    def test_dicts_and_generators(self, rng):
        values = [random_text(rng) for _ in range(40)]
        d = {f"k{i}": v for i, v in enumerate(values)}
        full = reference("ratio", "new york", values)
        for limit in (0, 1, 5, None):
            check(extract("new york", d, "ratio", None, limit=limit), full, limit)
            check(extract("new york", iter(values), "ratio", None, limit=limit), full, limit)
            check(extract("new york", d, "ratio", None, processor=str, limit=limit),
                  reference("ratio", "new york", d, str), limit, stable=True)

    def test_long_list_read_in_blocks(self, rng):
        # Long lists are read and scored block by block; candidates on both sides of a
        # block boundary, and items that are not byte strings, must all be found.
        choices = ["".join(rng.choice("abcdef") for _ in range(rng.randint(2, 9)))
                   for _ in range(140_000)]
        for i in (0, 65_535, 65_536, 131_071, 131_072, 139_999):
            choices[i] = "fedcba"
        choices[70_000] = list("fedcba")
        choices[70_001] = None
        choices[70_002] = "f\u00e9dcba"
        for limit in (1, 8, None):
            got = extract("fedcba", choices, "ratio", None, limit=limit, score_cutoff=80)
            check(got, reference("ratio", "fedcba", choices, cutoff=80, fast=True), limit)

    def test_long_list_with_a_non_ascii_query_read_in_blocks(self, rng):
        # A query beyond ASCII reads the list as the general route does, block by block,
        # the blocks growing shorter towards its end: matches planted throughout and in
        # the last positions, and items of every kind among them, are all found.
        choices = ["".join(rng.choice("abcdef") for _ in range(rng.randint(2, 9)))
                   for _ in range(100_003)]
        for i in list(range(0, 100_003, 4099)) + [99_998, 100_001, 100_002]:
            choices[i] = "f\u00e9dcba"
        choices[50_000:50_004] = [None, b"fedcba", list("f\u00e9dcba"), "<NA>"]
        full = reference("ratio", "f\u00e9dcba", choices, cutoff=90)
        assert len(full) == 29  # 28 planted, and the list of the same characters
        for limit in (1, 5, None):
            got = extract("f\u00e9dcba", choices, "ratio", None, limit=limit, score_cutoff=90)
            check(got, full, limit)

    def test_each_call_over_a_long_list_reads_only_its_own_items(self, rng):
        # Calls in turn over long lists of different lengths and kinds of items, on both
        # routes, each checked against its own reference: nothing of an earlier call's
        # items is read or reported by a later one.
        def words(n):
            return ["".join(rng.choice("abcdef") for _ in range(rng.randint(2, 9))) for _ in range(n)]
        long_ascii = words(90_000)
        long_ascii[89_999] = "fedcba"
        mixed = words(40_000)
        mixed[::997] = [None] * len(mixed[::997])
        mixed[5::1009] = [b"fedcba"] * len(mixed[5::1009])
        mixed[7::1013] = ["<NA>"] * len(mixed[7::1013])
        mixed[9::1019] = [list("fedcbb")] * len(mixed[9::1019])
        for choices, query in ((long_ascii, "fedcba"), (mixed, "fedcba"), (long_ascii, "f\u00e9dcba"),
                               (mixed, "f\u00e9dcba"), (long_ascii[:33], "fedcba")):
            full = reference("ratio", query, choices, cutoff=70, fast=query.isascii())
            for limit in (1, 6, None):
                got = extract(query, choices, "ratio", None, limit=limit, score_cutoff=70)
                check(got, full, limit)

    def test_list_shrunk_while_read(self):
        choices = []

        class Shrinker:
            def __iter__(self):
                del choices[10:]
                return iter("abc")
        for size in (20, 100):
            choices[:] = ["abd"] * 5 + [Shrinker()] + ["abc"] * (size - 6)
            got = extract("abc", choices, "ratio", None, limit=None)
            assert [i for _, _, i in got] == [5, 6, 7, 8, 9, 0, 1, 2, 3, 4]
            assert isinstance(got[0][0], Shrinker) and got[0][1] == 100.0

    @pytest.mark.parametrize("name", NAMES)
    def test_non_ascii_choices_on_the_pool(self, rng, name):
        # Long and short choices of one- to four-byte characters in turn, so that each one's
        # code points replace longer or shorter ones read before it.
        alphabet = "ab éß日本😀"
        choices = ["".join(rng.choice(alphabet) for _ in range(rng.choice((1, 3, 40, 90))))
                   for _ in range(120)]
        query = "ab ba"
        got = extract(query, choices, name, None, limit=None)
        check(got, reference(name, query, choices, fast=True), None)

    def test_31_and_32_choices_agree(self, rng):
        choices = [random_text(rng) for _ in range(32)]
        for name in NAMES:
            short = {i: s for _, s, i in extract_iter("york new", choices[:31], name, None)}
            full = {i: s for _, s, i in extract_iter("york new", choices, name, None)}
            assert {i: full[i] for i in short} == short


class TestExtractBehaviour:
    def test_worked_example(self):
        assert extract("abc", ["abd", "abc", "xyz"], "ratio", None) == [
            ("abc", 100.0, 1), ("abd", 66.66666666666667, 0), ("xyz", 0.0, 2)]

    def test_limits(self):
        choices = ["a"] * 10
        assert len(extract("a", choices, "ratio", None)) == 5
        assert len(extract("a", choices, "ratio", None, limit=None)) == 10
        assert extract("a", choices, "ratio", None, limit=0) == []
        with pytest.raises(OverflowError):
            extract("a", choices, "ratio", None, limit=-1)
        with pytest.raises(TypeError, match="argument 'limit'"):
            extract("a", choices, "ratio", None, limit="x")

    def test_scorer_name_must_be_text(self):
        with pytest.raises(TypeError, match="argument 'scorer_name'"):
            extract("a", ["a"], None, None)
        with pytest.raises(TypeError, match="argument 'score_cutoff'"):
            extract_one("a", ["a"], "ratio", None, score_cutoff="x")

    def test_extract_one_and_iter(self):
        assert extract_one("ab", ["ab", "ab"], "ratio", None) == ("ab", 100.0, 0)
        assert extract_one("ab", ["ab"] * 40, "ratio", None) == ("ab", 100.0, 0)
        assert extract_one("ab", [], "ratio", None) is None
        assert extract_one("ab", ["xy"], "ratio", None, score_cutoff=50) is None
        assert isinstance(extract_iter("ab", iter(["ab"]), "ratio", None), list)

    def test_dict_values_on_fast_route_keys_on_general_route(self):
        assert extract("abc", {"k": "abc"}, "ratio", None) == [("abc", 100.0, 0)]
        assert extract("abc", {"k": "abc"}, "ratio", None, processor=lambda s: s) == [
            ("k", 0.0, 0)]

    def test_fast_route_skips_missing_but_scores_every_sequence(self):
        got = extract("abc", [None, "ab\u00e7", "abc", "<NA>", 5, list("abc"), b"abc"], "ratio",
                      None, limit=None)
        assert got == [("abc", 100.0, 2), (["a", "b", "c"], 100.0, 5), (b"abc", 100.0, 6),
                       ("ab\u00e7", 66.66666666666667, 1)]
        # The general route keeps a missing choice with 0.0.
        assert extract("abc", [None], "ratio", None, processor=str) == [(None, 0.0, 0)]

    def test_cutoffs_on_the_fast_route(self):
        choices = ["abc", "abd", "xyz"]
        assert extract("abc", choices, "ratio", None, score_cutoff=-5) == \
            extract("abc", choices, "ratio", None)
        assert extract("abc", choices, "ratio", None, score_cutoff=101) == []
        assert extract("abcde", ["abcdf"], "ratio", None, score_cutoff=80) == [("abcdf", 80.0, 0)]
        nan = float("nan")
        assert len(extract("abc", choices, "ratio", None, score_cutoff=nan)) == 3
        assert len(extract("abc", tuple(choices), "ratio", None, score_cutoff=nan)) == 3
        assert extract_one("abc", {"a": "abc"}, "ratio", None, score_cutoff=nan) == ("abc", 100.0, 0)
        assert extract("abc", {"a": "abc"}, "ratio", None, score_cutoff=nan) == []
        assert extract("abc", iter(choices), "ratio", None, score_cutoff=nan) == []

    def test_empty_strings_get_the_scorer_value(self):
        for name in ("qratio", "partial_ratio", "ratio"):
            for choices in ([""], [""] * 40):
                got = extract_one("", choices, name, None)
                assert got[1] == FUZZ[name]("", "")

    def test_unknown_name(self):
        assert extract("a", ["a", "b", "c", "d", "e", "f"], "WRatio", None) == [
            ("a", 0.0, 0), ("b", 0.0, 1), ("c", 0.0, 2), ("d", 0.0, 3), ("e", 0.0, 4)]
        assert extract("a", ["a"], "WRatio", None, score_cutoff=1) == []

    def test_scorer_object_calls(self):
        calls = []

        def scorer(a, b, **kw):
            calls.append((a, b, kw))
            return 50.0
        proc = str.upper
        extract("q", ["x"], "custom", scorer)
        extract("q", ["x"], "custom", scorer, processor=proc)
        extract("q", ["x"], "custom", scorer, score_cutoff=10)
        assert calls == [("q", "x", {}), ("Q", "x", {"processor": proc}),
                         ("q", "x", {"score_cutoff": 10.0})]
        # A known name ignores the object (but takes the general route).
        assert extract("abc", ["abc"], "ratio", scorer) == [("abc", 100.0, 0)]
        assert len(calls) == 3

    def test_nan_scores_rank_below_numbers(self):
        scores = iter([float("nan"), 10.0, float("nan"), 90.0, 10.0])
        got = extract("q", list("abcde"), "custom", lambda a, b: next(scores), limit=None)
        assert [c for c, _, _ in got] == ["d", "b", "e", "a", "c"]

    def test_errors_propagate_on_the_general_route(self):
        def boom(*a, **k):
            raise ValueError("scorer")
        with pytest.raises(ValueError, match="scorer"):
            extract("a", ["a"], "custom", boom)
        with pytest.raises(ZeroDivisionError):
            extract("a", ["a"], "ratio", None, processor=lambda s: 1 / 0)
        with pytest.raises(TypeError):
            extract("a", ["a", 5], "ratio", None, processor=lambda s: s)
        with pytest.raises(TypeError):
            extract("a", 5, "ratio", None)

        def gen():
            yield "a"
            raise RuntimeError("iter")
        with pytest.raises(RuntimeError, match="iter"):
            extract("a", gen(), "ratio", None)

    def test_query_iterator_is_read_once(self):
        got = extract(iter("abc"), ["abc", "abd"], "ratio", None)
        assert got == [("abc", 100.0, 0), ("abd", 66.66666666666667, 1)]

    def test_missing_query(self):
        def proc(s):
            return s.lower()  # would fail on None
        assert extract(None, ["a", "b"], "ratio", None, processor=proc) == [
            ("a", 0.0, 0), ("b", 0.0, 1)]
        assert extract("<NA>", ["<NA>"] * 40, "ratio", None, score_cutoff=1) == []

    def test_only_the_raw_query_is_tested_as_missing(self):
        # A processor that returns "<NA>" or None for the query: the fuzz_ function scores
        # the text, or fails to convert None, and every route does the same.
        to_na = lambda s: "<NA>" if s == "q" else s
        want = FUZZ["ratio"]("q", "<NA>x", processor=to_na)
        assert want > 0
        assert extract("q", ["<NA>x"], "ratio", None, to_na) == [("<NA>x", want, 0)]
        assert extract_one("q", ["<NA>x"] * 40, "ratio", None, to_na) == ("<NA>x", want, 0)
        assert extract_iter("q", iter(["<NA>x"]), "ratio", None, to_na) == [("<NA>x", want, 0)]
        assert cdist(["q"], ["<NA>x"], "ratio", None, to_na)[0] == [want]

        to_none = lambda s: None if s == "q" else s
        with pytest.raises(TypeError):
            FUZZ["ratio"]("q", "ab", processor=to_none)
        with pytest.raises(TypeError):
            extract("q", ["ab"], "ratio", None, to_none)
        with pytest.raises(TypeError):
            extract_one("q", ["ab"] * 40, "ratio", None, to_none)

    def test_bytes_and_str_agree(self):
        assert extract_one(b"abc", ["xbc", "abc"], "ratio", None) == ("abc", 100.0, 1)
        assert extract_one("abc", [b"abc"], "ratio", None) == (b"abc", 100.0, 0)


# ---------------------------------------------------------------- threads


class TestThreads:
    def test_concurrent_callers_get_the_single_thread_results(self, rng):
        # More callers than the pool has threads, mixing the matrix, short lists and long
        # lists scored block by block in the background of their callers.
        queries = [random_text(rng) for _ in range(60)]
        choices = [random_text(rng) for _ in range(300)]
        long_list = [random_text(rng) for _ in range(70_000)]
        want_matrix = cdist(queries, choices, "wratio", None)
        want_extract = [extract(q, choices, "ratio", None, limit=7) for q in queries[:10]]
        want_long = extract("new york", long_list, "ratio", None, limit=5)
        errors = []

        def work(k):
            try:
                for _ in range(2):
                    if k % 3 == 0:
                        assert cdist(queries, choices, "wratio", None) == want_matrix
                    elif k % 3 == 1:
                        got = [extract(q, choices, "ratio", None, limit=7) for q in queries[:10]]
                        assert got == want_extract
                    else:
                        assert extract("new york", long_list, "ratio", None, limit=5) == want_long
            except BaseException as e:  # reported by the main thread
                errors.append(e)
        threads = [threading.Thread(target=work, args=(k,)) for k in range(12)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert errors == []

    def test_choices_mutated_during_extract(self):
        rng = random.Random(7)
        choices = ["".join(rng.choice("abcdef") for _ in range(rng.randint(3, 30)))
                   for _ in range(100_000)]
        stop = threading.Event()

        def mutate():
            r = random.Random(8)
            while not stop.is_set():
                i = r.randrange(len(choices))
                choices[i] = "".join(r.choice("abcdef") for _ in range(10))
                if r.random() < 0.01:
                    del choices[-1000:]
                    choices.extend(["abcabc" * 3] * 1000)
        t = threading.Thread(target=mutate)
        t.start()
        try:
            for _ in range(20):
                for choice, score, _ in extract("abcabcabc", choices, "ratio", None, limit=20):
                    # The reported object is the one that was scored.
                    assert score == _tarnwick.fuzz_ratio("abcabcabc", choice)
        finally:
            stop.set()
            t.join()


# ---------------------------------------------------------------- the tarnwick package


class TestPackageWrappers:
    def test_own_scorers_go_by_name(self):
        import tarnwick
        choices = {"a": "new york", "b": "york"}
        # By name: the fast route, which reads a dict's values.
        assert tarnwick.extract("new york", choices, tarnwick.fuzz_ratio, limit=1) == [
            ("new york", 100.0, 0)]
        assert tarnwick.extract_one("new york", ["x", "new york"]) == ("new york", 100.0, 1)
        assert tarnwick.extract_iter("ab", ["ab", "b"], tarnwick.fuzz_qratio) == \
            extract_iter("ab", ["ab", "b"], "qratio", None)
        assert tarnwick.cdist(["a b"], ["b a"], tarnwick.fuzz_token_sort_ratio) == \
            ([100.0], 1, 1)
        assert tarnwick.cdist(["ab"], ["ab", "b"]) == cdist(["ab"], ["ab", "b"], "ratio", None)

    def test_other_callables_are_called_even_when_named_like_a_scorer(self):
        import tarnwick

        def ratio(a, b, **kw):
            return 42.0
        assert tarnwick.extract("abc", ["abc", "x"], ratio) == [("abc", 42.0, 0), ("x", 42.0, 1)]
        assert tarnwick.extract_one("abc", ["x"], lambda a, b, **kw: 7) == ("x", 7.0, 0)
        with pytest.raises(TypeError):
            tarnwick.cdist(["a"], ["a"], ratio)
        with pytest.raises(TypeError):
            tarnwick.extract("a", ["a"], "fuzz_ratio")
