"""Token scorers and default_process on str that is not pure ASCII, which they read as
code points: tokens split at every position of the scan, characters that only look like
separators, sort keys that come out pure ASCII, texts past the inline buffers, and the
errors of text that UTF-8 cannot hold. Each result is checked against the plain models
and against the same text given as UTF-8 bytes, which the scorers read another way."""
import _tarnwick as t
import fuzz_models as fm
import pytest

TOKEN_SCORERS = {
    "fuzz_token_sort_ratio": fm.token_sort,
    "fuzz_token_set_ratio": fm.token_set,
    "fuzz_token_ratio": fm.token_ratio,
    "fuzz_partial_token_sort_ratio": fm.partial_token_sort,
    "fuzz_partial_token_set_ratio": fm.partial_token_set,
    "fuzz_partial_token_ratio": fm.partial_token_ratio,
}
# White_Space beyond the ASCII ones, and characters the scan stops at that are not
# White_Space: controls, the zero width space and hyphens next to the general
# punctuation spaces, the characters next to the no-break and ideographic spaces.
SEPARATORS = ["\u0085", "\u00a0", "\u1680", "\u2000", "\u200a", "\u2028", "\u2029", "\u202f",
              "\u205f", "\u3000", "\t", "\x0b", " "]
NOT_SEPARATORS = ["\x01", "\x1c", "\x1f", "\u0084", "\u00a1", "\u200b", "\u2010", "\u207f",
                  "\u1681", "\u3001", "\u2fff"]
WIDE = "\u00e9\u03b1\u0436\u4e2d\U0001f600"


def check_all(a, b, cutoffs=(None,)):
    for name, model in TOKEN_SCORERS.items():
        f = getattr(t, name)
        expected = model(a, b)
        for cut in cutoffs:
            want = expected if cut is None or expected >= cut else 0.0
            assert f(a, b, score_cutoff=cut) == want, (name, a, b, cut)
            assert f(a.encode(), b.encode(), score_cutoff=cut) == want, (name, a, b, cut)
    assert t.fuzz_wratio(a, b) == fm.wratio(a, b), (a, b)


class TestScanPositions:
    def test_one_separator_at_every_position(self, rng):
        # The scan reads eight code points at a time: separators before, at and after
        # each block boundary, in texts ending inside a block or on its last element.
        for n in range(1, 20):
            for p in range(n):
                for sep in rng.sample(SEPARATORS, 3) + rng.sample(NOT_SEPARATORS, 2):
                    chars = [rng.choice(WIDE + "ab") for _ in range(n)]
                    chars[p] = sep
                    a = "".join(chars)
                    b = "".join(reversed(chars))
                    check_all(a, b)

    def test_runs_of_separators_and_none_at_all(self, rng):
        for _ in range(150):
            parts = []
            for _ in range(rng.randint(0, 6)):
                parts.append("".join(rng.choice(WIDE + "xy" + "".join(NOT_SEPARATORS))
                                     for _ in range(rng.randint(0, 9))))
                parts.append("".join(rng.choice(SEPARATORS) for _ in range(rng.randint(1, 10))))
            a = "".join(parts)
            b = "".join(rng.sample(parts, len(parts))) + rng.choice(WIDE)
            check_all(a, b)
        check_all("\u3000" * 9, "\u00e9")
        check_all("\u00a0", "\u2000 \u3000")


class TestAsciiKeysOfWideTexts:
    def test_words_split_by_wide_spaces_with_cutoffs(self, rng):
        # Every token is ASCII, so the sort keys and set texts are pure ASCII: they are
        # compared as the byte paths compare ASCII text (the partial scores by the byte
        # kernel), with the cut-offs applied there.
        for _ in range(120):
            words = ["".join(rng.choice("abcx") for _ in range(rng.randint(1, 6)))
                     for _ in range(rng.randint(1, 4))]
            a = rng.choice(["\u00a0", "\u3000", " "]).join(words)
            b = rng.choice(["\u2003", " "]).join(rng.sample(words, len(words)))
            if rng.random() < 0.5:
                b = b[: rng.randint(0, len(b))] + rng.choice(["\u00a0", "q", "\u2009zz"])
            check_all(a, b, cutoffs=(None, 0.0, 50.0, 77.5, 100.0))
            check_all(a, a.replace("\u00a0", " ").replace("\u3000", " "))


