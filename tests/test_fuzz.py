"""fuzz_ratio and fuzz_qratio against independent computations."""
import random

import pytest
from _tarnwick import default_process, fuzz_qratio, fuzz_ratio

from naive import ratio

ALPHABETS = {
    "binary": "ab",
    "dna": "ACGT",
    "latin": "abcdefghijklmnopqrstuvwxyz",
    "wide": "a\u00e9\u0416\u4e2d\U0001f600",
}
LENGTHS = [0, 1, 2, 5, 31, 63, 64, 65, 100, 127, 128, 129, 200, 300]


def random_text(rng, alphabet, n):
    return "".join(rng.choice(alphabet) for _ in range(n))


class TestRatioAgainstDynamicProgram:
    @pytest.mark.parametrize("alphabet", ALPHABETS)
    def test_random_strings(self, rng, alphabet):
        chars = ALPHABETS[alphabet]
        for n in LENGTHS:
            m = rng.choice(LENGTHS)
            a, b = random_text(rng, chars, n), random_text(rng, chars, m)
            assert fuzz_ratio(a, b) == ratio(a, b), (a, b)
            assert fuzz_ratio(b, a) == ratio(a, b), (b, a)

    def test_similar_strings_cross_word_boundaries(self, rng):
        for n in (63, 64, 65, 127, 128, 129, 300):
            a = random_text(rng, "abcd", n)
            b = list(a)
            for _ in range(rng.randint(0, 10)):
                b[rng.randrange(n)] = rng.choice("abcde")
            b = "".join(b)
            assert fuzz_ratio(a, b) == ratio(a, b)

    def test_bytes_lists_and_wide_items(self, rng):
        for n in (0, 10, 64, 65, 150):
            a = bytes(rng.randrange(256) for _ in range(n))
            b = bytes(rng.randrange(4) for _ in range(rng.choice(LENGTHS)))
            assert fuzz_ratio(a, b) == ratio(a, b)
            la = [rng.choice([1, 2**63, 2**64 - 1, 300, 7]) for _ in range(n)]
            lb = [rng.choice([1, 2**63, 2**64 - 1, 300, 8]) for _ in range(n + 3)]
            assert fuzz_ratio(la, lb) == ratio(la, lb)

    def test_mixed_widths(self, rng):
        for n in (5, 64, 65, 200):
            a = random_text(rng, "abc", n)
            b = random_text(rng, "ab\u00e9", n)
            assert fuzz_ratio(a.encode(), b) == ratio(list(a.encode()), [ord(c) for c in b])
            assert fuzz_ratio(list(a), b) == ratio(a, b)


class TestCutoff:
    def test_worked_example(self):
        assert fuzz_ratio("kitten", "sitting") == pytest.approx(100 * (1 - 5 / 13))
        assert fuzz_ratio("kitten", "sitting", score_cutoff=62) == 0.0
        assert fuzz_ratio("kitten", "sitting", score_cutoff=61) == ratio("kitten", "sitting")

    def test_score_equal_to_cutoff_is_kept(self, rng):
        assert fuzz_ratio("ab", "a", score_cutoff=fuzz_ratio("ab", "a")) == fuzz_ratio("ab", "a")
        for _ in range(2000):
            a = random_text(rng, "abc", rng.randint(0, 12))
            b = random_text(rng, "abc", rng.randint(0, 12))
            s = ratio(a, b)
            assert fuzz_ratio(a, b, score_cutoff=s) == s, (a, b)
            above = s + 1e-9
            assert fuzz_ratio(a, b, score_cutoff=above) == 0.0

    def test_cutoff_over_100_and_negative(self):
        assert fuzz_ratio("abc", "abc", score_cutoff=100.5) == 0.0
        assert fuzz_ratio("abc", "abc", score_cutoff=100) == 100.0
        assert fuzz_ratio("abc", "xbz", score_cutoff=-5) == ratio("abc", "xbz")

    def test_nan_cutoff_prunes_as_100_but_never_counts_as_less(self):
        nan = float("nan")
        assert fuzz_ratio("abc", "abc", score_cutoff=nan) == 100.0
        assert fuzz_ratio("abc", "abd", score_cutoff=nan) == 0.0

    def test_cutoff_conversions(self):
        class F:
            def __float__(self):
                return 50.0

        assert fuzz_ratio("ab", "ac", score_cutoff=50) == 50.0
        assert fuzz_ratio("ab", "ac", score_cutoff=F()) == 50.0
        with pytest.raises(TypeError, match="^argument 'score_cutoff': must be real number, not str$") as e:
            fuzz_ratio("a", "b", score_cutoff="50")
        assert isinstance(e.value.__cause__, TypeError)

    def test_cutoff_error_other_than_type_error_passes(self):
        class Bad:
            def __float__(self):
                raise ValueError("bad float")

        with pytest.raises(ValueError, match="bad float"):
            fuzz_ratio("a", "b", score_cutoff=Bad())

    def test_type_error_subclass_passes_unwrapped(self):
        class MyTypeError(TypeError):
            pass

        class Bad:
            def __float__(self):
                raise MyTypeError("sub")

        with pytest.raises(MyTypeError, match="^sub$"):
            fuzz_ratio("a", "b", score_cutoff=Bad())

    def test_cutoff_converted_before_missing_test(self):
        with pytest.raises(TypeError):
            fuzz_ratio(None, "b", score_cutoff="x")


