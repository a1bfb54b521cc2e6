"""HybridSearchIndex: construction and its checks, the fused search of the BM25, fuzzy and
dense channels against a plain model, masks and the no-hit fallback, large candidate pools
on the worker pool, and pickling."""
import json
import math
import os
import pickle
import random
import subprocess
import sys

import pytest

from _tarnwick import HybridSearchIndex
from search_models import Bm25Model, f32, fused, fusion_term, fuzzy_score

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
VOCAB = ["apple", "apply", "banana", "band", "cherry", "café", "naïve", "ΟΔΟΣ", "x"]
ALGORITHMS = [("bm25", "okapi", None), ("bm25l", "l", 0.5), ("bm25+", "plus", 1.0), ("bm25t", "t", None)]


def random_corpus(rng, n, lo=0, hi=6):
    return [" ".join(rng.choice(VOCAB) for _ in range(rng.randint(lo, hi))) for _ in range(n)]


def random_rows(rng, n, dim):
    return [[rng.uniform(-1, 1) for _ in range(dim)] for _ in range(n)]


def random_query(rng):
    return " ".join(rng.choice(VOCAB + ["zzz", "Apple"]) for _ in range(rng.randint(0, 3)))


def rounded(rows):
    return [[f32(x) for x in row] for row in rows]


class TestConstruction:
    def test_attributes(self):
        h = HybridSearchIndex(["a b", "c"], [[1, 2, 3], [4, 5, 6]])
        assert (h.num_docs, h.dim, h.has_vectors, h.has_metadata) == (2, 3, True, False)
        h = HybridSearchIndex(["a b", "c"])
        assert (h.num_docs, h.dim, h.has_vectors, h.has_metadata) == (2, 0, False, False)
        with pytest.raises(AttributeError):
            h.num_docs = 3

    def test_empty_corpus(self):
        h = HybridSearchIndex([])
        assert (h.num_docs, h.dim, h.has_vectors) == (0, 0, False)
        assert h.search("a", [1.0]) == [] and h.search("") == []
        h = HybridSearchIndex([], [])
        assert (h.num_docs, h.dim, h.has_vectors) == (0, 0, True)
        assert h.search("a", []) == []
        # The dimension check follows the (empty) fuzzy channel and still applies.
        with pytest.raises(ValueError, match=r"^query_embedding has 1 dims, expected 0$"):
            h.search("a", [1.0])

    def test_check_order_and_messages(self):
        with pytest.raises(ValueError, match=r"^embeddings length \(1\) must match corpus length \(2\)$"):
            HybridSearchIndex(["a", "b"], [[1.0, 2.0, 3.0]], algorithm="nope")
        with pytest.raises(ValueError, match=r"^embedding 2 has 1 dims, expected 2$"):
            HybridSearchIndex(["a", "b", "c", "d"], [[1, 2], [3, 4], [5], []], algorithm="nope")
        with pytest.raises(ValueError, match=r"^embedding 1 has 3 dims, expected 0$"):
            HybridSearchIndex(["a", "b"], [[], [1, 2, 3]])
        msg = r"^Unknown BM25 algorithm '{}'\. Expected 'bm25', 'bm25l', 'bm25\+', or 'bm25t'$"
        for name in ("BM25", "bm25plus", "", "okapi"):
            with pytest.raises(ValueError, match=msg.format(name)):
                HybridSearchIndex(["a"], algorithm=name)

    def test_argument_types(self):
        with pytest.raises(TypeError, match="corpus"):
            HybridSearchIndex("abc")
        with pytest.raises(TypeError, match="embeddings"):
            HybridSearchIndex(["a"], "ab")
        with pytest.raises(TypeError, match="embeddings"):
            HybridSearchIndex(["a"], ["ab"])
        with pytest.raises(TypeError, match="embeddings"):
            HybridSearchIndex(["a"], [[1.0, "x"]])
        with pytest.raises(TypeError, match="k1"):
            HybridSearchIndex(["a"], k1="x")
        with pytest.raises(TypeError, match="algorithm"):
            HybridSearchIndex(["a"], algorithm=5)
        with pytest.raises(TypeError, match="delta"):
            HybridSearchIndex(["a"], delta="x")
        h = HybridSearchIndex(["a b"], [[1.0]])
        with pytest.raises(TypeError, match="query_embedding"):
            h.search("a", "x")
        with pytest.raises(TypeError, match="query"):
            h.search(None)
        with pytest.raises(OverflowError):
            h.search("a", n=-1)
        with pytest.raises(OverflowError):
            h.search("a", rrf_k=2 ** 64)
        with pytest.raises(TypeError, match="allowed"):
            h.search_filtered("a", allowed=[1])

    def test_keywords(self):
        h = HybridSearchIndex(corpus=["a b", "c"], embeddings=[[1.0], [0.0]], k1=1.2, b=0.5,
                              algorithm="bm25t", delta=None)
        assert h.search_filtered(query="a", query_embedding=[1.0], n=2, rrf_k=5, bm25_candidates=1,
                                 allowed=None) == h.search("a", [1.0], 2, 5, 1)


