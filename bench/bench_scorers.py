"""Per-call cost of the eleven fuzz_ scorers, against difflib-based equivalents.

Inputs: pairs of single words, and pairs of 100-, 1,000- and 10,000-character texts made
of words (the second text of a pair is the first with some words changed and moved), plus
a short needle (32 or 64 bytes, taken from the text with a few changes) in 1,000- to
100,000-character texts for the partial ratio. Each scorer runs over the same pairs as
its difflib equivalent (SequenceMatcher with its defaults, composed the usual way for the
partial, token and weighted forms), and the table shows microseconds per call and how
many times faster the native scorer is. Times are the best of several rounds; nothing is
asserted.

    python3 bench/bench_scorers.py [--quick]      (or: python3 bench/run.py bench_scorers)
"""

import difflib
import random
import sys
import time

from common import fmt_time  # also puts build/ and python/ on the import path

import tarnwick as t

# ---- difflib equivalents ----


def d_ratio(a, b):
    return 100.0 * difflib.SequenceMatcher(None, a, b).ratio()


def d_partial(a, b):
    short, long_ = (a, b) if len(a) <= len(b) else (b, a)
    if not short:
        return 0.0
    best = 0.0
    for block in difflib.SequenceMatcher(None, short, long_).get_matching_blocks():
        start = max(block.b - block.a, 0)
        best = max(best, d_ratio(short, long_[start:start + len(short)]))
        if best == 100.0:
            break
    return best


def d_sort_key(s):
    return " ".join(sorted(s.split()))


def d_token_sort(a, b):
    return d_ratio(d_sort_key(a), d_sort_key(b))


def d_set_parts(a, b):
    sa, sb = set(a.split()), set(b.split())
    inter = " ".join(sorted(sa & sb))
    ab = " ".join(sorted(sa - sb))
    ba = " ".join(sorted(sb - sa))
    return inter, ab, ba


def d_token_set(a, b):
    inter, ab, ba = d_set_parts(a, b)
    t_ab = (inter + " " + ab).strip()
    t_ba = (inter + " " + ba).strip()
    return max(d_ratio(inter, t_ab), d_ratio(inter, t_ba), d_ratio(t_ab, t_ba))


def d_token_ratio(a, b):
    return max(d_token_sort(a, b), d_token_set(a, b))


def d_partial_token_sort(a, b):
    return d_partial(d_sort_key(a), d_sort_key(b))


def d_partial_token_set(a, b):
    inter, ab, ba = d_set_parts(a, b)
    return 100.0 if inter else d_partial(ab, ba)


def d_partial_token_ratio(a, b):
    return max(d_partial_token_sort(a, b), d_partial_token_set(a, b))


def d_wratio(a, b):
    if not a or not b:
        return 0.0
    ratio = d_ratio(a, b)
    r = max(len(a), len(b)) / min(len(a), len(b))
    if r < 1.5:
        return max(ratio, 0.95 * d_token_ratio(a, b))
    scale = 0.9 if r <= 8.0 else 0.6
    return max(ratio, scale * d_partial(a, b), scale * 0.95 * d_partial_token_ratio(a, b))


SCORERS = [
    ("fuzz_ratio", t.fuzz_ratio, d_ratio),
    ("fuzz_qratio", t.fuzz_qratio, d_ratio),
    ("fuzz_wratio", t.fuzz_wratio, d_wratio),
    ("fuzz_partial_ratio", t.fuzz_partial_ratio, d_partial),
    ("fuzz_partial_ratio_alignment", t.fuzz_partial_ratio_alignment, d_partial),
    ("fuzz_token_sort_ratio", t.fuzz_token_sort_ratio, d_token_sort),
    ("fuzz_token_set_ratio", t.fuzz_token_set_ratio, d_token_set),
    ("fuzz_token_ratio", t.fuzz_token_ratio, d_token_ratio),
    ("fuzz_partial_token_sort_ratio", t.fuzz_partial_token_sort_ratio, d_partial_token_sort),
    ("fuzz_partial_token_set_ratio", t.fuzz_partial_token_set_ratio, d_partial_token_set),
    ("fuzz_partial_token_ratio", t.fuzz_partial_token_ratio, d_partial_token_ratio),
]

# ---- inputs ----