class TestQratio:
    def test_empty_inputs(self):
        assert fuzz_ratio("", "") == 100.0
        assert fuzz_qratio("", "") == 0.0
        assert fuzz_qratio("a", "") == 0.0
        assert fuzz_qratio([], "a", score_cutoff=-1) == 0.0

    def test_equals_ratio_otherwise(self, rng):
        for _ in range(200):
            a = random_text(rng, "abcd", rng.randint(1, 80))
            b = random_text(rng, "abcd", rng.randint(1, 80))
            assert fuzz_qratio(a, b) == fuzz_ratio(a, b)


class TestArgumentErrors:
    @pytest.mark.parametrize("call,message", [
        (lambda: fuzz_ratio(), "fuzz_ratio() missing 2 required positional arguments: 's1' and 's2'"),
        (lambda: fuzz_ratio("a"), "fuzz_ratio() missing 1 required positional argument: 's2'"),
        (lambda: fuzz_ratio("a", "b", "c"), "fuzz_ratio() takes 2 positional arguments but 3 were given"),
        (lambda: fuzz_ratio("a", "b", s1="c"), "fuzz_ratio() got multiple values for argument 's1'"),
        (lambda: fuzz_qratio("a", "b", cutoff=1), "fuzz_qratio() got an unexpected keyword argument 'cutoff'"),
        (lambda: default_process(), "default_process() missing 1 required positional argument: 's'"),
        (lambda: default_process("a", "b"), "default_process() takes 1 positional arguments but 2 were given"),
    ])
    def test_messages(self, call, message):
        with pytest.raises(TypeError) as e:
            call()
        assert str(e.value) == message

    def test_unexpected_keyword_keeps_its_text(self):
        with pytest.raises(TypeError) as e:
            fuzz_ratio("a", "b", **{"\ud800x": 1})
        assert str(e.value) == "fuzz_ratio() got an unexpected keyword argument '\ud800x'"

    def test_keywords_for_positional_parameters(self):
        assert fuzz_ratio(s2="ab", s1="ab") == 100.0


class TestBoundedKernels:
    """The cut-off turns into a distance bound with early exits; no bound may change a
    score that reaches the cut-off, at any length or width."""

    @pytest.mark.parametrize("alphabet", ["ab", "abcd", "a\u00e9\u0416\u4e2d"])
    def test_long_pairs_with_cutoffs(self, rng, alphabet):
        for n in (40, 64, 65, 100, 128, 129, 250):
            a = random_text(rng, alphabet, n)
            b = "".join(c if rng.random() < 0.8 else rng.choice(alphabet) for c in a)
            b = b[: rng.randint(n // 2, n)] + random_text(rng, alphabet, rng.randint(0, 20))
            exact = ratio(a, b)
            for cutoff in (0, 30, 50, exact - 1e-9, exact, exact + 1e-9, 70, 90, 99, 100):
                got = fuzz_ratio(a, b, score_cutoff=cutoff)
                assert got == (exact if exact >= cutoff else 0.0), (n, cutoff)

    def test_length_and_histogram_bounds(self):
        # Very different lengths or symbol counts are rejected without the bit-parallel
        # pass; the answer is still the exact score when it reaches the cut-off.
        long = "a" * 300
        assert fuzz_ratio(long, "a", score_cutoff=0.5) == ratio(long, "a")
        assert fuzz_ratio(long, "a", score_cutoff=1) == 0.0
        assert fuzz_ratio(long, "a", score_cutoff=ratio(long, "a") + 1e-9) == 0.0
        wide = ["\u4e2d"] * 70 + ["a"] * 5
        assert fuzz_ratio(wide, "a" * 75, score_cutoff=6) == ratio(wide, "a" * 75)
        assert fuzz_ratio(wide, "a" * 75, score_cutoff=7) == 0.0

    def test_list_items_with_large_values(self, rng):
        for n in (10, 64, 65, 130):
            a = [rng.choice([2**64 - 1, 2**40, 5, 300]) for _ in range(n)]
            b = [rng.choice([2**64 - 1, 2**40, 5, 301]) for _ in range(n)]
            exact = ratio(a, b)
            assert fuzz_ratio(a, b, score_cutoff=exact) == exact
            assert fuzz_ratio(a, b, score_cutoff=min(100.0, exact + 0.5)) == (exact if exact == 100.0 else 0.0)
