"""How the BM25 classes keep their corpus: the texts a ranking returns and a pickle carries
are the corpus items as plain str, equal texts share one document in the fusion pool, and
term positions hold over vocabularies large enough that term ids take several bytes."""
import gc
import pickle
import struct

import pytest

from _tarnwick import BM25Index, BM25L, BM25Plus, BM25T, save_mmap_bm25
from search_models import Bm25Model, fused, read_index_dir, split_words, top_n_fuzzy, top_n_phrase

CLASSES = [BM25Index, BM25L, BM25Plus, BM25T]
VARIANTS = [(BM25Index, "okapi", 0.5), (BM25L, "l", 0.5), (BM25Plus, "plus", 1.0), (BM25T, "t", 0.5)]


class Text(str):
    """A str subclass whose own methods would show if a result were the item itself."""

    def __repr__(self):
        return "Text(" + super().__repr__() + ")"

    def __str__(self):
        return "not the text"


def bits(values):
    return [struct.pack("<d", v) for v in values]


def every_ranking(idx, query):
    return [idx.get_top_n(query, 10), idx.get_top_n_filtered(query, 10, [True] * 3),
            idx.fuzzy_only(query, 10), idx.get_top_n_fuzzy(query, 10, 20, 0.5),
            idx.get_top_n_rrf(query, 10, 20, 60), idx.get_top_n_phrase(query, 10, 2, 3.0)]


class TestReturnedTexts:
    @pytest.mark.parametrize("cls", CLASSES)
    def test_subclass_items_come_back_as_plain_str(self, cls):
        corpus = [Text("red fox"), "red hen", Text("blue fox café"), Text("")]
        idx = cls(corpus)
        plain = cls([str.__str__(t) for t in corpus])
        for q in ["red fox", "fox café", "hen"]:
            got = every_ranking(idx, q)
            assert got == every_ranking(plain, q)
            for ranking in got:
                assert ranking
                assert all(type(text) is str for text, _ in ranking)
        assert all(type(t) is str for t in BM25Index(corpus).__reduce__()[1][0])

    @pytest.mark.parametrize("cls", CLASSES)
    def test_changes_to_the_corpus_list_do_not_reach_the_index(self, cls):
        corpus = ["apple pie", "apple", "pear tart"]
        idx = cls(corpus)
        before = idx.get_top_n("apple pear", 5)
        corpus[0] = "pear pear pear"
        corpus.append("apple apple")
        del corpus[1]
        gc.collect()
        assert idx.num_docs == 3
        assert idx.get_top_n("apple pear", 5) == before
        assert {t for t, _ in before} == {"apple pie", "apple", "pear tart"}

    def test_texts_outlive_their_list(self):
        # Texts made at run time, referenced by nothing but the index once the list goes.
        def text(i):
            return "".join(["word", str(i), " ", "ünï" * (i % 3), " shared"])
        idx = BM25Index([text(i) for i in range(300)])
        gc.collect()
        got = idx.get_top_n("word7 shared", 300)
        assert got[0][0] == text(7)
        assert sorted(t for t, _ in got) == sorted(text(i) for i in range(300))

    @pytest.mark.parametrize("cls,variant,delta", VARIANTS)
    def test_mixed_ascii_and_wider_texts_against_model(self, cls, variant, delta, rng):
        words = ["plain", "ascii", "café", "ΟΔΟΣ", "日本", "𝔘nicode", "x"]
        corpus = [" ".join(rng.choice(words) for _ in range(rng.randint(0, 6))) for _ in range(80)]
        idx, model = cls(corpus), Bm25Model(corpus, variant, delta=delta)
        for _ in range(15):
            q = " ".join(rng.choice(words + ["none"]) for _ in range(rng.randint(1, 3)))
            assert idx.get_top_n(q, 1000) == model.top_n(q, 1000)
            assert idx.get_top_n_fuzzy(q, 7, 15, 0.3) == top_n_fuzzy(model, q, 7, 15, 0.3)
            assert idx.get_top_n_phrase(q, 9, 1, 2.0) == top_n_phrase(model, q, 9, 1, 2.0)


class TestEqualTexts:
    @pytest.mark.parametrize("cls,variant,delta", VARIANTS)
    def test_fusion_pool_takes_each_text_once(self, cls, variant, delta, rng):
        texts = ["a b", "a", "b c", "c c a", "", "b"]
        corpus = [rng.choice(texts) for _ in range(60)] + [Text("a b"), "a b"]
        idx, model = cls(corpus), Bm25Model(corpus, variant, delta=delta)
        for q in ["a", "b c", "a b c", "zzz", "c a a"]:
            for n, cands, k in ((5, 10, 60), (30, 100, 1), (3, 2, 5)):
                assert idx.get_top_n_rrf(q, n, cands, k) == fused(model, q, n, k, cands)
            assert idx.get_top_n(q, 100) == model.top_n(q, 100)

    def test_every_document_equal(self):
        corpus = ["same words here"] * 50
        idx = BM25Index(corpus)
        assert idx.num_docs == 50
        # Fifty hits of one text: one candidate, with every hit's rank term and one fuzzy term.
        got = idx.get_top_n_rrf("same", 5)
        assert got == fused(Bm25Model(corpus), "same", 5)
        want = 0.0
        for r in range(50):
            want += 1 / (61 + r)
        assert got == [("same words here", want + 1 / 61)]
        assert len(idx.get_top_n("same", 100)) == 50


