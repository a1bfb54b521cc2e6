"""Fuzzy re-ranking and rank fusion on the four BM25 classes: the fuzzy score, fuzzy_only,
get_top_n_fuzzy, get_top_n_rrf and get_top_n_rrf_filtered, against plain-Python models."""
import random

import pytest

from _tarnwick import BM25Index, BM25L, BM25Plus, BM25T
from search_models import (Bm25Model, fuzzy_only, fuzzy_score, fused, fusion_term,
                           top_n_fuzzy)

VARIANTS = [
    (BM25Index, "okapi", 0.5),
    (BM25L, "l", 0.5),
    (BM25Plus, "plus", 1.0),
    (BM25T, "t", 0.5),
]
CLASSES = [c for c, _, _ in VARIANTS]
ASCII_VOCAB = ["apple", "apply", "banana", "band", "cherry", "chart", "date", "data", "x"]
WIDE_VOCAB = ASCII_VOCAB + ["café", "naïve", "ΟΔΟΣ", "straße", "日本"]


def random_corpus(rng, n, vocab, lo=0, hi=6):
    return [" ".join(rng.choice(vocab) for _ in range(rng.randint(lo, hi))) for _ in range(n)]


def random_query(rng, vocab):
    words = [rng.choice(vocab + ["unknown", "Apple"]) for _ in range(rng.randint(0, 3))]
    return " ".join(words)


def assert_ranked(got, want):
    """Equal scores in order; texts equal up to the order of tied scores, and at a cut
    through a tie any of the tied texts may be the ones kept."""
    assert [s for _, s in got] == [s for _, s in want]
    i = 0
    while i < len(want):
        j = i
        while j < len(want) and want[j][1] == want[i][1]:
            j += 1
        got_texts = sorted(t for t, _ in got[i:j])
        want_texts = sorted(t for t, _ in want[i:j])
        if j < len(want):
            assert got_texts == want_texts
        i = j


class TestFuzzyScore:
    """The fuzzy score seen through fuzzy_only on a one-document corpus."""

    @staticmethod
    def score(query, doc):
        return BM25Index([doc]).fuzzy_only(query, 1)[0][1]

    @pytest.mark.parametrize("query,doc,want", [
        ("Apple", "apple", 0.8),
        ("café", "cafe", 0.75),
        ("cafe", "café", 0.75),
        ("", "", 1.0),
        ("", "abc", 0.0),
        ("abc", "", 0.0),
        ("abc", "abc", 1.0),
        ("日本語", "日本", 0.8),
    ])
    def test_worked_examples(self, query, doc, want):
        assert self.score(query, doc) == pytest.approx(want, abs=1e-15)

    def test_symmetric_and_equal_to_the_dynamic_program(self, rng):
        for _ in range(200):
            a = "".join(rng.choice("abcé日 ") for _ in range(rng.randint(0, 12)))
            b = "".join(rng.choice("abcé日 ") for _ in range(rng.randint(0, 12)))
            assert self.score(a, b) == self.score(b, a) == fuzzy_score(a, b)

    def test_long_texts_use_every_block(self, rng):
        a = "".join(rng.choice("ab") for _ in range(150))
        b = "".join(rng.choice("ab") for _ in range(130))
        assert self.score(a, b) == fuzzy_score(a, b)
        assert self.score(a + "é", b) == fuzzy_score(a + "é", b)