class TestLongTexts:
    @pytest.mark.parametrize("length", [127, 128, 129, 255, 256, 257, 600])
    def test_past_the_inline_buffers(self, rng, length):
        for alphabet in ("\u00e9\u00e8a b", "\u4e2d\u6587 \u5b57x", "ab cd\u3000"):
            a = "".join(rng.choice(alphabet) for _ in range(length))
            b = "".join(rng.choice(alphabet) for _ in range(length // 2)) + a[: length // 2]
            for name in TOKEN_SCORERS:
                f = getattr(t, name)
                assert f(a, b) == f(a.encode(), b.encode()), (name, length)
                assert f(b, a) == f(b.encode(), a.encode()), (name, length)
            if length <= 257:
                assert t.fuzz_token_set_ratio(a, b) == fm.token_set(a, b)
                assert t.fuzz_token_sort_ratio(a, b) == fm.token_sort(a, b)
                assert t.fuzz_wratio(a, b) == fm.wratio(a, b)
            if length <= 129:
                assert t.fuzz_partial_token_sort_ratio(a, b) == fm.partial_token_sort(a, b)


class TestAsciiTestOfShortTexts:
    def test_one_wide_character_at_every_position(self):
        # Texts up to 16 bytes are tested for ASCII in two overlapping reads: a non-ASCII
        # byte anywhere must send the text to the code point comparison (as bytes, the
        # two accented letters below would share their lead byte).
        for n in range(0, 20):
            for p in range(n + 1):
                a = "k" * p + "\u00e9" + "k" * (n - p)
                b = "k" * p + "\u00e8" + "k" * (n - p)
                assert t.fuzz_token_sort_ratio(a, b) == fm.token_sort(a, b), (n, p)
                assert t.fuzz_token_sort_ratio(a.encode(), b.encode()) == fm.token_sort(a, b)
                assert t.fuzz_partial_token_sort_ratio(a.encode(), b) == \
                    fm.partial_token_sort(a, b), (n, p)


class TestErrorsAndDefaultProcess:
    @pytest.mark.parametrize("name", list(TOKEN_SCORERS) + ["fuzz_wratio", "default_process"])
    def test_lone_surrogates_raise(self, name):
        f = getattr(t, name)
        for s in ("\ud800", "\u00e9\udfff x", "a \udc00"):
            with pytest.raises(UnicodeEncodeError):
                f(s) if name == "default_process" else f(s, "\u00e9 a")
            if name != "default_process":
                with pytest.raises(UnicodeEncodeError):
                    f("\u00e9 a", s)

    def test_ascii_characters_of_a_wide_text(self, rng):
        # ASCII letters, digits and punctuation beside accented letters, read through the
        # per-character table; Python's own lowercasing agrees on these characters.
        alphabet = "AZaz09 .,-_!\t\u00e9\u00c9\u00e0\u00c0\u00df"
        for _ in range(300):
            s = "".join(rng.choice(alphabet) for _ in range(rng.randint(1, 30)))
            expected = "".join(c.lower() if c.isalnum() else " " for c in s).strip(" ")
            assert t.default_process(s) == expected, s

    @pytest.mark.parametrize("length", [255, 256, 257, 1000])
    def test_long_texts_and_the_whole_text_path(self, rng, length):
        # A capital sigma (lowercased by its neighbours) sends the text to the general
        # path, wherever it stands; past 256 code points the text is read into the heap.
        body = "".join(rng.choice("\u00e9\u00c9\u0391\u03b2 .x") for _ in range(length))
        plain = t.default_process(body)
        assert plain == "".join(c.lower() if c.isalnum() else " " for c in body).strip(" ")
        for pos in (0, length // 2, length):
            s = body[:pos] + "\u03a3" + body[pos:]
            # Characters not kept become spaces before the whole text is lowercased.
            assert t.default_process(s) == s.replace(".", " ").lower().strip(" "), pos
