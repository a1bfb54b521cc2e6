"""Text beyond ASCII: every scorer and metric gives on it what it gives on the same text
given another way (a str against the list of its characters; its UTF-8 bytes for the
scorers that read text), and what plain models give.

The inputs cover the paths that depend on the alphabet: Latin text whose code points are
all below 256, Greek, Cyrillic, CJK and emoji, mixtures with ASCII, patterns of up to 16,
up to 64 and more elements, and pairs with more than 256 distinct characters."""
import math

import _tarnwick as t
import fuzz_models as fm
import naive
import pytest
from test_metrics_edit import apply_editops, lev
from test_metrics_score import dl_model, jaro_model, osa_model

ALPHABETS = {
    "latin": "abcdeéèêëàâäôöüçñßÀÉ",
    "greek": "αβγδεζηθικλμνξοπρστυφχψωΣ",
    "cyrillic": "абвгдежзийклмнопрстуфхцчшщ",
    "cjk": "".join(chr(0x4E00 + 37 * i) for i in range(40)),
    "emoji": "".join(chr(0x1F600 + i) for i in range(30)),
    "mixed": "abcdé中文字😀αβγжз",
    # More distinct characters than one byte can number.
    "many": "".join(chr(0x4E00 + i) for i in range(400)),
}
LENGTHS = [(1, 8), (9, 16), (17, 40), (60, 70), (100, 160)]


def text(rng, alphabet, lo, hi):
    return "".join(rng.choice(alphabet) for _ in range(rng.randint(lo, hi)))


def mutated(rng, s, alphabet, rate=0.25):
    out = []
    for c in s:
        r = rng.random()
        if r < rate / 3:
            continue
        if r < 2 * rate / 3:
            out.append(rng.choice(alphabet))
            continue
        out.append(c)
        if r < rate:
            out.append(rng.choice(alphabet))
    return "".join(out)


def pairs(rng, count=6):
    """(a, b) pairs of every alphabet and length range, related and unrelated."""
    out = []
    for alphabet in ALPHABETS.values():
        for lo, hi in LENGTHS:
            for _ in range(count):
                a = text(rng, alphabet, lo, hi)
                b = mutated(rng, a, alphabet) if rng.random() < 0.7 else text(rng, alphabet, lo, hi)
                out.append((a, b))
    # Both sides of an ASCII and a wide text, and mostly-ASCII text with a few wide ones.
    for _ in range(count * 4):
        a = text(rng, "abcdefgh", 3, 40)
        out.append((a, mutated(rng, a, "abcdefgh\u00e9\u4e2d", 0.3)))
    return out


def same(x, y):
    if isinstance(x, float) and isinstance(y, float):
        return x == y or (math.isnan(x) and math.isnan(y))
    return x == y


# Functions that compare elements only for equality: a str and the list of its characters
# are the same sequence to them, whatever the widths of the two sides.
ELEMENT_FUNCTIONS = sorted(
    name for name in t.__all__
    if name.startswith(("levenshtein_", "hamming_", "indel_", "lcs_seq_", "osa_",
                        "damerau_levenshtein_", "jaro_", "prefix_", "postfix_"))
) + ["fuzz_ratio", "fuzz_qratio", "fuzz_partial_ratio", "fuzz_partial_ratio_alignment"]
# These refuse sequences of different widths, so both sides change form together.
SAME_WIDTH_FUNCTIONS = sorted(
    name for name in t.__all__ if name.startswith("gotoh_")) + ["sorensen_dice", "jaccard"]
TOKEN_SCORERS = ["fuzz_token_sort_ratio", "fuzz_token_set_ratio", "fuzz_token_ratio",
                 "fuzz_partial_token_sort_ratio", "fuzz_partial_token_set_ratio",
                 "fuzz_partial_token_ratio"]