class TestFuzzyOnly:
    @pytest.mark.parametrize("cls", CLASSES)
    def test_equals_model(self, cls, rng):
        for vocab in (ASCII_VOCAB, WIDE_VOCAB):
            corpus = random_corpus(rng, 30, vocab)
            idx = cls(corpus)
            for _ in range(10):
                q = random_query(rng, vocab)
                for n in (0, 1, 5, 30, 100):
                    assert idx.fuzzy_only(q, n) == fuzzy_only(corpus, q, n)

    def test_query_lengths_around_one_word(self, rng):
        # ASCII queries of up to 64 bytes score many documents at once; longer ones, and
        # wide ones, one at a time. Documents of every length, mixed with wide ones.
        corpus = ["".join(rng.choice("abcd ") for _ in range(rng.randint(0, 150))) for _ in range(60)]
        corpus += ["abcé" * rng.randint(0, 20) for _ in range(10)]
        idx = BM25Index(corpus)
        for m in (1, 2, 63, 64, 65, 130):
            q = "".join(rng.choice("abcd ") for _ in range(m))
            assert idx.fuzzy_only(q, 70) == fuzzy_only(corpus, q, 70)

    def test_many_documents_at_once(self, rng):
        # From 64 documents on, ASCII queries of 1 to 16 bytes without a zero byte score 64
        # documents side by side, 16 bytes of each per round: documents ending at and
        # around the rounds' ends, empty ones, zero bytes, and a wide character anywhere
        # (the document then scored as code points), in any order.
        corpus = []
        for _ in range(300):
            text = "".join(rng.choice("abcd \x00~") for _ in range(
                rng.choice([1, 2, 15, 16, 17, 32, 33, rng.randint(0, 40), rng.randint(0, 200)])))
            r = rng.random()
            if r < 0.06 and text:
                at = rng.randrange(len(text))
                text = text[:at] + rng.choice("é日") + text[at:]
            elif r < 0.09:
                text = ""
            corpus.append(text)
        idx = BM25Index(corpus)
        for m in (1, 2, 7, 8, 9, 15, 16, 17):
            q = "".join(rng.choice("abcd ~") for _ in range(m))
            assert idx.fuzzy_only(q, 300) == fuzzy_only(corpus, q, 300), q
        assert idx.fuzzy_only("a\x00b", 300) == fuzzy_only(corpus, "a\x00b", 300)

    def test_long_documents_among_short_ones(self, rng):
        # Lanes that run out of documents wait while a few long ones go on; one long text
        # turns wide only at its end.
        corpus = ["".join(rng.choice("abcd") for _ in range(rng.randint(1, 20))) for _ in range(70)]
        corpus[5] = "".join(rng.choice("abcd ") for _ in range(4000))
        corpus[40] = "abcd" * 900 + "日"
        corpus[69] = "dcba" * 700
        idx = BM25Index(corpus)
        for q in ("adcq", "abqdcbaqdcbaqdcb"):
            assert idx.fuzzy_only(q, 70) == fuzzy_only(corpus, q, 70)

    def test_zero_scores_kept_and_empty_documents_first_for_empty_query(self):
        idx = BM25Index(["abc", "", "xyz", ""])
        assert idx.fuzzy_only("", 4) == [("", 1.0), ("", 1.0), ("abc", 0.0), ("xyz", 0.0)]
        assert idx.fuzzy_only("q", 2) == [("abc", 0.0), ("", 0.0)]

    def test_edges(self):
        assert BM25Index([]).fuzzy_only("a", 5) == []
        assert BM25Index(["a", "b"]).fuzzy_only("a", 0) == []

    def test_heap_path_keeps_the_best_scores(self, rng):
        corpus = random_corpus(rng, 257, ASCII_VOCAB, 1, 3)
        idx = BM25Index(corpus)
        got = idx.fuzzy_only("apple data", 256)
        assert len(got) == 256
        assert [s for _, s in got] == [s for _, s in fuzzy_only(corpus, "apple data", 256)]
        assert_ranked(idx.fuzzy_only("band", 10), fuzzy_only(corpus, "band", 10))


