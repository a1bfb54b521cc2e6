"""Score explanations, term statistics and phrase boosting on the four BM25 classes:
explain, get_idf_map, get_document_vector and get_top_n_phrase, against the plain model."""
import math
import struct

import pytest

from _tarnwick import BM25Index, BM25L, BM25Plus, BM25T
from search_models import Bm25Model, split_words, top_n_phrase

VARIANTS = [
    (BM25Index, "okapi", 0.5),
    (BM25L, "l", 0.5),
    (BM25Plus, "plus", 1.0),
    (BM25T, "t", 0.5),
]
CLASSES = [c for c, _, _ in VARIANTS]
VOCAB = ["alpha", "beta", "gamma", "delta", "café", "ΟΔΟΣ", "x"]


def bits(x):
    return struct.pack("<d", x)


def random_corpus(rng, n, lo=0, hi=8):
    return [" ".join(rng.choice(VOCAB) for _ in range(rng.randint(lo, hi))) for _ in range(n)]


def random_query(rng):
    return " ".join(rng.choice(VOCAB + ["unknown"]) for _ in range(rng.randint(0, 4)))


class TestExplain:
    @pytest.mark.parametrize("cls,variant,delta", VARIANTS)
    def test_terms_sum_to_the_score_bit_for_bit(self, cls, variant, delta, rng):
        corpus = random_corpus(rng, 30)
        idx = cls(corpus)
        model = Bm25Model(corpus, variant, delta=delta)
        for _ in range(20):
            q = random_query(rng)
            scores = idx.get_scores(q)
            for d in range(len(corpus)):
                terms = idx.explain(q, d)
                assert [t for t, _, _, _ in terms] == split_words(q)
                total = -0.0
                for term, idf, tf_norm, term_score in terms:
                    assert idf == model.idf.get(term, 0.0)
                    assert tf_norm == model.w[d].get(term, 0.0)
                    assert bits(term_score) == bits(idf * tf_norm)
                    total += term_score
                assert bits(total) == bits(scores[d])

    def test_unknown_absent_and_repeated_terms(self):
        idx = BM25Index(["hello world", "hello"])
        idf_hello = idx.get_idf_map()["hello"]
        assert idx.explain("zzz", 0) == [("zzz", 0.0, 0.0, 0.0)]
        assert idx.explain("world", 1) == [("world", idx.get_idf_map()["world"], 0.0, 0.0)]
        got = idx.explain("Hello hello HELLO", 1)
        assert len(got) == 3 and got[0] == got[1] == got[2] and got[0][1] == idf_hello
        assert idx.explain("", 0) == [] and idx.explain(" ,;", 1) == []

    def test_normalising_mode_tokenises_the_query_likewise(self):
        idx = BM25Index(["Café RÉSUMÉ", "other"], normalize=True)
        terms = idx.explain("CAFÉ résumé", 0)
        assert [t for t, *_ in terms] == [t for t, *_ in idx.explain("café résumé", 0)]
        assert sum(s for *_, s in terms) == idx.get_scores("CAFÉ résumé")[0]

    @pytest.mark.parametrize("cls", CLASSES)
    def test_doc_idx_out_of_range(self, cls):
        idx = cls(["a", "b"])
        assert idx.explain("a", 1) == [("a", idx.get_idf_map()["a"], 0.0, 0.0)]
        with pytest.raises(IndexError, match=r"^doc_idx 2 out of range \(corpus has 2 docs\)$"):
            idx.explain("a", 2)
        with pytest.raises(IndexError, match=r"^doc_idx 0 out of range \(corpus has 0 docs\)$"):
            cls([]).explain("a", 0)
        with pytest.raises(IndexError, match=r"^doc_idx 18446744073709551615 out of range"):
            idx.get_document_vector(2 ** 64 - 1)
        with pytest.raises(OverflowError):
            idx.explain("a", -1)
        with pytest.raises(TypeError, match="doc_idx"):
            idx.get_document_vector("0")


class TestTermStatistics:
    @pytest.mark.parametrize("cls,variant,delta", VARIANTS)
    def test_equal_model(self, cls, variant, delta, rng):
        corpus = random_corpus(rng, 25) + ["", "x x x"]
        idx = cls(corpus)
        model = Bm25Model(corpus, variant, delta=delta)
        assert idx.get_idf_map() == model.idf
        for d in range(len(corpus)):
            assert idx.get_document_vector(d) == model.w[d]

    def test_edges(self):
        assert BM25Index([]).get_idf_map() == {}
        idx = BM25Index(["", "x y x"])
        assert idx.get_document_vector(0) == {}
        assert set(idx.get_document_vector(1)) == {"x", "y"}
        maps = idx.get_idf_map()
        maps["x"] = 0.0  # a copy: the index keeps its own
        assert idx.get_idf_map()["x"] != 0.0


