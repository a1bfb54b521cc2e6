"""cdist and the extraction functions with short ASCII queries under the simple and quick
ratio, against the plain dynamic program.

On processors with AVX-512 (BW, VL, VBMI) a query of 1 to 16 ASCII bytes without a zero byte
scores its byte-string choices 64 at a time, and choices with a byte of 128 or more go back
to the one-at-a-time path; a query of 17 bytes, or one holding a zero byte, never takes the
lanes. Queries of every one of these lengths meet the same choices here, so both paths are
held to the same plain program on such a processor, and the one path on any other.
"""
import math
import random

import pytest

import _tarnwick
import naive

ALPHABET = "abcde\x00"


def elements(s):
    """What the scorers compare: code points of a str, byte values of bytes."""
    return [ord(c) for c in s] if isinstance(s, str) else list(s)


def plain(name, q, c, cutoff):
    """The score of the plain program under the cut-off rule (0.0 for a missing choice)."""
    if c is None:
        return 0.0
    a, b = elements(q), elements(c)
    if name == "qratio" and (not a or not b):
        return 0.0
    s = naive.ratio(a, b)
    return s if cutoff is None or s >= cutoff else 0.0


def random_choice(rng):
    """Mostly ASCII of 0 to 40 bytes (longer than one 16-byte block, with zero bytes), with
    empty ones, text beyond ASCII (its first wide character early or past the first block)
    and bytes of 128 or more."""
    r = rng.random()
    ascii_text = "".join(rng.choice(ALPHABET) for _ in range(rng.randint(0, 40)))
    if r < 0.75:
        return ascii_text
    if r < 0.8:
        return ""
    if r < 0.9:
        at = rng.randint(0, len(ascii_text))
        return ascii_text[:at] + rng.choice("\u00e9\u03b1\u4e2d") + ascii_text[at:]
    raw = ascii_text.encode()
    return raw + bytes([rng.randint(128, 255)]) if rng.random() < 0.5 else raw


def queries(rng):
    """Every length from 1 to 17 bytes, some with a zero byte."""
    out = ["".join(rng.choice("abcde") for _ in range(n)) for n in range(1, 18)]
    out += ["ab\x00cd", "\x00" * 3, "e" * 16]
    return out


def cutoffs_around(scores):
    """None, 0, and cut-offs at, just above and just below some of the scores met."""
    picked = sorted(set(scores))[::7]
    out = [None, 0.0]
    for s in picked:
        out += [s, math.nextafter(s, math.inf), math.nextafter(s, -math.inf)]
    return out


def lanes_run_here():
    """Whether this processor has what the lane kernel needs (read where Linux says)."""
    try:
        with open("/proc/cpuinfo") as f:
            flags = next((line.split(":", 1)[1].split() for line in f if line.startswith("flags")), [])
    except OSError:
        return False
    return {"avx512f", "avx512bw", "avx512vl", "avx512vbmi"} <= set(flags)


@pytest.mark.parametrize("name", ["ratio", "qratio"])
class TestCdistShortQueries:
    def test_every_cell_is_the_plain_program(self, name):
        rng = random.Random(41 if name == "ratio" else 42)
        qs = queries(rng)
        choices = [random_choice(rng) for _ in range(300)] + [None]
        rng.shuffle(choices)
        plain_scores = {(i, j): plain(name, q, c, None)
                        for i, q in enumerate(qs) for j, c in enumerate(choices)}
        for cutoff in cutoffs_around(plain_scores.values()):
            got, n, m = _tarnwick.cdist(qs, choices, "fuzz_" + name, None, None, cutoff)
            assert (n, m) == (len(qs), len(choices))
            want = [s if cutoff is None or s >= cutoff else 0.0
                    for s in (plain_scores[i, j] for i in range(n) for j in range(m))]
            assert got == want, cutoff

    def test_long_choices_and_few_choices(self, name):
        # Choices of many blocks; rows below 64 choices take the one-at-a-time path.
        rng = random.Random(43)
        qs = queries(rng)
        for count in (1, 63, 64, 65, 130):
            choices = ["".join(rng.choice("abcde") for _ in range(rng.randint(0, 200))) for _ in range(count)]
            got = _tarnwick.cdist(qs, choices, "fuzz_" + name, None)[0]
            assert got == [plain(name, q, c, None) for q in qs for c in choices]