class TestTopNFuzzy:
    @pytest.mark.parametrize("cls,variant,delta", VARIANTS)
    def test_equals_model(self, cls, variant, delta, rng):
        corpus = random_corpus(rng, 40, WIDE_VOCAB)
        idx = cls(corpus)
        model = Bm25Model(corpus, variant, delta=delta)
        for _ in range(15):
            q = random_query(rng, WIDE_VOCAB)
            for n, cands, w in ((5, 50, 0.3), (2, 3, 0.7), (3, 100, 1.5), (4, 10, -1.0), (0, 50, 0.3)):
                assert idx.get_top_n_fuzzy(q, n, cands, w) == top_n_fuzzy(model, q, n, cands, w)

    def test_no_bm25_hit_is_fuzzy_only(self):
        idx = BM25Index(["apple pie", "banana", "cherry tart"])
        for q in ("", "zzz", "!!"):
            assert idx.get_top_n_fuzzy(q, 2) == idx.fuzzy_only(q, 2)

    def test_single_candidate_equal_to_query_scores_the_weight(self):
        idx = BM25Index(["apple pie", "banana split", "cherry tart"])
        assert idx.get_top_n_fuzzy("banana split") == [("banana split", 0.3)]
        assert idx.get_top_n_fuzzy("banana split", fuzzy_weight=0.6) == [("banana split", 0.6)]

    def test_blend_of_two_candidates(self):
        corpus = ["red red red", "red", "blue"]
        idx = BM25Index(corpus)
        bm25 = dict(idx.get_top_n("red"))
        hi, lo = max(bm25.values()), min(bm25.values())
        f = {t: fuzzy_score("red", t) for t in bm25}
        want = sorted(((t, 0.7 * ((s - lo) / (hi - lo)) + 0.3 * f[t]) for t, s in bm25.items()),
                      key=lambda e: -e[1])
        assert idx.get_top_n_fuzzy("red") == want

    def test_equal_bm25_scores_leave_only_the_fuzzy_part(self):
        idx = BM25Index(["a b", "b a", "c"])
        got = dict(idx.get_top_n_fuzzy("a b", fuzzy_weight=0.5))
        assert got == {"a b": 0.5, "b a": 0.5 * fuzzy_score("a b", "b a")}

    def test_pool_is_at_least_ten_times_n(self):
        corpus = ["common w%d" % i for i in range(30)]
        idx = BM25Index(corpus)
        assert idx.get_top_n_fuzzy("common", 3, 0) == idx.get_top_n_fuzzy("common", 3, 30)


class TestRrf:
    @pytest.mark.parametrize("cls,variant,delta", VARIANTS)
    def test_equals_model(self, cls, variant, delta, rng):
        for vocab in (ASCII_VOCAB, WIDE_VOCAB):
            corpus = random_corpus(rng, 40, vocab)
            idx = cls(corpus)
            model = Bm25Model(corpus, variant, delta=delta)
            for _ in range(10):
                q = random_query(rng, vocab)
                mask = [rng.random() < 0.7 for _ in range(rng.randint(0, 50))]
                for n, cands, k in ((5, 100, 60), (3, 2, 0), (50, 10, 7)):
                    assert idx.get_top_n_rrf(q, n, cands, k) == fused(model, q, n, k, cands)
                    assert idx.get_top_n_rrf_filtered(q, n, cands, k, mask) == \
                        fused(model, q, n, k, cands, mask)

    def test_many_candidates_equal_model(self, rng):
        # Fuzzy lists and outputs beyond 20 entries.
        corpus = random_corpus(rng, 300, ASCII_VOCAB, 1, 4)
        idx = BM25Index(corpus)
        model = Bm25Model(corpus)
        for q in ("apple", "band data", "zzz", "x chart"):
            assert idx.get_top_n_rrf(q, 40) == fused(model, q, 40)

    def test_best_scores(self):
        idx = BM25Index(["alpha beta", "gamma", "delta"])
        top = idx.get_top_n_rrf("alpha beta")
        assert top[0] == ("alpha beta", 2 / 61)
        assert idx.get_top_n_rrf("alpha beta", rrf_k=0)[0] == ("alpha beta", 2.0)

    def test_no_hit_fallback_ranks_by_fuzzy_alone(self):
        corpus = ["apple", "apply", "banana", "cherry"]
        idx = BM25Index(corpus)
        got = idx.get_top_n_rrf("appl", 3)
        order = sorted(corpus, key=lambda t: -fuzzy_score("appl", t))
        assert got == [(t, fusion_term(60, r)) for r, t in enumerate(order[:3])]

    def test_short_and_empty_masks(self):
        corpus = ["x one", "x two", "x three", "y four"]
        idx = BM25Index(corpus)
        # With hits the tail beyond the mask is free; the fallback excludes it.
        got = {t for t, _ in idx.get_top_n_rrf_filtered("x", 5, allowed=[False])}
        assert got == {"x two", "x three"}
        assert [t for t, _ in idx.get_top_n_rrf_filtered("zzz", 5, allowed=[False, True])] == ["x two"]
        assert len(idx.get_top_n_rrf_filtered("x", 5, allowed=[])) == 3
        assert idx.get_top_n_rrf_filtered("zzz", 5, allowed=[]) == []
        assert idx.get_top_n_rrf_filtered("zzz", 5, allowed=None) == idx.get_top_n_rrf("zzz", 5)

    def test_identical_texts_merge_with_two_bm25_terms(self):
        idx = BM25Index(["red fox", "blue", "red fox"])
        got = idx.get_top_n_rrf("red fox")
        assert got == [("red fox", fusion_term(60, 0) + fusion_term(60, 1) + fusion_term(60, 0))]

    def test_equal_fused_scores_keep_bm25_order(self):
        # Tied in BM25 (document order), opposite in fuzzy similarity: equal fused scores.
        idx = BM25Index(["b a", "a b", "c"])
        both = fusion_term(60, 0) + fusion_term(60, 1)
        assert idx.get_top_n_rrf("a b") == [("b a", both), ("a b", both)]

    def test_extreme_counts_saturate(self):
        idx = BM25Index(["a b", "a", "c"])
        top = idx.get_top_n_rrf("a", 2 ** 64 - 1, 0, 2 ** 64 - 1)
        assert [t for t, _ in top] == ["a", "a b"]
        assert all(s == 2 / 2.0 ** 64 for _, s in top)
        assert len(idx.get_top_n_rrf("a", 2 ** 63)) == 2
        assert idx.get_top_n_rrf("a", 0) == []