rnd = random.Random(20240607)
LETTERS = "etaoinshrdlcumwfgypbvkjxqz"
VOCAB = ["".join(rnd.choice(LETTERS[: rnd.randint(8, 26)]) for _ in range(rnd.randint(2, 10)))
         for _ in range(3000)]


def typo(word):
    w = list(word)
    i = rnd.randrange(len(w))
    op = rnd.randrange(3)
    if op == 0:
        w[i] = rnd.choice(LETTERS)
    elif op == 1:
        w.insert(i, rnd.choice(LETTERS))
    elif len(w) > 1:
        del w[i]
    return "".join(w)


def text_of(n):
    words = []
    size = 0
    while size < n:
        words.append(rnd.choice(VOCAB))
        size += len(words[-1]) + 1
    return " ".join(words)[:n].strip()


def variant(text):
    """The text with about a tenth of its words misspelt and a few moved."""
    words = text.split()
    for i in range(len(words)):
        if rnd.random() < 0.1:
            words[i] = typo(words[i])
    for _ in range(max(1, len(words) // 20)):
        i, j = rnd.randrange(len(words)), rnd.randrange(len(words))
        words[i], words[j] = words[j], words[i]
    return " ".join(words)


def word_pairs(count):
    return [(w, typo(w)) for w in (rnd.choice(VOCAB) for _ in range(count))]


def text_pairs(n, count):
    return [(a, variant(a)) for a in (text_of(n) for _ in range(count))]


def needle_pairs(needle_len, hay_len, count):
    pairs = []
    for _ in range(count):
        hay = text_of(hay_len)
        start = rnd.randrange(max(1, len(hay) - needle_len))
        needle = list(hay[start:start + needle_len])
        for _ in range(3):
            needle[rnd.randrange(len(needle))] = rnd.choice(LETTERS)
        pairs.append(("".join(needle), hay))
    return pairs


# ---- timing ----


def per_call(fn, pairs, budget):
    """Best time per call over up to five rounds, each round running all pairs at least
    once and for about `budget` seconds; a single round when one pass takes over a second."""
    best = float("inf")
    for _ in range(5):
        calls = 0
        start = time.perf_counter()
        while True:
            for a, b in pairs:
                fn(a, b)
            calls += len(pairs)
            elapsed = time.perf_counter() - start
            if elapsed >= budget:
                break
        best = min(best, elapsed / calls)
        if elapsed > 1.0:
            break
    return best


def row(name, label, ours, theirs):
    print(f"  {name:31} {label:24}{fmt_time(ours):>13}{fmt_time(theirs):>13}{theirs / ours:10.1f}x")


def run(quick=False):
    budget = 0.02 if quick else 0.1
    count = 10 if quick else 40

    groups = [
        ("words", word_pairs(count * 10)),
        ("100 chars", text_pairs(100, count)),
        ("1,000 chars", text_pairs(1000, count // 2)),
        ("10,000 chars", text_pairs(10000, max(2, count // 10))),
    ]
    needle_groups = [
        (f"needle {n} / {h:,} chars", needle_pairs(n, h, max(2, count // 4)))
        for n in (32, 64) for h in (1000, 10000, 100000)
    ]

    print(f"\n  {'scorer':31} {'input':24}{'tarnwick':>13}{'difflib':>13}{'faster':>11}")
    for name, fn, dfn in SCORERS:
        for label, pairs in groups:
            row(name, label, per_call(fn, pairs, budget), per_call(dfn, pairs, budget))
    print()
    for name, fn, dfn in SCORERS[3:5]:
        for label, pairs in needle_groups:
            row(name, label, per_call(fn, pairs, budget), per_call(dfn, pairs, budget))
    print()
    # The weighted ratio against the plain ratio on the same pairs.
    phrases = [(a, variant(a)) for a in (text_of(rnd.randint(10, 30)) for _ in range(count * 5))]
    for label, pairs in [groups[0], ("short phrases", phrases), groups[1]]:
        r = per_call(t.fuzz_ratio, pairs, budget)
        w = per_call(t.fuzz_wratio, pairs, budget)
        print(f"  fuzz_wratio costs {w / r:.2f} times fuzz_ratio on {label}")


if __name__ == "__main__":
    run("--quick" in sys.argv[1:])
