"""Batch matching: cdist and extraction against the same work done by a Python loop.

The peers are a Python loop over polyleven.levenshtein (the fastest single-pair function
of bench_ratio) and, for the ratio family, difflib. Slow peers are timed on a sample and
scaled to the whole workload. Our own speed-up from one thread to the whole pool is
measured in fresh interpreters, since the pool is sized once per process.
"""
import difflib
import heapq
import json
import os
import random
import sys

from common import ROOT, best_of, fmt_time, optional, ours_in_fresh_process, words

import _tarnwick
import tarnwick

N_CDIST = 2000
CDIST_SCORERS = ["fuzz_ratio", "fuzz_wratio", "fuzz_partial_ratio", "fuzz_token_set_ratio"]
EXTRACT_SIZES = [100_000, 1_000_000]


def data():
    rng = random.Random(11)
    cd = words(rng, N_CDIST)
    choices = words(rng, max(EXTRACT_SIZES))
    queries = words(rng, 5)
    return cd, choices, queries


def ours():
    """Our timings for every workload, in this process's pool."""
    cd, choices, queries = data()
    out = {}
    for name in CDIST_SCORERS:
        scorer = getattr(tarnwick, name)
        out[f"cdist {name}"] = best_of(lambda: tarnwick.cdist(cd, cd, scorer))
    # An unknown name scores nothing: what is left is building the result list.
    out["cdist none"] = best_of(lambda: _tarnwick.cdist(cd, cd, "none", None))
    for n in EXTRACT_SIZES:
        ch = choices[:n]
        out[f"extract5 {n}"] = best_of(
            lambda: [tarnwick.extract(q, ch, tarnwick.fuzz_ratio, limit=5) for q in queries],
            repeat=7) / len(queries)
        out[f"extract_one {n}"] = best_of(
            lambda: [tarnwick.extract_one(q, ch, tarnwick.fuzz_ratio) for q in queries],
            repeat=7) / len(queries)
    return out


def ours_with(threads):
    return ours_in_fresh_process(__file__, threads)


def peer_cdist(cd, fn, rows):
    """A Python double loop over `rows` query rows, scaled to all rows."""
    sample = cd[:rows]
    t = best_of(lambda: [[fn(a, b) for b in cd] for a in sample], repeat=1)
    return t * len(cd) / rows


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
    cd, choices, queries = data()
    all_threads = ours_with(None)
    one_thread = ours_with(1)
    print(f"\npool: {os.cpu_count()} processors; times are per workload "
          "(per query for extraction); peers are Python loops")
    print(f"  {'workload':<34}{'ours':>12}{'1 thread':>12}{'speed-up':>10}"
          f"{'polyleven':>12}{'x':>8}{'difflib':>12}{'x':>8}")

    def row(title, key, lev_t, diff_t):
        o, s = all_threads[key], one_thread[key]
        cells = f"  {title:<34}{fmt_time(o):>12}{fmt_time(s):>12}{s / o:9.1f}x"
        cells += f"{fmt_time(lev_t):>12}{lev_t / o:7.0f}x" if lev_t else f"{'-':>12}{'':>8}"
        cells += f"{fmt_time(diff_t):>12}{diff_t / o:7.0f}x" if diff_t else f"{'-':>12}{'':>8}"
        print(cells)

    lev_cdist = peer_cdist(cd, pl.levenshtein, 200) if pl else None
    diff_cdist = peer_cdist(cd, difflib_ratio, 5)
    for name in CDIST_SCORERS:
        diff = diff_cdist if name == "fuzz_ratio" else None
        row(f"cdist {N_CDIST}x{N_CDIST} {name[5:]}", f"cdist {name}", lev_cdist, diff)
    row(f"cdist {N_CDIST}x{N_CDIST}, result list only", "cdist none", None, None)
    for n in EXTRACT_SIZES:
        lev5 = peer_extract(choices[:n], queries, pl.levenshtein, 5, 100_000) if pl else None
        lev1 = peer_extract(choices[:n], queries, pl.levenshtein, 1, 100_000) if pl else None
        diff5 = best_of(lambda: difflib.get_close_matches(
            queries[0], choices[:20_000], n=5, cutoff=0.0), repeat=1) * n / 20_000
        row(f"extract limit 5, {n:,} choices", f"extract5 {n}", lev5, diff5)
        row(f"extract_one, {n:,} choices", f"extract_one {n}", lev1, None)


if __name__ == "__main__":
    if "--ours" in sys.argv:
        print(json.dumps(ours()))
    else:
        sys.path.insert(0, ROOT)
        run()
