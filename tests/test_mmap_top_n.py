"""MmapBM25Index.get_top_n on corpora large enough for the pruned scan (thousands of
documents, common terms, small n) and built so that ties at the n-th place are common:
against a naive reading of the files, against the same directory's exhaustive selection,
and on directories whose weights or idfs are negative, NaN or infinite."""
import json
import math
import os
import random
import struct

import pytest

from _tarnwick import MmapBM25Index, save_mmap_bm25
from search_models import read_index_dir, select_top_n, split_words

ALGORITHMS = ["bm25", "bm25l", "bm25+", "bm25t"]
# A skewed vocabulary: the first words are in most documents, the last in a few.
VOCAB = ["ka", "to", "ri", "men", "sa", "lo", "ver", "in", "da", "pe", "mu", "qua"]
WEIGHTS = [40, 25, 15, 9, 5, 3, 2, 1, 0.5, 0.3, 0.1, 0.05]


def tied_corpus(rng, n_docs, lengths=(5, 6)):
    """Documents of a few lengths, words drawn from VOCAB, each closed by its own marker
    word (so that texts are distinct): a score depends on little more than the term
    frequencies, and many documents share each one."""
    docs = []
    for i in range(n_docs):
        words = rng.choices(VOCAB, WEIGHTS, k=rng.choice(lengths) - 1)
        docs.append(" ".join(words + [f"u{i}"]))
    return docs


def queries(rng, count):
    out = [" ".join(rng.choices(VOCAB, k=rng.randint(1, 4))) for _ in range(count)]
    return out + ["ka ka to", "qua mu", "ka zzz to", "pe ka", "qua"]


class Naive:
    """Scores read from the files: from +0.0, token by token in query order, idf times the
    stored 32-bit weight for each document holding the token's term."""

    def __init__(self, path):
        meta, records, _ = read_index_dir(path)
        self.corpus, self.idf = meta["corpus"], meta["idf"]
        self.weights = {t: {doc: w for doc, w, _ in records[off:off + cnt]}
                        for t, (off, cnt, _, _) in meta["dictionary"].items()}

    def scores(self, query):
        terms = [t for t in split_words(query) if self.weights.get(t)]
        out = []
        for d in range(len(self.corpus)):
            s = 0.0
            for t in terms:
                w = self.weights[t].get(d)
                if w is not None:
                    s += self.idf.get(t, 0.0) * w
            out.append(s)
        return out


def bits(x):
    return struct.pack("<d", x)


def write(path, corpus, algorithm="bm25", k1=1.5, b=0.75):
    save_mmap_bm25(str(path), corpus, k1, b, False, algorithm, None, False)
    return str(path)


def check_query(idx, naive, doc_of, q, ns, mask=None):
    """Every selection equals the heap model's over the naive scores, documents included;
    returns how many of them had a tie at the n-th place."""
    want_scores = naive.scores(q)
    if mask is not None:
        want_scores = [s if i >= len(mask) or mask[i] else 0.0 for i, s in enumerate(want_scores)]
    ranked = sorted((s for s in want_scores if s > 0), reverse=True)
    ties = 0
    for n in ns:
        got = idx.get_top_n(q, n) if mask is None else idx.get_top_n_filtered(q, n, mask)
        want = select_top_n(want_scores, n)
        assert [(doc_of[t], bits(s)) for t, s in got] == [(d, bits(s)) for d, s in want], (q, n)
        ties += 0 < n < len(ranked) and ranked[n - 1] == ranked[n]
    return ties