class TestSearch:
    @pytest.mark.parametrize("name,variant,default_delta", ALGORITHMS)
    def test_equals_model(self, name, variant, default_delta, rng):
        corpus = random_corpus(rng, 40)
        # 19 dimensions: two blocks of eight elements and three single ones.
        rows = random_rows(rng, 40, 19)
        h = HybridSearchIndex(corpus, rows, 1.3, 0.6, name)
        model = Bm25Model(corpus, variant, 1.3, 0.6, default_delta or 0.5)
        exact = rounded(rows)
        for _ in range(12):
            q = random_query(rng)
            e = [rng.uniform(-1, 1) for _ in range(19)]
            mask = [rng.random() < 0.7 for _ in range(rng.randint(0, 50))]
            for n, k, cands in ((5, 60, 100), (3, 0, 2), (30, 7, 10)):
                assert h.search(q, None, n, k, cands) == fused(model, q, n, k, cands)
                assert h.search(q, e, n, k, cands) == \
                    fused(model, q, n, k, cands, rows=exact, q=[f32(x) for x in e])
                assert h.search_filtered(q, e, n, k, cands, mask) == \
                    fused(model, q, n, k, cands, mask, rows=exact, q=[f32(x) for x in e])

    def test_delta(self):
        corpus = ["red fox jumps", "red dog", "blue fox", "red red red"]
        for name, variant, default in (("bm25l", "l", 0.5), ("bm25+", "plus", 1.0)):
            got = HybridSearchIndex(corpus, algorithm=name).search("red fox")
            assert got == fused(Bm25Model(corpus, variant, delta=default), "red fox")
            got = HybridSearchIndex(corpus, algorithm=name, delta=2.5).search("red fox")
            assert got == fused(Bm25Model(corpus, variant, delta=2.5), "red fox")
        # Okapi and BM25T ignore delta.
        assert HybridSearchIndex(corpus, delta=9.0).search("red") == HybridSearchIndex(corpus).search("red")

    def test_engine_splits_words_without_normalising(self):
        # The normalising tokeniser would match "café" to "cafe"; the hybrid engine does not,
        # so BM25 finds nothing and the fuzzy channel alone ranks.
        assert HybridSearchIndex(["cafe", "other"]).search("café") == \
            [("cafe", fusion_term(60, 0)), ("other", fusion_term(60, 1))]

    def test_best_scores(self):
        corpus = ["alpha beta", "gamma", "delta"]
        h = HybridSearchIndex(corpus, [[1.0, 0.0], [0.0, 1.0], [-1.0, 0.0]])
        assert h.search("alpha beta", [1.0, 0.0])[0] == ("alpha beta", 3 / 61)
        assert h.search("alpha beta", [1.0, 0.0], rrf_k=0)[0] == ("alpha beta", 3.0)
        assert h.search("alpha beta")[0] == ("alpha beta", 2 / 61)
        assert h.search("alpha beta", n=0) == []

    def test_query_embedding_without_index_embeddings_is_ignored(self):
        h = HybridSearchIndex(["a b", "b c", "c d"])
        assert h.search("b", [1.0, 2.0, 3.0]) == h.search("b")
        h = HybridSearchIndex(["a b", "b c"], [[1.0, 0.0], [0.0, 1.0]])
        with pytest.raises(ValueError, match=r"^query_embedding has 3 dims, expected 2$"):
            h.search("b", [1.0, 2.0, 3.0])

    def test_no_hit_fallback(self):
        corpus = ["apple", "apply", "banana"]
        rows = [[0.0, 1.0], [1.0, 0.0], [0.5, 0.5]]
        h = HybridSearchIndex(corpus, rows)
        by_fuzzy = sorted(range(3), key=lambda i: -fuzzy_score("appl", corpus[i]))
        assert h.search("appl", None, 3) == [(corpus[i], fusion_term(60, r)) for r, i in enumerate(by_fuzzy)]
        got = dict(h.search("appl", [1.0, 0.0], 3))
        # apple and apply tie in fuzzy similarity and keep index order; the dense ranking
        # is apply, banana, apple.
        assert got["apple"] == fusion_term(60, 0) + fusion_term(60, 2)
        assert got["apply"] == fusion_term(60, 1) + fusion_term(60, 0)
        assert got["banana"] == fusion_term(60, 2) + fusion_term(60, 1)
        assert all(s > 0 for s in got.values())

    def test_masks(self):
        corpus = ["x one", "x two", "x three", "y four"]
        h = HybridSearchIndex(corpus, [[1.0]] * 4)
        assert {t for t, _ in h.search_filtered("x", [1.0], 5, allowed=[False])} == {"x two", "x three"}
        assert [t for t, _ in h.search_filtered("zzz", None, 5, allowed=[False, True])] == ["x two"]
        assert len(h.search_filtered("x", None, 5, allowed=[])) == 3
        assert h.search_filtered("zzz", [1.0], 5, allowed=[]) == []
        assert h.search_filtered("zzz", None, 5, allowed=None) == h.search("zzz")

    def test_identical_texts_merge(self):
        h = HybridSearchIndex(["red fox", "blue", "red fox"], [[1.0], [0.5], [0.25]])
        got = h.search("red fox", [1.0])
        # Both hits map to document 2: two BM25 terms, one fuzzy term, its own cosine.
        assert got == [("red fox", fusion_term(60, 0) + fusion_term(60, 1) + fusion_term(60, 0)
                        + fusion_term(60, 0))]

    def test_zero_and_nan_vectors(self):
        corpus = ["a", "b", "c", "d"]
        h = HybridSearchIndex(corpus, [[0.0, 0.0], [1.0, 0.0], [math.nan, 1.0], [0.0, 1.0]])
        got = h.search("zzz", [0.0, 0.0], 4)
        # All cosines are 0.0 (zero query norm taken as 1.0): the dense ranking is index order.
        assert got == [(t, 2 * fusion_term(60, r)) for r, t in enumerate(corpus)]
        got = h.search("zzz", [1.0, 0.0], 4)
        assert sorted(t for t, _ in got) == corpus
        assert all(s > 0 and not math.isnan(s) for _, s in got)
        h = HybridSearchIndex(corpus, [[math.nan, 0.0], [math.inf, 1.0], [1.0, 0.0], [-math.inf, 0.0]])
        assert sorted(t for t, _ in h.search("zzz", [1.0, 1.0], 4)) == corpus
        # More than 20 candidates sort NaN cosines past every number.
        many = [str(i) for i in range(30)]
        h = HybridSearchIndex(many, [[math.nan]] * 15 + [[1.0]] * 15)
        got = h.search("zzz", [1.0], 30)
        assert len(got) == 30 and all(s > 0 for _, s in got)

    def test_extreme_counts_saturate(self):
        h = HybridSearchIndex(["a b", "a", "c"], [[1.0], [1.0], [1.0]])
        top = h.search("a", [1.0], 2 ** 64 - 1, 2 ** 64 - 1, 0)
        assert [t for t, _ in top] == ["a", "a b"]
        assert all(s == 3 / 2.0 ** 64 for _, s in top)