class TestArguments:
    @pytest.mark.parametrize("cls", CLASSES)
    def test_errors(self, cls):
        idx = cls(["a b", "c"])
        with pytest.raises(OverflowError):
            idx.fuzzy_only("a", -1)
        with pytest.raises(TypeError, match="fuzzy_only"):
            idx.fuzzy_only("a")
        with pytest.raises(TypeError, match="query"):
            idx.get_top_n_fuzzy(b"a")
        with pytest.raises(TypeError, match="fuzzy_weight"):
            idx.get_top_n_fuzzy("a", fuzzy_weight="x")
        with pytest.raises(OverflowError):
            idx.get_top_n_rrf("a", bm25_candidates=-1)
        with pytest.raises(TypeError, match="rrf_k"):
            idx.get_top_n_rrf("a", rrf_k=1.5)
        with pytest.raises(TypeError, match="allowed"):
            idx.get_top_n_rrf_filtered("a", allowed=[0, 1])
        with pytest.raises(TypeError, match="allowed"):
            idx.get_top_n_rrf_filtered("a", allowed="ab")

    def test_keywords_and_positions(self):
        idx = BM25Index(["a b", "c"])
        assert idx.get_top_n_rrf_filtered(query="a", n=1, bm25_candidates=5, rrf_k=1, allowed=None) == \
            idx.get_top_n_rrf("a", 1, 5, 1)
        assert idx.fuzzy_only(query="c", n=1) == [("c", 1.0)]


class TestDocstrings:
    def test_signatures(self):
        for cls in CLASSES:
            assert cls.fuzzy_only.__text_signature__ == "($self, query, n)"
            assert cls.get_top_n_fuzzy.__text_signature__ == \
                "($self, query, n=5, bm25_candidates=50, fuzzy_weight=0.3)"
            assert cls.get_top_n_rrf.__text_signature__ == \
                "($self, query, n=5, bm25_candidates=100, rrf_k=60)"
            assert cls.get_top_n_rrf_filtered.__text_signature__ == \
                "($self, query, n=5, bm25_candidates=100, rrf_k=60, allowed=None)"
            assert cls.get_top_n_fuzzy.__doc__ == (
                "BM25 + fuzzy hybrid: run BM25, take top `bm25_candidates`, then re-rank\n"
                "with indel fuzzy similarity.")
            assert not cls.fuzzy_only.__doc__

    def test_rrf_docstrings_by_class(self):
        lines = BM25Index.get_top_n_rrf.__doc__.split("\n")
        assert lines[:2] == ["Reciprocal Rank Fusion of BM25 + fuzzy ranks.",
                             "More robust than linear interpolation — insensitive to score scale differences."]
        assert "k=60" in lines[2]
        assert BM25Index.get_top_n_rrf_filtered.__doc__ == "RRF with optional allowed mask."
        assert BM25L.get_top_n_rrf.__doc__ == "Reciprocal Rank Fusion of BM25 + fuzzy ranks."
        for cls in (BM25Plus, BM25T):
            assert not cls.get_top_n_rrf.__doc__
        for cls in (BM25L, BM25Plus, BM25T):
            assert not cls.get_top_n_rrf_filtered.__doc__
