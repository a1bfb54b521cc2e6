"""Patterns of 17 to 64 characters (one mask word) whose characters straddle 255/256 or share
their low byte: the bit-parallel kernels must give what the plain tables give, call after
call (the per-thread mask tables are reused), for str and for lists of integers."""
import random

import _tarnwick as t
import naive
import pytest
from test_metrics_edit import lev
from test_metrics_score import jaro_model, osa_model

ALPHABETS = {
    # Both sides of 255/256 and of other multiples of 256, with equal low bytes.
    "boundary": "\x00\xff\u0100\u01ff\u0200\u0aff\U0001f6ff\U0001f700a\u0161\u0261b",
    # One low byte for every character: all but one share an entry.
    "one_low_byte": "".join(chr(0x61 + 256 * k) for k in range(48)),
    # Values below 256 beside values that share their low bytes.
    "pairs": "".join(chr(c) + chr(c + 0x300) for c in range(0xe0, 0xf0)),
    "mixed": "abcdé中文字😀αβγжз",
}


def text(rng, alphabet, lo=17, hi=64):
    return "".join(rng.choice(alphabet) for _ in range(rng.randint(lo, hi)))


def check_pair(a, b):
    lcs = naive.lcs_length(a, b)
    assert t.lcs_seq_similarity(a, b) == lcs
    assert t.indel_distance(a, b) == len(a) + len(b) - 2 * lcs
    assert t.levenshtein_distance(a, b) == lev(a, b)
    assert t.osa_distance(a, b) == osa_model(a, b)
    assert t.jaro_similarity(a, b) == pytest.approx(jaro_model(a, b), abs=1e-12)
    # The same pair as lists of code points (64-bit elements).
    la, lb = [ord(c) for c in a], [ord(c) for c in b]
    assert t.lcs_seq_similarity(la, lb) == lcs
    assert t.jaro_similarity(la, lb) == t.jaro_similarity(a, b)


@pytest.mark.parametrize("name", sorted(ALPHABETS))
def test_random_pairs_against_tables(name):
    rng = random.Random(name)
    alphabet = ALPHABETS[name]
    for _ in range(60):
        a = text(rng, alphabet)
        b = text(rng, alphabet, 1, 80)
        check_pair(a, b)
        check_pair(b, a)


def test_characters_one_apart_at_the_boundary():
    # Each pattern character has a neighbour across 255/256 (or 511/512) in the text.
    a = ("\xff\u0100" * 12) + ("\u01ff\u0200" * 6)
    b = ("\u0100\xff" * 12) + ("\u0200\u01ff" * 6)
    check_pair(a, b)
    check_pair(a, "\x00" * 20 + "\u0100" * 20)
    assert t.lcs_seq_similarity(a, "\u0000\u0001\u00fe" * 10) == 0
    assert t.indel_distance("\xff" * 20, "\u01ff" * 20) == 40
    assert t.indel_distance("\u01ff" * 20, "\xff" * 20) == 40


def test_tables_left_by_an_earlier_pattern():
    # The second pattern's characters have the low bytes (and in part the values) of the
    # first one's: nothing of the first may be seen.
    first = "".join(chr(0x161 + 256 * k) for k in range(30))
    second = "".join(chr(0x61 + 256 * (k % 3)) for k in range(30))
    for a, b in [(first, second), (second, first), (first, first[::-1]), (second, "a" * 40)]:
        check_pair(a, b)
    # Alternating ASCII and wide patterns against the same text.
    rng = random.Random(5)
    probe = text(rng, ALPHABETS["boundary"], 40, 60)
    for _ in range(20):
        check_pair(text(rng, rng.choice(list(ALPHABETS.values()))), probe)


def wide_home(v):
    """Home slot of a value in the table of values that share a low byte with another."""
    x = (v * 0xF1357AEA2E62A9C5) % (1 << 64)
    return ((x << 26) | (x >> 38)) % (1 << 64) % 128


def test_many_values_in_one_slot():
    # Values with one low byte and one home slot: the table overflows its lookup window.
    home = wide_home(0x161)
    crowd = [v for v in range(0x161, 0x110000, 256) if wide_home(v) == home
             and not 0xD800 <= v < 0xE000][:12]
    assert len(crowd) == 12
    pattern = "a" + "".join(chr(v) for v in crowd) * 2 + "xyz"
    rng = random.Random(9)
    for _ in range(20):
        other = "".join(rng.choice(pattern + "\u0261\u0361q") for _ in range(rng.randint(17, 60)))
        check_pair(pattern, other)
        check_pair(other, pattern)
    full = "".join(chr(0x61 + 256 * k) for k in range(64))
    check_pair(full, full[::-1])
    check_pair(full, full[::2] + "a")


def test_patterns_below_256_against_text_that_shares_their_low_bytes():
    # A pattern of code points (or integers) all below 256 in the wide forms: a Latin-1
    # text against a CJK one is compared as two sequences of code points, and lists of
    # small integers as 64-bit items. The text's values share the pattern's low bytes (and
    # repeat them), so only the kept value tells a match from a neighbour 256 away.
    rng = random.Random(11)
    latin = "abcé\xff\x00"
    for _ in range(30):
        a = text(rng, latin)
        echo = "".join(rng.choice([c, chr(ord(c) + 256 * rng.randint(1, 200))]) for c in a)
        b = echo + "中"
        check_pair(a, b)
        check_pair(b, a)
        la, lb = [ord(c) for c in a], [ord(c) + (1 << 40) * (ord(c) > 255) for c in b]
        assert t.lcs_seq_similarity(la, lb) == naive.lcs_length(la, lb)
    # Exactly 64 pattern elements, every value repeated, against their far neighbours only.
    a = "ab\xe9\xff" * 16
    assert t.lcs_seq_similarity(a, "".join(chr(ord(c) + 512) for c in a) + "中") == 0
    assert t.lcs_seq_similarity(list(map(ord, a)), [ord(c) + 256 for c in a]) == 0
