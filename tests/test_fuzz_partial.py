"""fuzz_partial_ratio and fuzz_partial_ratio_alignment against a brute-force window search."""

import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import fuzz_models as m
from tarnwick import ScoreAlignment, fuzz_partial_ratio, fuzz_partial_ratio_alignment

ascii_text = st.text(alphabet="abcx ", max_size=14)
wide_text = st.text(alphabet="abé€ ", max_size=12)


def alignment_tuple(al):
    return (al.score, al.src_start, al.src_end, al.dest_start, al.dest_end)


class TestAgainstWindowModel:
    @settings(max_examples=400, deadline=None)
    @given(ascii_text, ascii_text)
    def test_ascii_strings(self, a, b):
        """Pure-ASCII str pairs take the short-needle kernel (or the window search past 64)."""
        assert fuzz_partial_ratio(a, b) == m.partial_ratio(a, b)
        assert fuzz_partial_ratio(a.encode(), b.encode()) == m.partial_ratio(a, b)

    @settings(max_examples=300, deadline=None)
    @given(wide_text, st.one_of(wide_text, ascii_text))
    def test_non_ascii_strings(self, a, b):
        assert fuzz_partial_ratio(a, b) == m.partial_ratio(a, b)
        assert fuzz_partial_ratio(b, a) == m.partial_ratio(b, a)

    @settings(max_examples=300, deadline=None)
    @given(st.lists(st.integers(0, 3), max_size=10), st.lists(st.integers(0, 3), max_size=10))
    def test_item_sequences(self, a, b):
        assert fuzz_partial_ratio(a, b) == m.partial_ratio(a, b)

    @settings(max_examples=400, deadline=None)
    @given(st.one_of(ascii_text, wide_text), st.one_of(ascii_text, wide_text))
    def test_alignment(self, a, b):
        al = fuzz_partial_ratio_alignment(a, b)
        assert alignment_tuple(al) == m.partial_ratio_alignment(a, b)

    @settings(max_examples=150, deadline=None)
    @given(st.text(alphabet="abc", min_size=1, max_size=20), st.text(alphabet="abc", min_size=20, max_size=80))
    def test_short_needle_long_haystack(self, a, b):
        """Many full windows: the best one and its position match the model."""
        assert fuzz_partial_ratio(a, b) == m.partial_ratio(a, b)
        assert fuzz_partial_ratio("é" + a, b) == m.partial_ratio("é" + a, b)
        assert alignment_tuple(fuzz_partial_ratio_alignment(a, b)) == m.partial_ratio_alignment(a, b)

    @settings(max_examples=15, deadline=None)
    @given(st.text(alphabet="ab€中", min_size=17, max_size=64),
           st.text(alphabet="ab€中x", min_size=250, max_size=270))
    def test_wide_needles_in_haystacks_around_256(self, a, b):
        """Wide needles of 17 to 64 code points (values past 255 included) in haystacks on
        both sides of 256 elements, as str and as lists of characters."""
        expected = m.partial_ratio(a, b)
        assert fuzz_partial_ratio(a, b) == expected
        assert fuzz_partial_ratio(list(b), list(a)) == expected

    @settings(max_examples=60, deadline=None)
    @given(st.text(alphabet="ab", min_size=60, max_size=70), st.text(alphabet="ab", min_size=66, max_size=90))
    def test_needles_around_64_bytes(self, a, b):
        """Needles of up to 64 bytes use the kernel without prefixes, longer ones the
        window search; both must agree with their model."""
        assert fuzz_partial_ratio(a, b) == m.partial_ratio(a, b)


class TestKernelChoice:
    def test_short_needle_kernel_versus_window_search(self):
        """ab in bxxx: the kernel sees bx, xx, xx and the suffix x (50); the window search
        of the alignment also tries the prefix b (66.67)."""
        assert fuzz_partial_ratio("ab", "bxxx") == 50.0
        al = fuzz_partial_ratio_alignment("ab", "bxxx")
        assert alignment_tuple(al) == (100.0 * (1.0 - 1 / 3), 0, 2, 0, 1)

    @pytest.mark.parametrize("n, expected_kernel", [(64, True), (65, False)])
    def test_64_and_65_byte_needles(self, n, expected_kernel):
        """The prefix window only counts for needles over 64 bytes."""
        needle = "b" + "a" * (n - 1)
        hay = "b" + "x" * (n + 10)
        kernel = m.fast_kernel(list(needle.encode()), list(hay.encode()))
        search = m.window_search(list(needle.encode()), list(hay.encode()))[0]
        assert kernel != search
        assert fuzz_partial_ratio(needle, hay) == (kernel if expected_kernel else search)

    def test_non_ascii_equal_lengths_try_both_directions(self):
        a, b = "éab", "bxé"
        forward = m.window_search([ord(c) for c in a], [ord(c) for c in b])[0]
        backward = m.window_search([ord(c) for c in b], [ord(c) for c in a])[0]
        assert fuzz_partial_ratio(a, b) == max(forward, backward)

    def test_verbatim_needle_scores_100_on_every_path(self):
        hay = "the quick brown fox " * 10
        for needle in ("brown", "brown fox the", "brown fox the quick " * 4):
            assert fuzz_partial_ratio(needle, hay) == 100.0
            assert fuzz_partial_ratio(needle.encode(), hay.encode()) == 100.0
            assert fuzz_partial_ratio_alignment(needle, hay).score == 100.0
        assert fuzz_partial_ratio("é€", "xxé€yy") == 100.0
        assert fuzz_partial_ratio([1, 2], [0, 1, 2, 3]) == 100.0

    def test_long_haystack(self):
        """Scores do not depend on where in a long text the best window lies."""
        hay = "x" * 5000 + "needle" + "y" * 5000
        assert fuzz_partial_ratio("needlf", hay) == m.window_score(list(b"needlf"), list(b"needle"))
        al = fuzz_partial_ratio_alignment("needle", hay)
        assert alignment_tuple(al) == (100.0, 0, 6, 5000, 5006)


