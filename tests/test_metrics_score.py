"""The osa, damerau_levenshtein, jaro, jaro_winkler, prefix and postfix metric families,
checked against reference models written here: dynamic programs for OSA and unrestricted
Damerau-Levenshtein, the textbook Jaro and Jaro-Winkler with the same floating-point
operation order, and plain scans for the common prefix and suffix."""
import math

import _tarnwick as t
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

ENDINGS = ["distance", "similarity", "normalized_distance", "normalized_similarity"]
EDIT_FAMILIES = ["osa", "damerau_levenshtein", "prefix", "postfix"]
LENGTHS = [0, 1, 2, 3, 7, 31, 63, 64, 65, 100, 127, 128, 129, 200, 300]


# ---- reference models -------------------------------------------------------------

def elements(s):
    """Element values as the module sees them (code points for text, ints for items)."""
    if isinstance(s, str):
        return [ord(c) for c in s]
    return list(s)


def osa_model(a, b):
    """Restricted edit distance by the three-row table."""
    a, b = elements(a), elements(b)
    n, m = len(a), len(b)
    if n == 0 or m == 0:
        return n + m
    two, prev = [0] * (m + 1), list(range(m + 1))
    for i in range(1, n + 1):
        cur = [i] + [0] * m
        for j in range(1, m + 1):
            c = 0 if a[i - 1] == b[j - 1] else 1
            cur[j] = min(prev[j - 1] + c, cur[j - 1] + 1, prev[j] + 1)
            if i > 1 and j > 1 and a[i - 1] == b[j - 2] and a[i - 2] == b[j - 1]:
                cur[j] = min(cur[j], two[j - 2] + c)
        two, prev = prev, cur
    return prev[m]


def dl_model(a, b):
    """Unrestricted Damerau-Levenshtein distance (Lowrance-Wagner), full matrix."""
    a, b = elements(a), elements(b)
    n, m = len(a), len(b)
    if n == 0 or m == 0:
        return n + m
    inf = n + m
    d = [[inf] * (m + 2) for _ in range(n + 2)]
    for i in range(n + 1):
        d[i + 1][1] = i
    for j in range(m + 1):
        d[1][j + 1] = j
    last = {}
    for i in range(1, n + 1):
        db = 0
        for j in range(1, m + 1):
            k, l = last.get(b[j - 1], 0), db
            c = 1
            if a[i - 1] == b[j - 1]:
                c, db = 0, j
            d[i + 1][j + 1] = min(d[i][j] + c, d[i + 1][j] + 1, d[i][j + 1] + 1)
            if k and l:
                d[i + 1][j + 1] = min(d[i + 1][j + 1], d[k][l] + (i - k - 1) + 1 + (j - l - 1))
        last[a[i - 1]] = i
    return d[n + 1][m + 1]


def jaro_model(a, b):
    a, b = elements(a), elements(b)
    l1, l2 = len(a), len(b)
    if l1 == 0:
        return 1.0 if l2 == 0 else 0.0
    if l2 == 0:
        return 0.0
    longer = max(l1, l2)
    w = 0 if longer < 2 else longer // 2 - 1
    f1, f2, m = [False] * l1, [False] * l2, 0
    for i in range(l1):
        for k in range(max(0, i - w), min(l2, i + w + 1)):
            if not f2[k] and b[k] == a[i]:
                f1[i] = f2[k] = True
                m += 1
                break
    if m == 0:
        return 0.0
    half, p = 0, 0
    for i in range(l1):
        if f1[i]:
            while not f2[p]:
                p += 1
            half += a[i] != b[p]
            p += 1
    tr = half // 2
    return ((m / l1 + m / l2) + (m - tr) / m) / 3.0


def jaro_winkler_model(a, b, p=0.1):
    j = jaro_model(a, b)
    if j < 0.7:
        return j
    a, b = elements(a), elements(b)
    n = 0
    while n < min(len(a), len(b), 4) and a[n] == b[n]:
        n += 1
    v = j + (1.0 - j) * (p * n)
    return 1.0 if math.isnan(v) else min(v, 1.0)


def prefix_model(a, b):
    a, b = elements(a), elements(b)
    n = 0
    while n < min(len(a), len(b)) and a[n] == b[n]:
        n += 1
    return n


