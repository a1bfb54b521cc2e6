"""Top-n of multi-word queries on both BM25 indexes where the method is chosen by its
estimated cost: one very common word (its block maxima bound the heap's minimum from
below) with mid-frequency and rare words, documents of few lengths so that ties at the
n-th place are common. Each query shape falls on one side of the choice or the other at
some n; every selection must be the heap's over independently computed scores,
documents, order and score bits included."""
import random
import struct

import pytest

from _tarnwick import BM25Index, BM25Plus, MmapBM25Index, save_mmap_bm25
from search_models import Bm25Model, read_index_dir, select_top_n, split_words

QUERIES = ["r3 a", "a r7", "r1 r2 a", "m1 a", "m2 m3 a a", "a r4 m5", "m1 m2", "r5 m4 a zz", "a f r6",
           "f m3 a"]
NS = [1, 3, 10, 37, 100]


def bits(x):
    return struct.pack("<d", x)


def corpus(seed, size=12_000):
    """Every document holds "a" (once or twice), about one in twenty each mid word m1-m5,
    about one in six hundred each rare word r1-r9, and its own marker word."""
    rng = random.Random(seed)
    docs = []
    for i in range(size):
        words = ["a"] * rng.choice((1, 1, 2))
        words += [f"m{k}" for k in range(1, 6) if rng.random() < 0.05]
        words += [f"r{k}" for k in range(1, 10) if rng.random() < 1 / 600]
        words += ["f"] * rng.choice((0, 1, 2))
        rng.shuffle(words)
        docs.append(" ".join(words + [f"u{i}"]))
    return docs


def mapped_scores(path, query):
    """Scores read from the index files: from +0.0, token by token in query order, idf
    times the stored weight for each document holding the token's term."""
    meta, records, _ = read_index_dir(path)
    weights = {t: {doc: w for doc, w, _ in records[off:off + cnt]}
               for t, (off, cnt, _, _) in meta["dictionary"].items()}
    terms = [t for t in split_words(query) if weights.get(t)]
    out = []
    for d in range(len(meta["corpus"])):
        s = 0.0
        for t in terms:
            w = weights[t].get(d)
            if w is not None:
                s += meta["idf"].get(t, 0.0) * w
        out.append(s)
    return out


@pytest.mark.parametrize("cls,variant,extra,algorithm", [(BM25Index, "okapi", {}, "bm25"),
                                                         (BM25Plus, "plus", {"delta": 1.0}, "bm25+")])
def test_selections_on_both_sides_of_the_choice(tmp_path, cls, variant, extra, algorithm):
    docs = corpus(variant)
    idx, model = cls(docs, **extra), Bm25Model(docs, variant, **extra)
    save_mmap_bm25(str(tmp_path), docs, 1.5, 0.75, False, algorithm, None, False)
    mapped = MmapBM25Index.load(str(tmp_path))
    doc_of = {t: d for d, t in enumerate(docs)}
    ties = 0
    for q in QUERIES:
        want_mem, want_mapped = model.scores(q), mapped_scores(str(tmp_path), q)
        ranked = sorted((s for s in want_mem if s > 0), reverse=True)
        for n in NS:
            want = [(docs[i], bits(s)) for i, s in select_top_n(want_mem, n)]
            assert [(t, bits(s)) for t, s in idx.get_top_n(q, n)] == want, (q, n)
            want = [(i, bits(s)) for i, s in select_top_n(want_mapped, n)]
            assert [(doc_of[t], bits(s)) for t, s in mapped.get_top_n(q, n)] == want, (q, n)
            ties += n < len(ranked) and ranked[n - 1] == ranked[n]
    assert ties >= 8  # the corpus does what it is for
