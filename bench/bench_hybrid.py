"""Fuzzy re-ranking, rank fusion and hybrid search: BM25Index.get_top_n_fuzzy,
BM25Index.get_top_n_rrf and HybridSearchIndex.search, with BM25 hits (a pool of 100
candidates) and without (the fallback that makes every document a candidate), at
100,000 documents with embeddings of dimension 384 and 1,000,000 with dimension 64.

The corpora and the queries with hits are bench_search's; the queries without hits are
words outside its vocabulary. Embeddings are seeded uniform floats. One-thread numbers
come from a fresh interpreter with RAYON_NUM_THREADS=1, all-thread numbers from one with
the default pool. The peer is a pipeline of peer libraries doing the same three channels:
bm25s for the BM25 top 100, polyleven for a character-level similarity (Levenshtein, not
Indel), numpy for the cosines, and the fusion in Python; it has no fallback of its own, so
it is timed on queries with hits only.
"""
import gc
import sys
import time

from common import call_in_child, fmt_time, optional

CASES = [(100_000, 384), (1_000_000, 64)]
HIT_QUERIES = 20
MISS_QUERIES = ["qqxz", "zzwv qqxz", "vvqz"]


def embeddings(n, dim, seed=7):
    import numpy as np
    return np.random.default_rng(seed).uniform(-1, 1, size=(n, dim)).astype(np.float32)


class Rows:
    """The rows of a matrix as lists of floats, made one at a time as they are read."""

    def __init__(self, matrix):
        self.matrix = matrix

    def __len__(self):
        return len(self.matrix)

    def __getitem__(self, i):
        if i >= len(self.matrix):
            raise IndexError(i)
        return self.matrix[i].tolist()


def per_query(fn, queries):
    """Wall time per query, and processor time over wall time (the cores the run got)."""
    t0, c0 = time.perf_counter(), time.process_time()
    for q in queries:
        fn(q)
    wall = time.perf_counter() - t0
    return [wall / len(queries), (time.process_time() - c0) / wall]


def ours(n, dim):
    """Our times in this process, as a dict."""
    import _tarnwick
    from bench_search import corpus
    docs, queries = corpus(n)
    queries = queries[:HIT_QUERIES]
    miss_runs = MISS_QUERIES[:1] if n > 100_000 else MISS_QUERIES
    out = {}
    idx = _tarnwick.BM25Index(docs)
    out["fuzzy hit"] = per_query(lambda q: idx.get_top_n_fuzzy(q, 10), queries)
    out["fuzzy miss"] = per_query(lambda q: idx.get_top_n_fuzzy(q, 10), miss_runs)
    out["rrf hit"] = per_query(lambda q: idx.get_top_n_rrf(q, 10), queries)
    out["rrf miss"] = per_query(lambda q: idx.get_top_n_rrf(q, 10), miss_runs)
    del idx
    gc.collect()
    emb = embeddings(n, dim)
    t0 = time.perf_counter()
    h = _tarnwick.HybridSearchIndex(docs, Rows(emb))
    out["hybrid build"] = [time.perf_counter() - t0, 1.0]
    qe = embeddings(len(queries), dim, seed=8).tolist()
    pairs = list(zip(queries, qe))
    h.search(*pairs[0], 10)  # starts the pool
    out["hybrid hit"] = per_query(lambda p: h.search(p[0], p[1], 10), pairs)
    out["hybrid hit 2ch"] = per_query(lambda p: h.search(p[0], None, 10), pairs)
    out["hybrid miss"] = per_query(lambda q: h.search(q, qe[0], 10), MISS_QUERIES)
    return out


def peer_pipeline(n, dim):
    """bm25s top 100, polyleven similarity, numpy cosines, fusion in Python: per query."""
    bm25s, polyleven, np = optional("bm25s"), optional("polyleven"), optional("numpy")
    if bm25s is None or polyleven is None or np is None:
        return None
    from bench_search import corpus
    docs, queries = corpus(n)
    queries = queries[:HIT_QUERIES]
    r = bm25s.BM25()
    r.index([d.split(" ") for d in docs], show_progress=False)
    emb = embeddings(n, dim)
    norms = np.linalg.norm(emb, axis=1)
    qe = embeddings(len(queries), dim, seed=8)

    def search(i):
        q = queries[i]
        ids, _ = r.retrieve([q.split(" ")], k=100, show_progress=False, n_threads=1)
        cands = [int(d) for d in ids[0]]
        fused = {d: 1.0 / (61 + rank) for rank, d in enumerate(cands)}
        fuzzy = sorted(cands, key=lambda d: -(1 - polyleven.levenshtein(q, docs[d]) /
                                               max(len(q), len(docs[d]), 1)))
        cos = emb[cands] @ qe[i] / (norms[cands] * np.linalg.norm(qe[i]))
        dense = [cands[j] for j in np.argsort(-cos, kind="stable")]
        for ranking in (fuzzy, dense):
            for rank, d in enumerate(ranking):
                fused[d] += 1.0 / (61 + rank)
        return sorted(fused.items(), key=lambda e: -e[1])[:10]

    return per_query(search, range(len(queries)))


def report(n, dim):
    print(f"\n{n:,} documents, embeddings of dimension {dim}, top 10")
    one = call_in_child("bench_hybrid", f"ours({n}, {dim})", 1)
    allt = call_in_child("bench_hybrid", f"ours({n}, {dim})", 0)
    print("  (cores: processor time over wall time of the all-thread run; below the pool size")
    print("  when the machine is shared)")
    print(f"  {'':<44}{'1 thread':>13}{'all threads':>13}{'ratio':>8}{'cores':>7}")
    for key, label in (("fuzzy hit", "BM25Index.get_top_n_fuzzy, hits"),
                       ("fuzzy miss", "BM25Index.get_top_n_fuzzy, no hit"),
                       ("rrf hit", "BM25Index.get_top_n_rrf, hits"),
                       ("rrf miss", "BM25Index.get_top_n_rrf, no hit"),
                       ("hybrid hit", "HybridSearchIndex.search, 3 channels"),
                       ("hybrid hit 2ch", "HybridSearchIndex.search, no embedding"),
                       ("hybrid miss", "HybridSearchIndex.search, no hit"),
                       ("hybrid build", "HybridSearchIndex build")):
        print(f"  {label:<44}{fmt_time(one[key][0]):>13}{fmt_time(allt[key][0]):>13}"
              f"{one[key][0] / allt[key][0]:7.1f}x{allt[key][1]:7.1f}")
    peer = peer_pipeline(n, dim)
    if peer is not None:
        print(f"  {'peer pipeline (bm25s+polyleven+numpy)':<44}{fmt_time(peer[0]):>13}")
        print(f"  3-channel search with hits: ours (1 thread) faster than the peer pipeline by "
              f"{peer[0] / one['hybrid hit'][0]:.1f}x")


def run(cases=None):
    for n, dim in cases or CASES:
        report(n, dim)


if __name__ == "__main__":
    args = [int(a) for a in sys.argv[1:]]
    run(list(zip(args[0::2], args[1::2])) or None)
