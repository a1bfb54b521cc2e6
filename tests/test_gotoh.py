"""Gotoh affine-gap functions against a three-table dynamic program written here."""
import math

import pytest

from _tarnwick import (gotoh_distance, gotoh_normalized_distance,
                       gotoh_normalized_similarity, gotoh_similarity)

FUNCTIONS = [gotoh_distance, gotoh_similarity, gotoh_normalized_distance,
             gotoh_normalized_similarity]
INF = float("inf")


def affine_cost(a, b, o, e):
    """Cheapest global alignment in hundredths: match 0, mismatch 100, a gap of k
    elements o + k * e. Three full tables: ending in a pair, a deletion, an insertion."""
    n, m = len(a), len(b)
    if n == 0 or m == 0:
        return 0 if n == m else o + (n + m) * e
    pair = [[INF] * (m + 1) for _ in range(n + 1)]
    dele = [[INF] * (m + 1) for _ in range(n + 1)]
    ins = [[INF] * (m + 1) for _ in range(n + 1)]
    pair[0][0] = 0
    for i in range(1, n + 1):
        dele[i][0] = o + i * e
    for j in range(1, m + 1):
        ins[0][j] = o + j * e
    for i in range(1, n + 1):
        for j in range(1, m + 1):
            best_prev = min(pair[i - 1][j - 1], dele[i - 1][j - 1], ins[i - 1][j - 1])
            pair[i][j] = best_prev + (0 if a[i - 1] == b[j - 1] else 100)
            dele[i][j] = min(dele[i - 1][j] + e,
                             min(pair[i - 1][j], ins[i - 1][j]) + o + e)
            ins[i][j] = min(ins[i][j - 1] + e,
                            min(pair[i][j - 1], dele[i][j - 1]) + o + e)
    return min(pair[n][m], dele[n][m], ins[n][m])


def maximum(n, m, o, e, cost):
    if n == 0 or m == 0:
        return cost
    mismatch_all = min(n, m) * 100 + (o + abs(n - m) * e if n != m else 0)
    two_gaps = (n + m) * e + 2 * o
    return max(cost, min(mismatch_all, two_gaps))


def expected(a, b, o=100, e=50):
    cost = affine_cost(a, b, o, e)
    mx = maximum(len(a), len(b), o, e, cost)
    return {
        gotoh_distance: cost / 100.0,
        gotoh_similarity: 0.0 if mx == 0 else (float(mx) - float(cost)) / 100.0,
        gotoh_normalized_distance: 0.0 if mx == 0 else cost / mx,
        gotoh_normalized_similarity: 1.0 if mx == 0 else 1.0 - cost / mx,
    }


def random_text(rng, alphabet, n):
    return "".join(rng.choice(alphabet) for _ in range(n))


class TestAgainstDynamicProgram:
    @pytest.mark.parametrize("alphabet", ["ab", "abcd", "a\u00e9\u4e2d"])
    def test_random_pairs_default_penalties(self, rng, alphabet):
        for _ in range(150):
            a = random_text(rng, alphabet, rng.randint(0, 12))
            b = random_text(rng, alphabet, rng.randint(0, 12))
            if a.isascii() != b.isascii():
                continue
            want = expected(a, b)
            for fn in FUNCTIONS:
                assert fn(a, b) == want[fn], (fn.__name__, a, b)

    def test_random_penalties(self, rng):
        for _ in range(150):
            a = random_text(rng, "abc", rng.randint(0, 10))
            b = random_text(rng, "abc", rng.randint(0, 10))
            op, ex = rng.choice([0, 0.25, 0.5, 1, 2.5, 4]), rng.choice([0, 0.1, 0.5, 1, 3])
            want = expected(a, b, int(op * 100.0), int(ex * 100.0))
            for fn in FUNCTIONS:
                got = fn(a, b, open_penalty=op, extend_penalty=ex)
                assert got == want[fn], (fn.__name__, a, b, op, ex)

    def test_lists_of_items(self, rng):
        for _ in range(50):
            a = [rng.randrange(2**64) if rng.random() < 0.2 else rng.randrange(3)
                 for _ in range(rng.randint(0, 9))]
            b = [rng.choice(a) if a and rng.random() < 0.5 else rng.randrange(3)
                 for _ in range(rng.randint(0, 9))]
            assert gotoh_distance(a, b) == expected(a, b)[gotoh_distance]

    def test_long_sequences(self, rng):
        a = random_text(rng, "acgt", 150)
        b = "".join(c for c in a if rng.random() < 0.9) + "tt"
        want = expected(a, b)
        assert gotoh_normalized_similarity(a, b) == want[gotoh_normalized_similarity]


