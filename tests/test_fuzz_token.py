"""The six token scorers and the weighted ratio against plain Python models, and the
cut-off pruning property of every scorer."""

import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import fuzz_models as m
import tarnwick as t

TOKEN_SCORERS = {
    t.fuzz_token_sort_ratio: m.token_sort,
    t.fuzz_token_set_ratio: m.token_set,
    t.fuzz_token_ratio: m.token_ratio,
    t.fuzz_partial_token_sort_ratio: m.partial_token_sort,
    t.fuzz_partial_token_set_ratio: m.partial_token_set,
    t.fuzz_partial_token_ratio: m.partial_token_ratio,
}

ALL_SCORERS = [
    t.fuzz_ratio, t.fuzz_qratio, t.fuzz_partial_ratio, t.fuzz_wratio, *TOKEN_SCORERS,
]

WORDS = ["new", "york", "mets", "yankees", "nyc", "the", "a", "ne", "yor", "é", "naïve", "ab"]
SEPARATORS = [" ", "  ", "\t", "\n", "\u00a0", "\u3000", "\u2009"]

words_text = st.lists(st.sampled_from(WORDS), max_size=6).flatmap(
    lambda ws: st.lists(st.sampled_from(SEPARATORS), min_size=len(ws) + 1, max_size=len(ws) + 1).map(
        lambda seps: seps[0] + "".join(w + s for w, s in zip(ws, seps[1:]))
    )
)
short_text = st.text(alphabet="ab é\t", max_size=10)


class TestAgainstModels:
    @settings(max_examples=300, deadline=None)
    @given(st.one_of(words_text, short_text), st.one_of(words_text, short_text))
    def test_token_scorers(self, a, b):
        for scorer, model in TOKEN_SCORERS.items():
            assert scorer(a, b) == model(a, b), scorer.__name__

    @settings(max_examples=300, deadline=None)
    @given(st.one_of(words_text, short_text), st.one_of(words_text, short_text))
    def test_wratio(self, a, b):
        assert t.fuzz_wratio(a, b) == m.wratio(a, b)

    @settings(max_examples=100, deadline=None)
    @given(st.binary(max_size=12), st.binary(max_size=12))
    def test_bytes_read_as_text(self, a, b):
        """Malformed UTF-8 is read with one U+FFFD per maximal invalid subpart."""
        ta, tb = m.text(a), m.text(b)
        for scorer, model in TOKEN_SCORERS.items():
            assert scorer(a, b) == model(ta, tb), scorer.__name__
        assert t.fuzz_wratio(a, b) == m.wratio(a, b)

    # Separators, and characters that only look like one to a byte scan: controls that are
    # not White_Space, and characters whose lead byte also leads a multi-byte separator.
    block_text = st.text(alphabet=["a", "é", "€", "¢", "ᚠ", "〈", "\x01", "\x1f", " ", "\t",
                                   "\u00a0", "\u0085", "\u1680", "\u2009", "\u3000"],
                         min_size=8, max_size=50)

    @settings(max_examples=200, deadline=None)
    @given(block_text, block_text)
    def test_tokens_across_sixteen_byte_blocks(self, a, b):
        """Texts of several 16-byte blocks, separators at every position."""
        assert t.fuzz_token_sort_ratio(a, b) == m.token_sort(a, b)
        assert t.fuzz_token_set_ratio(a, b) == m.token_set(a, b)

    @settings(max_examples=150, deadline=None)
    @given(st.binary(min_size=14, max_size=40).map(lambda b: bytes(b"a \xe2\xe3\x80\x8a\xc2\xa0"[x % 8] for x in b)),
           st.binary(max_size=40))
    def test_malformed_bytes_across_blocks(self, a, b):
        ta, tb = m.text(a), m.text(b)
        assert t.fuzz_token_sort_ratio(a, b) == m.token_sort(ta, tb)
        assert t.fuzz_token_set_ratio(a, b) == m.token_set(ta, tb)

    def test_invalid_utf8_replacement(self):
        assert t.fuzz_token_sort_ratio(b"a\xff b", "a\ufffd b") == 100.0
        assert t.fuzz_token_set_ratio(b"\xe2\x82 x", "\ufffd x") == 100.0
        assert t.fuzz_token_sort_ratio(b"\xe2\x82", "\ufffd\ufffd") < 100.0


