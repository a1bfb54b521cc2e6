"""The normalising tokeniser (normalize=True), observed through BM25 scores.

A document matches a query exactly when they share a term, and scores depend only on
each document's multiset of terms and the query's term sequence; so an index over the
texts scores bit for bit like an index over ASCII stand-ins for the terms that a plain
Python model of the rules predicts.
"""
import math
import os
import pickle
import random
import subprocess
import sys
import unicodedata

import pytest

from _tarnwick import BM25Index, BM25L, BM25Plus, BM25T

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CLASSES = [BM25Index, BM25L, BM25Plus, BM25T]


def is_negative_zero(x):
    return x == 0.0 and math.copysign(1.0, x) < 0


# ---- a model of the rules over a small alphabet whose scripts are listed here ----

SCRIPT = {}
for chars, script in [
    ("abcxyzABCXYZéÉñÑØøæÆœŒßẞİıＡｂﬁ", "Latin"),
    ("αβγΣσςΟΔάΆὰ\u03f9\u03f2", "Greek"),  # lunate sigmas decompose to sigmas
    ("한글", "Hangul"),
    ("ภาษไทย\u0e48\u0e31", "Thai"),
    ("абвПРЙйЁё", "Cyrillic"),
    ("ابتأإآٱىةهيمدرس", "Arabic"),
    ("東京都漢字", "Han"),
    ("שלומ\u05b8", "Hebrew"),  # the vowel point is of the Hebrew script
    ("0123456789=$^①Ⓐ½\x01\x7f\x85ـ\ufffd\ufeff\u2060", "Common"),
    ("\u0301\u0308\u064e\u0300\u0323", "Inherited"),
    (" ,-.+×\u2212«\u00a0\u3000\t\n'\u2019!\u200b\u2028", "separator"),
]:
    SCRIPT.update(dict.fromkeys(chars, script))
ALPHABET = sorted(SCRIPT)


def is_separator(c):
    cat = unicodedata.category(c)
    return (cat[0] == "P" or cat == "Zs" or c in "\t\n\r\u2028\u2029\u200b\u200c`+±×÷"
            or 0x2212 <= ord(c) <= 0x22FF)


def model_terms(text):
    """The terms of `text` (over ALPHABET) by the rules, stated as directly as possible."""
    strong = [SCRIPT[c] if SCRIPT[c] not in ("Common", "Inherited", "separator") else None
              for c in text]
    run = next((s for s in strong if s), "Latin")
    runs = []
    for s in strong:
        run = s or run
        runs.append(run)
    tokens = []
    current = None
    for c, script in zip(text, runs):
        if is_separator(c):
            current = None
            continue
        if current is None or current[1] != script:
            current = [[], script]
            tokens.append(current)
        current[0].append(c)
    terms = []
    for chars, script in tokens:
        t = unicodedata.normalize("NFKD", "".join(chars))
        t = "".join(c for c in t if unicodedata.category(c) != "Cc" and c not in "\ufeff\u2060")
        if script in ("Latin", "Cyrillic", "Greek"):
            t = t.lower()
        t = t.translate({0x2018: "'", 0x2019: "'", 0x201B: "'", 0xE6: "ae", 0x153: "oe"})
        if script == "Arabic":
            t = t.translate({0x671: 0x627, 0x649: 0x64A, 0x629: 0x647, 0x640: None})
        if script in ("Latin", "Greek", "Hebrew", "Thai", "Arabic"):
            t = "".join(c for c in t if unicodedata.category(c) != "Mn")
        if any(not is_separator(c) for c in t):
            terms.append(t)
    return terms


@pytest.mark.parametrize("cls", CLASSES)
def test_scores_equal_those_of_the_modelled_terms(cls):
    """Random texts score exactly like ASCII stand-ins for their modelled terms."""
    rng = random.Random(11)
    texts = ["".join(rng.choice(ALPHABET) for _ in range(rng.randint(0, 30)))
             for _ in range(300)]
    queries = texts[:100] + ["".join(rng.choice(ALPHABET) for _ in range(rng.randint(0, 6)))
                             for _ in range(200)]
    names = {}

    def stand_in(text):
        return " ".join(names.setdefault(t, "w" + "".join(
            chr(97 + int(d)) for d in str(len(names)))) for t in model_terms(text))

    expected = cls([stand_in(t) for t in texts]).get_batch_scores(
        [stand_in(q) for q in queries])
    got = cls(texts, normalize=True).get_batch_scores(queries)
    for q, g, e in zip(queries, got, expected):
        assert [x.hex() for x in g] == [x.hex() for x in e], q


# ---- hand-worked cases ----

MATCHES = [
    ("Café Crème", "cafe"),
    ("Café Crème", "CRÈME"),
    ("Cafe\u0301", "café"),  # decomposed and composed accents meet
    ("ΟΔΟΣ", "οδος"),  # final sigma on both sides
    ("ΟΔΟΣ", "οδός"),
    ("Привет, МИР", "мир"),
    ("ﬁnance ２０２４", "finance"),
    ("ﬁnance ２０２４", "2024"),
    ("Æsir", "aesir"),
    ("œuvre", "OEUVRE"),
    ("İstanbul", "istanbul"),
    ("ⒶⒷⒸ", "abc"),  # a text without a script of its own is normalised as Latin
    ("أحمد", "احمد"),
    ("إسلام", "اسلام"),
    ("مدرسة", "مدرسه"),
    ("على", "علي"),
    ("كتـــاب", "كتاب"),
    ("مَدْرَسَة", "مدرسه"),
    ("שָׁלוֹם", "שלום"),
    ("a\x00b\x85", "ab"),
]


