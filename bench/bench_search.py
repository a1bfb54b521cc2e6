"""BM25 search: build time, top-10 latency, batch scores and memory, against bm25s,
rank_bm25 and SQLite FTS5 on the same synthetic corpora; then latency by query class
(median and p99 of top-10, top-100 and top-1000) against tantivy and bm25s on a synthetic
corpus and on real English text.

The synthetic corpora have a Zipf-distributed vocabulary and 20-120 words a document
(fixed seed); the peers get the same tokens (lowercase words split at spaces), SQLite its
own tokeniser over the same text. The real-text corpus is the paragraphs of the text
files found on this machine (the documentation tree, English man pages with their
formatting requests removed, the standard library's docstrings), deduplicated, with at
least five words and at most 10,000 bytes each; it is built once and cached, and the
peers get the lowercased word runs of each paragraph, as our tokeniser cuts them.
One-thread numbers come from a fresh interpreter with RAYON_NUM_THREADS=1, since the pool
is sized once per process.

Run as `bench_search.py` (100,000 documents, a few minutes; the real text takes about
two more the first time it is cached) or `bench_search.py --large` (also 1,000,000
synthetic documents and every real-text paragraph); sizes given as arguments replace
the defaults of the first table. Slow peers are timed on fewer queries.
"""
import gc
import os
import pickle
import random
import sqlite3
import sys
import tempfile
import time

from common import call_in_child, fmt_time, optional, per_query, rss

SIZES = [100_000]
LARGE_SIZES = [100_000, 1_000_000]
N_QUERIES = 50
CACHE = os.path.join(tempfile.gettempdir(), "tarnwick-bench-search")

ASCII_SYLLABLES = ["ka", "to", "ri", "men", "sa", "lo", "ver", "in", "da", "pe", "mu", "qua", "ze", "ob"]
WIDE_SYLLABLES = ["ká", "tö", "ри", "мен", "σα", "λο", "vér", "ïn", "да", "πε", "mü", "çu", "ζε", "ßo"]


def vocabulary(syllables, size, rng):
    # Up to five syllables: fourteen syllables make only 41,370 words of one to four.
    out, seen = [], set()
    while len(out) < size:
        w = "".join(rng.choice(syllables) for _ in range(rng.randint(1, 5)))
        if w not in seen:
            seen.add(w)
            out.append(w)
    return out


def corpus(n, wide=False, seed=42):
    path = f"{CACHE}-{n}-{int(wide)}.pickle"
    if os.path.exists(path):
        with open(path, "rb") as f:
            return pickle.load(f)
    import numpy as np
    rng = random.Random(seed)
    vocab = vocabulary(WIDE_SYLLABLES if wide else ASCII_SYLLABLES, 50_000, rng)
    ranks = np.arange(1, len(vocab) + 1)
    p = 1.0 / ranks ** 1.07
    p /= p.sum()
    nrng = np.random.default_rng(seed)
    lengths = nrng.integers(20, 121, size=n)
    ids = nrng.choice(len(vocab), size=int(lengths.sum()), p=p)
    words = np.array(vocab, dtype=object)[ids]
    docs, pos = [], 0
    for length in lengths:
        docs.append(" ".join(words[pos:pos + length]))
        pos += length
    qrng = random.Random(seed + 1)
    queries = [" ".join(vocab[min(int(qrng.paretovariate(0.7)), len(vocab) - 1)] for _ in range(qrng.randint(1, 4)))
               for _ in range(N_QUERIES)]
    with open(path, "wb") as f:
        pickle.dump((docs, queries), f)
    return docs, queries


def timed(fn):
    t0 = time.perf_counter()
    out = fn()
    return time.perf_counter() - t0, out


def ours(n, wide, normalize=False):
    """Our numbers in this process: build, memory, top-10, batch of 100 queries."""
    import _tarnwick
    docs, queries = corpus(n, wide)
    gc.collect()
    before = rss()
    t_build, idx = timed(lambda: _tarnwick.BM25Index(docs, normalize=normalize))
    mem = rss() - before
    t_top = per_query(lambda q: idx.get_top_n(q, 10), queries)
    batch = (queries * 3)[:100]
    t_batch, _ = timed(lambda: idx.get_batch_scores(batch))
    return {"build": t_build, "memory": mem, "top": t_top, "batch": t_batch}