class TestTokenisation:
    def test_whitespace_only_inputs(self):
        a, b = " \t ", "\n\u3000"
        assert t.fuzz_token_sort_ratio(a, b) == 100.0
        assert t.fuzz_token_set_ratio(a, b) == 0.0
        assert t.fuzz_token_ratio(a, b) == 100.0
        assert t.fuzz_partial_token_set_ratio(a, b) == 0.0
        assert t.fuzz_partial_token_sort_ratio(a, b) == 100.0
        assert t.fuzz_partial_token_ratio(a, b) == 100.0

    def test_order_and_runs_of_whitespace(self):
        assert t.fuzz_token_sort_ratio("a  b", "b a") == 100.0
        assert t.fuzz_token_sort_ratio("a a b", "a b") < 100.0
        assert t.fuzz_token_set_ratio("a a b", "a b") == 100.0

    @pytest.mark.parametrize("sep", [0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x85, 0xA0, 0x1680, 0x2000,
                                     0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000])
    def test_white_space_separates(self, sep):
        assert t.fuzz_token_sort_ratio(f"b{chr(sep)}a", "a b") == 100.0

    @pytest.mark.parametrize("sep", [0x1C, 0x1D, 0x1E, 0x1F, 0x200B, 0x180E, 0xFEFF])
    def test_other_characters_do_not_separate(self, sep):
        """Python's str.split splits on U+001C..U+001F; White_Space does not include them."""
        assert t.fuzz_token_sort_ratio(f"b{chr(sep)}a", "a b") < 100.0
        assert t.fuzz_token_set_ratio(f"b{chr(sep)}a", f"b{chr(sep)}a x") == 100.0

    def test_byte_wise_token_order(self):
        """B (0x42) sorts before a (0x61), é (C3 A9) after z; no case folding."""
        assert m.sort_key("a B") == "B a"
        assert t.fuzz_token_sort_ratio("a B", "B a") == 100.0
        assert t.fuzz_partial_token_sort_ratio("é z", "z é") == 100.0
        assert t.fuzz_token_sort_ratio("A b", "a B") < 100.0

    def test_shared_token_makes_partial_set_100(self):
        assert t.fuzz_partial_token_set_ratio("alpha beta", "gamma beta delta") == 100.0
        assert t.fuzz_partial_token_ratio("alpha beta", "gamma beta delta") == 100.0

    def test_subset_scores_100_in_token_set(self):
        assert t.fuzz_token_set_ratio("new york", "new york mets") == 100.0

    def test_items_read_as_empty_text(self):
        assert t.fuzz_token_sort_ratio([1, 2], [3, 4]) == 100.0
        assert t.fuzz_token_set_ratio([1, 2], [3, 4]) == 0.0
        assert t.fuzz_partial_token_set_ratio([1, 2], "a") == 0.0