class TestWorkedExamples:
    @pytest.mark.parametrize("a, b, cost, mx", [
        ("abc", "abc", 0, 300),
        ("abc", "", 250, 250),
        ("", "", 0, 0),
        ("ab", "ac", 100, 200),         # a mismatch beats a deletion plus an insertion
        ("banana", "bandana", 150, 750),  # one gap of one element
        ("flaw", "lawn", 300, 400),     # two short gaps beat four mismatches
        ("abcdef", "abef", 200, 600),   # one gap of two elements
    ])
    def test_cost_and_maximum(self, a, b, cost, mx):
        assert gotoh_distance(a, b) == cost / 100
        assert gotoh_similarity(a, b) == (0.0 if mx == 0 else (mx - cost) / 100)
        assert gotoh_normalized_distance(a, b) == (0.0 if mx == 0 else cost / mx)
        assert gotoh_normalized_similarity(a, b) == (1.0 if mx == 0 else 1 - cost / mx)

    def test_zero_penalties(self):
        kw = dict(open_penalty=0.0, extend_penalty=0.0)
        assert gotoh_distance("abcdef", "abef", **kw) == 0.0
        assert gotoh_similarity("abcdef", "abef", **kw) == 0.0
        assert gotoh_normalized_distance("abcdef", "abef", **kw) == 0.0
        assert gotoh_normalized_similarity("abcdef", "abef", **kw) == 1.0

    def test_penalties_are_truncated_hundredths(self):
        # 0.29 * 100.0 is 28.999999999999996, so the opening costs 28 hundredths.
        assert gotoh_distance("", "a", open_penalty=0.29, extend_penalty=0) == 0.28
        assert gotoh_distance("", "ab", open_penalty=1, extend_penalty=0.126) == 1.24
        # Negative and NaN penalties count as 0.
        assert gotoh_distance("", "abc", open_penalty=-5, extend_penalty=math.nan) == 0.0

    def test_cutoffs(self):
        assert gotoh_distance("ab", "ac", score_cutoff=0.5) == 1.5
        assert gotoh_distance("ab", "ac", score_cutoff=1.0) == 1.0
        assert gotoh_similarity("ab", "ac", score_cutoff=1.5) == 0.0
        assert gotoh_similarity("ab", "ac", score_cutoff=1.0) == 1.0
        assert gotoh_normalized_distance("ab", "ac", score_cutoff=0.4) == 1.0
        assert gotoh_normalized_distance("ab", "ac", score_cutoff=0.5) == 0.5
        assert gotoh_normalized_similarity("ab", "ac", score_cutoff=0.6) == 0.0
        assert gotoh_normalized_similarity("ab", "ac", score_cutoff=None) == 0.5


class TestInputs:
    def test_widths_must_match(self):
        for fn in FUNCTIONS:
            with pytest.raises(ValueError, match="Mismatched sequence types"):
                fn("abc", "\u00e4bc")
            with pytest.raises(ValueError, match="Mismatched sequence types"):
                fn("abc", list("abc"))
        assert gotoh_distance("abc", b"abc") == 0.0
        assert gotoh_distance("\u00e4bc", "\u00e4bd") == 1.0

    def test_no_missing_value_test(self):
        for bad in (None, math.nan):
            with pytest.raises(TypeError, match="expected str, bytes, or sequence"):
                gotoh_distance(bad, "abc")
        assert gotoh_distance("<NA>", "<NA>") == 0.0

    def test_processor(self):
        calls = []

        def proc(s):
            calls.append(s)
            return s.lower()

        assert gotoh_distance("ABC", "abc", processor=proc) == 0.0
        assert calls == ["ABC", "abc"]
        # The width check comes after the processor.
        with pytest.raises(ValueError, match="Mismatched"):
            gotoh_distance("a", "b", processor=lambda s: "\u00e9" if s == "a" else s)

    def test_argument_errors(self):
        with pytest.raises(TypeError, match="argument 'open_penalty'"):
            gotoh_distance("a", "b", open_penalty=None)
        with pytest.raises(TypeError, match="argument 'extend_penalty'"):
            gotoh_similarity("a", "b", extend_penalty="1")
        with pytest.raises(TypeError, match="argument 'score_cutoff'"):
            gotoh_normalized_distance("a", "b", score_cutoff="x")
        with pytest.raises(TypeError):
            gotoh_distance("a", "b", 1.0)
        assert gotoh_distance("ab", "b", open_penalty=2) == 2.5

    def test_signatures(self):
        for fn in FUNCTIONS:
            assert fn.__text_signature__ == ("(s1, s2, *, open_penalty=1.0, extend_penalty=0.5, "
                                             "processor=None, score_cutoff=None)")
            assert fn.__doc__ is None