def grouped_choice(rng):
    """Mostly choices of 1 to 16 ASCII bytes (str or bytes, some with zero bytes), which a
    matrix of several short ASCII queries lays out in groups of 64 once, mixed with those
    it leaves to the other paths: 17 to 24 bytes, text beyond ASCII, bytes of 128 or more,
    empty ones and None."""
    r = rng.random()
    short = "".join(rng.choice(ALPHABET) for _ in range(rng.randint(1, 16)))
    if r < 0.55:
        return short
    if r < 0.7:
        return short.encode()
    if r < 0.78:
        return "".join(rng.choice("abcde") for _ in range(rng.randint(17, 24)))
    if r < 0.84:
        return short[:-1] + "\u00e9"
    if r < 0.9:
        return short.encode()[:-1] + bytes([rng.randint(128, 255)])
    return rng.choice(["", b"", None])


class PlainCache:
    """The plain program's score of each (scorer, query, choice) pair, computed once."""

    def __init__(self):
        self.seen = {}

    def __call__(self, name, q, c):
        key = (name, q, type(c), c)
        if key not in self.seen:
            self.seen[key] = plain(name, q, c, None)
        return self.seen[key]


@pytest.mark.parametrize("name", ["ratio", "qratio"])
class TestCdistGroupedChoices:
    """Matrices of more than one short ASCII row, whose short ASCII choices are laid out
    in transposed groups once, against the plain program cell by cell."""

    # 1 and 8 bytes take 8-bit lane states, 9 and 16 16-bit ones; the last three rows are
    # served another way beside them.
    QUERIES = ["c", "abcdeabc", "abcdeabcd", "eabcdeabcdeabcde", "abcdeabcdeabcdeabc", "ab\x00cd", "ab\u00e9cd"]

    def test_every_cell_under_every_cutoff(self, name):
        rng = random.Random(51 if name == "ratio" else 52)
        pool = [grouped_choice(rng) for _ in range(400)]
        choices = [rng.choice(pool) for _ in range(1000)] + ["abcdeabcdeabcdea", "a", "\x00" * 5]
        cache = PlainCache()
        full = [cache(name, q, c) for q in self.QUERIES for c in choices]
        # Cut-offs near the scores met, and high ones that reject the short and long choices
        # of the one-byte query by their length alone.
        for cutoff in cutoffs_around(full) + [50.0, 90.0, 100.0]:
            got, n, m = _tarnwick.cdist(self.QUERIES, choices, "fuzz_" + name, None, None, cutoff)
            assert (n, m) == (len(self.QUERIES), len(choices))
            want = [s if cutoff is None or s >= cutoff else 0.0 for s in full]
            bad = [(k // m, k % m) for k in range(n * m) if got[k] != want[k]]
            assert not bad, (cutoff, [(self.QUERIES[i], choices[j]) for i, j in bad[:3]])

    def test_groups_of_few_choices(self, name):
        # A last group of 2, 63 or 64 short choices among others, spread over 64 or more
        # positions or packed together.
        cache = PlainCache()
        fill = [None, "x" * 20, "\u00e9", b"", b"\xff"]
        cases = [["abc"] + fill * 12 + ["ab", "bcd"] + ["ca"],
                 ["ab" * 8] * 63 + [None],
                 [None] + ["cab"] * 64,
                 ["ac"] * 64 + [b"de"] + fill * 13]
        for choices in cases:
            got = _tarnwick.cdist(self.QUERIES, choices, "fuzz_" + name, None)[0]
            assert got == [cache(name, q, c) for q in self.QUERIES for c in choices]

    def test_rows_of_grouped_choices_only(self, name):
        # Every choice 1 to 16 ASCII bytes: parts of rows are coded straight from each
        # cell's length and LCS, where different pairs may give one score; each cell holds
        # one reference to its float all the same. 12 rows over 300 choices, then two
        # rows over 40,000 (split in parts on a pool of more than one worker).
        from test_process_lists import references_per_cell
        rng = random.Random(54)
        pool = ["".join(rng.choice(ALPHABET) for _ in range(rng.randint(1, 16))) for _ in range(250)]
        pool += [c.encode() for c in pool[:50]]
        cache = PlainCache()
        queries = self.QUERIES[:4] + ["dcba", "a" * 16, "edcbaedcb", "ab", "ba", "eeee", "d" * 8, "cab" * 5]
        for n, m in ((12, 300), (2, 40_000)):
            choices = [rng.choice(pool) for _ in range(m)]
            for cutoff in (None, 40.0, 75.0):
                got, _, _ = _tarnwick.cdist(queries[:n], choices, "fuzz_" + name, None, None, cutoff)
                want = [s if cutoff is None or s >= cutoff else 0.0
                        for q in queries[:n] for s in (cache(name, q, c) for c in choices)]
                assert got == want, cutoff
                assert references_per_cell(got) == {2}

    def test_many_chunks_and_rows_split_in_parts(self, name):
        # 50,000 choices are laid out in many chunks, each ending in a group with empty
        # lanes; two or three rows over them are scored in parts of a row whose edges fall
        # inside groups (on a pool of more than one worker).
        rng = random.Random(53)
        pool = [grouped_choice(rng) for _ in range(300)]
        choices = [rng.choice(pool) for _ in range(50_001)]
        cache = PlainCache()
        for queries in (self.QUERIES[1:3], self.QUERIES[:4:3] + ["deadbeef"]):
            for cutoff in (None, 60.0):
                got, n, m = _tarnwick.cdist(queries, choices, "fuzz_" + name, None, None, cutoff)
                want = [s if cutoff is None or s >= cutoff else 0.0
                        for q in queries for s in (cache(name, q, c) for c in choices)]
                bad = [k for k in range(n * m) if got[k] != want[k]]
                assert not bad, (queries, cutoff, [(queries[k // m], choices[k % m]) for k in bad[:3]])


def small_alphabet_items(rng, highs, count, ascii_letters="abc\x00"):
    """`count` items of 0 to 12 elements over the ASCII letters and the values `highs`
    (128 and more): str mostly, bytes where every value is below 256, some empty, None."""
    out = []
    for _ in range(count):
        letters = [rng.choice(highs) if rng.random() < 0.6 else ord(rng.choice(ascii_letters))
                   for _ in range(rng.randint(0, 12))]
        if rng.random() < 0.2 and all(v < 256 for v in letters):
            out.append(bytes(letters))
        else:
            out.append("".join(map(chr, letters)) if rng.random() < 0.97 else None)
    return out


@pytest.mark.parametrize("name", ["ratio", "qratio"])
class TestCdistSmallAlphabets:
    """Matrices of many rows whose items go beyond ASCII with few distinct values (recoded
    as byte strings for the byte kernels) or too many of them (left as they are), against
    the plain program cell by cell, bytes comparing equal to code points of equal value."""

    def check(self, name, queries, choices, cutoffs=(None,), processor=None):
        cache = PlainCache()
        proc = processor or (lambda x: x)
        full = [cache(name, proc(q), None if c is None else proc(c)) if q is not None else 0.0
                for q in queries for c in choices]
        for cutoff in cutoffs:
            got, n, m = _tarnwick.cdist(queries, choices, "fuzz_" + name, None, processor, cutoff)
            want = [s if cutoff is None or s >= cutoff else 0.0 for s in full]
            bad = [(queries[k // m], choices[k % m]) for k in range(n * m) if got[k] != want[k]]
            assert not bad, (cutoff, bad[:3])

    def test_words_mixed_with_ascii_and_bytes(self, name):
        rng = random.Random(61)
        letters = "abcdefgh\u00e9\u00e8\u00fc\u00f6\u0430\u0431\u0432\u03b1\u03b2\u4e2d\u6587"
        words = ["".join(rng.choice(letters) for _ in range(rng.randint(1, 12))) for _ in range(200)]
        items = words + ["", None, "abc", "\u00e9t\u00e9", b"\xe9t\xe9", b"\xe9", "\u00e9", b"ab\xff", b"",
                         "abcdefgh" * 3, "\u00e9" * 20, "a\x00\u00e9"]
        rng.shuffle(items)
        scores = [naive.ratio(elements(a), elements(b)) for a in items[:6] for b in items[:40]
                  if a is not None and b is not None]
        self.check(name, items[:30], items, cutoffs=[None, 0.0, 50.0] + cutoffs_around(scores)[2:8])
        # The bytes b"\xe9" score as the text "\u00e9" does.
        got = _tarnwick.cdist(["\u00e9t\u00e9"] * 9, [b"\xe9t\xe9", "ete"], "fuzz_" + name, None)[0]
        assert got[:2] == [100.0, naive.ratio("\u00e9t\u00e9", "ete")]

    def test_alphabets_at_and_past_the_free_codes(self, name):
        # The items use 3 letters of ASCII and the zero byte: 124 codes below 128 are free,
        # 252 codes in all. Values of one and two UTF-8 bytes, and of the hashed range.
        rng = random.Random(62)
        highs = [0xC0 + k for k in range(60)] + [0x400 + k for k in range(60)] + [0x4E00 + k for k in range(200)]
        for distinct in (124, 125, 252, 253):
            pick = rng.sample(highs, distinct)
            items = small_alphabet_items(rng, pick, 300)
            # Every value occurs in some item.
            items += ["".join(map(chr, pick[k:k + 10])) for k in range(0, distinct, 10)]
            rng.shuffle(items)
            self.check(name, items[:12], items)

    def test_many_items_in_chunks(self, name):
        # Thousands of items are counted and copied in chunks on the pool; a value past the
        # codes in the last chunk only leaves every item as it is.
        rng = random.Random(65)
        pool = small_alphabet_items(rng, [0xE9, 0xFC, 0x431, 0x3B2, 0x6587], 300)
        items = [rng.choice(pool) for _ in range(6000)]
        cache = PlainCache()
        for tail in ([], ["".join(chr(0x4E00 + k) for k in range(300))]):
            choices = items + tail
            got, n, m = _tarnwick.cdist(items[:8], choices, "fuzz_" + name, None)
            want = [cache(name, q, c) if q is not None else 0.0 for q in items[:8] for c in choices]
            bad = [k for k in range(n * m) if got[k] != want[k]]
            assert not bad, (len(tail), [(items[k // m], choices[k % m]) for k in bad[:3]])

    def test_processor_and_missing_rows(self, name):
        rng = random.Random(63)
        items = small_alphabet_items(rng, [0xE9, 0xC9, 0x3B1, 0x391, 0x4E2D], 150)
        items = [i for i in items if not isinstance(i, bytes)]
        self.check(name, [None] + items[:11], items, cutoffs=(None, 70.0), processor=str.upper)


@pytest.mark.parametrize("name", ["partial_ratio", "token_sort_ratio", "token_set_ratio", "wratio"])
def test_other_scorers_over_small_alphabets(name):
    # These scorers read more than which elements are equal: each cell is the one-pair call's.
    rng = random.Random(64)
    items = small_alphabet_items(rng, [0xE9, 0xE8, 0x430, 0x3B1, 0x4E2D], 120, ascii_letters="ab \x00")
    items = [i for i in items if i is not None] + ["\u00e9 a", b"\xe9 a"]
    pair = getattr(_tarnwick, "fuzz_" + name)
    got, n, m = _tarnwick.cdist(items[:10], items, "fuzz_" + name, None)
    assert got == [pair(q, c) for q in items[:10] for c in items]


def ranked(name, q, choices):
    """(score, index) of every choice but the missing ones, best first."""
    kept = [(plain(name, q, c, None), i) for i, c in enumerate(choices) if c is not None]
    return sorted(kept, key=lambda t: (-t[0], t[1]))


def above(full, cutoff):
    """What the extraction keeps of the ranked `full` under the cut-off."""
    return [(s, i) for s, i in full if cutoff is None or s >= cutoff]


@pytest.mark.parametrize("name", ["ratio", "qratio"])
class TestExtractShortQueries:
    def test_results_follow_the_plain_program(self, name):
        rng = random.Random(44 if name == "ratio" else 45)
        choices = [random_choice(rng) for _ in range(2000)] + [None, None]
        rng.shuffle(choices)
        scorer = "fuzz_" + name
        for q in queries(rng)[::2] + ["e" * 16, "abcdeabcdeabcdeab"]:
            full = ranked(name, q, choices)
            near = [v for s, _ in full[:40:9]
                    for v in (s, math.nextafter(s, math.inf), math.nextafter(s, -math.inf))]
            for cutoff in [None, 0.0] + near:
                want = above(full, cutoff)
                got_all = _tarnwick.extract_iter(q, choices, scorer, None, None, cutoff)
                assert [(s, i) for _, s, i in got_all] == want, (q, cutoff)
                assert all(choices[i] is c for c, _, i in got_all)
                got5 = _tarnwick.extract(q, choices, scorer, None, None, 5, cutoff)
                assert [(s, i) for _, s, i in got5] == want[:5], (q, cutoff)
                one = _tarnwick.extract_one(q, choices, scorer, None, None, cutoff)
                assert (one[1:] if one else None) == (tuple(want[0]) if want else None), (q, cutoff)

    def test_ties_keep_the_lowest_index(self, name):
        # Many equal scores spread over every chunk of the pool.
        rng = random.Random(46)
        choices = [rng.choice(["abcd", "abce", "abcd\u00e9", b"abcd", b"abc\xe9", ""]) for _ in range(5000)]
        for q in ["abcd", "abcdabcdabcdabcd"]:
            want = ranked(name, q, choices)
            got = _tarnwick.extract(q, choices, "fuzz_" + name, None, None, 25, None)
            assert [(s, i) for _, s, i in got] == want[:25]


class TestSigintOnTheLanes:
    """SIGINT stops a long matrix or extraction whose choices are scored on the lanes (one
    text of a million bytes repeated: each call would run for minutes on one thread)."""

    CALLS = {
        "cdist": 'm.cdist(["abcdefgh"] * 50000, [long] * 64, "ratio", None)',
        "extract": 'm.extract("abcdefghijklmnop", [long] * 400000, "ratio", None)',
    }

    @pytest.mark.parametrize("call", sorted(CALLS))
    def test_stops(self, call):
        from test_robustness import interrupt_call
        setup = """
            import _tarnwick as m
            long = "abcdefgh" * 125000
        """
        assert interrupt_call(setup, self.CALLS[call]) == ["interrupted"]

    # Texts of 2**32 - 1 bytes, the longest a lane takes, each alone in its lane for about
    # half a minute: the kernel must stop inside a text, not only where one ends. All 64
    # lanes on such texts, and one lane on one while the others run out of short texts.
    # bytes(n) maps pages of zeros that are never written, so the texts cost no memory;
    # a zero byte matches nothing in the query.
    LONG_CALLS = {
        "cdist, 8-byte query": 'm.cdist(["abcdefgh"], [huge] * 64, "ratio", None)',
        "cdist, 16-byte query": 'm.cdist(["abcdefghijklmnop"], [huge] * 64, "ratio", None)',
        "cdist, one long text": 'm.cdist(["abc"], [huge] + [b"abd"] * 200, "ratio", None)',
        "extract": 'm.extract("abcdefghijkl", [huge] * 64, "ratio", None)',
        "extract, one long text": 'm.extract("abcd", [b"abd"] * 100 + [huge] * 1 + [b"x"] * 150, "ratio", None)',
    }

    # (The one-at-a-time path stops inside such texts too: see test_robustness.py.)
    @pytest.mark.skipif(not lanes_run_here(), reason="the lane kernel does not run on this processor")
    @pytest.mark.parametrize("call", sorted(LONG_CALLS))
    def test_stops_inside_long_texts(self, call):
        from test_robustness import interrupt_call
        setup = """
            import _tarnwick as m
            huge = bytes(2**32 - 1)
        """
        # Then the lanes score a row whole and right: the stop left nothing behind.
        after = """
            short = [b"abcdefgh", b"abcxyz", b"h"] * 30
            got = m.cdist(["abcdefgh"], short, "ratio", None)[0]
            print(got == [m.fuzz_ratio("abcdefgh", c) for c in short])
        """
        # A deadline of seconds for a stop seen within milliseconds; without checks inside
        # a text the call would run on for tens of seconds after the signal.
        assert interrupt_call(setup, self.LONG_CALLS[call], after, timeout=10) == ["interrupted", "True"]