class TestLargePools:
    """More than 2000 candidates: the channels run on the worker pool, and the results
    equal the model's and those of a one-thread process."""

    SCRIPT = r"""
import json, random, sys
sys.path.insert(0, sys.argv[1])
from test_hybrid import large_case
from _tarnwick import HybridSearchIndex
corpus, rows, queries = large_case()
h = HybridSearchIndex(corpus, rows)
print(json.dumps([h.search(q, e, 25, 60, 2500) for q, e in queries]))
"""

    def test_parallel_equals_one_thread_and_model(self):
        corpus, rows, queries = large_case()
        h = HybridSearchIndex(corpus, rows)
        model = Bm25Model(corpus)
        exact = rounded(rows)
        here = [h.search(q, e, 25, 60, 2500) for q, e in queries]
        for (q, e), got in zip(queries, here):
            want = fused(model, q, 25, 60, 2500, rows=exact if e else None,
                         q=[f32(x) for x in e] if e else None)
            assert got == want
        for threads in ("1", "4"):
            assert results_on_threads(self.SCRIPT, threads) == [[list(p) for p in r] for r in here]


    def test_pool_of_many_chunks_equals_model(self):
        # 35,000 candidates: the channels' rankings are distributed in several chunks.
        rng = random.Random(3)
        corpus = ["".join(rng.choice("abcd") for _ in range(rng.randint(0, 6))) for _ in range(35000)]
        rows = [[rng.choice([0.0, 1.0, -0.5]) for _ in range(3)] for _ in range(35000)]
        h = HybridSearchIndex(corpus, rows)
        model = Bm25Model(corpus)
        for q, e in (("dcbaz", [1.0, 0.5, -1.0]), ("zz", None)):
            want = fused(model, q, 30, 60, 100, rows=rounded(rows) if e else None, q=e)
            assert h.search(q, e, 30) == want