class TestReencoded:
    @pytest.mark.parametrize("name", ELEMENT_FUNCTIONS)
    def test_str_against_list_of_characters(self, rng, name):
        f = getattr(t, name)
        for a, b in pairs(rng, 2):
            expected = f(a, b)
            for x, y in ((list(a), list(b)), (a, list(b)), (list(a), b)):
                assert same(f(x, y), expected), (name, a, b)

    @pytest.mark.parametrize("name", SAME_WIDTH_FUNCTIONS)
    def test_same_width_functions(self, rng, name):
        f = getattr(t, name)
        for a, b in pairs(rng, 2):
            if a.isascii() != b.isascii():
                continue  # a Bytes and a Chars sequence: refused either way
            assert same(f(list(a), list(b)), f(a, b)), (name, a, b)

    @pytest.mark.parametrize("name", TOKEN_SCORERS + ["fuzz_wratio"])
    def test_str_against_utf8_bytes(self, rng, name):
        # The token scorers read bytes as UTF-8, so the text is the same. The weighted
        # ratio also compares elements, bytes against code points, which only agree on
        # ASCII; for it the bytes stand on both sides of an ASCII pair only.
        f = getattr(t, name)
        for a, b in pairs(rng, 2):
            if name == "fuzz_wratio" and not (a.isascii() and b.isascii()):
                continue
            assert f(a.encode(), b.encode()) == f(a, b), (name, a, b)


class TestAgainstModels:
    """Dynamic programs on code points: they share no code with the kernels."""

    def test_edit_distances(self, rng):
        for a, b in pairs(rng, 1):
            ca, cb = [ord(c) for c in a], [ord(c) for c in b]
            assert t.levenshtein_distance(a, b) == lev(ca, cb), (a, b)
            assert t.indel_distance(a, b) == naive.indel_distance(ca, cb), (a, b)
            assert t.lcs_seq_similarity(a, b) == naive.lcs_length(ca, cb), (a, b)
            assert t.osa_distance(a, b) == osa_model(a, b), (a, b)
            assert t.damerau_levenshtein_distance(a, b) == dl_model(a, b), (a, b)
            assert same(t.jaro_similarity(a, b), jaro_model(a, b)), (a, b)
            assert t.fuzz_ratio(a, b) == naive.ratio(ca, cb), (a, b)

    @pytest.mark.parametrize("distinct", [100, 129, 200, 255, 256, 257, 300])
    def test_pairs_around_256_distinct_characters(self, rng, distinct):
        # Up to 256 distinct characters the long-pattern kernels number them as bytes;
        # beyond, they keep their own width.
        alphabet = [chr(0x4E00 + 3 * i) for i in range(distinct)]
        for _ in range(2):
            rng.shuffle(alphabet)
            a = "".join(alphabet) + text(rng, "abc", 0, 5)
            b = mutated(rng, a, alphabet[:20], 0.2)
            ca, cb = [ord(c) for c in a], [ord(c) for c in b]
            assert t.levenshtein_distance(a, b) == lev(ca, cb)
            assert t.indel_distance(a, b) == naive.indel_distance(ca, cb)
            assert t.osa_distance(a, b) == osa_model(a, b)
            assert t.damerau_levenshtein_distance(a, b) == dl_model(a, b)
            assert same(t.jaro_similarity(a, b), jaro_model(a, b))
            assert t.levenshtein_distance(a[:40], b) == lev(ca[:40], cb)

    def test_edit_scripts_rebuild_the_destination(self, rng):
        for a, b in pairs(rng, 1):
            for ops in (t.levenshtein_editops(a, b), t.indel_editops(a, b)):
                script = [(op.tag, op.src_pos, op.dest_pos) for op in ops]
                assert "".join(apply_editops(script, a, b)) == b, (a, b)

    def test_partial_ratio(self, rng):
        for a, b in pairs(rng, 1)[::3]:
            assert t.fuzz_partial_ratio(a, b) == fm.partial_ratio(a, b), (a, b)
            al = t.fuzz_partial_ratio_alignment(a, b)
            assert (al.score, al.src_start, al.src_end, al.dest_start, al.dest_end) == \
                fm.partial_ratio_alignment(a, b), (a, b)

    def test_token_scorers_and_weighted_ratio_on_phrases(self, rng):
        models = [fm.token_sort, lambda x, y: fm.token_set(x, y), fm.token_ratio,
                  fm.partial_token_sort, fm.partial_token_set, fm.partial_token_ratio]
        for alphabet in ALPHABETS.values():
            for _ in range(12):
                words = [text(rng, alphabet, 1, 7) for _ in range(rng.randint(1, 5))]
                a = " ".join(words)
                b = " ".join(mutated(rng, w, alphabet) for w in rng.sample(words, len(words)))
                if rng.random() < 0.3:
                    b += " " + text(rng, alphabet, 2, 6)
                for name, model in zip(TOKEN_SCORERS, models):
                    assert getattr(t, name)(a, b) == model(a, b), (name, a, b)
                assert t.fuzz_wratio(a, b) == fm.wratio(a, b), (a, b)
                assert t.fuzz_wratio(a, words[0]) == fm.wratio(a, words[0]), (a, words[0])

    def test_white_space_beyond_ascii_separates_tokens(self):
        # No-break space, ideographic space and the en quad separate; a letter led by the
        # same byte as a space (U+1E00 after U+1680's lead E1) does not.
        for sep in ("\u00a0", "\u3000", "\u2000", "\u1680"):
            a, b = f"\u1e00\u03b1{sep}\u03b2", f"\u03b2 \u1e00\u03b1"
            assert t.fuzz_token_sort_ratio(a, b) == 100.0
            assert t.fuzz_wratio(a, b) == fm.wratio(a, b)
        assert t.fuzz_token_sort_ratio("\u1e00\u03b1\u03b2", "\u03b2 \u1e00\u03b1") < 100.0


