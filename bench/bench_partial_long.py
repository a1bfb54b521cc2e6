"""Partial ratio with long needles: the needle is a stretch of the text with about one
character in ten changed, so no window matches it exactly and every window is searched.

Workloads: needles of 100 to 13,000 characters in texts of 10,000 to 40,000 characters
(ASCII and non-ASCII), through fuzz_partial_ratio, its alignment, the partial token
scorers and cdist with a partial scorer; and one 100,000-character needle in a
1,000,000-character text. The peer is difflib (SequenceMatcher windows at its matching
blocks, the usual way to write a partial ratio with it), timed on the smaller workloads
only. Times are single calls (best of a few for the short ones); nothing is asserted.

    python3 bench/bench_partial_long.py [--quick]   (or: python3 bench/run.py bench_partial_long)
"""
import difflib
import random
import sys

from common import NON_ASCII_LETTERS, best_of, fmt_time, mutate

import tarnwick as t

LETTERS = "etaoinshrdlcumwfgypbvkjxqz"


def text_of(rng, n, alphabet, sep):
    vocab = ["".join(rng.choice(alphabet) for _ in range(rng.randint(2, 10)))
             for _ in range(3000)]
    out, size = [], 0
    while size < n:
        out.append(rng.choice(vocab))
        size += len(out[-1]) + len(sep)
    return sep.join(out)[:n]


def needle_case(needle_len, hay_len, alphabet, seed, sep=" "):
    rng = random.Random(seed)
    hay = text_of(rng, hay_len, alphabet, sep)
    start = rng.randrange(hay_len - needle_len)
    needle = mutate(rng, hay[start:start + needle_len], 0.1, alphabet)
    assert needle not in hay
    return needle, hay


def d_partial(a, b):
    short, long_ = (a, b) if len(a) <= len(b) else (b, a)
    best = 0.0
    for block in difflib.SequenceMatcher(None, short, long_).get_matching_blocks():
        start = max(block.b - block.a, 0)
        window = long_[start:start + len(short)]
        best = max(best, 100.0 * difflib.SequenceMatcher(None, short, window).ratio())
    return best


# Scorers timed on texts of words; the token scorers run on texts without spaces, where
# each text is one token and they search windows (on texts of words the shared words
# decide the token set scores at once).
WORD_SCORERS = [
    ("fuzz_partial_ratio", t.fuzz_partial_ratio),
    ("fuzz_partial_ratio_alignment", t.fuzz_partial_ratio_alignment),
    ("fuzz_wratio", t.fuzz_wratio),
]
TOKEN_SCORERS = [
    ("fuzz_partial_token_sort_ratio", t.fuzz_partial_token_sort_ratio),
    ("fuzz_partial_token_set_ratio", t.fuzz_partial_token_set_ratio),
    ("fuzz_partial_token_ratio", t.fuzz_partial_token_ratio),
    ("cdist partial_token_ratio",
     lambda a, b: t.cdist([a], [b], t.fuzz_partial_token_ratio)),
]


def row(name, label, ours, peer=None):
    ratio = f"{peer / ours:10.1f}x" if peer is not None else ""
    peer_s = fmt_time(peer) if peer is not None else ""
    print(f"  {name:30} {label:36}{fmt_time(ours):>13}{peer_s:>13}{ratio:>11}")


def run_sizes(quick=False):
    sizes = [(100, 10_000), (1_000, 10_000), (3_000, 10_000), (13_000, 40_000)]
    print(f"\n  {'scorer':30} {'needle / text':36}{'tarnwick':>13}{'difflib':>13}{'faster':>11}")
    for alphabet, kind in ((LETTERS, "ASCII"), (NON_ASCII_LETTERS, "non-ASCII")):
        for n, h in sizes:
            label = f"{n:,} / {h:,} {kind}"
            repeat = 1 if n * (h - n) > 10**7 else 3
            for sep, scorers in ((" ", WORD_SCORERS), ("", TOKEN_SCORERS)):
                a, b = needle_case(n, h, alphabet, seed=n + h, sep=sep)
                for name, fn in scorers[:1] if quick else scorers:
                    ours = best_of(lambda: fn(a, b), repeat=repeat)
                    peer = None
                    if name == "fuzz_partial_ratio" and n <= 3_000:
                        peer = best_of(lambda: d_partial(a, b), repeat=1)
                    row(name, label + ("" if sep else ", no spaces"), ours, peer)
        print()


def run_big():
    a, b = needle_case(100_000, 1_000_000, LETTERS, seed=7)
    row("fuzz_partial_ratio", "100,000 / 1,000,000 ASCII",
        best_of(lambda: t.fuzz_partial_ratio(a, b), repeat=1))


def run(quick=False):
    run_sizes(quick)
    if not quick:
        run_big()


if __name__ == "__main__":
    run("--quick" in sys.argv[1:])