def postfix_model(a, b):
    return prefix_model(elements(a)[::-1], elements(b)[::-1])


EDIT_MODELS = {
    "osa": osa_model,
    "damerau_levenshtein": dl_model,
    "prefix": lambda a, b: max(len(a), len(b)) - prefix_model(a, b),
    "postfix": lambda a, b: max(len(a), len(b)) - postfix_model(a, b),
}


def edit_forms(family, a, b):
    """The four expected values of an edit-count family."""
    d = EDIT_MODELS[family](a, b)
    top = max(len(a), len(b))
    nd = 0.0 if top == 0 else d / top
    return d, top - d, nd, 1.0 - nd


def call(family, ending, a, b, **kw):
    return getattr(t, f"{family}_{ending}")(a, b, **kw)


def same_float(x, y):
    return x == y or (math.isnan(x) and math.isnan(y))


# ---- input generators ---------------------------------------------------------------

def random_text(rng, alphabet, n):
    return "".join(rng.choice(alphabet) for _ in range(n))


def mutated(rng, s, alphabet, edits):
    """s after random deletions, insertions, replacements and adjacent swaps."""
    s = list(s)
    for _ in range(edits):
        op = rng.randrange(4)
        if op == 0 and s:
            del s[rng.randrange(len(s))]
        elif op == 1:
            s.insert(rng.randrange(len(s) + 1), rng.choice(alphabet))
        elif op == 2 and s:
            s[rng.randrange(len(s))] = rng.choice(alphabet)
        elif len(s) > 1:
            i = rng.randrange(len(s) - 1)
            s[i], s[i + 1] = s[i + 1], s[i]
    return s


def pairs(rng, alphabet, as_type=None):
    """Unrelated and related pairs over `alphabet` across the length classes."""
    join = as_type or "".join
    for n in LENGTHS:
        a = [rng.choice(alphabet) for _ in range(n)]
        yield join(a), join([rng.choice(alphabet) for _ in range(rng.choice(LENGTHS))])
        yield join(a), join(mutated(rng, a, alphabet, rng.randrange(1, 12)))


# ---- hand-worked examples ---------------------------------------------------------------

class TestExamples:
    def test_transpositions(self):
        assert t.osa_distance("ab", "ba") == 1
        assert t.damerau_levenshtein_distance("ab", "ba") == 1
        # The transposed pair separated by an insertion: only the unrestricted distance
        # sees the swap.
        assert t.osa_distance("ca", "abc") == 3
        assert t.damerau_levenshtein_distance("ca", "abc") == 2
        assert t.osa_similarity("ca", "abc") == 0
        assert t.damerau_levenshtein_similarity("ca", "abc") == 1
        assert t.osa_distance("abcd", "badc") == 2
        assert t.damerau_levenshtein_distance("abcd", "badc") == 2
        assert t.osa_distance("aaaa", "aaaaaaa") == 3
        assert t.damerau_levenshtein_distance("xyz", "xyz") == 0

    def test_prefix_and_postfix(self):
        assert [call("prefix", e, "abcd", "abxy") for e in ENDINGS] == [2, 2, 0.5, 0.5]
        assert t.postfix_similarity("abcd", "abxy") == 0
        assert t.postfix_distance("abcd", "abxy") == 4
        assert t.postfix_similarity("walking", "talking") == 6
        assert t.postfix_distance("walking", "talking") == 1
        assert t.prefix_similarity("walking", "talking") == 0
        # The text is widened to 64-bit elements and compared by value.
        assert t.prefix_similarity("abc", [97, 98, 120]) == 2
        assert t.postfix_similarity(b"xbc", ["b", 99]) == 2

    def test_jaro(self):
        j = t.jaro_similarity("martha", "marhta")
        assert j == pytest.approx(0.9444444444444444, abs=1e-15)
        assert t.jaro_distance("martha", "marhta") == 1.0 - j
        w = t.jaro_winkler_similarity("martha", "marhta")
        assert w == pytest.approx(0.9611111111111111, abs=1e-15)
        assert t.jaro_winkler_similarity("martha", "marhta", prefix_weight=0.0) == j
        # Window 0 for two elements: no match at all.
        assert t.jaro_similarity("ab", "ba") == 0.0
        assert t.jaro_similarity("a", "a") == 1.0
        assert t.jaro_similarity("a", "b") == 0.0

    def test_empty_inputs(self):
        assert t.osa_distance("", "") == 0
        assert t.osa_normalized_distance("", "") == 0.0
        assert t.osa_normalized_similarity("", "") == 1.0
        assert t.damerau_levenshtein_normalized_similarity(b"", []) == 1.0
        assert t.prefix_similarity("", "") == 0
        assert t.jaro_similarity("", "") == 1.0
        assert t.jaro_distance("", "") == 0.0
        assert t.jaro_winkler_similarity("", "") == 1.0
        assert t.jaro_similarity("", "abc") == 0.0
        assert t.jaro_winkler_similarity("abc", "") == 0.0
        assert t.jaro_normalized_distance("", "abc") == 1.0
        assert t.prefix_normalized_distance("", "abc") == 1.0
        assert t.osa_distance("", "abc") == 3
        assert t.damerau_levenshtein_distance("abcd", "") == 4


