"""sorensen_dice and jaccard against a Counter model of the n-gram counts."""
import math
from collections import Counter

import pytest

from _tarnwick import jaccard, sorensen_dice


def grams(seq, n):
    if n == 0:
        return Counter()
    return Counter(tuple(seq[i:i + n]) for i in range(len(seq) - n + 1))


def model(a, b, n=2):
    """(jaccard, sorensen_dice) from Counter intersections."""
    if len(a) == 0 and len(b) == 0:
        return 1.0, 1.0
    if len(a) < n or len(b) < n:
        return 0.0, 0.0
    shared = sum((grams(a, n) & grams(b, n)).values())
    total = (len(a) - n + 1) + (len(b) - n + 1)
    jac = 1.0 if total == shared else shared / (total - shared)
    return jac, (float(shared) * 2.0) / float(total)


def random_text(rng, alphabet, n):
    return "".join(rng.choice(alphabet) for _ in range(n))


class TestAgainstCounterModel:
    @pytest.mark.parametrize("alphabet", ["ab", "abcde", "\u00e9\u00e8e\u4e2d"])
    def test_random_texts(self, rng, alphabet):
        for _ in range(200):
            a = random_text(rng, alphabet, rng.randint(0, 15))
            b = random_text(rng, alphabet, rng.randint(0, 15))
            if a.isascii() != b.isascii():
                continue
            n = rng.randint(0, 4)
            jac, dice = model(a, b, n)
            assert jaccard(a, b, n=n) == jac, (a, b, n)
            assert sorensen_dice(a, b, n=n) == dice, (a, b, n)

    def test_items_and_bytes(self, rng):
        for _ in range(100):
            a = [rng.choice([1, 2, 2**64 - 1]) for _ in range(rng.randint(0, 12))]
            b = [rng.choice([1, 2, 2**64 - 1]) for _ in range(rng.randint(0, 12))]
            n = rng.randint(1, 3)
            assert (jaccard(a, b, n=n), sorensen_dice(a, b, n=n)) == model(a, b, n)
            ba, bb = bytes(x % 256 for x in a), bytes(x % 256 for x in b)
            assert (jaccard(ba, bb, n=n), sorensen_dice(ba, bb, n=n)) == model(ba, bb, n)

    def test_long_grams_with_repeats(self, rng):
        # Long n over a two-letter alphabet: many repeated, overlapping windows.
        for n in (8, 33, 64, 100):
            a = random_text(rng, "ab", 300)
            b = a[50:] + random_text(rng, "ab", 40)
            jac, dice = model(a, b, n)
            assert jaccard(a, b, n=n) == jac
            assert sorensen_dice(a, b, n=n) == dice


class TestWorkedExamples:
    @pytest.mark.parametrize("a, b, n, jac, dice", [
        ("abc", "abc", 2, 1.0, 1.0),
        ("abab", "ab", 2, 1 / 3, 0.5),      # ab twice against once: one shared
        ("abcd", "abce", 2, 0.5, 2 / 3),
        ("night", "nacht", 2, 1 / 7, 0.25),
        ("", "", 2, 1.0, 1.0),
        ("", "", 0, 1.0, 1.0),
        ("a", "a", 2, 0.0, 0.0),            # both shorter than n
        ("aab", "abb", 1, 0.5, 2 / 3),
        ("abc", "abc", 0, 0.0, 0.0),        # no 0-grams are counted
        ("abc", "", 1, 0.0, 0.0),
    ])
    def test_values(self, a, b, n, jac, dice):
        assert jaccard(a, b, n=n) == jac
        assert sorensen_dice(a, b, n=n) == dice

    def test_cutoff(self):
        assert jaccard("abc", "abce", score_cutoff=0.8) == 0.0
        assert sorensen_dice("abc", "abce", score_cutoff=0.8) == 0.8
        assert jaccard("", "", score_cutoff=1.5) == 0.0
        assert sorensen_dice("", "", score_cutoff=1.0) == 1.0
        assert sorensen_dice("a", "a", score_cutoff=-1) == 0.0
        assert jaccard("ab", "ab", score_cutoff=None) == 1.0
        assert jaccard("ab", "ab", score_cutoff=math.nan) == 1.0


class TestInputs:
    def test_widths_must_match(self):
        for fn in (jaccard, sorensen_dice):
            with pytest.raises(ValueError, match="Mismatched sequence types"):
                fn("abc", "\u00e4bc")
            with pytest.raises(ValueError, match="Mismatched sequence types"):
                fn("abc", list("abc"))
            # Checked before the emptiness test.
            with pytest.raises(ValueError, match="Mismatched sequence types"):
                fn("", [])
            assert fn("abc", b"abc") == 1.0

    def test_no_missing_value_test(self):
        with pytest.raises(TypeError, match="expected str, bytes, or sequence"):
            jaccard(None, "abc")
        with pytest.raises(TypeError, match="expected str, bytes, or sequence"):
            sorensen_dice("abc", math.nan)
        assert jaccard("<NA>", "<NA>") == 1.0

    def test_n_argument(self):
        with pytest.raises(OverflowError):
            jaccard("abc", "abc", n=-1)
        with pytest.raises(TypeError, match="argument 'n'"):
            sorensen_dice("abc", "abc", n=None)
        with pytest.raises(TypeError, match="argument 'n'"):
            sorensen_dice("abc", "abc", n=1.5)
        assert jaccard("abc", "abc", n=2**64 - 1) == 0.0
        with pytest.raises(TypeError):
            jaccard("abc", "abc", 2)

    def test_processor(self):
        assert jaccard("ABC", "abc", processor=str.lower) == 1.0
        with pytest.raises(ZeroDivisionError):
            jaccard("a", "b", processor=lambda s: 1 / 0)

    def test_signatures(self):
        assert jaccard.__text_signature__ == "(s1, s2, *, n=2, processor=None, score_cutoff=None)"
        assert sorensen_dice.__text_signature__ == jaccard.__text_signature__
        assert jaccard.__doc__ is None
