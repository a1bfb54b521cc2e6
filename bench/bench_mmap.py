"""Index directories: write speed, load time against the size of meta.json, the first
query on a cold and on a warm directory, and mapped get_top_n against the in-memory
index and against bm25s loading its own saved index with memory mapping.

Corpora are those of bench_search (Zipf vocabulary, 20-120 words a document). Every
measurement runs in a fresh interpreter with RAYON_NUM_THREADS=1, so that nothing is
shared between them but the files. "Cold" drops the directory's files from the page cache
first (posix_fadvise DONTNEED on each file, which touches no other file); "warm" reads them
once before. Run with sizes as arguments (default 100000 1000000).

`bench_mmap.py --classes` times mapped get_top_n by query class instead (median and p99 of
top-10, top-100 and top-1000, one thread, best of 3 per query, the engines interleaved in
one process) beside the in-memory BM25Index and tantivy, on 100,000 synthetic documents
and 100,000 paragraphs of real text (search_corpora.py's corpora and query classes).
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

from common import fmt_time, optional, per_query

SIZES = [100_000, 1_000_000]
HERE = os.path.dirname(os.path.abspath(__file__))
WORK = os.path.join(tempfile.gettempdir(), "tarnwick-bench-mmap")


def files_of(path):
    return [os.path.join(root, f) for root, _, names in os.walk(path) for f in names]


def evict(path):
    for name in files_of(path):
        fd = os.open(name, os.O_RDONLY)
        try:
            os.fsync(fd)
            os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        finally:
            os.close(fd)


def warm(path):
    for name in files_of(path):
        with open(name, "rb") as f:
            while f.read(1 << 24):
                pass


# ---- Measurements, each run in its own process (see child()) ----

def measure_write(n, path):
    import _tarnwick
    from bench_search import corpus
    docs, queries = corpus(n, False)
    with open(path + ".queries.json", "w") as f:
        json.dump(queries, f)
    out = {"text": sum(len(d.encode()) for d in docs)}
    for positions in (False, True):
        target = path + ("-pos" if positions else "")
        t0 = time.perf_counter()
        _tarnwick.save_mmap_bm25(target, docs, 1.5, 0.75, False, "bm25", None, positions)
        out["write_pos" if positions else "write"] = time.perf_counter() - t0
    out["meta"] = os.path.getsize(os.path.join(path, "meta.json"))
    return out


def measure_load(n, path, cold):
    import _tarnwick
    with open(path + ".queries.json") as f:
        queries = json.load(f)
    if cold:
        evict(path)
    else:
        warm(path)
    t0 = time.perf_counter()
    idx = _tarnwick.MmapBM25Index.load(path)
    t_load = time.perf_counter() - t0
    t0 = time.perf_counter()
    idx.get_top_n(queries[0], 10)
    t_first = time.perf_counter() - t0
    return {"load": t_load, "first": t_first, "then": per_query(lambda q: idx.get_top_n(q, 10), queries)}


def measure_queries(n, path):
    import _tarnwick
    from bench_search import corpus
    docs, queries = corpus(n, False)
    mapped = _tarnwick.MmapBM25Index.load(path)
    memory = _tarnwick.BM25Index(docs)
    del docs
    out = {}
    for name, idx in (("mapped", mapped), ("memory", memory)):
        out[name] = per_query(lambda q: idx.get_top_n(q, 10), queries)
        out[name + "_scores"] = per_query(lambda q: idx.get_scores(q), queries[:10], repeat=1)
    return out


def measure_bm25s_save(n, path):
    bm25s = optional("bm25s")
    from bench_search import corpus
    docs, _ = corpus(n, False)
    r = bm25s.BM25()
    t0 = time.perf_counter()
    r.index([d.split(" ") for d in docs], show_progress=False)
    t_index = time.perf_counter() - t0
    t0 = time.perf_counter()
    r.save(path)
    return {"index": t_index, "save": time.perf_counter() - t0}


def measure_bm25s_load(n, path):
    bm25s = optional("bm25s")
    from bench_search import corpus
    _, queries = corpus(n, False)
    warm(path)
    t0 = time.perf_counter()
    r = bm25s.BM25.load(path, mmap=True, show_progress=False)
    t_load = time.perf_counter() - t0
    tokens = [q.split(" ") for q in queries]
    top = per_query(lambda q: r.retrieve([q], k=10, show_progress=False, n_threads=1), tokens)
    return {"load": t_load, "top": top}


def child(kind, n, path, extra):
    return {
        "write": lambda: measure_write(n, path),
        "cold": lambda: measure_load(n, path, True),
        "warm": lambda: measure_load(n, path, False),
        "queries": lambda: measure_queries(n, path),
        "bm25s-save": lambda: measure_bm25s_save(n, path),
        "bm25s-load": lambda: measure_bm25s_load(n, path),
    }[kind]()


def in_child(kind, n, path):
    env = dict(os.environ, RAYON_NUM_THREADS="1")
    env.pop("RAYON_RS_NUM_CPUS", None)
    out = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", kind, str(n), path],
                         env=env, capture_output=True, text=True, check=True, cwd=HERE)
    return json.loads(out.stdout.strip().splitlines()[-1])


def report(n):
    path = f"{WORK}-{n}"
    w = in_child("write", n, path)
    mb, meta_mb = w["text"] / 1e6, w["meta"] / 1e6
    cold, warm_ = in_child("cold", n, path), in_child("warm", n, path)
    q = in_child("queries", n, path)
    print(f"\n{n:,} documents, {mb:.0f} MB of text, meta.json {meta_mb:.0f} MB (one thread throughout)")
    print(f"  write save_mmap_bm25          {w['write']:8.2f} s  {mb / w['write']:7.1f} MB of text/s")
    print(f"  write with positions          {w['write_pos']:8.2f} s  {mb / w['write_pos']:7.1f} MB of text/s")
    for name, r in (("cold", cold), ("warm", warm_)):
        print(f"  load, {name} directory          {r['load']:8.3f} s  {meta_mb / r['load']:7.1f} MB of meta.json/s"
              f"   first query {fmt_time(r['first'])}, then {fmt_time(r['then'])} a query")
    print(f"  get_top_n(n=10) mapped        {fmt_time(q['mapped'])}   in-memory {fmt_time(q['memory'])}"
          f"   mapped / in-memory {q['mapped'] / q['memory']:.2f}x")
    print(f"  get_scores mapped             {fmt_time(q['mapped_scores'])}   in-memory "
          f"{fmt_time(q['memory_scores'])}")
    if optional("bm25s") is not None:
        bpath = f"{WORK}-bm25s-{n}"
        s = in_child("bm25s-save", n, bpath)
        b = in_child("bm25s-load", n, bpath)
        print(f"  bm25s index+save              {s['index'] + s['save']:8.2f} s  "
              f"{mb / (s['index'] + s['save']):7.1f} MB of text/s (pre-tokenised)")
        print(f"  bm25s load(mmap=True), warm   {b['load']:8.3f} s   top-10 {fmt_time(b['top'])}"
              f"   ours faster by {b['top'] / q['mapped']:.1f}x (top-10), {b['load'] / warm_['load']:.1f}x (load)")
        shutil.rmtree(bpath, ignore_errors=True)
    for p in (path, path + "-pos"):
        shutil.rmtree(p, ignore_errors=True)
    os.remove(path + ".queries.json")


# ---- Latency by query class ----

def class_latency(kind, n):
    """Median and p99 per query class and top size of the mapped index, the in-memory one
    and tantivy, interleaved in this process (run it with a one-thread pool)."""
    import gc
    import statistics
    import _tarnwick
    import search_corpora as sc
    docs, toks = sc.corpus_of(kind, n)
    classes = sc.query_classes(toks)
    path = f"{WORK}-classes-{kind}-{n}"
    _tarnwick.save_mmap_bm25(path, docs, 1.5, 0.75, False, "bm25", None, False)
    mapped = _tarnwick.MmapBM25Index.load(path)
    engines = {"mapped": lambda q, k: mapped.get_top_n(" ".join(q), k)}
    for name, (_, _, fn, limit) in sc._engines(docs, toks).items():
        if name != "bm25s":
            engines["in-memory" if name == "tarnwick" else name] = fn
    gc.collect()
    gc.freeze()
    out = {"docs": len(docs), "times": {}}
    for cls, queries in classes.items():
        for k in sc.TOPS:
            best = {name: [float("inf")] * len(queries) for name in engines}
            for _ in range(sc.REPEAT):
                for name, fn in engines.items():
                    for i, q in enumerate(queries):
                        t0 = time.perf_counter()
                        fn(q, k)
                        best[name][i] = min(best[name][i], time.perf_counter() - t0)
            for name, times in best.items():
                times.sort()
                out["times"][f"{cls} top-{k} {name}"] = (statistics.median(times),
                                                         times[min(len(times) - 1, int(0.99 * len(times)))])
    shutil.rmtree(path, ignore_errors=True)
    return out


def report_classes():
    from common import call_in_child
    import search_corpora as sc
    for kind in ("synthetic", "real"):
        r = call_in_child("bench_mmap", f"class_latency({kind!r}, 100_000)", 1)
        names = sorted({key.rsplit(" ", 1)[1] for key in r["times"]}, key=["mapped", "in-memory", "tantivy"].index)
        print(f"\nMapped get_top_n by query class, {kind} text, {r['docs']:,} documents, one thread, best of 3")
        head = "".join(f"{name + ' median':>18}{'p99':>11}" for name in names)
        ratios = "".join(f"{'/' + name + ' med':>17}{'p99':>6}" for name in names[1:])
        print(f"  {'class':<20}{head}   mapped{ratios}")
        for cls in sc.CLASSES:
            for k in sc.TOPS:
                row = {name: r["times"][f"{cls} top-{k} {name}"] for name in names}
                cells = "".join(f"{fmt_time(m):>18}{fmt_time(p):>11}" for m, p in row.values())
                cells += "         " + "".join(f"{row['mapped'][0] / row[name][0]:>11.2f}"
                                           f"{row['mapped'][1] / row[name][1]:>6.2f}" for name in names[1:])
                print(f"  {cls + ' top-' + str(k):<20}{cells}")


def run(sizes=None):
    for n in sizes or SIZES:
        report(n)


if __name__ == "__main__":
    if sys.argv[1:2] == ["--child"]:
        sys.path.insert(0, HERE)
        print(json.dumps(child(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5:])))
    elif sys.argv[1:2] == ["--classes"]:
        report_classes()
    else:
        run([int(a) for a in sys.argv[1:]] or None)
