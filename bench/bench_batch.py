"""Batch matching: cdist and extraction against the same work done by a Python loop.

The peers are a Python loop over polyleven.levenshtein (the fastest single-pair function
of bench_ratio) and, for the ratio family on ASCII words, difflib. Slow peers are timed on
a sample and scaled to the whole workload. Choices are ASCII words, words beyond ASCII
(accented Latin, Cyrillic, Greek, CJK) and, with Faker installed, person names of seven
locales with typos. Our own speed-up from one thread to the whole pool is measured in
fresh interpreters, since the pool is sized once per process. The calling thread's own
processor time per workload (its reading of the choices and building of the result,
without its waits for the pool) is shown beside the wall time: where it is close to the
wall time, the calling thread is the bound.

`python3 bench_batch.py --against DIR` compares another build of the module (the directory
holding its _tarnwick*.so, e.g. a build of the main branch) with this one in one process:
the two are loaded side by side and timed interleaved, best of N, on the simple ratio
workloads, with the calling thread's time of each and the polyleven loop measured in the
same process. The pool size is the process's (RAYON_NUM_THREADS=1 shows the pool's work).
"""
import difflib
import glob
import importlib.machinery
import importlib.util
import heapq
import json
import os
import random
import sys
import time

from common import NON_ASCII_LETTERS, ROOT, best_of, fmt_time, optional, ours_in_fresh_process, words

import _tarnwick
import tarnwick

N_CDIST = 2000
CDIST_SCORERS = ["fuzz_ratio", "fuzz_wratio", "fuzz_partial_ratio", "fuzz_token_set_ratio"]
EXTRACT_SIZES = [100_000, 1_000_000]
WIDE_CDIST = (200, 10_000)  # queries x choices
FAKER_LOCALES = ["en_US", "de_DE", "fr_FR", "ru_RU", "el_GR", "ja_JP", "zh_CN"]


def faker_names(n, queries, seed=13):
    """`n` person names of seven locales with one to three typos each (drawn from 3000
    names per locale), and `queries` more names with typos; None without Faker."""
    faker_mod = optional("faker")
    if faker_mod is None:
        return None
    from bench_wide import typo

    base = []
    for locale in FAKER_LOCALES:
        fake = faker_mod.Faker(locale)
        fake.seed_instance(seed)
        base += [fake.name() for _ in range(3000)]
    rng = random.Random(seed)
    return ([typo(rng, rng.choice(base)) for _ in range(n)],
            [typo(rng, rng.choice(base)) for _ in range(queries)])


def data():
    """The word sets by kind: (cdist words, extraction choices, queries)."""
    rng = random.Random(11)
    out = {"ascii": (words(rng, N_CDIST), words(rng, max(EXTRACT_SIZES)), words(rng, 5))}
    wide = words(rng, max(EXTRACT_SIZES), alphabet=NON_ASCII_LETTERS)
    out["non-ascii"] = (wide[:N_CDIST], wide, words(rng, 5, alphabet=NON_ASCII_LETTERS))
    names = faker_names(max(EXTRACT_SIZES), 5)
    if names:
        out["names"] = (names[0][:N_CDIST], names[0], names[1])
    return out


def timed(fn, repeat=3, per=1):
    """[best wall time, best processor time of the calling thread] of fn(), divided by
    `per`."""
    wall = cpu = float("inf")
    for _ in range(repeat):
        c, t = time.thread_time(), time.perf_counter()
        fn()
        wall, cpu = min(wall, time.perf_counter() - t), min(cpu, time.thread_time() - c)
    return [wall / per, cpu / per]


