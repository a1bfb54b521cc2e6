"""MultiJoiner.join of two arrays of 10,000 elements each (both ordered pairs, n=1).

Four workloads: texts only, sparse vectors only (about 50 entries), dense vectors only
(dimension 384) and all three. Our join is timed in fresh interpreters with one thread and
with the whole pool (the pool is sized once per process). The peers are what a user would
write instead, for the same two directions and one best match per element:
- texts: a Python loop calling this library's extract (fuzz_ratio, limit 1) per element,
  timed on a sample of queries and scaled to all of them;
- dense: numpy's float32 matrix product and an argmax along each axis;
- sparse: scipy's sparse matrix product and an argmax along each axis (when installed);
- all three: the sum of the three peers (before any fusion of their results).
The join does more than each peer (BM25 candidates, fuzzy re-ranking, rank fusion), so
the ratios compare the work a user gets, not identical arithmetic.
"""
import json
import os
import random
import sys
import time

import numpy as np

from common import ASCII_LETTERS, fmt_time, mutate, optional, ours_in_fresh_process

import tarnwick

N = 10_000
DIM = 384
SPARSE_ENTRIES = 50
SPARSE_IDS = 30_000
WORKLOADS = ["text", "sparse", "dense", "all"]
EXTRACT_SAMPLE = 400


def data():
    """Two arrays: texts (3 to 10 words), sparse dicts and unit float32 rows; half of the
    second array's texts are copies of the first's with typos."""
    rng = random.Random(7)
    # Word frequencies follow Zipf's law, as in titles, names or addresses: a few words
    # occur in many texts, so a text has many BM25 candidates.
    vocab = ["".join(rng.choice(ASCII_LETTERS) for _ in range(rng.randint(3, 10)))
             for _ in range(20_000)]
    weights = [1 / (rank + 1) ** 1.1 for rank in range(len(vocab))]

    def text():
        return " ".join(rng.choices(vocab, weights, k=rng.randint(3, 10)))

    texts_a = [text() for _ in range(N)]
    texts_b = [mutate(rng, t, 0.1, ASCII_LETTERS) if rng.random() < 0.5 else text()
               for t in texts_a]

    def sparse():
        return {rng.randrange(SPARSE_IDS): rng.random() for _ in range(SPARSE_ENTRIES)}

    sparse_a = [sparse() for _ in range(N)]
    sparse_b = [sparse() for _ in range(N)]
    nrng = np.random.default_rng(7)
    dense_a = nrng.standard_normal((N, DIM), dtype=np.float32)
    dense_b = nrng.standard_normal((N, DIM), dtype=np.float32)
    dense_a /= np.linalg.norm(dense_a, axis=1, keepdims=True)
    dense_b /= np.linalg.norm(dense_b, axis=1, keepdims=True)
    return (texts_a, sparse_a, dense_a), (texts_b, sparse_b, dense_b)


def joiner(workload, a, b):
    j = tarnwick.MultiJoiner()
    for name, (texts, sparse, dense) in (("a", a), ("b", b)):
        j.add_array(name,
                    texts=texts if workload in ("text", "all") else None,
                    sparse=sparse if workload in ("sparse", "all") else None,
                    dense=dense.tolist() if workload in ("dense", "all") else None)
    return j


def ours():
    """(wall seconds, processor seconds of all threads) per join for every workload, in
    this process's pool."""
    a, b = data()
    out = {}
    for w in WORKLOADS:
        j = joiner(w, a, b)
        t0, c0 = time.perf_counter(), time.process_time()
        rows = j.join()
        out[w] = (time.perf_counter() - t0, time.process_time() - c0)
        assert len(rows) == 2 * N
    return out


def ours_with(threads):
    # numpy only normalises the data there: no BLAS threads competing with the pool.
    return ours_in_fresh_process(__file__, threads, {"OPENBLAS_NUM_THREADS": "1"})


def peer_text(a, b):
    """extract per element in both directions, timed on a sample and scaled."""
    texts_a, texts_b = a[0], b[0]
    t0 = time.perf_counter()
    for q in texts_a[:EXTRACT_SAMPLE]:
        tarnwick.extract(q, texts_b, tarnwick.fuzz_ratio, limit=1)
    for q in texts_b[:EXTRACT_SAMPLE]:
        tarnwick.extract(q, texts_a, tarnwick.fuzz_ratio, limit=1)
    return (time.perf_counter() - t0) * N / EXTRACT_SAMPLE


def peer_dense(a, b):
    best = float("inf")
    for _ in range(3):
        t0 = time.perf_counter()
        s = a[2] @ b[2].T
        np.argmax(s, axis=1)
        np.argmax(s, axis=0)
        best = min(best, time.perf_counter() - t0)
    return best


def peer_sparse(a, b):
    sp = optional("scipy.sparse")
    if sp is None:
        return None

    def matrix(rows):
        indptr, indices, values = [0], [], []
        for d in rows:
            for k in sorted(d):
                indices.append(k)
                values.append(d[k])
            indptr.append(len(indices))
        return sp.csr_matrix((np.array(values, dtype=np.float32), np.array(indices),
                              np.array(indptr)), shape=(len(rows), SPARSE_IDS))

    ma, mb = matrix(a[1]), matrix(b[1])
    t0 = time.perf_counter()
    s = ma @ mb.T
    s.argmax(axis=1)
    s.argmax(axis=0)
    return time.perf_counter() - t0


def run():
    one = ours_with(1)
    pool = ours_with(None)
    a, b = data()
    peers = {"text": ("extract loop", peer_text(a, b)),
             "dense": ("numpy matmul + argmax", peer_dense(a, b))}
    sparse = peer_sparse(a, b)
    if sparse is not None:
        peers["sparse"] = ("scipy.sparse matmul + argmax", sparse)
        peers["all"] = ("sum of the three peers",
                        peers["text"][1] + peers["dense"][1] + sparse)
    print(f"\nMultiJoiner.join, {N:,} x {N:,} elements, both directions, n=1; "
          f"pool of {len(os.sched_getaffinity(0))} threads")
    print("  (cores: processor time over wall time of the pool run; below the pool size when")
    print("  other processes share the machine)")
    print(f"  {'workload':<10}{'1 thread':>12}{'pool':>12}{'speed-up':>10}{'cores':>7}"
          f"  {'peer':<30}{'peer time':>12}{'peer/ours':>11}")
    for w in WORKLOADS:
        (t1, _), (tp, cpu) = one[w], pool[w]
        name, t = peers.get(w, ("-", None))
        peer_cols = (f"  {name:<30}{fmt_time(t):>12}{t / tp:10.2f}x" if t is not None
                     else f"  {name:<30}")
        print(f"  {w:<10}{fmt_time(t1):>12}{fmt_time(tp):>12}{t1 / tp:9.1f}x{cpu / tp:7.1f}"
              f"{peer_cols}")


if __name__ == "__main__":
    if sys.argv[1:] == ["--ours"]:
        print(json.dumps(ours()))
    else:
        run()