def peers(n, wide):
    docs, queries = corpus(n, wide)
    tokens = [d.split(" ") for d in docs]
    out = {}
    bm25s = optional("bm25s")
    if bm25s is not None:
        import numpy as np
        gc.collect()
        before = rss()
        def build():
            r = bm25s.BM25()
            r.index(tokens, show_progress=False)
            return r
        t_build, r = timed(build)
        out["bm25s"] = {"build": t_build, "memory": rss() - before}
        qt = [q.split(" ") for q in queries]
        for threads in (1, os.cpu_count()):
            t = per_query(lambda q: r.retrieve([q], k=10, show_progress=False, n_threads=threads), qt)
            out["bm25s"][f"top{threads}"] = t
        del r
    rank_bm25 = optional("rank_bm25")
    if rank_bm25 is not None and n <= 100_000:
        t_build, r = timed(lambda: rank_bm25.BM25Okapi(tokens))
        t = per_query(lambda q: r.get_top_n(q.split(" "), docs, n=10), queries[:3], repeat=1)
        out["rank_bm25"] = {"build": t_build, "top1": t}
        del r
    con = sqlite3.connect(":memory:")
    try:
        con.execute("CREATE VIRTUAL TABLE d USING fts5(body)")
        t_build, _ = timed(lambda: (con.executemany("INSERT INTO d(body) VALUES (?)", ((d,) for d in docs)),
                                    con.commit()))
        def query(q):
            match = " OR ".join('"%s"' % w for w in q.split(" "))
            return con.execute("SELECT rowid, bm25(d) FROM d WHERE d MATCH ? ORDER BY bm25(d) LIMIT 10",
                               (match,)).fetchall()
        out["sqlite fts5"] = {"build": t_build, "top1": per_query(query, queries)}
    except sqlite3.OperationalError as e:
        print("  sqlite fts5 unavailable:", e)
    con.close()
    return out


def report(n, wide):
    docs, _ = corpus(n, wide)
    mb = sum(len(d.encode()) for d in docs) / 1e6
    kind = "accented/Greek/Cyrillic" if wide else "ASCII"
    print(f"\n{n:,} documents, {kind}, {mb:.0f} MB of text")
    one = call_in_child("bench_search", f"ours({n}, {wide})", 1)
    allt = call_in_child("bench_search", f"ours({n}, {wide})", 0)
    others = peers(n, wide) if not wide else {}
    print(f"  {'':<22}{'build':>10}{'MB/s':>8}{'memory/text':>13}{'top-10 1 thr':>15}{'top-10 all':>13}{'batch 100':>12}")

    def row(name, one, allt):
        print(f"  {name:<22}{one['build']:9.2f}s{mb / one['build']:8.1f}{allt['memory'] / 1e6 / mb:12.2f}x"
              f"{fmt_time(one['top']):>15}{fmt_time(allt['top']):>13}{fmt_time(allt['batch']):>12}")
    row("tarnwick BM25Index", one, allt)
    if wide:
        norm_one = call_in_child("bench_search", f"ours({n}, {wide}, True)", 1)
        row(" normalize=True", norm_one, call_in_child("bench_search", f"ours({n}, {wide}, True)", 0))
        print(f"  build: normalize=True takes {norm_one['build'] / one['build']:.2f}x the time of the word mode")
    for name, r in others.items():
        mem = f"{r['memory'] / 1e6 / mb:12.2f}x" if "memory" in r else f"{'':>13}"
        t1 = fmt_time(r["top1"]) if "top1" in r else ""
        ta = fmt_time(r[f"top{os.cpu_count()}"]) if f"top{os.cpu_count()}" in r else ""
        print(f"  {name:<22}{r['build']:9.2f}s{mb / r['build']:8.1f}{mem}{t1:>15}{ta:>13}")
    for name, r in others.items():
        if "top1" in r:
            print(f"  top-10 on one thread: ours faster than {name} by {r['top1'] / one['top']:.1f}x")
        if f"top{os.cpu_count()}" in r:
            print(f"  top-10 on all threads: ours faster than {name} by "
                  f"{r[f'top{os.cpu_count()}'] / allt['top']:.1f}x")
        print(f"  build: ours faster than {name} by {r['build'] / one['build']:.1f}x")


def run(sizes=None, large=False):
    sizes = sizes or (LARGE_SIZES if large else SIZES)
    for n in sizes:
        report(n, False)
    report(sizes[0], True)
    from search_corpora import report_classes
    report_classes(large)


if __name__ == "__main__":
    args = sys.argv[1:]
    run([int(a) for a in args if a != "--large"] or None, "--large" in args)
