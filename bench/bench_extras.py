"""soundex_encode against jellyfish's soundex; BKTree.dedupe against a brute-force pass.

The dedupe word lists are made of a random vocabulary (5 to 12 letters) and variants of
its words one or two edits away, so that both thresholds find many near-duplicates.
The brute-force pass compares each word with every word kept so far (stopping at the
first near-duplicate), with tarnwick.levenshtein_distance and a cutoff; it runs only
where it finishes in reasonable time, and its kept list is checked against dedupe's.
"""
import random
import time

from common import ASCII_LETTERS, fmt_time, mutate, optional, table, words

import tarnwick

BRUTE_FORCE_LIMIT = 10_000


def per_call_single(fn, items, repeat=5):
    """Best time per call, in seconds, of fn(x) over all items."""
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        for x in items:
            fn(x)
        best = min(best, time.perf_counter() - t0)
    return best / len(items)


def names(n, seed=3):
    rng = random.Random(seed)
    alphabet = ASCII_LETTERS + ASCII_LETTERS.upper() + " -'"
    return words(rng, n, 3, 14, alphabet)


def near_duplicate_words(n, seed=4):
    rng = random.Random(seed)
    vocabulary = words(rng, max(1, n // 2))
    out = []
    for _ in range(n):
        w = rng.choice(vocabulary)
        if rng.random() < 0.5:
            w = mutate(rng, w, 0.15, ASCII_LETTERS) or w
        out.append(w)
    return out


def brute_force_dedupe(items, threshold):
    dist = tarnwick.levenshtein_distance
    kept = []
    for s in items:
        if not any(dist(s, t, score_cutoff=threshold) <= threshold for t in kept):
            kept.append(s)
    return kept


def timed(fn):
    t0 = time.perf_counter()
    result = fn()
    return time.perf_counter() - t0, result


def bench_soundex():
    items = names(100_000)
    ours = per_call_single(tarnwick.soundex_encode, items)
    peers = []
    jf = optional("jellyfish")
    if jf:
        peers.append(("jellyfish.soundex", per_call_single(jf.soundex, items)))
    table("soundex_encode of 100,000 names", "tarnwick.soundex_encode", ours, peers)


def bench_dedupe():
    print("\nBKTree.dedupe of near-duplicate word lists (one tree per run)")
    print(f"  {'words':>10}{'threshold':>11}{'kept':>10}{'dedupe':>13}{'growth':>9}"
          f"{'brute force':>14}{'brute/dedupe':>14}")
    for threshold in (1, 2):
        previous = None
        for n in (10_000, 100_000, 1_000_000):
            items = near_duplicate_words(n)
            t, kept = timed(lambda: tarnwick.BKTree().dedupe(items, threshold))
            growth = f"{t / previous:8.1f}x" if previous else f"{'':>9}"
            previous = t
            if n <= BRUTE_FORCE_LIMIT:
                tb, brute = timed(lambda: brute_force_dedupe(items, threshold))
                assert brute == kept, "brute force and dedupe disagree"
                brute_cols = f"{fmt_time(tb):>14}{tb / t:13.1f}x"
            else:
                brute_cols = f"{'(not run)':>14}{'':>14}"
            print(f"  {n:>10,}{threshold:>11}{len(kept):>10,}{fmt_time(t):>13}{growth}"
                  f"{brute_cols}")


def run():
    bench_soundex()
    bench_dedupe()


if __name__ == "__main__":
    run()