class TestLatin1Text:
    """Text whose code points are all below 256 reaches the metrics as one byte per code
    point, decoded from its UTF-8 form 16 bytes at a time: two-byte characters straddle
    every block edge, texts end on either byte of one, and a single character of 256 or
    more (or a text too long for the decoder) keeps the text in code points."""

    @staticmethod
    def texts(rng):
        two_byte = "\x80\xa0\xbf\xc0\xe9\xff"
        for size in list(range(1, 40)) + [119, 120, 121, 200]:
            # `size` characters, each two bytes with even odds, so the UTF-8 forms cover
            # every length and every block edge falls inside a character somewhere.
            yield "".join(rng.choice(two_byte) if rng.random() < 0.5 else rng.choice("ab")
                          for _ in range(size))
        yield "\xe9" * 8 + "a"  # a two-byte character across the first block edge
        yield "a" + "\xe9" * 8  # a text ending on the second byte at the block edge
        yield "\xe9" * 127 + "a"  # within the decoder's reach, and one beyond it:
        yield "\xe9" * 128 + "a"

    def test_metrics_against_models_and_other_forms(self, rng):
        samples = list(self.texts(rng))
        for a in samples:
            for b in (rng.choice(samples), mutated(rng, a, "a\xe9\xff\u0100"), a + "\u0100"):
                ca, cb = [ord(c) for c in a], [ord(c) for c in b]
                assert t.levenshtein_distance(a, b) == lev(ca, cb), (a, b)
                assert t.indel_distance(a, b) == naive.indel_distance(ca, cb), (a, b)
                assert t.fuzz_ratio(a, b) == naive.ratio(ca, cb), (a, b)
                for name in ("levenshtein_distance", "hamming_distance", "osa_distance",
                             "jaro_winkler_similarity", "prefix_distance", "postfix_distance",
                             "lcs_seq_normalized_similarity", "fuzz_partial_ratio"):
                    f = getattr(t, name)
                    assert same(f(list(a), cb), f(a, b)), (name, a, b)

    def test_latin1_text_against_bytes_and_integers(self):
        # A code point below 256 equals the byte and the integer of the same value.
        assert t.levenshtein_distance("caf\xe9", b"caf\xe9") == 0
        assert t.levenshtein_distance("caf\xe9", [99, 97, 102, 233]) == 0
        assert t.indel_distance("\xff\x80", b"\xff\x81") == 2
        assert t.hamming_distance("\xe9\xe9", "\xe9\u0100") == 1
        assert t.jaro_similarity("\xe9" * 20, "\xe9" * 20) == 1.0


