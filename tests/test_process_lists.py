"""cdist's result list over many blocks of rows, the references its cells hold, the
batch ratio of queries whose code points lie far apart, and items of every kind read as
views or converted, against the single-pair scorers and the plain LCS model."""

import random
import sys
from collections import Counter

import pytest

import _tarnwick
import naive
from _tarnwick import cdist, extract, extract_one


def words(rng, n, alphabet, lo=1, hi=12):
    return ["".join(rng.choice(alphabet) for _ in range(rng.randint(lo, hi))) for _ in range(n)]


def references_per_cell(scores):
    """For every float object of the list: its reference count less the cells holding it
    (the dict below and getrefcount's argument hold two more)."""
    cells = Counter(map(id, scores))
    objects = {id(s): s for s in scores}
    return {sys.getrefcount(objects[key]) - count for key, count in cells.items()}


class TestCdistResultList:
    def test_many_blocks_of_rows_give_the_single_scores(self):
        # 300 x 1000 cells: several blocks of rows, each scored on the pool while the list
        # takes the floats of the block before.
        rng = random.Random(5)
        queries, choices = words(rng, 300, "abcde"), words(rng, 1000, "abcde")
        for cutoff in (None, 60.0):
            scores, n, m = cdist(queries, choices, "ratio", None, score_cutoff=cutoff)
            assert type(scores) is list and (n, m) == (300, 1000) and len(scores) == 300_000
            assert scores == [_tarnwick.fuzz_ratio(a, b, score_cutoff=cutoff)
                              for a in queries for b in choices], cutoff
        scores, _, _ = cdist(queries, choices, "ratio", None)
        for k in rng.sample(range(300_000), 400):
            assert scores[k] == pytest.approx(naive.ratio(queries[k // 1000], choices[k % 1000]))

    @pytest.mark.parametrize("case", ["scored", "cut off", "nothing scored", "NaN cut-off",
                                      "below the pool"])
    def test_every_cell_holds_one_reference(self, case):
        rng = random.Random(6)
        queries, choices = words(rng, 200, "abcd"), words(rng, 700, "abcd")
        scores, _, _ = {
            "scored": lambda: cdist(queries, choices, "ratio", None),
            "cut off": lambda: cdist(queries, choices, "ratio", None, score_cutoff=95.0),
            "nothing scored": lambda: cdist(queries, choices, "no such scorer", None),
            "NaN cut-off": lambda: cdist(queries, choices, "ratio", None, score_cutoff=float("nan")),
            "below the pool": lambda: cdist(queries[:3], choices[:5], "wratio", None),
        }[case]()
        assert references_per_cell(scores) == {2}
        if case in ("nothing scored", "NaN cut-off"):
            assert len({id(s) for s in scores}) == 1 and scores[0] == 0.0

    def test_rows_past_the_coded_limit_and_runs_of_equal_scores(self):
        # A row with more distinct scores (over 3000) than a row's floats are looked up
        # once each for, rows with few, an empty query, and a cut-off that turns most
        # cells into runs of 0.0: every cell is the single score and holds one reference.
        rng = random.Random(9)
        queries = ["".join(rng.choice("abcdefgh") for _ in range(300)), "abc", "", "hgfedcba"]
        choices = ["".join(rng.choice("abcdefgh") for _ in range(rng.randint(1, 1200)))
                   for _ in range(4000)]
        for cutoff in (None, 40.0, 75.0):
            scores, _, _ = cdist(queries, choices, "ratio", None, score_cutoff=cutoff)
            assert scores == [_tarnwick.fuzz_ratio(q, c, score_cutoff=cutoff)
                              for q in queries for c in choices], cutoff
            assert references_per_cell(scores) == {2}
            if cutoff is None:
                assert len(set(scores[:4000])) > 3000

    def test_special_rows_in_every_block(self):
        # 80 x 4000 cells: several blocks of rows, every one coded on the pool. Rows with
        # more distinct scores than a row's floats are looked up once each for, an empty
        # query, a missing one and a query with no match sit in the first, a middle and
        # the last block; the cut-off turns most cells of the others into runs of 0.0.
        rng = random.Random(12)
        choices = ["".join(rng.choice("abcdefgh") for _ in range(rng.randint(1, 1200)))
                   for _ in range(4000)]
        queries = words(rng, 80, "abcdefgh")
        wide = "".join(rng.choice("abcdefgh") for _ in range(300))
        for row in (1, 40, 79):
            queries[row] = wide
        queries[2], queries[41], queries[78] = "", None, "xyz"
        for cutoff in (None, 75.0):
            scores, _, _ = cdist(queries, choices, "ratio", None, score_cutoff=cutoff)
            assert scores == [0.0 if q is None else _tarnwick.fuzz_ratio(q, c, score_cutoff=cutoff)
                              for q in queries for c in choices], cutoff
            assert references_per_cell(scores) == {2}
            if cutoff is None:
                assert len(set(scores[79 * 4000:])) > 3000

    def test_equal_scores_share_floats(self):
        rng = random.Random(8)
        queries, choices = words(rng, 100, "ab"), words(rng, 500, "ab")
        scores, _, _ = cdist(queries, choices, "ratio", None)
        # Far fewer float objects than cells; equal values compare equal whatever object
        # holds them.
        assert len({id(s) for s in scores}) < len(set(scores)) * 4
        assert sorted(set(scores)) == sorted({naive.ratio(a, b) for a in queries for b in choices})


# Queries of up to 64 code points spread over more than 4096 values: ASCII with CJK,
# accented letters with emoji, many distinct ideographs (the open-addressing table then
# holds colliding code points).
WIDE_ALPHABETS = [
    "abc\u4e2d\u6587",
    "\u00e9a\U0001F600b\u00ff",
    "".join(chr(0x4E00 + 37 * k) for k in range(60)) + "abcd",
]


class TestWideQueries:
    @pytest.mark.parametrize("alphabet", WIDE_ALPHABETS)
    def test_ratio_and_qratio_give_the_single_scores(self, alphabet):
        rng = random.Random(len(alphabet))
        queries = words(rng, 6, alphabet, 1, 64) + [alphabet[:64], alphabet[-1]]
        choices = words(rng, 60, alphabet + "z\u0101", 0, 20) + [b"abc", list("abc"), ""]
        for name in ("ratio", "qratio"):
            f = getattr(_tarnwick, "fuzz_" + name)
            for cutoff in (None, 0.0, 50.0, 100.0):
                scores, _, _ = cdist(queries, choices, name, None, score_cutoff=cutoff)
                assert scores == [f(a, b, score_cutoff=cutoff) for a in queries for b in choices]
            for q in queries:
                # 63 choices: extraction on the pool.
                got = extract(q, choices, name, None, limit=None)
                assert sorted((i, s) for _, s, i in got) == \
                    sorted((i, f(q, c)) for i, c in enumerate(choices)), (name, q)
                best = extract_one(q, choices, name, None)
                assert best[1] == max(f(q, c) for c in choices)

    @pytest.mark.parametrize("alphabet", WIDE_ALPHABETS)
    def test_ratio_matches_the_lcs_model(self, alphabet):
        rng = random.Random(3 * len(alphabet))
        queries = words(rng, 5, alphabet, 1, 64)
        choices = words(rng, 40, alphabet + "q", 1, 30)
        scores, _, _ = cdist(queries, choices, "ratio", None)
        want = [naive.ratio(a, b) for a in queries for b in choices]
        assert scores == pytest.approx(want)


class TestExtractOfByteChoices:
    """Extraction over a list scored on the pool: byte strings and ASCII text go four at a
    time through the simple and quick ratio, among choices of every other kind; the
    results are those of the single-pair scorer, ranked by score then position."""

    @staticmethod
    def choices(rng):
        out = words(rng, 3000, "abcdef", 0, 20)
        for k in range(0, 3000, 7):
            out[k] = out[k].encode()
        for k in range(3, 3000, 11):
            out[k] = None
        for k in range(5, 3000, 13):
            out[k] = out[k - 1] + "\u00e9" if isinstance(out[k - 1], str) else "\u00e9"
        out[100:100] = ["abcabc" * 30, "", b"", "<NA>"]
        return out

    @staticmethod
    def reference(name, query, choices, limit, cutoff):
        f = getattr(_tarnwick, "fuzz_" + name)
        scored = [(f(query, c, score_cutoff=cutoff), i, c) for i, c in enumerate(choices)
                  if c is not None and c != "<NA>"]
        if cutoff is not None:
            scored = [t for t in scored if t[0] >= cutoff]
        scored.sort(key=lambda t: (-t[0], t[1]))
        return [(c, s, i) for s, i, c in (scored if limit is None else scored[:limit])]

    @pytest.mark.parametrize("name", ["ratio", "qratio"])
    def test_results_are_the_single_scorers(self, name):
        rng = random.Random(21)
        choices = self.choices(rng)
        for query in ("abcde", "fedcbafedcba", "a", "abcdef" * 10 + "ab", b"cab"):
            for limit, cutoff in ((1, None), (5, None), (5, 70.0), (None, 80.0), (40, 0.0)):
                got = extract(query, choices, name, None, limit=limit, score_cutoff=cutoff)
                assert got == self.reference(name, query, choices, limit, cutoff), (query, limit, cutoff)
            one = extract_one(query, choices, name, None)
            assert one == self.reference(name, query, choices, 1, None)[0]


class TestRatioAcrossLengths:
    """The batch ratio of short inputs takes each score from a table of the quotients made
    once (up to 128 elements in the two inputs together), longer ones from the division:
    on both sides of that length, with and without a cut-off, for byte strings and code
    points, every score is the plain program's to the last bit."""

    @pytest.mark.parametrize("alphabet", ["ab", "ab\u00e9\u4e2d"])
    def test_scores_match_the_plain_program(self, alphabet):
        rng = random.Random(10)

        def text(n):
            return "".join(rng.choice(alphabet) for _ in range(n))
        queries = [text(n) for n in (1, 20, 63, 64, 65, 70)]
        choices = [text(n) for _ in range(3) for n in (1, 2, 40, 57, 58, 62, 63, 64, 65, 66, 100)]
        plain = [naive.ratio(q, c) for q in queries for c in choices]
        m = len(choices)
        for cutoff in (None, 50.0):
            want = [s if cutoff is None or s >= cutoff else 0.0 for s in plain]
            assert cdist(queries, choices, "ratio", None, score_cutoff=cutoff)[0] == want
            for i, q in enumerate(queries):
                got = extract(q, choices, "ratio", None, limit=None, score_cutoff=cutoff)
                row = plain[i * m:(i + 1) * m]
                assert sorted((k, s) for _, s, k in got) == [
                    (k, s) for k, s in enumerate(row) if cutoff is None or s >= cutoff]


class Word(str):
    pass


class Raw(bytes):
    pass


def mixed_items(rng, n):
    """Words of every kind a batch reads: ASCII and other text, bytes, their subclasses,
    missing values, sequences of items and texts past the lengths the kernels take."""
    out = []
    for k in range(n):
        w = words(rng, 1, "abcdef", 0, 14)[0]
        out.append([w, w, w + "\u00e9\u4e2d", w.encode(), Word(w), Raw(w.encode()), None,
                    float("nan"), "<NA>", list(w), "ab" * 70, Word(w + "\u00e9")][k % 12])
    return out


def cell(name, q, c, processor=None, cutoff=None):
    try:
        return getattr(_tarnwick, "fuzz_" + name)(q, c, processor=processor, score_cutoff=cutoff)
    except TypeError:
        return 0.0


class TestItemsOfEveryKind:
    """cdist reads bytes and ASCII str as views of their bytes and converts the other
    items once (or, for a few rows, decodes other text at each cell): every query row and
    choice column scores as the single scorer, on the calling thread and on the pool,
    through the lane kernel, four at a time and one by one, and the items' reference
    counts come back as they were."""

    @pytest.mark.parametrize("name", ["ratio", "qratio", "wratio", "token_set_ratio"])
    def test_cells_are_the_single_scores(self, name):
        rng = random.Random(31)
        queries = mixed_items(rng, 24) + ["abc", b"abcdefabcdefabcdefab" * 4]
        choices = mixed_items(rng, 300)
        # Up to four rows decode the choices' text beyond ASCII at each cell.
        for q, c, cutoff in ((queries, choices, None), (queries, choices, 55.0),
                             (queries[:6], choices[:7], None), (queries[:4], choices, 55.0),
                             (queries[2:3], choices[:30], None)):
            scores, _, _ = cdist(q, tuple(c), name, None, score_cutoff=cutoff)
            assert scores == [cell(name, a, b, cutoff=cutoff) for a in q for b in c], cutoff

    def test_processor_results_of_every_kind(self):
        def proc(x):
            if not isinstance(x, str):
                return x
            return [x, x.encode(), Word(x), x + "\u00e9", list(x)][len(x) % 5]
        rng = random.Random(32)
        queries, choices = mixed_items(rng, 20), mixed_items(rng, 200)
        scores, _, _ = cdist(queries, choices, "ratio", None, processor=proc)
        assert scores == [cell("ratio", a, b, proc) for a in queries for b in choices]

    def test_references_are_given_back(self):
        rng = random.Random(33)
        items = mixed_items(rng, 600)
        held = [x for x in items if x is not None]  # None's count moves with the interpreter
        before = [sys.getrefcount(x) for x in held]
        for processor in (None, lambda x: x):
            cdist(items, items, "ratio", None, processor=processor)
            cdist(items[:2], items[:3], "ratio", None, processor=processor)
        extract("abc", items, "ratio", None, limit=None)
        extract("ab\u00e9", items, "ratio", None, limit=None)
        assert [sys.getrefcount(x) for x in held] == before

    def test_extraction_of_subclasses_on_the_pool(self):
        rng = random.Random(34)
        choices = mixed_items(rng, 2000)
        for query in ("abcde", "ab\u00e9", b"cab"):
            got = extract(query, choices, "ratio", None, limit=None)
            fast = isinstance(query, bytes) or query.isascii()
            want = [(c, cell("ratio", query, c), i) for i, c in enumerate(choices)
                    if not (fast and (c is None or c == "<NA>" or c != c))]
            want.sort(key=lambda t: (-t[1], t[2]))
            assert [(i, s) for _, s, i in got] == [(i, s) for _, s, i in want], query
            assert all(c is choices[i] for c, _, i in got)