# ---- against the models ---------------------------------------------------------------

class TestEditCountFamilies:
    @pytest.mark.parametrize("alphabet", ["a", "ab", "abc", "abcdefghijklmnopqrstuvwxyz"])
    def test_osa_and_dl_on_text(self, rng, alphabet):
        for a, b in pairs(rng, alphabet):
            assert t.osa_distance(a, b) == osa_model(a, b), (a, b)
            assert t.damerau_levenshtein_distance(a, b) == dl_model(a, b), (a, b)

    def test_osa_and_dl_on_wide_elements(self, rng):
        text = "\u00e9\u0416\u4e2d\U0001f600x"
        items = [0, 255, 256, 2**32, 2**64 - 1]
        for a, b in pairs(rng, text):
            assert t.osa_distance(a, b) == osa_model(a, b)
            assert t.damerau_levenshtein_distance(a, b) == dl_model(a, b)
        for a, b in pairs(rng, items, as_type=list):
            assert t.osa_distance(a, b) == osa_model(a, b)
            assert t.damerau_levenshtein_distance(a, b) == dl_model(a, b)

    def test_mixed_widths(self, rng):
        # bytes against non-ASCII text, text against items: the narrower side is widened.
        for a, b in pairs(rng, "ab\u00e9"):
            ab = a.encode("latin-1") if all(ord(c) < 128 for c in a) else a
            la = [ord(c) for c in a]
            for x, y in ((ab, b), (la, b), (b, la)):
                assert t.osa_distance(x, y) == osa_model(x, y)
                assert t.damerau_levenshtein_distance(x, y) == dl_model(x, y)
                assert t.prefix_similarity(x, y) == prefix_model(x, y)
                assert t.postfix_similarity(x, y) == postfix_model(x, y)

    @pytest.mark.parametrize("family", EDIT_FAMILIES)
    def test_four_forms(self, rng, family):
        for a, b in pairs(rng, "abc"):
            expect = edit_forms(family, a, b)
            assert [call(family, e, a, b) for e in ENDINGS] == list(expect), (a, b)

    @pytest.mark.parametrize("n", [66, 130, 200, 300])
    def test_transpositions_at_block_edges(self, rng, n):
        # Swaps straddling element 63/64 and 127/128; the ends differ so that nothing
        # is stripped as a common prefix or suffix and the swaps stay where they are.
        for pos in (61, 62, 63, 64, 125, 126, 127, 128):
            if pos + 1 >= n - 1:
                continue
            a = list(random_text(rng, "abcd", n))
            a[pos], a[pos + 1] = "x", "y"
            b = list(a)
            b[pos], b[pos + 1] = b[pos + 1], b[pos]
            b[0], b[-1] = "z", "z"
            for extra in range(3):
                a, b = "".join(a), "".join(b)
                assert t.osa_distance(a, b) == osa_model(a, b), (pos, a, b)
                assert t.osa_distance(b, a) == osa_model(b, a), (pos, a, b)
                assert t.damerau_levenshtein_distance(a, b) == dl_model(a, b)
                b = mutated(rng, b, "abcd", 2)

    @settings(max_examples=300, deadline=None)
    @given(st.text("abc", max_size=9), st.text("abc", max_size=9))
    def test_short_strings(self, a, b):
        assert t.osa_distance(a, b) == osa_model(a, b)
        assert t.damerau_levenshtein_distance(a, b) == dl_model(a, b)
        # The unrestricted distance never exceeds the restricted one.
        assert t.damerau_levenshtein_distance(a, b) <= t.osa_distance(a, b)

    def test_prefix_postfix_on_items(self):
        a = [1, "x", (2, 3), None, 2**64 - 1]
        b = [1, "x", (2, 3), 4, 2**64 - 1]
        assert t.prefix_similarity(a, b) == 3
        assert t.postfix_similarity(a, b) == 1
        assert t.prefix_distance(a, b) == 2
        assert t.postfix_normalized_similarity(a, tuple(b)) == 1.0 - 4 / 5
        assert t.prefix_similarity(a, a[:2]) == 2
        assert t.postfix_similarity(a, a[3:]) == 2