class TestOneBlockText:
    """Text whose code points all lie below 128 or in one block of 128 code points of
    two bytes in UTF-8 (Greek, Cyrillic, Hebrew, ...) reaches the equality-only functions
    as one byte per code point, a code that only the texts of the same block share: the
    two sides of a pair from different blocks, or against bytes, integers or wider text,
    must still compare by code point."""

    # Blocks of 128 code points, from the first one beyond Latin-1 to the last of two
    # bytes, with the code points at both edges of each.
    BLOCKS = [0x100, 0x380, 0x400, 0x580, 0x600, 0x780]

    @classmethod
    def alphabet(cls, base):
        return [chr(base), chr(base + 1), chr(base + 0x31), chr(base + 0x40), chr(base + 0x7F),
                "a", "b", " "]

    def check_pair(self, a, b):
        ca, cb = [ord(c) for c in a], [ord(c) for c in b]
        assert t.levenshtein_distance(a, b) == lev(ca, cb), (a, b)
        assert t.indel_distance(a, b) == naive.indel_distance(ca, cb), (a, b)
        assert t.lcs_seq_similarity(a, b) == naive.lcs_length(ca, cb), (a, b)
        assert t.fuzz_ratio(a, b) == naive.ratio(ca, cb), (a, b)
        assert same(t.jaro_similarity(a, b), jaro_model(a, b)), (a, b)
        for name in ("osa_distance", "hamming_normalized_distance", "prefix_distance",
                     "postfix_distance", "jaro_winkler_similarity", "fuzz_qratio",
                     "levenshtein_normalized_similarity", "fuzz_partial_ratio"):
            f = getattr(t, name)
            assert same(f(a, b), f(ca, cb)), (name, a, b)
        al = t.fuzz_partial_ratio_alignment(a, b)
        assert al == t.fuzz_partial_ratio_alignment(list(a), list(b)), (a, b)

    @pytest.mark.parametrize("base", BLOCKS)
    def test_texts_of_one_block_against_models(self, rng, base):
        # Lengths around 64 characters (the one-word kernels) and around the 120 two-byte
        # characters the pair keeps as bytes, with block edges inside characters.
        alphabet = self.alphabet(base)
        for size in [1, 2, 7, 8, 9, 16, 17, 40, 63, 64, 65, 100, 119, 120, 121, 130]:
            a = text(rng, alphabet, size, size)
            self.check_pair(a, mutated(rng, a, alphabet))
            self.check_pair(a, text(rng, alphabet, 1, size + 3))

    def test_pairs_of_different_blocks(self, rng):
        # Code points with the same low seven bits in different blocks: U+00B1 (Latin-1),
        # U+03B1 (Greek), U+0431 (Cyrillic), U+05B1 and byte 0xB1 are all distinct.
        same_code = ["\xb1", "\u03b1", "\u0431", "\u05b1"]
        for x in same_code:
            for y in same_code:
                assert t.levenshtein_distance(x * 20, y * 20) == (0 if x == y else 20)
                assert t.indel_distance("ab" + x, "ab" + y) == (0 if x == y else 2)
            assert t.levenshtein_distance(x * 3, b"\xb1" * 3) == (0 if x == "\xb1" else 3)
            assert t.levenshtein_distance(x * 3, [0xB1] * 3) == (0 if x == "\xb1" else 3)
        sides = [self.alphabet(base) for base in self.BLOCKS] + [list("ab\xe9\xb1"),
                                                                 list("a\u4e2d\U0001f600")]
        for _ in range(60):
            one, other = rng.sample(sides, 2)
            a = text(rng, one, 5, 70)
            b = mutated(rng, a, one + other, 0.4) if rng.random() < 0.5 else text(rng, other, 5, 70)
            self.check_pair(a, b)
            self.check_pair(b, a)
            # A text long enough to stay in code points against a short one of its block.
            self.check_pair(a * 5, a)

    def test_texts_mixing_blocks_or_reaching_high_code_points(self, rng):
        alphabets = ["\u03b1\u03b2\u0431\u0432ab",  # two blocks in one text
                     "\u03b1\u03b2\u03c9\u07ff",  # the last two-byte code point
                     "\u03b1\u03b2\u0800\uffff",  # the first and last of three bytes
                     "\u03b1\u03b2\U0010ffff\U00010000",  # the last code point
                     "\u0430\u0431\ue000\U000f0000"]  # private use characters
        for alphabet in alphabets:
            for size in (5, 20, 60):
                a = text(rng, alphabet, size, size)
                self.check_pair(a, mutated(rng, a, alphabet))
                self.check_pair(a, text(rng, alphabet[:2], size, size))


class TestCodePointBuffers:
    """A str's code points are copied into room for a word or a short text, and a longer
    one takes a second copy into room for all of it: the lengths on both sides of each
    room give what the list of the characters gives."""

    @pytest.mark.parametrize("size", [1, 15, 16, 17, 63, 64, 65, 127, 128, 129, 255, 256, 257])
    def test_lengths_around_the_rooms(self, rng, size):
        for alphabet in ("\u03b1\u03b2\u03b3\u03b4", "ab\u4e2d\U0001f600", "\xe9\u0101"):
            a = text(rng, alphabet, size, size)
            b = mutated(rng, a, alphabet)
            for name in ("levenshtein_distance", "indel_distance", "jaro_similarity",
                         "fuzz_ratio", "fuzz_partial_ratio"):
                f = getattr(t, name)
                assert same(f(a, b), f(list(a), list(b))), (name, a, b)
            # The token scorers read text: the same text as UTF-8 bytes.
            assert t.fuzz_token_sort_ratio(a, b) == t.fuzz_token_sort_ratio(a.encode(), b.encode())
            # The processor works on code points: mapping its result back by characters
            # gives the processed characters one by one.
            spaced = " ".join(a)
            assert t.default_process(spaced).split() == [t.default_process(c) for c in a
                                                          if t.default_process(c)]


