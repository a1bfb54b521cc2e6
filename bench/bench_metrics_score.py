"""Per-call time of OSA, Damerau-Levenshtein, Jaro and Jaro-Winkler against peer libraries.

Peers (installed for benchmarking only, never dependencies of the module):
  jellyfish             damerau_levenshtein_distance (unrestricted), jaro_similarity,
                        jaro_winkler_similarity
  pyxDamerauLevenshtein damerau_levenshtein_distance (the restricted distance, i.e. OSA)

Run from the repository root after building:
    PYTHONPATH=build:python python3 bench/bench_metrics_score.py
Prints a table of nanoseconds per call and the ratio fastest peer / tarnwick (above 1 means
tarnwick is faster). Nothing is asserted.
"""
import random
import sys
import time

import common  # noqa: F401  (puts the build and the package on sys.path)

import _tarnwick as t

try:
    import jellyfish
except ImportError:
    jellyfish = None
try:
    import pyxdameraulevenshtein as pyxdl
except ImportError:
    pyxdl = None

LETTERS = "abcdefghijklmnopqrstuvwxyz"


def word_pairs(rng, count=2000):
    """Pairs of short words (4 to 12 letters), half of them near-duplicates."""
    pairs = []
    for _ in range(count):
        a = "".join(rng.choice(LETTERS) for _ in range(rng.randint(4, 12)))
        if rng.random() < 0.5:
            b = list(a)
            i = rng.randrange(len(b) - 1)
            b[i], b[i + 1] = b[i + 1], b[i]
            b[rng.randrange(len(b))] = rng.choice(LETTERS)
            b = "".join(b)
        else:
            b = "".join(rng.choice(LETTERS) for _ in range(rng.randint(4, 12)))
        pairs.append((a, b))
    return pairs


def long_pairs(rng, count=6, n=1000):
    """Pairs of 1,000-letter texts: unrelated ones and edited copies."""
    pairs = []
    for k in range(count):
        a = "".join(rng.choice(LETTERS) for _ in range(n))
        if k % 2:
            b = list(a)
            for _ in range(n // 10):
                i = rng.randrange(n - 1)
                b[i], b[i + 1] = b[i + 1], b[i]
                b[rng.randrange(n)] = rng.choice(LETTERS)
            b = "".join(b)
        else:
            b = "".join(rng.choice(LETTERS) for _ in range(n))
        pairs.append((a, b))
    return pairs


def per_call_ns(fn, pairs, min_time=0.3, repeats=5):
    """Best of `repeats` runs over all pairs (each run at least `min_time` seconds)."""
    loops = 1
    while True:
        start = time.perf_counter()
        for _ in range(loops):
            for a, b in pairs:
                fn(a, b)
        if time.perf_counter() - start >= min_time / repeats or loops > 1 << 20:
            break
        loops *= 2
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter_ns()
        for _ in range(loops):
            for a, b in pairs:
                fn(a, b)
        best = min(best, (time.perf_counter_ns() - start) / (loops * len(pairs)))
    return best


def cases():
    """(measure, tarnwick function, [(peer name, peer function)])."""
    def peers(*items):
        return [(name, fn) for name, fn in items if fn is not None]

    jf = jellyfish
    return [
        ("OSA", t.osa_distance,
         peers(("pyxDamerauLevenshtein", pyxdl and pyxdl.damerau_levenshtein_distance))),
        ("Damerau-Levenshtein", t.damerau_levenshtein_distance,
         peers(("jellyfish", jf and jf.damerau_levenshtein_distance))),
        ("Jaro", t.jaro_similarity, peers(("jellyfish", jf and jf.jaro_similarity))),
        ("Jaro-Winkler", t.jaro_winkler_similarity,
         peers(("jellyfish", jf and jf.jaro_winkler_similarity))),
    ]


def agreement(ours, peer, pairs):
    """Share of pairs on which the two functions give the same value."""
    same = sum(1 for a, b in pairs if abs(ours(a, b) - peer(a, b)) < 1e-12)
    return same / len(pairs)


def run():
    rng = random.Random(1234)
    inputs = [("words", word_pairs(rng)), ("1,000 chars", long_pairs(rng))]
    if jellyfish is None or pyxdl is None:
        print("note: install jellyfish and pyxDamerauLevenshtein to compare", file=sys.stderr)
    header = f"{'measure':<20} {'input':<12} {'tarnwick ns':>12} {'fastest peer':<22} " \
             f"{'peer ns':>12} {'ratio':>7} {'agree':>6}"
    print(header)
    print("-" * len(header))
    for measure, ours, peer_list in cases():
        for label, pairs in inputs:
            ours_ns = per_call_ns(ours, pairs)
            best = None
            for name, fn in peer_list:
                ns = per_call_ns(fn, pairs)
                if best is None or ns < best[1]:
                    best = (name, ns, agreement(ours, fn, pairs))
            if best is None:
                print(f"{measure:<20} {label:<12} {ours_ns:>12.0f} {'-':<22}")
                continue
            name, peer_ns, agree = best
            print(f"{measure:<20} {label:<12} {ours_ns:>12.0f} {name:<22} {peer_ns:>12.0f} "
                  f"{peer_ns / ours_ns:>6.1f}x {agree:>6.0%}")


if __name__ == "__main__":
    run()