def ours():
    """Our timings for every workload, in this process's pool: [wall, calling thread]."""
    out = {}
    for kind, (cd, choices, queries) in data().items():
        scorers = CDIST_SCORERS if kind == "ascii" else CDIST_SCORERS[:1]
        for name in scorers:
            scorer = getattr(tarnwick, name)
            out[f"cdist {kind} {name}"] = timed(lambda: tarnwick.cdist(cd, cd, scorer))
        nq, nc = WIDE_CDIST
        out[f"cdist wide {kind}"] = timed(
            lambda: tarnwick.cdist(choices[:nq], choices[-nc:], tarnwick.fuzz_ratio))
        for n in EXTRACT_SIZES:
            ch = choices[:n]
            out[f"extract5 {kind} {n}"] = timed(
                lambda: [tarnwick.extract(q, ch, tarnwick.fuzz_ratio, limit=5) for q in queries],
                repeat=7, per=len(queries))
            out[f"extract_one {kind} {n}"] = timed(
                lambda: [tarnwick.extract_one(q, ch, tarnwick.fuzz_ratio) for q in queries],
                repeat=7, per=len(queries))
    # An unknown name scores nothing: what is left is building the result list.
    cd = words(random.Random(11), N_CDIST)
    out["cdist none"] = timed(lambda: _tarnwick.cdist(cd, cd, "none", None))
    return out


def ours_with(threads):
    return ours_in_fresh_process(__file__, threads)


def peer_cdist(queries, choices, fn, rows):
    """A Python double loop over `rows` query rows, scaled to all rows."""
    sample = queries[:rows]
    t = best_of(lambda: [[fn(a, b) for b in choices] for a in sample], repeat=1)
    return t * len(queries) / rows


def peer_extract(choices, queries, fn, k, sample):
    """A Python loop scoring every choice, then the best k; timed on `sample` choices and
    scaled to all of them."""
    ch = choices[:sample]

    def work():
        for q in queries:
            scores = [fn(q, c) for c in ch]
            if k == 1:
                min(range(len(scores)), key=scores.__getitem__)
            else:
                heapq.nsmallest(k, range(len(scores)), key=scores.__getitem__)
    return best_of(work, repeat=1) / len(queries) * len(choices) / sample


def difflib_ratio(a, b):
    return difflib.SequenceMatcher(None, a, b).ratio()


def run():
    pl = optional("polyleven")
    sets = data()
    all_threads = ours_with(None)
    one_thread = ours_with(1)
    print(f"\npool: {os.cpu_count()} processors (load {os.getloadavg()[0]:.1f}); times are per "
          "workload (per query for extraction); peers are Python loops")
    print(f"  {'workload':<46}{'ours':>12}{'caller':>12}{'1 thread':>12}{'speed-up':>10}"
          f"{'polyleven':>12}{'x':>8}{'difflib':>12}{'x':>8}")

    def row(title, key, lev_t, diff_t):
        (o, caller), s = all_threads[key], one_thread[key][0]
        cells = f"  {title:<46}{fmt_time(o):>12}{fmt_time(caller):>12}{fmt_time(s):>12}{s / o:9.1f}x"
        cells += f"{fmt_time(lev_t):>12}{lev_t / o:7.0f}x" if lev_t else f"{'-':>12}{'':>8}"
        cells += f"{fmt_time(diff_t):>12}{diff_t / o:7.0f}x" if diff_t else f"{'-':>12}{'':>8}"
        print(cells)

    for kind, (cd, choices, queries) in sets.items():
        lev_cdist = peer_cdist(cd, cd, pl.levenshtein, 200) if pl else None
        diff_cdist = peer_cdist(cd, cd, difflib_ratio, 5) if kind == "ascii" else None
        for name in (CDIST_SCORERS if kind == "ascii" else CDIST_SCORERS[:1]):
            diff = diff_cdist if name == "fuzz_ratio" else None
            row(f"cdist {N_CDIST}x{N_CDIST} {name[5:]}, {kind}", f"cdist {kind} {name}", lev_cdist, diff)
        nq, nc = WIDE_CDIST
        lev_wide = peer_cdist(choices[:nq], choices[-nc:], pl.levenshtein, 20) if pl else None
        row(f"cdist {nq}x{nc:,} ratio, {kind}", f"cdist wide {kind}", lev_wide, None)
        for n in EXTRACT_SIZES:
            ch = choices[:n]
            lev5 = peer_extract(ch, queries, pl.levenshtein, 5, 100_000) if pl else None
            lev1 = peer_extract(ch, queries, pl.levenshtein, 1, 100_000) if pl else None
            diff5 = best_of(lambda: difflib.get_close_matches(
                queries[0], ch[:20_000], n=5, cutoff=0.0), repeat=1) * n / 20_000 \
                if kind == "ascii" else None
            row(f"extract limit 5, {n:,} choices, {kind}", f"extract5 {kind} {n}", lev5, diff5)
            row(f"extract_one, {n:,} choices, {kind}", f"extract_one {kind} {n}", lev1, None)
    row(f"cdist {N_CDIST}x{N_CDIST}, result list only", "cdist none", None, None)