class TestBatches:
    def test_cdist_and_extract_give_the_scorers_scores(self, rng):
        choices = [b for _, b in pairs(rng, 1)][:120] + ["plain ascii", ""]
        queries = [a for a, _ in pairs(rng, 1)][:6]
        queries += ["\u03b1", "\u03b1" * 64 + "\u4e00", queries[0] + queries[1]]
        for name in ("fuzz_ratio", "fuzz_qratio", "fuzz_wratio", "fuzz_partial_ratio",
                     "fuzz_token_set_ratio"):
            f = getattr(t, name)
            for cut in (None, 0.0, 50.0, 80.5, 100.0, 101.0):
                scores, n, m = t.cdist(queries, choices, name, f, score_cutoff=cut)
                assert (n, m) == (len(queries), len(choices))
                expected = [f(q, c, score_cutoff=cut) for q in queries for c in choices]
                assert scores == expected, (name, cut)
            for q in queries[:3]:
                got = {(c, s, i) for c, s, i in t.extract(q, choices, name, None, limit=None)}
                assert got == {(c, f(q, c), i) for i, c in enumerate(choices)}, name


    def test_list_of_choices_for_a_wide_query_as_any_iterable(self, rng):
        # A list of 32 choices or more is scored on the pool; a tuple, or a generator, is
        # read item after item: both read missing values as 0.0 and raise what the
        # conversion of a choice raises.
        choices = [b for _, b in pairs(rng, 1)][:80]
        choices[3:3] = [None, "<NA>", float("nan"), b"bytes", ["\u03b1", "\u03b2"], ""]
        query = "\u03b1\u03b2\u03b3 \u4e2d\u6587"
        for name in ("fuzz_ratio", "fuzz_qratio", "fuzz_wratio", "fuzz_partial_ratio",
                     "fuzz_token_sort_ratio", "fuzz_partial_token_ratio"):
            for limit, cutoff in ((None, None), (5, None), (1, 30.0), (3, -1.0), (None, 101.0)):
                kw = {"limit": limit, "score_cutoff": cutoff}
                got = t.extract(query, choices, name, None, **kw)
                assert got == t.extract(query, tuple(choices), name, None, **kw), (name, kw)
                assert got == t.extract(query, iter(choices), name, None, **kw), (name, kw)
            assert t.extract_one(query, choices, name, None) == \
                t.extract_one(query, tuple(choices), name, None)
        for bad in (5, object()):
            with pytest.raises(TypeError):
                t.extract(query, choices + [bad], "fuzz_ratio", None)


class TestDefaultProcess:
    def test_characters_alone_against_the_whole_text(self, rng):
        # A capital dotted I makes the processor lowercase the whole text with ICU; the
        # same characters between two a's take the per-character table.
        planes = [(0x80, 0x3000), (0x3000, 0x10000), (0x10000, 0x20000)]
        for lo, hi in planes:
            for _ in range(150):
                s = "".join(chr(rng.randrange(lo, hi)) for _ in range(rng.randint(1, 12)))
                s = "".join(c for c in s if not 0xD800 <= ord(c) <= 0xDFFF)
                fast = t.default_process("a " + s + " a")
                general = t.default_process("\u0130 " + s + " \u0130")
                assert fast[2:-2] == general[3:-3], ascii(s)

    def test_latin1_bytes_as_their_characters(self, rng):
        for _ in range(200):
            raw = bytes(rng.randrange(256) for _ in range(rng.randint(0, 20)))
            assert t.default_process(raw) == t.default_process(raw.decode("latin-1"))


# Characters by the length of their UTF-8, with the extremes of each length.
BY_WIDTH = {1: "az .\x00\x7f", 2: "\x80\xe9\xdf\u03a3\u0436\u07ff",
            3: "\u0800\u4e2d\u6587\u20ac\ufffd\uffff", 4: "\U00010000\U0001f600\U0010ffff"}