@pytest.mark.parametrize("cls", CLASSES)
@pytest.mark.parametrize("document,query", MATCHES)
def test_variants_of_a_word_match(cls, document, query):
    scores = cls([document, "unrelated"], normalize=True).get_scores(query)
    assert scores[0] > 0.0 and scores[1] == 0.0


@pytest.mark.parametrize("text,terms,non_terms", [
    ("a=b", ["a=b"], ["a", "b"]),
    ("$5 x~y p<q>r s^t u|v", ["$5", "x~y", "p<q>r", "s^t", "u|v"], ["5", "x", "p"]),
    ("a+b c×d e÷f g±h i\u2212j k\u22ffl m`n", list("abcdefghijklmn"), []),
    ("a\u00a0b c\u2029d e\u200cf g·h i\u3000j k_l m'n o\u2019p", list("abcdefghijklmnop"), []),
    ("東京都", ["東京都"], ["東京", "京都"]),  # no dictionary segmentation
    ("ภาษาไทย", ["ภาษาไทย"], ["ภาษา"]),
    ("abcПривет", ["abc", "привет"], []),  # split where the script changes
    ("12abc", ["12abc"], ["12", "abc"]),  # digits stay in the run
])
def test_term_boundaries(text, terms, non_terms):
    index = BM25Index([text, "zzz"], normalize=True)
    for t in terms:
        assert index.get_scores(t)[0] > 0.0, t
    for t in non_terms:
        assert index.get_scores(t)[0] == 0.0, t


@pytest.mark.parametrize("text,terms,non_terms", [
    # A byte-order mark and a word joiner vanish, joining what stands around them.
    ("\ufeffhello world", ["hello", "HELLO", "\ufeffhello"], ["\ufeff"]),
    ("e\u2060mail x\ufeffy", ["email", "xy"], ["e", "mail", "x", "y"]),
    ("東京\u2060都", ["東京都"], ["東京", "都"]),
    # A zero-width space and the line and paragraph separators separate words.
    ("ภาษา\u200bไทย", ["ภาษา", "ไทย"], ["ภาษาไทย"]),
    ("first\u2028second\u2029third", ["first", "second", "third"], ["firstsecond"]),
    ("a\u200b\u200bb", ["a", "b"], ["ab"]),
])
def test_invisible_characters_are_not_part_of_terms(text, terms, non_terms):
    index = BM25Index([text, "zzz"], normalize=True)
    for t in terms:
        assert index.get_scores(t)[0] > 0.0, t
    for t in non_terms:
        assert index.get_scores(t)[0] == 0.0, t


def test_invisible_characters_alone_give_no_term():
    """A document of only such characters has no term and does not lengthen another."""
    invisible = "\ufeff \u2060 \u200b \u2028 \u2029"
    scores = BM25Index(["x " + invisible, "x", "y y"], normalize=True).get_scores("x")
    assert scores[0] == scores[1] > 0.0
    assert all(is_negative_zero(s) for s in
               BM25Index(["a", "b"], normalize=True).get_scores(invisible))


def test_word_splitting_mode_keeps_its_terms():
    """Without normalize the invisible characters are not letters or digits: they split."""
    index = BM25Index(["\ufeffhello e\u2060mail", "zzz"])
    for t in ["hello", "e", "mail"]:
        assert index.get_scores(t)[0] > 0.0, t
    assert index.get_scores("email")[0] == 0.0


@pytest.mark.parametrize("query", ["", "!!! ...", "«»—", "\u3000、。", "+×÷ \u2212", "¨ \x01 \u0301"])
def test_queries_without_terms_score_negative_zero(query):
    """Punctuation, and tokens that normalise to nothing, give no term at all."""
    for cls in CLASSES:
        scores = cls(["a b", query, "c"], normalize=True).get_scores(query)
        assert all(is_negative_zero(s) for s in scores)


def test_tokens_without_a_word_do_not_count_in_length():
    """A control-only or mark-only token is dropped, so it does not lengthen a document."""
    scores = BM25Index(["x ¨ \x01 \u0301", "x", "y y"], normalize=True).get_scores("x")
    assert scores[0] == scores[1] > 0.0


def test_same_terms_on_every_call_and_after_pickling():
    texts = ["Café Crème ΟΔΟΣ", "Привет мир 東京", "مدرسة a=b", "x"]
    index = BM25Index(texts, normalize=True)
    first = index.get_batch_scores(texts)
    assert index.get_batch_scores(texts) == first
    assert [index.get_scores(t) for t in texts] == first
    assert BM25Index(list(texts), normalize=True).get_batch_scores(texts) == first
    assert pickle.loads(pickle.dumps(index)).get_batch_scores(texts) == first


CONCURRENT_FIRST_USE = r"""
import json
import _tarnwick
# An ASCII corpus tokenises without the character tables or the decomposition, so the
# queries' first use of them happens at once on the pool's threads.
index = _tarnwick.BM25Index(["cafe creme", "odos mir", "x"] * 4, normalize=True)
words = ["CAFÉ", "Crème", "ΟΔΟΣ", "мир", "東京", "مدرسة", "ﬁnance", "Σ"]
queries = [" ".join(words[i % 8:] + words[:i % 8]) for i in range(256)]
together = index.get_batch_scores(queries)
print(json.dumps(together == [index.get_scores(q) for q in queries]))
"""


def test_first_use_from_many_threads_at_once():
    env = dict(os.environ, RAYON_NUM_THREADS="8")
    env["PYTHONPATH"] = os.pathsep.join(
        [p for p in sys.path if p] + [os.path.join(ROOT, "build"), os.path.join(ROOT, "python")])
    for _ in range(3):
        out = subprocess.run([sys.executable, "-c", CONCURRENT_FIRST_USE], env=env,
                             capture_output=True, text=True, timeout=300)
        assert out.returncode == 0, out.stderr
        assert out.stdout.strip() == "true"
