"""levenshtein_distance and levenshtein_editops per call against peer libraries.

Run: PYTHONPATH=build:python python3 bench/bench_levenshtein.py
Peers (pip install editdistance polyleven jellyfish edlib) are optional; missing ones
are skipped. Prints microseconds per call and the ratio of the fastest peer to us. The
distance rows time us and the peers in turn, round after round (best of several), so
that all see the same machine load; besides ASCII, texts of 17 to 64 characters in Latin
with accents, Greek, Cyrillic and CJK.
"""

import random
import timeit

from common import mutate

import tarnwick as tw


def peers():
    out = {}
    try:
        import editdistance
        out["editdistance"] = editdistance.eval
    except ImportError:
        pass
    try:
        import polyleven
        out["polyleven"] = polyleven.levenshtein
    except ImportError:
        pass
    try:
        import jellyfish
        out["jellyfish"] = jellyfish.levenshtein_distance
    except ImportError:
        pass
    return out


def datasets():
    rng = random.Random(42)
    alphabet = "abcdefghijklmnopqrstuvwxyz"
    words = ["".join(rng.choice(alphabet) for _ in range(rng.randrange(4, 12))) for _ in range(200)]
    word_pairs = [(w, mutate(rng, w, 0.3, alphabet)) for w in words]
    sets = [("word pairs", word_pairs)]
    for n in (64, 1000, 10000):
        count = {64: 200, 1000: 20, 10000: 4}[n]
        similar = []
        unrelated = []
        for _ in range(count):
            a = "".join(rng.choice(alphabet) for _ in range(n))
            similar.append((a, mutate(rng, a, 0.1, alphabet)))
            unrelated.append((a, "".join(rng.choice(alphabet) for _ in range(n))))
        sets.append((f"{n} chars, 10% edits", similar))
        sets.append((f"{n} chars, unrelated", unrelated))
    for script, letters in WIDE_ALPHABETS.items():
        texts = ["".join(rng.choice(letters) for _ in range(rng.randint(17, 64))) for _ in range(200)]
        sets.append((f"{script} 17-64, 30% edits", [(w, mutate(rng, w, 0.3, letters)) for w in texts]))
    return sets


WIDE_ALPHABETS = {
    "latin": "abcdeéèêëàâäôöüçñß",
    "greek": "αβγδεζηθικλμνξοπρστυφχψω",
    "cyrillic": "абвгдежзийклмнопрстуфхцчшщыэюя",
    "cjk": "".join(chr(0x4E00 + 37 * i) for i in range(40)),
}


def per_call(fn, pairs, budget=0.3):
    def run():
        for a, b in pairs:
            fn(a, b)
    n = 1
    while True:
        t = timeit.timeit(run, number=n)
        if t > budget / 3:
            break
        n *= 2
    best = min(timeit.repeat(run, number=n, repeat=3))
    return best / (n * len(pairs)) * 1e6


def interleaved(fns, pairs, rounds=5, budget=0.1):
    """Best time per call in microseconds of each function, timed in turn in each round."""
    def runner(fn):
        def run():
            for a, b in pairs:
                fn(a, b)
        return run
    runs = {k: runner(fn) for k, fn in fns.items()}
    number = {}
    for k, run in runs.items():
        n = 1
        while timeit.timeit(run, number=n) <= budget / 3:
            n *= 2
        number[k] = n
    best = {k: float("inf") for k in fns}
    for _ in range(rounds):
        for k, run in runs.items():
            best[k] = min(best[k], timeit.timeit(run, number=number[k]) / (number[k] * len(pairs)))
    return {k: v * 1e6 for k, v in best.items()}


def run():
    ps = peers()
    print("levenshtein_distance, microseconds per call (best of 5 rounds, all timed in turn)")
    print(f"{'data':28}{'tarnwick':>11}" + "".join(f"{k:>14}" for k in ps) + f"{'best peer/us':>14}")
    for name, pairs in datasets():
        fns = {"tarnwick": tw.levenshtein_distance}
        fns.update((k, fn) for k, fn in ps.items()
                   if not (k == "jellyfish" and len(pairs[0][0]) >= 10000))
        t = interleaved(fns, pairs)
        ours = t.pop("tarnwick")
        row = f"{name:28}{ours:11.3f}"
        for k in ps:
            row += f"{t[k]:14.3f}" if k in t else f"{'(skipped)':>14}"
        row += f"{min(t.values()) / ours:13.2f}x" if t else ""
        print(row)
    try:
        import edlib
    except ImportError:
        return
    print()
    print("levenshtein_editops vs edlib.align(task='path'), microseconds per call")
    for name, pairs in datasets():
        if "10000" not in name and "1000 " not in name:
            continue
        ours = per_call(tw.levenshtein_editops, pairs)
        theirs = per_call(lambda a, b: edlib.align(a, b, task="path"), pairs)
        print(f"{name:28}{ours:11.1f}{theirs:14.1f}{theirs / ours:13.2f}x")


if __name__ == "__main__":
    run()