def load_build(directory):
    """The module built in `directory`, loaded beside the one imported as _tarnwick."""
    path = glob.glob(os.path.join(directory, "_tarnwick*.so"))[0]
    loader = importlib.machinery.ExtensionFileLoader("_tarnwick", path)
    spec = importlib.util.spec_from_file_location("_tarnwick", path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def interleaved(fns, repeat):
    """[best wall time, best calling-thread time] of each function, run in turn."""
    best = [[float("inf")] * 2 for _ in fns]
    for _ in range(repeat):
        for k, fn in enumerate(fns):
            c, t = time.thread_time(), time.perf_counter()
            fn()
            wall, cpu = time.perf_counter() - t, time.thread_time() - c
            best[k] = [min(best[k][0], wall), min(best[k][1], cpu)]
    return best


def ratio_workloads(cd, choices, queries, kind):
    """(title, fn(module), peer time, calls per workload) of the simple ratio workloads."""
    pl = optional("polyleven")
    nq, nc = WIDE_CDIST
    out = [(f"cdist {N_CDIST}x{N_CDIST} ratio, {kind}", lambda m: m.cdist(cd, cd, "fuzz_ratio", None),
            peer_cdist(cd, cd, pl.levenshtein, 100) if pl else None, 1),
           (f"cdist {nq}x{nc:,} ratio, {kind}",
            lambda m: m.cdist(choices[:nq], choices[-nc:], "fuzz_ratio", None),
            peer_cdist(choices[:nq], choices[-nc:], pl.levenshtein, 10) if pl else None, 1),
           # One row over every choice: the reading, holding and release of the items.
           (f"cdist 1x{len(choices):,} ratio, {kind}",
            lambda m: m.cdist(queries[:1], choices, "fuzz_ratio", None),
            peer_cdist(queries[:1], choices, pl.levenshtein, 1) if pl else None, 1)]
    for n in EXTRACT_SIZES:
        ch = choices[:n]
        out.append((f"extract limit 5, {n:,} choices, {kind}",
                    lambda m, ch=ch: [m.extract(q, ch, "fuzz_ratio", None, None, 5, None) for q in queries],
                    peer_extract(ch, queries, pl.levenshtein, 5, 50_000) if pl else None, len(queries)))
        out.append((f"extract_one, {n:,} choices, {kind}",
                    lambda m, ch=ch: [m.extract_one(q, ch, "fuzz_ratio", None, None, None) for q in queries],
                    peer_extract(ch, queries, pl.levenshtein, 1, 50_000) if pl else None, len(queries)))
    return out


def compare(directory, repeat=7):
    other = load_build(directory)
    print(f"\n{directory} (before) against this build (after), in one process, interleaved, best of "
          f"{repeat}; pool {os.environ.get('RAYON_NUM_THREADS', 'default')}, load {os.getloadavg()[0]:.1f}")
    print(f"  {'workload':<46}{'before':>12}{'caller':>12}{'after':>12}{'caller':>12}"
          f"{'polyleven':>12}{'x before':>10}{'x after':>9}")
    for kind, (cd, choices, queries) in data().items():
        for title, fn, peer, per in ratio_workloads(cd, choices, queries, kind):
            (bw, bc), (aw, ac) = interleaved([lambda: fn(other), lambda: fn(_tarnwick)], repeat)
            cells = f"  {title:<46}" + "".join(f"{fmt_time(t / per):>12}" for t in (bw, bc, aw, ac))
            cells += f"{fmt_time(peer):>12}{peer * per / bw:9.0f}x{peer * per / aw:8.0f}x" if peer else ""
            print(cells, flush=True)


if __name__ == "__main__":
    if "--against" in sys.argv:
        compare(sys.argv[sys.argv.index("--against") + 1])
    elif "--ours" in sys.argv:
        print(json.dumps(ours()))
    else:
        sys.path.insert(0, ROOT)
        run()
