"""Input sequences: element widths, widening, the item rules, missing values and the
processor hook, observed through fuzz_ratio (100.0 exactly when the element sequences
are equal)."""
import math

import pytest
from _tarnwick import fuzz_ratio, fuzz_qratio

from naive import ratio


def same(a, b):
    return fuzz_ratio(a, b) == 100.0


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


class TestWidths:
    def test_ascii_str_and_bytes_are_the_same_sequence(self):
        assert same("hello", b"hello")
        assert same("", b"")

    def test_non_ascii_str_compares_by_code_point(self):
        assert fuzz_ratio("caf\u00e9", "cafe") == ratio("caf\u00e9", "cafe")
        assert same("caf\u00e9", ["c", "a", "f", "\u00e9"])
        assert same("\U0001f600x", [0x1F600, ord("x")])

    def test_bytes_widen_against_code_points(self):
        # b"ab" against "a\u00e9": 97, 98 vs 97, 233 -> one common element.
        assert fuzz_ratio(b"ab", "a\u00e9") == 50.0
        # Bytes above 0x7F are byte values, not code points of the UTF-8.
        assert same(b"\xe9", "\u00e9")
        assert same(b"\xe9", [0xE9])

    def test_lists_widen_against_text(self):
        assert same(["a", "b", "c"], "abc")
        assert same([97, 98, 99], b"abc")
        assert same((c for c in "xyz"), "xyz")


class TestItems:
    def test_item_rules(self):
        items = ["a", "bc", 3, -1, 2**64, 1.0, None]
        expected = [97, hash("bc") % 2**64, 3, 2**64 - 2, hash(2**64) % 2**64, 1,
                    hash(None) % 2**64]
        assert same(items, expected)

    def test_large_and_index_integers(self):
        assert same([2**64 - 1], [Index(2**64 - 1)])
        assert same([True, False], [1, 0])
        assert fuzz_ratio([2**64 - 1], [2**64 - 2]) == 0.0
        # A value of 2**64 or more, or a negative one, is hashed instead.
        assert same([2**70], [hash(2**70) % 2**64])

    def test_strings_of_other_lengths_are_hashed(self):
        assert same(["", "ab"], [hash("") % 2**64, hash("ab") % 2**64])

    def test_unhashable_item_raises(self):
        with pytest.raises(TypeError, match="unhashable"):
            fuzz_ratio([[1]], "a")

    def test_not_iterable_raises(self):
        with pytest.raises(TypeError, match="^expected str, bytes, or sequence$"):
            fuzz_ratio(12, "a")

    def test_iterator_error_propagates(self):
        def gen():
            yield 1
            raise KeyError("boom")
        with pytest.raises(KeyError):
            fuzz_ratio(gen(), "a")

    def test_lone_surrogate_raises_unicode_error(self):
        with pytest.raises(UnicodeEncodeError):
            fuzz_ratio("\ud800", "a")
        with pytest.raises(UnicodeEncodeError):
            fuzz_ratio(["\ud800x"], "a")


class TestMissingValues:
    @pytest.mark.parametrize("missing", [None, float("nan"), "<NA>", math.nan])
    def test_missing_gives_zero_without_calling_processor(self, missing):
        calls = []

        def proc(x):
            calls.append(x)
            return x

        assert fuzz_ratio(missing, "abc", processor=proc) == 0.0
        assert fuzz_ratio("abc", missing, processor=proc, score_cutoff=0) == 0.0
        assert calls == []

    def test_objects_with_float_or_str_na(self):
        class NA:
            def __str__(self):
                return "<NA>"

        class F:
            def __float__(self):
                return float("nan")

        assert fuzz_ratio(NA(), NA()) == 0.0
        assert fuzz_ratio(F(), "x") == 0.0

    @pytest.mark.parametrize("value", [0, "", -1.0, "<na>", b"<NA>"])
    def test_not_missing(self, value):
        assert fuzz_ratio(value if not isinstance(value, (int, float)) else [value],
                          value if not isinstance(value, (int, float)) else [value]) == 100.0


class TestProcessor:
    def test_processor_called_once_per_input(self):
        calls = []

        def proc(x):
            calls.append(x)
            return x.lower()

        assert fuzz_ratio("ABC", "abc", processor=proc) == 100.0
        assert calls == ["ABC", "abc"]

    def test_processor_error_propagates_and_second_is_not_called(self):
        calls = []

        def proc(x):
            calls.append(x)
            raise ValueError("nope")

        with pytest.raises(ValueError, match="nope"):
            fuzz_ratio("a", "b", processor=proc)
        assert calls == ["a"]

    def test_processor_may_return_any_sequence(self):
        assert fuzz_ratio("abc", "xyz", processor=lambda s: [1, 2, 3]) == 100.0

    def test_non_callable_processor(self):
        with pytest.raises(TypeError):
            fuzz_ratio("a", "b", processor=5)

    def test_none_processor_means_none(self):
        assert fuzz_qratio("a", "a", processor=None) == 100.0


class TestReentrancy:
    def test_scorer_called_while_converting_an_input(self):
        """An item's __hash__ may call a scorer on text of its own while the outer call
        holds the first input's code points; both results stay exact."""
        from naive import ratio

        inner = []

        class Item:
            def __hash__(self):
                inner.append(fuzz_ratio("\u00fcber alles", "uber alles"))
                return 7

        outer = fuzz_ratio("\u00e9t\u00e9 \u4e2d", ["\u00e9", Item(), "\u4e2d"])
        assert inner == [ratio("\u00fcber alles", "uber alles")]
        assert outer == ratio([0xE9, ord("t"), 0xE9, 32, 0x4E2D], [0xE9, 7, 0x4E2D])

    def test_long_text_then_short_text(self):
        from naive import ratio
        long = "\u00e9" * 100_000 + "x"
        assert fuzz_ratio(long, long) == 100.0
        assert fuzz_ratio("\u00e9a", "\u00e9b") == ratio("\u00e9a", "\u00e9b")