class TestAgainstNaive:
    @pytest.mark.parametrize("algorithm,k1,b", [("bm25", 1.5, 0.75), ("bm25l", 1.2, 0.0),
                                                ("bm25+", 0.0, 0.75), ("bm25t", 1.5, 0.75)])
    def test_selections_with_ties(self, tmp_path, algorithm, k1, b):
        # 26,000 documents: the commonest term's list is long enough for the scan at n = 100.
        rng = random.Random(algorithm)
        corpus = tied_corpus(rng, 26_000)
        path = write(tmp_path, corpus, algorithm, k1, b)
        idx, naive = MmapBM25Index.load(path), Naive(path)
        doc_of = {t: d for d, t in enumerate(corpus)}
        ties = sum(check_query(idx, naive, doc_of, q, [1, 3, 10, 100]) for q in queries(rng, 8))
        assert ties >= 10  # the corpus does what it is for
        q = "ka to ri"
        assert check_query(idx, naive, doc_of, q, [len(corpus)]) == 0

    def test_masks_and_small_corpora(self, tmp_path):
        rng = random.Random(3)
        for trial, n_docs in enumerate([257, 700, 3000]):
            corpus = tied_corpus(rng, n_docs, lengths=(3, 4, 5))
            path = write(tmp_path / str(trial), corpus, ALGORITHMS[trial])
            idx, naive = MmapBM25Index.load(path), Naive(path)
            doc_of = {t: d for d, t in enumerate(corpus)}
            for q in queries(rng, 6):
                check_query(idx, naive, doc_of, q, [1, 3, 10, 100, n_docs - 1, n_docs])
                mask = [rng.random() < 0.6 for _ in range(rng.randint(0, n_docs + 3))]
                check_query(idx, naive, doc_of, q, [1, 3, 10], mask)


    def test_long_selections_with_ties(self, tmp_path):
        # Hundreds to thousands of results out of 12,000 documents, where the heap replaces
        # its minimum thousands of times and the kept list is sorted by radix: ties at the
        # n-th place decide which documents remain, and ties inside the list their order.
        rng = random.Random(1000)
        corpus = tied_corpus(rng, 12_000, lengths=(4, 5, 6))
        path = write(tmp_path, corpus)
        idx, naive = MmapBM25Index.load(path), Naive(path)
        doc_of = {t: d for d, t in enumerate(corpus)}
        ties = 0
        for q in ["ka", "ka to", "to ri men", "ri sa lo ver", "ka ka", "lo ri"]:
            ties += check_query(idx, naive, doc_of, q, [511, 512, 1000, 2500])
        assert ties >= 8  # the corpus does what it is for
        mask = [rng.random() < 0.7 for _ in range(len(corpus))]
        check_query(idx, naive, doc_of, "to ri", [1000], mask)


class TestAgainstExhaustive:
    def test_scores_and_ranks(self, tmp_path):
        # n at least the corpus size sorts every candidate after accumulating: the pruned
        # selections report the same score bits, and their scores are the best n.
        rng = random.Random(11)
        corpus = tied_corpus(rng, 8000)
        idx = MmapBM25Index.load(write(tmp_path, corpus))
        doc_of = {t: d for d, t in enumerate(corpus)}
        for q in queries(rng, 10):
            full = idx.get_top_n(q, len(corpus))
            scores = idx.get_scores(q)
            for n in [1, 3, 10, 100]:
                got = idx.get_top_n(q, n)
                assert [bits(s) for _, s in got] == [bits(s) for _, s in full[:n]]
                assert all(bits(scores[doc_of[t]]) == bits(s) for t, s in got)


def set_weights(path, change):
    """Rewrites every record's weight w as change(doc, w) before the directory is loaded."""
    f = os.path.join(path, "postings.bin")
    with open(f, "rb") as fh:
        data = bytearray(fh.read())
    for at in range(0, len(data), 12):
        doc, w, npos = struct.unpack_from("<IfI", data, at)
        struct.pack_into("<IfI", data, at, doc, change(doc, w), npos)
    with open(f, "wb") as fh:
        fh.write(bytes(data))


def set_idf(path, term, value):
    with open(os.path.join(path, "meta.json"), encoding="utf-8") as f:
        meta = json.load(f)
    meta["idf"][term] = value
    with open(os.path.join(path, "meta.json"), "w", encoding="utf-8") as f:
        json.dump(meta, f)


class TestOddDirectories:
    """Weights and idfs that are not non-negative numbers break the scan's bounds: such a
    query is accumulated, and answers as the naive sum says. Huge ones are numbers whose
    products overflow to infinity, which the bounds still hold."""

    @pytest.mark.parametrize("odd", ["negative weight", "nan weight", "inf weight", "huge weight",
                                     "negative idf", "huge idf"])
    def test_selections(self, tmp_path, odd):
        rng = random.Random(odd)
        corpus = tied_corpus(rng, 3000)
        path = write(tmp_path, corpus)
        value = {"negative": -1.0, "nan": math.nan, "inf": math.inf, "huge": 3e38}[odd.split()[0]]
        # (meta.json holds numbers only: an idf can be negative or huge, not NaN or infinite.)
        if odd.endswith("weight"):
            # Every seventh document's weights, so that the odd ones are met mid-list.
            set_weights(path, lambda doc, w: value if doc % 7 == 3 else w)
        else:
            set_idf(path, "to", 1e308 if odd.startswith("huge") else value)
        idx, naive = MmapBM25Index.load(path), Naive(path)
        doc_of = {t: d for d, t in enumerate(corpus)}
        for q in ["ka to", "to ri", "ri to ka", "to", "ka men sa"]:
            check_query(idx, naive, doc_of, q, [1, 3, 10])