class TestWeightedRatio:
    def test_empty_and_identical(self):
        assert t.fuzz_wratio("", "abc") == 0.0
        assert t.fuzz_wratio("abc", "") == 0.0
        assert t.fuzz_wratio("abc", "abc", score_cutoff=150) == 100.0

    @pytest.mark.parametrize("lb, scale", [(14, None), (15, 0.9), (80, 0.9), (81, 0.6)])
    def test_length_ratio_boundaries(self, lb, scale):
        """Below 1.5 the token branch; from 1.5 to 8.0 the partial scale 0.9; beyond, 0.6."""
        a = "abcdefghij"
        b = a + "z" * (lb - 10)
        ratio = m.indel_ratio(list(a.encode()), list(b.encode()))
        if scale is None:
            assert t.fuzz_wratio(a, b) == max(ratio, 0.95 * m.token_ratio(a, b))
        else:
            assert t.fuzz_wratio(a, b) == max(ratio, scale * 100.0)
        assert t.fuzz_wratio(a, b) == m.wratio(a, b)

    def test_word_permutation(self):
        a, b = "new york mets vs atlanta braves", "atlanta braves vs new york mets"
        assert t.fuzz_ratio(a, b) < 95.0
        assert t.fuzz_wratio(a, b) == 95.0

    def test_cutoff_above_token_reach(self):
        a, b = "new york mets", "mets new york"
        assert t.fuzz_wratio(a, b) == 95.0
        assert t.fuzz_wratio(a, b, score_cutoff=96) == 0.0
        assert t.fuzz_wratio(a, b, score_cutoff=95) == 95.0

    def test_non_text_sequences(self):
        """Lists compare as empty texts in the token branch, where both scores are 100."""
        assert t.fuzz_wratio([1, 2, 3, 4], [1, 2, 5, 6]) == 95.0

    def test_short_needle_in_long_text(self):
        assert t.fuzz_wratio("needle", "a needle in a haystack") == 90.0
        assert t.fuzz_wratio("needle", "needle" + " hay" * 20) == 60.0

    def test_non_ascii_and_items(self):
        for a, b in [("naïve café", "café naïve"), ("日本語 テキスト", "テキスト 日本"),
                     (["a", "b", "c"], "abd"), (b"caf\xc3\xa9 ok", "ok café")]:
            assert t.fuzz_wratio(a, b) == m.wratio(a, b)


CUTOFFS = [0, 50, 90, 95, 95.5, 96, 100]


class TestPruning:
    @settings(max_examples=400, deadline=None)
    @given(words_text, words_text, st.sampled_from(CUTOFFS))
    def test_cutoff_never_changes_a_kept_score(self, a, b, cutoff):
        for scorer in ALL_SCORERS:
            full = scorer(a, b)
            expected = full if full >= cutoff else 0.0
            assert scorer(a, b, score_cutoff=cutoff) == expected, scorer.__name__

    @settings(max_examples=200, deadline=None)
    @given(words_text, words_text)
    def test_cutoff_equal_to_the_score(self, a, b):
        for scorer in ALL_SCORERS:
            full = scorer(a, b)
            assert scorer(a, b, score_cutoff=full) == full, scorer.__name__

    def test_nan_and_out_of_range_cutoffs(self):
        for scorer in TOKEN_SCORERS:
            full = scorer("new york", "york new x")
            assert scorer("new york", "york new x", score_cutoff=math.nan) == full
            assert scorer("new york", "york new x", score_cutoff=-5) == full
            assert scorer("new york", "new york", score_cutoff=101) == 0.0


class TestConvention:
    @pytest.mark.parametrize("scorer", ALL_SCORERS)
    def test_shared_behaviour(self, scorer):
        name = scorer.__name__
        assert scorer.__text_signature__ == "(s1, s2, *, processor=None, score_cutoff=None)"
        assert scorer(None, "a") == 0.0
        assert scorer("<NA>", "a") == 0.0
        assert scorer("Ab C", "c ab", processor=str.lower) == scorer("ab c", "c ab")
        assert scorer(s1="a b", s2="a b") == 100.0
        with pytest.raises(TypeError, match=rf"{name}\(\) takes 2 positional arguments but 3 were given"):
            scorer("a", "b", None)
        with pytest.raises(TypeError, match="expected str, bytes, or sequence"):
            scorer("a", 5)

    def test_processor_error_propagates(self):
        def boom(s):
            raise ValueError("boom")

        with pytest.raises(ValueError, match="boom"):
            t.fuzz_token_set_ratio("a", "b", processor=boom)