class TestPickling:
    def round_trip(self, corpus, **kw):
        idx = BM25Index(corpus, **kw)
        back = pickle.loads(pickle.dumps(idx))
        assert back.__reduce__()[1] == idx.__reduce__()[1]
        return idx, back

    def test_round_trip_keeps_every_answer(self, rng):
        words = ["alpha", "beta", "café", "ΟΔΟΣ", "straße", "日本", "x"]
        corpus = [" ".join(rng.choice(words) for _ in range(rng.randint(0, 7))) for _ in range(120)]
        corpus += ["", "alpha beta", "alpha beta", Text("café x")]
        for normalize in (False, True):
            idx, back = self.round_trip(corpus, k1=1.1, b=0.6, normalize=normalize)
            assert back.__reduce__()[1][0] == [str.__str__(t) for t in corpus]
            for _ in range(20):
                q = " ".join(rng.choice(words + ["STRASSE", "none"]) for _ in range(rng.randint(0, 4)))
                assert bits(back.get_scores(q)) == bits(idx.get_scores(q))
                assert every_ranking(back, q) == every_ranking(idx, q)
                d = rng.randrange(len(corpus))
                assert back.explain(q, d) == idx.explain(q, d)
            assert back.get_idf_map() == idx.get_idf_map()

    def test_round_trip_of_pickled_twice_and_empty(self):
        idx, back = self.round_trip([])
        assert back.num_docs == 0 and back.get_top_n("a", 3) == []
        idx, back = self.round_trip(["one two", "two"])
        again = pickle.loads(pickle.dumps(back))
        assert again.get_top_n("two", 5) == idx.get_top_n("two", 5)


class TestNearlyEqualTexts:
    def texts(self):
        """Words and texts of every length up to 40 that differ from one another in one
        character, first, last or in the middle."""
        out = []
        for n in range(1, 41):
            base = "".join(chr(ord("a") + (i * 7) % 26) for i in range(n))
            for i in sorted({0, n // 2, n - 1}):
                out.append(base[:i] + "z" + base[i + 1:] if base[i] != "z" else base[:i] + "y" + base[i + 1:])
            out.append(base)
        return list(dict.fromkeys(out))

    def test_each_word_finds_its_own_document(self):
        words = self.texts()
        idx = BM25Index(words)
        for d, w in enumerate(words):
            assert idx.get_top_n(w, 5) == [(w, idx.get_scores(w)[d])]
            assert idx.get_idf_map()[w] == idx.get_idf_map()[words[0]]

    def test_fusion_pool_tells_nearly_equal_texts_apart(self):
        texts = self.texts()
        corpus = [t + " common" for t in texts] * 2
        model = Bm25Model(corpus)
        idx = BM25Index(corpus)
        for q in ["common", texts[5], texts[-1] + " common", texts[40]]:
            assert idx.get_top_n_rrf(q, 20, 200, 60) == fused(model, q, 20, 60, 200)


def large_vocabulary_corpus(rng, n_words=70_000, n_docs=400):
    """Documents over a vocabulary big enough that term ids need one, two and three bytes."""
    vocab = ["w%d" % i for i in range(n_words)]
    docs = [" ".join(vocab[i:i + 100]) for i in range(0, n_words, 100)]
    for _ in range(n_docs):
        docs.append(" ".join(rng.choice(vocab[:200] if rng.random() < 0.5 else vocab)
                             for _ in range(rng.randint(1, 30))))
    return vocab, docs


class TestPositionsWithLargeVocabulary:
    def test_phrases_and_vectors_against_model(self, rng):
        vocab, corpus = large_vocabulary_corpus(rng)
        idx, model = BM25Index(corpus), Bm25Model(corpus)
        for d in list(range(0, len(corpus), 37)) + [len(corpus) - 1]:
            assert idx.get_document_vector(d) == model.w[d]
        for _ in range(40):
            d = rng.randrange(len(corpus))
            toks = split_words(corpus[d])
            i = rng.randrange(len(toks))
            q = " ".join(toks[i:i + rng.randint(1, 4)])
            for window in (0, 1, 3):
                assert idx.get_top_n_phrase(q, 10, window, 2.5) == top_n_phrase(model, q, 10, window, 2.5)
            for term, idf, weight, _ in idx.explain(q, d):
                assert (idf, weight) == (model.idf[term], model.w[d][term])

    def test_index_directory_positions(self, tmp_path, rng):
        _, corpus = large_vocabulary_corpus(rng, 70_000, 150)
        save_mmap_bm25(str(tmp_path), corpus, 1.5, 0.75, False, "bm25", None, True)
        meta, records, positions = read_index_dir(str(tmp_path))
        want = {}
        for d, text in enumerate(corpus):
            for p, t in enumerate(split_words(text)):
                want.setdefault(t, {}).setdefault(d, []).append(p)
        assert set(meta["dictionary"]) == set(want)
        for term, (off, cnt, poff, pcnt) in meta["dictionary"].items():
            got, at = {}, poff
            for doc, _, npos in records[off:off + cnt]:
                got[doc] = positions[at:at + npos]
                at += npos
            assert at == poff + pcnt
            assert got == want[term]
