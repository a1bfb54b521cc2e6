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


def second_entry(v, width=32):
    """The other entry a wide value may take in the mask table (the first is its low byte):
    the top byte of its product with an odd constant, in the element width."""
    if width == 32:
        return (v * 0x9E3779B1) % (1 << 32) >> 24
    return (v * 0x9E3779B97F4A7C15) % (1 << 64) >> 56


def code_points_with(low, entry, count):
    """`count` code points (no surrogates) with low byte `low` and second entry `entry`."""
    out = [v for v in range(256 + low, 0x110000, 256)
           if not 0xD800 <= v < 0xE000 and second_entry(v) == entry]
    assert len(out) >= count
    return out[:count]


def test_random_cjk_patterns_sharing_low_bytes():
    # Code points drawn from the whole common CJK range: a pattern of 17 to 64 nearly always
    # has values sharing a low byte, which then take their second entries; and exactly 64
    # distinct values, many sharing, against their own reversal and a shuffled copy with
    # some values 256 away.
    rng = random.Random(21)
    cjk = [chr(c) for c in range(0x4E00, 0x9FA6)]
    for _ in range(40):
        a = "".join(rng.choice(cjk) for _ in range(rng.randint(17, 64)))
        b = "".join(c if rng.random() < 0.7 else rng.choice(cjk) for c in a)
        check_pair(a, b)
        check_pair(b, a)
    full = "".join(rng.sample(cjk, 64))
    assert len({ord(c) & 255 for c in full}) < 64
    near = "".join(chr(ord(c) + 256) if rng.random() < 0.3 else c for c in full)
    check_pair(full, full[::-1])
    check_pair(full, near)
    check_pair(full, "".join(rng.sample(full, 64)))
    # Repeated values sharing low bytes, and ASCII letters beside CJK with their low bytes.
    few = [chr(0x4E61 + 256 * k) for k in range(6)] + list("ab") + [chr(0x4E62 + 256 * k) for k in range(4)]
    for _ in range(30):
        a = "".join(rng.choice(few) for _ in range(rng.randint(17, 64)))
        b = "".join(rng.choice(few + ["\u4e63", "q"]) for _ in range(rng.randint(1, 70)))
        check_pair(a, b)
        check_pair(b, a)


def test_values_sharing_both_entries():
    # Nine values with one low byte and one second entry: two of them hold the two entries
    # and the others, after chains of displacements, go to the overflow table; repeated,
    # beside values that take those entries first or later.
    crowd = [chr(v) for v in code_points_with(0x2D, 0x80, 9)]
    others = [chr(0x4E2D), "-", chr(0x80 + 0x4E00), "\x80"]
    rng = random.Random(23)
    for _ in range(30):
        a = "".join(rng.choice(crowd + others) for _ in range(rng.randint(17, 64)))
        b = "".join(rng.choice(crowd + others + ["\u4e2e"]) for _ in range(rng.randint(1, 70)))
        check_pair(a, b)
        check_pair(b, a)
    a = "".join(crowd) * 7 + "x"  # exactly 64 elements
    check_pair(a, "".join(reversed(crowd)) * 3)
    check_pair(a, a[1:] + a[0])


def test_value_displaced_back_to_its_low_byte():
    # w and x share a low byte: w holds it and x takes its second entry; y, whose low byte
    # z holds, has x's second entry as its own and displaces x, which goes back to its low
    # byte and displaces w to w's second entry. A later x takes its second entry again
    # (displacing y): its positions are then found in both entries.
    rng = random.Random(25)
    cjk = range(0x4E00, 0x9FA6)
    while True:
        w, x = rng.sample([v for v in cjk if v & 255 == 0x37], 2)
        ys = [v for v in cjk if second_entry(v) == second_entry(x) and v & 255 not in (0x37,)]
        y = rng.choice(ys)
        z = rng.choice([v for v in cjk if v & 255 == y & 255 and v != y])
        # Entries apart from each other and from the filler letters' (0x61 to 0x63).
        entries = [0x37, y & 255, second_entry(x), second_entry(w)]
        if len(set(entries) | {0x61, 0x62, 0x63}) == 7:
            break
    w, x, y, z = map(chr, (w, x, y, z))
    pattern = w + x + z + y + x + "".join(rng.choice("abc") for _ in range(12)) + x + w + y + z
    for text in (x * 5 + w + y, pattern[::-1], z + y + x + w, x + "abc" * 6):
        check_pair(pattern, text)
        check_pair(text, pattern)
    # Lists of code points with values beyond 32 bits (64-bit second entries).
    big = [ord(c) + (1 << 33) for c in pattern]
    assert t.lcs_seq_similarity(big, big[::-1]) == naive.lcs_length(big, big[::-1])
    assert t.levenshtein_distance(big, big[3:] + big[:3]) == lev(big, big[3:] + big[:3])