class TestPhrase:
    @pytest.mark.parametrize("cls,variant,delta", VARIANTS)
    def test_equals_model(self, cls, variant, delta, rng):
        corpus = random_corpus(rng, 40, 1, 10)
        idx = cls(corpus)
        model = Bm25Model(corpus, variant, delta=delta)
        for _ in range(20):
            q = random_query(rng)
            for n, window, boost in ((5, 3, 2.0), (50, 0, 3.5), (10, 1, 0.5), (3, 10, -1.0)):
                assert idx.get_top_n_phrase(q, n, window, boost) == \
                    top_n_phrase(model, q, n, window, boost)

    def test_order_free_pairs_and_partial_proximity(self):
        idx = BM25Index(["b a", "a x x x b", "a b z", "q"])
        raw = idx.get_scores("a b")
        got = dict(idx.get_top_n_phrase("a b", 5, 1, 3.0))
        # b one position before a counts; four positions apart does not at window 1.
        assert got["b a"] == raw[0] * 3.0
        assert got["a x x x b"] == raw[1]
        assert dict(idx.get_top_n_phrase("a b", 5, 4, 3.0))["a x x x b"] == raw[1] * 3.0
        # a b adjacent, no c: proximity 0.5.
        raw_c = idx.get_scores("a b c")
        assert dict(idx.get_top_n_phrase("a b c", 5, 3, 3.0))["a b z"] == raw_c[2] * (2.0 * 0.5 + 1.0)

    def test_repeated_token_pairs_count_at_window_zero(self):
        idx = BM25Index(["a", "a b", "c"])
        raw = idx.get_scores("a a")
        assert idx.get_top_n_phrase("a a", 5, 0, 2.0) == \
            sorted([("a", raw[0] * 2.0), ("a b", raw[1] * 2.0)], key=lambda e: -e[1])

    def test_single_token_and_neutral_boost(self):
        idx = BM25Index(["red fox", "red red dog", "blue"])
        plain = idx.get_top_n("red", 5)
        assert idx.get_top_n_phrase("red", 5, 3, 2.5) == [(t, s * 2.5) for t, s in plain]
        assert idx.get_top_n_phrase("red fox", 5, 3, 1.0) == idx.get_top_n("red fox", 5)

    def test_edges(self):
        idx = BM25Index(["a b", "c"])
        assert idx.get_top_n_phrase("", 5) == []
        assert idx.get_top_n_phrase("a b", 0) == []
        assert BM25Index([]).get_top_n_phrase("a", 5) == []
        assert len(idx.get_top_n_phrase("a", 100)) == 1
        neg = idx.get_top_n_phrase("a", 5, 3, -2.0)
        assert neg[0][1] < 0
        # An infinite boost times proximity 0 is NaN: still returned, no error.
        got = idx.get_top_n_phrase("a b", 5, 0, math.inf)
        assert len(got) == 1 and math.isnan(got[0][1])

    def test_many_candidates(self, rng):
        corpus = random_corpus(rng, 400, 2, 12)
        idx = BM25Index(corpus)
        model = Bm25Model(corpus)
        for q in ("alpha beta", "gamma x delta", "café café"):
            assert idx.get_top_n_phrase(q, 30, 2, 1.7) == top_n_phrase(model, q, 30, 2, 1.7)


class TestDocstrings:
    def test_index_docstrings(self):
        assert BM25Index.explain.__doc__.split("\n")[0] == \
            "Per-term score breakdown for a query against a specific document."
        assert "(term, idf, tf_norm, term_score)" in BM25Index.explain.__doc__
        assert BM25Index.get_idf_map.__doc__ == "Return the IDF map: term → idf value."
        assert BM25Index.get_document_vector.__doc__ == "Return the TF-norm vector for a specific document."
        assert BM25Index.get_top_n_phrase.__doc__ == (
            "BM25 scoring with phrase proximity boost.\n"
            "Documents where query terms appear adjacent or within `window` positions\n"
            "get a multiplicative boost.")

    def test_signatures_and_bare_twins(self):
        for cls in CLASSES:
            assert cls.explain.__text_signature__ == "($self, query, doc_idx)"
            assert cls.get_idf_map.__text_signature__ == "($self)"
            assert cls.get_document_vector.__text_signature__ == "($self, doc_idx)"
            assert cls.get_top_n_phrase.__text_signature__ == \
                "($self, query, n=5, proximity_window=3, phrase_boost=2.0)"
        for cls in (BM25L, BM25Plus, BM25T):
            for name in ("explain", "get_idf_map", "get_document_vector", "get_top_n_phrase"):
                assert not getattr(cls, name).__doc__