class TestNoHitSelection:
    """Without a BM25 hit every allowed document is a candidate, and the first n of the
    fusion come from each channel's best few: against the model on corpora where both
    channels tie often (short texts over three letters, embeddings from three values, NaN
    among them), so that ties fall at the n-th place and at the depth where the best few
    end."""

    @staticmethod
    def tied_case(seed, size):
        rng = random.Random(seed)
        corpus = ["".join(rng.choice("abc") for _ in range(rng.randint(0, 5))) for _ in range(size)]
        values = [0.0, 1.0, -1.0, math.nan] if seed % 2 else [0.0, 1.0, -0.5]
        rows = [[rng.choice(values) for _ in range(2)] for _ in range(size)]
        return corpus, rows

    def check(self, h, corpus, rows, cases):
        model = Bm25Model(corpus)
        for q, e, n, k, mask in cases:
            want = fused(model, q, n, k, 100, mask, rows=rounded(rows) if e else None, q=e)
            assert h.search_filtered(q, e, n, k, 100, mask) == want, (q, e, n, k)

    def test_pool_sized_corpus_equals_model(self):
        corpus, rows = self.tied_case(1, 6000)
        h = HybridSearchIndex(corpus, rows)
        mask = [i % 3 != 1 for i in range(5000)]  # also cuts off the last thousand
        self.check(h, corpus, rows, [
            ("zz", [1.0, 0.5], 10, 60, None), ("abz", [1.0, -1.0], 1, 0, None),
            ("cab", None, 37, 60, None), ("zz", [0.0, 0.0], 12, 3, None),
            ("ccz", [1.0, 0.0], 25, 60, mask), ("zz", [-1.0, 1.0], 10, 5000, None)])

    def test_one_thread_sized_corpus_equals_model(self):
        # Under 2001 candidates everything runs on the calling thread; with rrf_k small the
        # best few are a small part of the candidates.
        for seed in (2, 3):
            corpus, rows = self.tied_case(seed, 700)
            h = HybridSearchIndex(corpus, rows)
            self.check(h, corpus, rows, [
                ("zz", [1.0, 1.0], 1, 0, None), ("bz", [1.0, -1.0], 3, 2, None),
                ("abcz", None, 5, 1, None), ("zz", [0.5, 0.0], 2, 0, [True, False] * 300),
                ("zz", [1.0, 0.0], 700, 0, None), ("zz", [1.0, 0.0], 0, 0, None)])

    SCRIPT = r"""
import json, sys
sys.path.insert(0, sys.argv[1])
from test_hybrid import TestNoHitSelection
corpus, rows = TestNoHitSelection.tied_case(1, 6000)
from _tarnwick import HybridSearchIndex
h = HybridSearchIndex(corpus, rows)
print(json.dumps([h.search(q, e, n, k) for q, e, n, k in TestNoHitSelection.THREAD_CASES]))
"""
    THREAD_CASES = [("zz", [1.0, 0.5], 10, 60), ("abz", [1.0, -1.0], 1, 0), ("cab", None, 37, 60),
                    ("abcabcabcz", [0.5, 1.0], 20, 10)]

    def test_same_on_any_number_of_threads(self):
        # The best few and the rank counts are found per chunk on the pool, in one piece on
        # one thread.
        corpus, rows = self.tied_case(1, 6000)
        h = HybridSearchIndex(corpus, rows)
        here = [h.search(q, e, n, k) for q, e, n, k in self.THREAD_CASES]
        for threads in ("1", "3"):
            assert results_on_threads(self.SCRIPT, threads) == [[list(p) for p in r] for r in here]

    def test_longer_texts_on_the_pool_equal_model(self):
        # Texts of up to 40 characters, some wide, over more candidates than the pool's
        # threshold: the fuzzy channel runs in tasks on the pool, with queries of up to 8
        # and of 9 to 16 bytes.
        rng = random.Random(11)
        corpus = ["".join(rng.choice("abcd é") for _ in range(rng.randint(0, 40))) for _ in range(2100)]
        rows = [[rng.choice([1.0, -1.0, 0.25])] for _ in range(2100)]
        h = HybridSearchIndex(corpus, rows)
        self.check(h, corpus, rows, [("abqdab", [1.0], 10, 60, None), ("dcbaqdcbaqdcba", None, 10, 60, None)])

    def test_channel_without_spread(self):
        # Every cosine 0.0 and every fuzzy score 0.0: both rankings are candidate order.
        corpus = ["ab"] * 3000
        h = HybridSearchIndex(corpus, [[0.0]] * 3000)
        got = h.search("zz", [1.0], 15, 0)
        assert got == [("ab", 2 * fusion_term(0, r)) for r in range(15)]


