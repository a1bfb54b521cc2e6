"""cosine_similarity_matrix against the numpy route; normalize_bayes per call.

The matrix benchmark times the whole call from Python lists to the flat list of Python
floats, for 100 query rows against 10,000 corpus rows of dimension 384: what a user would
do instead is np.asarray(..., float32) of both lists, the matrix product and
.ravel().tolist(). numpy may reorder the additions of a dot product; tarnwick adds in
element order, so results agree only to rounding.
"""
import random

from common import best_of, fmt_time, optional, table

import tarnwick


def run():
    np = optional("numpy")
    rng = random.Random(5)
    dim = 384
    a = [[rng.gauss(0, 1) for _ in range(dim)] for _ in range(100)]
    b = [[rng.gauss(0, 1) for _ in range(dim)] for _ in range(10_000)]
    ours = best_of(lambda: tarnwick.cosine_similarity_matrix(a, b), 5)
    peers = []
    if np is not None:
        def numpy_route():
            x = np.asarray(a, np.float32)
            y = np.asarray(b, np.float32)
            return (x @ y.T).ravel().tolist()
        peers.append(("numpy asarray + matmul + tolist", best_of(numpy_route, 5)))
    table("cosine_similarity_matrix, 100 x 10,000 rows of dimension 384, lists to list",
          "tarnwick.cosine_similarity_matrix", ours, peers)

    ranking = [(f"doc{i}", rng.expovariate(0.2) if rng.random() < 0.8 else 0.0)
               for i in range(100_000)]
    t = best_of(lambda: tarnwick.normalize_bayes(ranking), 5)
    print(f"\nnormalize_bayes of 100,000 (text, score) pairs: {fmt_time(t)} per call")