class TestJaroFamilies:
    @pytest.mark.parametrize("alphabet", ["ab", "abcd", "abcdefghijklmnopqrstuvwxyz",
                                          "a\u00e9\u0416\u4e2d\U0001f600"])
    def test_against_model(self, rng, alphabet):
        for a, b in pairs(rng, alphabet):
            assert t.jaro_similarity(a, b) == jaro_model(a, b), (a, b)
            assert t.jaro_similarity(b, a) == jaro_model(b, a), (b, a)
            assert t.jaro_winkler_similarity(a, b) == jaro_winkler_model(a, b), (a, b)

    def test_items_and_mixed_widths(self, rng):
        for a, b in pairs(rng, [0, 300, 2**40, 2**64 - 1, 5], as_type=list):
            assert t.jaro_similarity(a, b) == jaro_model(a, b)
            assert t.jaro_winkler_similarity(a, b, prefix_weight=0.2) == \
                jaro_winkler_model(a, b, 0.2)
        for a, b in pairs(rng, "abc\u0416"):
            la = [ord(c) for c in a]
            assert t.jaro_similarity(la, b) == jaro_model(a, b)
            ab = a.encode() if a.isascii() else a
            assert t.jaro_winkler_similarity(ab, b) == jaro_winkler_model(a, b)

    @pytest.mark.parametrize("n", [4, 5, 10, 25, 64, 65, 130, 200, 301])
    def test_window_boundaries(self, n):
        # One shared element at offset k: it matches exactly when k is within the window
        # floor(n / 2) - 1, on both sides and for both argument orders.
        w = n // 2 - 1
        for k in (w - 1, w, w + 1):
            if not 0 <= k < n:
                continue
            s1 = "a" + "b" * (n - 1)
            s2 = "c" * k + "a" + "c" * (n - k - 1)
            expect = jaro_model(s1, s2)
            assert (expect > 0.0) == (k <= w)
            assert t.jaro_similarity(s1, s2) == expect
            assert t.jaro_similarity(s2, s1) == jaro_model(s2, s1)
            # The same from the far end: the last element of s1 against position n-1-k.
            r1, r2 = s1[::-1], s2[::-1]
            assert t.jaro_similarity(r1, r2) == jaro_model(r1, r2) == expect

    def test_window_of_unequal_lengths(self):
        # The window comes from the longer length; an element beyond the end of the
        # shorter side's range is never matched.
        for n, m in ((3, 40), (40, 3), (64, 130), (130, 64), (65, 200)):
            s1, s2 = "xy" * (n // 2) + "x" * (n % 2), "yx" * (m // 2) + "y" * (m % 2)
            assert t.jaro_similarity(s1, s2) == jaro_model(s1, s2)

    @settings(max_examples=300, deadline=None)
    @given(st.text("abcd", max_size=12), st.text("abcd", max_size=12),
           st.floats(allow_nan=True, allow_infinity=True))
    def test_jaro_winkler_any_weight(self, a, b, p):
        assert same_float(t.jaro_winkler_similarity(a, b, prefix_weight=p),
                          jaro_winkler_model(a, b, p))

    def test_prefix_weight(self):
        # A common prefix counts up to 4; a large weight is capped at 1.0.
        j = jaro_model("abcdefgh", "abcdefhg")
        assert t.jaro_winkler_similarity("abcdefgh", "abcdefhg") == j + (1.0 - j) * (0.1 * 4)
        assert t.jaro_winkler_similarity("abcdefgh", "abcdefhg", prefix_weight=0.3) == 1.0
        assert t.jaro_winkler_similarity("abcdefgh", "abcdefhg",
                                         prefix_weight=float("nan")) == 1.0
        # An int is a float value; negative weights pass unchecked.
        assert t.jaro_winkler_similarity("martha", "marhta", prefix_weight=1) == 1.0
        assert t.jaro_winkler_similarity("martha", "marhta", prefix_weight=-0.1) == \
            jaro_winkler_model("martha", "marhta", -0.1)
        # Below 0.7 nothing is boosted.
        j = t.jaro_similarity("abcxyzuv", "abcpqrst")
        assert j < 0.7
        assert t.jaro_winkler_similarity("abcxyzuv", "abcpqrst", prefix_weight=0.25) == j
        with pytest.raises(TypeError, match="^argument 'prefix_weight': ") as e:
            t.jaro_winkler_similarity("a", "b", prefix_weight=None)
        assert isinstance(e.value.__cause__, TypeError)
        with pytest.raises(TypeError, match="prefix_weight"):
            t.jaro_winkler_distance("a", "b", prefix_weight="0.1")

    def test_four_forms(self, rng):
        for a, b in pairs(rng, "abcd"):
            j, w = jaro_model(a, b), jaro_winkler_model(a, b)
            assert [call("jaro", e, a, b) for e in ENDINGS] == [1.0 - j, j, 1.0 - j, j]
            assert [call("jaro_winkler", e, a, b) for e in ENDINGS] == [1.0 - w, w, 1.0 - w, w]


# ---- the calling convention -----------------------------------------------------------

class TestCutoffs:
    def test_examples(self):
        assert t.osa_distance("abc", "xyz", score_cutoff=1) == 2
        assert t.osa_distance("abc", "xyz", score_cutoff=3) == 3
        assert t.osa_distance("abc", "xyz", score_cutoff=2**64 - 1) == 3
        assert t.prefix_similarity("abcd", "abxy", score_cutoff=3) == 0
        assert t.prefix_similarity("abcd", "abxy", score_cutoff=2) == 2
        assert t.jaro_distance("martha", "marhta", score_cutoff=0.05) == 1.0
        assert t.jaro_distance("martha", "marhta", score_cutoff=0.1) == \
            1.0 - jaro_model("martha", "marhta")
        assert t.jaro_similarity("martha", "marhta", score_cutoff=0.95) == 0.0
        assert t.jaro_similarity("martha", "marhta", score_cutoff=-1) == \
            jaro_model("martha", "marhta")
        assert t.jaro_similarity("martha", "marhta", score_cutoff=float("nan")) == \
            jaro_model("martha", "marhta")
        assert t.osa_normalized_distance("ab", "cd", score_cutoff=-0.5) == 1.0

    @pytest.mark.parametrize("family", EDIT_FAMILIES)
    def test_value_equal_to_cutoff_is_kept(self, rng, family):
        for a, b in pairs(rng, "abc"):
            d, s, nd, ns = edit_forms(family, a, b)
            assert call(family, "distance", a, b, score_cutoff=d) == d
            assert call(family, "similarity", a, b, score_cutoff=s) == s
            assert call(family, "normalized_distance", a, b, score_cutoff=nd) == nd
            assert call(family, "normalized_similarity", a, b, score_cutoff=ns) == ns
            if d > 0:
                assert call(family, "distance", a, b, score_cutoff=d - 1) == d
            assert call(family, "similarity", a, b, score_cutoff=s + 1) == 0
            below = math.nextafter(nd, -math.inf)
            assert call(family, "normalized_distance", a, b, score_cutoff=below) == 1.0
            above = math.nextafter(ns, math.inf)
            assert call(family, "normalized_similarity", a, b, score_cutoff=above) == 0.0

    @pytest.mark.parametrize("family", ["jaro", "jaro_winkler"])
    def test_jaro_cutoffs_at_the_value(self, rng, family):
        model = jaro_model if family == "jaro" else jaro_winkler_model
        for a, b in pairs(rng, "abcd"):
            s = model(a, b)
            for e in ("similarity", "normalized_similarity"):
                assert call(family, e, a, b, score_cutoff=s) == s
                assert call(family, e, a, b, score_cutoff=math.nextafter(s, 2.0)) == 0.0
            for e in ("distance", "normalized_distance"):
                assert call(family, e, a, b, score_cutoff=1.0 - s) == 1.0 - s
                assert call(family, e, a, b,
                            score_cutoff=math.nextafter(1.0 - s, -1.0)) == 1.0


class TestMissingInputs:
    @pytest.mark.parametrize("missing", [None, float("nan"), "<NA>"])
    def test_fixed_results(self, missing):
        expect = {
            "distance": 0, "similarity": 0, "normalized_distance": 1.0,
            "normalized_similarity": 0.0,
        }
        for family in EDIT_FAMILIES:
            for e in ENDINGS:
                for x, y in ((missing, "abc"), ("abc", missing)):
                    r = call(family, e, x, y)
                    assert r == expect[e] and type(r) is type(expect[e]), (family, e)
        jaro_expect = {"distance": 0.0, "similarity": 0.0, "normalized_distance": 1.0,
                       "normalized_similarity": 0.0}
        for family in ("jaro", "jaro_winkler"):
            for e in ENDINGS:
                assert call(family, e, missing, "abc") == jaro_expect[e]
                assert call(family, e, "", missing) == jaro_expect[e]

    def test_processor(self):
        seen = []

        def proc(s):
            seen.append(s)
            return s.lower()

        assert t.osa_distance("ABC", "acb", processor=proc) == 1
        assert seen == ["ABC", "acb"]
        seen.clear()
        # A missing input: the processor is never called.
        assert t.damerau_levenshtein_distance(None, "x", processor=proc) == 0
        assert seen == []
        with pytest.raises(TypeError, match="^expected str, bytes, or sequence$"):
            t.jaro_similarity("a", "b", processor=lambda s: None)
        with pytest.raises(ZeroDivisionError):
            t.prefix_distance("a", "b", processor=lambda s: 1 / 0)
        assert t.jaro_similarity("a", "a", processor=None) == 1.0


class TestArguments:
    def test_text_signatures(self):
        for family in EDIT_FAMILIES + ["jaro"]:
            for e in ENDINGS:
                f = getattr(t, f"{family}_{e}")
                assert f.__text_signature__ == "(s1, s2, *, processor=None, score_cutoff=None)"
                assert f.__doc__ is None and f.__module__ == "_tarnwick"
        for e in ENDINGS:
            f = getattr(t, f"jaro_winkler_{e}")
            assert f.__text_signature__ == \
                "(s1, s2, *, prefix_weight=0.1, processor=None, score_cutoff=None)"

    def test_registration_order(self):
        names = [n for n in t.__all__
                 if n.split("_")[0] in ("jaro", "osa", "damerau", "prefix", "postfix")]
        assert names == (
            [f"jaro_{e}" for e in ENDINGS] + [f"jaro_winkler_{e}" for e in ENDINGS]
            + [f"{fam}_{e}" for fam in EDIT_FAMILIES for e in ENDINGS])

    def test_errors(self):
        with pytest.raises(OverflowError):
            t.osa_similarity("a", "b", score_cutoff=-1)
        with pytest.raises(OverflowError):
            t.prefix_distance("a", "b", score_cutoff=2**64)
        with pytest.raises(TypeError, match="^argument 'score_cutoff': "):
            t.damerau_levenshtein_distance("a", "b", score_cutoff=1.5)
        with pytest.raises(TypeError, match="^argument 'score_cutoff': "):
            t.jaro_similarity("a", "b", score_cutoff="x")
        with pytest.raises(TypeError, match="^expected str, bytes, or sequence$"):
            t.osa_distance(12, "b")
        with pytest.raises(TypeError, match=r"^osa_distance\(\) takes 2 positional"):
            t.osa_distance("a", "b", None)
        with pytest.raises(TypeError, match=r"^jaro_similarity\(\) missing 1 required"):
            t.jaro_similarity("a")
        with pytest.raises(TypeError, match="unexpected keyword argument 'prefix_weight'"):
            t.jaro_similarity("a", "b", prefix_weight=0.1)
        with pytest.raises(TypeError, match="multiple values for argument 's1'"):
            t.postfix_similarity("a", s1="b")
        # Integer cutoffs accept __index__ objects; None means no cutoff.
        assert t.osa_distance(s1="ab", s2="ba", score_cutoff=True) == 1
        assert t.osa_distance("abc", "xyz", score_cutoff=None) == 3