def results_on_threads(script, threads):
    """What `script` prints as JSON (run with this test folder as its argument) in a fresh
    interpreter whose pool has `threads` threads."""
    env = {k: v for k, v in os.environ.items() if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
    env["PYTHONPATH"] = os.pathsep.join([p for p in sys.path if p] + [os.path.join(ROOT, "build")])
    env["RAYON_NUM_THREADS"] = threads
    out = subprocess.run([sys.executable, "-c", script, os.path.dirname(__file__)], env=env,
                         capture_output=True, text=True, timeout=300)
    assert out.returncode == 0, out.stderr
    return json.loads(out.stdout)


def large_case():
    rng = random.Random(77)
    words = ["ka", "to", "ri", "men", "sa", "lo", "vér", "ïn", "да", "pe"]
    corpus = [" ".join(rng.choice(words) + rng.choice(words) for _ in range(rng.randint(1, 4)))
              for _ in range(2600)]
    rows = [[rng.choice([0.0, 0.5, 1.0, -1.0, rng.uniform(-1, 1)]) for _ in range(11)] for _ in range(2600)]
    e = [rng.uniform(-1, 1) for _ in range(11)]
    queries = [("zzz", e),   # no hit: all 2600 candidates
               ("kato", None),
               ("kato rimen", e[::-1]),
               ("sa", [0.0] * 11),
               # Every word: 2500 of the 2600 documents hit.
               (" ".join(a + b for a in words for b in words), e)]
    return corpus, rows, queries


class TestPickle:
    def test_round_trip(self, rng):
        corpus = random_corpus(rng, 30)
        rows = random_rows(rng, 30, 4)
        for name, _, _ in ALGORITHMS:
            h = HybridSearchIndex(corpus, rows, 1.1, 0.4, name, 0.7)
            h2 = pickle.loads(pickle.dumps(h))
            assert h2.__reduce__() == h.__reduce__()
            for q in ("apple band", "zzz", "café"):
                assert h2.search(q, rows[0], 7) == h.search(q, rows[0], 7)
            assert h2.has_metadata is False

    def test_reduce(self):
        h = HybridSearchIndex(["a", "b"], [[0.1, 2], [3, 4]])
        cls, args = h.__reduce__()
        assert cls is HybridSearchIndex
        assert args == (["a", "b"], [[f32(0.1), 2.0], [3.0, 4.0]], 1.5, 0.75, "bm25", None)
        assert HybridSearchIndex(["a"], None, 2, 0, "bm25+", 3).__reduce__()[1] == \
            (["a"], None, 2.0, 0.0, "bm25+", 3.0)
        assert HybridSearchIndex([], []).__reduce__()[1][1] == []


class TestDocstrings:
    def test_class_and_methods(self):
        assert HybridSearchIndex.__text_signature__ == \
            "(corpus, embeddings=None, k1=1.5, b=0.75, algorithm=None, delta=None)"
        assert HybridSearchIndex.__doc__ == (
            "Hybrid search index combining BM25 text retrieval, fuzzy string matching,\n"
            "and dense vector (embedding) similarity via 3-way Reciprocal Rank Fusion.\n\n"
            "Designed for million-scale corpora.")
        assert HybridSearchIndex.search.__text_signature__ == \
            "($self, query, query_embedding=None, n=5, rrf_k=60, bm25_candidates=100)"
        doc = HybridSearchIndex.search.__doc__
        assert doc.startswith("3-way hybrid search: BM25 + Fuzzy + Dense via Reciprocal Rank Fusion.\n")
        for text in ("Parameters\n----------", "Text query.",
                     "Dense embedding for the query. If None, falls back to 2-way RRF.",
                     "Number of results to return.",
                     "Number of BM25 candidates to pre-filter before fuzzy+dense scoring.",
                     "This is the key to million-scale performance."):
            assert text in doc
        assert HybridSearchIndex.search_filtered.__text_signature__ == \
            "($self, query, query_embedding=None, n=5, rrf_k=60, bm25_candidates=100, allowed=None)"
        assert HybridSearchIndex.search_filtered.__doc__ == "3-way hybrid search with an optional allowed mask."
        assert HybridSearchIndex.__reduce__.__doc__ == "Pickle support."
