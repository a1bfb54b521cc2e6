"""Beyond one machine: batch matching and search run over partitions of the queries by
Dask's distributed scheduler, here on a local cluster of worker processes (point the
Client at a real scheduler's address to use a cluster). The in-memory index reaches the
workers by pickling; the memory-mapped index by opening one index directory in every
worker, which maps the files instead of copying them. Every result equals that of a
single-process run.

    pip install "dask[distributed]"
    python3 examples/dask_partitions.py [number_of_queries]
"""
import os
import pathlib
import random
import sys
import tempfile

from dask.distributed import Client, LocalCluster

import tarnwick

Match = tuple[str, float, int] | None
Hits = list[list[tuple[str, float]]]
WORDS = ["river", "stone", "bridge", "garden", "market", "harbour", "castle", "meadow",
         "forest", "valley", "tower", "mill", "abbey", "lantern", "orchard", "quarry"]


def make_texts(count: int, seed: int) -> list[str]:
    rng = random.Random(seed)
    return [" ".join(rng.sample(WORDS, 3)) + f" {rng.randrange(1000)}" for _ in range(count)]


def partitions(items: list[str], parts: int) -> list[list[str]]:
    size = max(1, -(-len(items) // parts))
    return [items[i:i + size] for i in range(0, len(items), size)]


def best_matches(queries: list[str], choices: list[str]) -> list[Match]:
    """Batch matching: the best choice of each query (runs on a worker)."""
    return [tarnwick.extract_one(q, choices, scorer=tarnwick.fuzz_wratio,
                                 processor=tarnwick.default_process) for q in queries]


def search_pickled(index: tarnwick.HybridSearchIndex, queries: list[str]) -> Hits:
    """Search with an index that was pickled to the worker."""
    return [index.search(q, n=3) for q in queries]


def search_mapped(directory: str, queries: list[str]) -> Hits:
    """Search with the index directory opened in this worker."""
    index = tarnwick.MmapHybridSearchIndex.load(directory)
    return [index.search(q, n=3) for q in queries]


def main(count: int, workers: int = 2) -> None:
    queries = make_texts(count, seed=1)
    corpus = make_texts(max(count, 200), seed=2)
    parts = partitions(queries, 4 * workers)
    index = tarnwick.HybridSearchIndex(corpus)
    with tempfile.TemporaryDirectory() as scratch:
        directory = pathlib.Path(scratch) / "index"
        tarnwick.save_mmap_hybrid(directory, corpus, 1.5, 0.75, False)

        # One native worker thread per process: the processes are the parallelism here.
        os.environ.setdefault("RAYON_NUM_THREADS", "1")
        # (distributed's constructors carry no annotations, hence the two ignores.)
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1,  # type: ignore[no-untyped-call]
                               processes=True, dashboard_address=None)
        with cluster, Client(cluster) as client:  # type: ignore[no-untyped-call]
            # Each is sent once to every worker (a list is wrapped: scatter would send its
            # elements one by one); the index travels pickled.
            [choices, shipped] = client.scatter([corpus, index], broadcast=True)
            matches = client.gather(client.map(best_matches, parts, choices=choices))
            pickled = client.gather(client.map(search_pickled, [shipped] * len(parts), parts))
            mapped = client.gather(client.map(search_mapped, [str(directory)] * len(parts),
                                              parts))

        flat_matches = [m for part in matches for m in part]
        assert flat_matches == best_matches(queries, corpus)
        local = search_pickled(index, queries)
        assert [h for part in pickled for h in part] == local
        assert [h for part in mapped for h in part] == local
    print(f"{count} queries in {len(parts)} partitions on {workers} worker processes: "
          "results equal to a single-process run")
    print(f"  {queries[0]!r} -> {flat_matches[0]}")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 2_000)