def text_of_size(rng, size, widths=(1, 2, 3, 4)):
    """Random characters of the given UTF-8 widths up to at least `size` bytes."""
    out, n = [], 0
    while n < size:
        w = rng.choice(widths)
        out.append(rng.choice(BY_WIDTH[w]))
        n += w
    return "".join(out)


def decoded_choices(rng):
    """Texts of about 16 to 200 bytes of mixed widths; texts whose character at a 16-, 32-,
    64- or 128-byte boundary starts one to three bytes before it; texts ending in a
    four-byte character; a few ASCII ones."""
    out = [text_of_size(rng, size + rng.randint(-2, 2))
           for size in (5, 16, 32, 64, 128, 200) for _ in range(8)]
    out += [text_of_size(rng, size, (2, 3)) for size in (16, 63, 64, 65, 129)]
    for boundary in (16, 32, 64, 128):
        for width in (2, 3, 4):
            for before in range(1, width):
                head = text_of_size(rng, boundary - before - 8, (1, 2, 3))
                head += "a" * (boundary - before - len(head.encode()))
                out.append(head + rng.choice(BY_WIDTH[width]) + text_of_size(rng, rng.randint(0, 40)))
    out += [text_of_size(rng, size) + "\U0001f600" for size in (0, 3, 59, 60, 61, 62, 63, 64, 123)]
    out += ["plain ascii words", "az"]
    rng.shuffle(out)
    return out


class TestChoicesDecodedByTheWorkers:
    """extract, extract_one and cdist rows of up to four queries hand each str choice
    beyond ASCII to the worker pool as its UTF-8, which the workers decode to code points.
    On texts of mixed widths, of lengths around 16, 32, 64 and 128 bytes and with characters
    across those boundaries, their scores are those of a dynamic program on Python's code
    points, of the lists of the characters, and of the single scorers."""

    QUERIES = ["az ez", "\xe9\u03a3\u4e2d\U0001f600 az", "\u4e2d\u6587" * 20 + "\U0010ffff"]

    @staticmethod
    def by_index(result):
        return {i: s for _, s, i in result}

    def test_simple_ratio_against_the_dynamic_program(self, rng):
        choices = decoded_choices(rng)
        assert len(choices) >= 32  # scored on the pool
        points = [[ord(x) for x in c] for c in choices]
        for query in self.QUERIES:
            q = [ord(x) for x in query]
            want = [naive.ratio(q, c) for c in points]
            got = self.by_index(t.extract(query, choices, "fuzz_ratio", None, limit=None))
            assert got == dict(enumerate(want)), query
            best = max(range(len(want)), key=lambda i: (want[i], -i))
            assert t.extract_one(query, choices, "fuzz_ratio", None) == \
                (choices[best], want[best], best), query
            for rows in (1, 4):
                scores, n, m = t.cdist([query] * rows, choices, "fuzz_ratio", None)
                assert (n, m) == (rows, len(choices)) and scores == want * rows, (query, rows)

    @pytest.mark.parametrize("name", ["fuzz_partial_ratio", "fuzz_wratio", "fuzz_token_sort_ratio"])
    def test_other_scorers_against_single_calls_and_models(self, rng, name):
        f = getattr(t, name)
        choices = decoded_choices(rng)
        for query in self.QUERIES[:2]:
            want = [f(query, c) for c in choices]
            got = self.by_index(t.extract(query, choices, name, None, limit=None))
            assert got == dict(enumerate(want)), (name, query)
            assert t.cdist([query, query[::-1]], choices, name, None)[0][:len(choices)] == want
            if name == "fuzz_partial_ratio":
                # The lists of the characters, converted by the calling thread.
                lists = [list(c) for c in choices]
                assert self.by_index(t.extract(query, lists, name, None, limit=None)) == got
            if name == "fuzz_token_sort_ratio":
                assert want == [fm.token_sort(query, c) for c in choices], query

    def test_texts_that_are_not_utf8_do_not_reach_the_workers(self):
        # A str holding a lone surrogate has no UTF-8 form: the fast route leaves it out,
        # the general route (a query beyond ASCII) raises what its encoding raises.
        choices = ["ab\ud800c", "abc\U0001f600"] * 20
        score = naive.ratio("abc", "abc\U0001f600")
        assert t.extract("abc", choices, "fuzz_ratio", None, limit=2) == \
            [("abc\U0001f600", score, 1), ("abc\U0001f600", score, 3)]
        with pytest.raises(UnicodeEncodeError):
            t.extract("ab\xe9", choices, "fuzz_ratio", None)