class TestAlignmentResult:
    def test_ties_keep_the_earliest_window(self):
        """Prefixes come before full windows before suffixes, lower starts first."""
        al = fuzz_partial_ratio_alignment("abc", "xabxabx")
        assert alignment_tuple(al) == m.partial_ratio_alignment("abc", "xabxabx")
        assert (al.dest_start, al.dest_end) == (0, 3)

    def test_reverse_search_on_equal_lengths(self):
        """aaba in aaxb scores 75; the reverse search, aaxb in aaba, finds aab (85.7)."""
        al = fuzz_partial_ratio_alignment("aaba", "aaxb")
        assert alignment_tuple(al) == (100.0 * (1.0 - 1 / 7), 0, 3, 0, 4)
        assert alignment_tuple(al) == m.partial_ratio_alignment("aaba", "aaxb")

    def test_longer_first_argument(self):
        al = fuzz_partial_ratio_alignment("xxhelloxx", "hello")
        assert alignment_tuple(al) == (100.0, 2, 7, 0, 5)

    def test_missing_and_cutoff_give_none(self):
        assert fuzz_partial_ratio_alignment(None, "a") is None
        assert fuzz_partial_ratio_alignment("a", float("nan")) is None
        assert fuzz_partial_ratio_alignment("abc", "xyz", score_cutoff=1) is None
        al = fuzz_partial_ratio_alignment("abc", "abd")
        assert fuzz_partial_ratio_alignment("abc", "abd", score_cutoff=al.score) == al

    def test_empty_inputs(self):
        assert alignment_tuple(fuzz_partial_ratio_alignment("", "")) == (100.0, 0, 0, 0, 0)
        assert alignment_tuple(fuzz_partial_ratio_alignment("", "ab")) == (0.0, 0, 0, 0, 0)

    def test_processor_and_positions_after_processing(self):
        al = fuzz_partial_ratio_alignment("  HELLO", "say hello", processor=lambda s: s.strip().lower())
        assert alignment_tuple(al) == (100.0, 0, 5, 4, 9)

    def test_returns_score_alignment(self):
        al = fuzz_partial_ratio_alignment("ab", "ab")
        assert type(al) is ScoreAlignment
        assert al == ScoreAlignment(100.0, 0, 2, 0, 2)


class TestConvention:
    def test_empty_inputs(self):
        assert fuzz_partial_ratio("", "") == 100.0
        assert fuzz_partial_ratio("", "", score_cutoff=101) == 0.0
        assert fuzz_partial_ratio("", "a") == 0.0
        assert fuzz_partial_ratio([], []) == 100.0

    def test_missing_inputs(self):
        calls = []

        def proc(s):
            calls.append(s)
            return s

        assert fuzz_partial_ratio(None, "a", processor=proc) == 0.0
        assert fuzz_partial_ratio("a", math.nan, processor=proc) == 0.0
        assert calls == []

    def test_cutoff_keeps_equal_scores(self):
        score = fuzz_partial_ratio("abcd", "xabdx")
        assert 0 < score < 100
        assert fuzz_partial_ratio("abcd", "xabdx", score_cutoff=score) == score
        assert fuzz_partial_ratio("abcd", "xabdx", score_cutoff=math.nextafter(score, 101)) == 0.0

    def test_argument_errors(self):
        with pytest.raises(TypeError, match="expected str, bytes, or sequence"):
            fuzz_partial_ratio(1, "a")
        with pytest.raises(TypeError, match="argument 'score_cutoff'"):
            fuzz_partial_ratio("a", "b", score_cutoff="x")
        with pytest.raises(TypeError, match="unexpected keyword argument 'cutoff'"):
            fuzz_partial_ratio_alignment("a", "b", cutoff=1)
        assert fuzz_partial_ratio_alignment.__text_signature__ == "(s1, s2, *, processor=None, score_cutoff=None)"
