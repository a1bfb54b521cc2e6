"""MmapBM25Index: directories written by save_mmap_bm25 opened again, against a model that
reads the files with struct and json; agreement with the in-memory twin where the weights
are exact in 32 bits; meta.json refusals; corrupt, truncated and rewritten directories."""
import json
import math
import os
import pickle
import random
import struct

import pytest

from _tarnwick import BM25Index, MmapBM25Index, save_mmap_bm25
from search_models import (MappedModel, fused, fuzzy_only, select_top_n, sort_ranked,
                           top_n_fuzzy)

VOCAB = ["alpha", "Beta", "gamma", "delta", "café", "ΟΔΟΣ", "x", "y", "42"]
ALGORITHMS = ["bm25", "bm25l", "bm25+", "bm25t"]


def bits(values):
    return ["nan" if v != v else struct.pack("<d", v) for v in values]


def random_corpus(rng, n, vocab=VOCAB, hi=8):
    return [" ".join(rng.choice(vocab) for _ in range(rng.randint(0, hi))) for _ in range(n)]


def random_query(rng, vocab=VOCAB):
    return " ".join(rng.choice(vocab + ["zzz", "ALPHA"]) for _ in range(rng.randint(0, 4)))


def write(path, corpus, algorithm="bm25", positions=True, k1=1.5, b=0.75, normalize=False):
    save_mmap_bm25(str(path), corpus, k1, b, normalize, algorithm, None, positions)
    return str(path)


def edit_meta(path, change):
    """Rewrites meta.json through `change(meta dict)`."""
    with open(os.path.join(path, "meta.json"), encoding="utf-8") as f:
        meta = json.load(f)
    change(meta)
    with open(os.path.join(path, "meta.json"), "w", encoding="utf-8") as f:
        json.dump(meta, f)


class TestAgainstModel:
    @pytest.mark.parametrize("algorithm", ALGORITHMS)
    @pytest.mark.parametrize("positions", [True, False])
    def test_queries(self, tmp_path, algorithm, positions):
        rng = random.Random(algorithm + str(positions))
        for trial in range(6):
            corpus = random_corpus(rng, rng.choice([0, 1, 5, 30, 300]))
            path = write(tmp_path / str(trial), corpus, algorithm, positions)
            idx, model = MmapBM25Index.load(path), MappedModel(path)
            assert idx.num_docs == len(corpus)
            assert idx.get_idf_map() == model.idf
            for d in range(min(len(corpus), 10)):
                assert idx.get_document_vector(d) == model.document_vector(d)
            for _ in range(8):
                q = random_query(rng)
                assert bits(idx.get_scores(q)) == bits(model.scores(q))
                for n in [0, 1, 3, 10, 400]:
                    got, want = idx.get_top_n(q, n), model.top_n(q, n)
                    assert [s for _, s in got] == [s for _, s in want]
                    if len(want) <= 20:
                        assert got == want
                mask = [rng.random() < 0.7 for _ in range(rng.randint(0, len(corpus) + 2))]
                assert idx.get_top_n_filtered(q, 5, mask) == model.top_n(q, 5, mask)
                want = model.scores(q)
                for i in range(min(len(want), len(mask))):
                    if not mask[i]:
                        want[i] = 0.0
                assert bits(idx.get_scores_filtered(q, mask)) == bits(want)
                if corpus:
                    d = rng.randrange(len(corpus))
                    assert idx.explain(q, d) == model.explain(q, d)
                assert idx.get_top_n_phrase(q, 5, 2, 3.0) == model.top_n_phrase(q, 5, 2, 3.0)
                assert idx.get_top_n_fuzzy(q, 3, 10, 0.4) == top_n_fuzzy(model, q, 3, 10, 0.4)
                assert idx.get_top_n_rrf_filtered(q, 4, 8, 10, mask) == fused(model, q, 4, 10, 8, mask)
            qs = [random_query(rng) for _ in range(20)]
            assert idx.get_batch_scores(qs) == [model.scores(q) for q in qs]

    def test_heap_path_ties(self, tmp_path):
        # 300 documents, n = 2: documents 0 and 1 tie, 2 scores more, the rest nothing.
        corpus = ["a b", "a b", "a"] + ["z"] * 297
        idx = MmapBM25Index.load(write(tmp_path, corpus))
        assert [t for t, _ in idx.get_top_n("a", 2)] == ["a", "a b"]
        assert idx.get_top_n("a", 2)[1] == ("a b", MappedModel(str(tmp_path)).scores("a")[1])

    def test_fuzzy_only(self, tmp_path):
        corpus = ["apple pie", "apply", "", "banana"]
        idx = MmapBM25Index.load(write(tmp_path, corpus))
        for q in ["appl", "", "zz"]:
            assert idx.fuzzy_only(q, 3) == fuzzy_only(corpus, q, 3)

    def test_normalising_directory(self, tmp_path):
        corpus = ["Café noir", "CAFE au lait", "ΟΔΟΣ"]
        idx = MmapBM25Index.load(write(tmp_path, corpus, normalize=True))
        twin = BM25Index(corpus, k1=0.0, normalize=True)
        exact = MmapBM25Index.load(write(tmp_path / "k", corpus, k1=0.0, normalize=True))
        assert exact.get_scores("cafe") == twin.get_scores("cafe")
        assert idx.get_top_n("CAFÉ", 2)[0][0] in ("Café noir", "CAFE au lait")


class TestTwinAgreement:
    """With k1 = 0 every Okapi weight is tf / tf = 1.0, exact in 32 bits, so the mapped index
    answers exactly as the in-memory one, except where the two are stated to differ."""

    def test_same_answers(self, tmp_path):
        rng = random.Random(5)
        corpus = random_corpus(rng, 400)
        idx = MmapBM25Index.load(write(tmp_path, corpus, k1=0.0))
        twin = BM25Index(corpus, k1=0.0)
        for _ in range(30):
            q = random_query(rng)
            scores, twin_scores = idx.get_scores(q), twin.get_scores(q)
            assert scores == twin_scores
            assert idx.get_top_n(q, 7) == twin.get_top_n(q, 7)
            assert idx.get_top_n_rrf(q, 5) == twin.get_top_n_rrf(q, 5)
            assert idx.get_top_n_fuzzy(q, 5) == twin.get_top_n_fuzzy(q, 5)
            assert idx.get_top_n_phrase(q, 5) == twin.get_top_n_phrase(q, 5)
            assert idx.explain(q, 3) == twin.explain(q, 3)
        assert idx.get_idf_map() == twin.get_idf_map()
        assert idx.get_document_vector(9) == twin.get_document_vector(9)

    def test_stated_differences(self, tmp_path):
        idx = MmapBM25Index.load(write(tmp_path, ["a b", "c"], k1=0.0))
        twin = BM25Index(["a b", "c"], k1=0.0)
        # Scores start at +0.0 instead of -0.0.
        assert bits(idx.get_scores("")) == bits([0.0, 0.0])
        assert bits(twin.get_scores("")) == bits([-0.0, -0.0])
        # The shorter IndexError text.
        with pytest.raises(IndexError, match=r"^doc_idx 2 out of range$"):
            idx.explain("a", 2)
        with pytest.raises(IndexError, match=r"^doc_idx 5 out of range$"):
            idx.get_document_vector(5)
        with pytest.raises(IndexError, match=r"corpus has 2 docs"):
            twin.explain("a", 2)


class TestEdgeCases:
    def test_empty_corpus(self, tmp_path):
        idx = MmapBM25Index.load(write(tmp_path, []))
        assert idx.num_docs == 0 and idx.get_scores("a") == [] and idx.get_idf_map() == {}
        for method in ["get_top_n", "get_top_n_filtered", "get_top_n_fuzzy", "get_top_n_rrf",
                       "get_top_n_rrf_filtered", "get_top_n_phrase"]:
            assert getattr(idx, method)("a") == []
        assert idx.fuzzy_only("a", 3) == [] and idx.get_batch_scores(["a", ""]) == [[], []]

    def test_unknown_terms(self, tmp_path):
        idx = MmapBM25Index.load(write(tmp_path, ["a b", "c"]))
        assert bits(idx.get_scores("zzz qqq")) == bits([0.0, 0.0])
        assert idx.get_top_n("zzz") == []
        assert idx.explain("zzz a", 1) == [("zzz", 0.0, 0.0, 0.0), ("a", idx.get_idf_map()["a"], 0.0, 0.0)]

    def test_dictionary_term_without_idf(self, tmp_path):
        path = write(tmp_path, ["a b", "b"])
        edit_meta(path, lambda m: m["idf"].pop("a"))
        idx = MmapBM25Index.load(path)
        weight = MappedModel(path).weight("a", 0)[0]
        assert bits(idx.get_scores("a")) == bits([0.0, 0.0])
        assert "a" not in idx.get_idf_map()
        assert idx.explain("a", 0) == [("a", 0.0, weight, 0.0)]
        assert idx.get_document_vector(0)["a"] == weight

    def test_identical_texts(self, tmp_path):
        idx = MmapBM25Index.load(write(tmp_path, ["same text", "other", "same text"]))
        scores = idx.get_scores("same")
        assert len(scores) == 3 and scores[0] == scores[2] > 0
        # Fusion maps both hits to the later document: one result for the text.
        assert [t for t, _ in idx.get_top_n_rrf("same", 5)] == ["same text"]

    def test_explain_repeats(self, tmp_path):
        idx = MmapBM25Index.load(write(tmp_path, ["x y", "y"]))
        out = idx.explain("x x", 0)
        assert len(out) == 2 and out[0] == out[1] and out[0][3] == out[0][1] * out[0][2]

    def test_phrase_without_positions(self, tmp_path):
        corpus = ["new york city", "york new", "new"]
        idx = MmapBM25Index.load(write(tmp_path, corpus, positions=False))
        with_pos = MmapBM25Index.load(write(tmp_path / "p", corpus, positions=True))
        plain = {t: s for t, s in idx.get_top_n("new york", 5)}
        assert {t: s for t, s in idx.get_top_n_phrase("new york", 5, 3, 2.0)} == plain
        assert with_pos.get_top_n_phrase("new york", 1, 3, 2.0)[0][1] > plain["new york city"]
        one = idx.get_top_n_phrase("new", 5, 3, 3.0)
        assert sorted(s for _, s in one) == sorted(3.0 * s for _, s in idx.get_top_n("new", 5))

    def test_array_form_of_meta(self, tmp_path):
        path = write(tmp_path, ["a b", "b c"])
        before = MmapBM25Index.load(path).get_scores("b c")
        with open(os.path.join(path, "meta.json"), encoding="utf-8") as f:
            meta = json.load(f)
        with open(os.path.join(path, "meta.json"), "w", encoding="utf-8") as f:
            json.dump([meta[k] for k in ["corpus", "idf", "dictionary", "num_docs", "normalize"]], f)
        assert MmapBM25Index.load(path).get_scores("b c") == before

    def test_members_in_any_order_with_unknown_ones(self, tmp_path):
        path = write(tmp_path, ["a b", "b c"])
        before = MmapBM25Index.load(path).get_scores("b c")
        with open(os.path.join(path, "meta.json"), encoding="utf-8") as f:
            meta = json.load(f)
        text = json.dumps({"extra": [1, {"x": None}], **dict(reversed(list(meta.items())))}, indent=2)
        with open(os.path.join(path, "meta.json"), "w", encoding="utf-8") as f:
            f.write(text + "\n\t ")
        assert MmapBM25Index.load(path).get_scores("b c") == before

    def test_rewritten_directory_keeps_old_answers(self, tmp_path):
        path = write(tmp_path, ["old words here"] * 50)
        old = MmapBM25Index.load(path)
        before = old.get_scores("old words")
        write(tmp_path, ["new"], positions=False)
        assert old.get_scores("old words") == before
        assert old.get_top_n_phrase("old words", 1)[0][0] == "old words here"
        assert MmapBM25Index.load(path).get_scores("old words") == [0.0]


class TestClass:
    def test_no_constructor_and_no_pickling(self, tmp_path):
        with pytest.raises(TypeError, match=r"^No constructor defined for MmapBM25Index$"):
            MmapBM25Index()
        idx = MmapBM25Index.load(write(tmp_path, ["a"]))
        with pytest.raises(TypeError):
            pickle.dumps(idx)
        with pytest.raises(AttributeError):
            idx.num_docs = 3

    def test_signatures_without_docstrings(self):
        assert MmapBM25Index.__doc__ is None
        assert MmapBM25Index.load.__text_signature__ == "(path)"
        sigs = {
            "get_scores": "($self, query)",
            "get_scores_filtered": "($self, query, allowed=None)",
            "get_batch_scores": "($self, queries)",
            "get_top_n": "($self, query, n=5)",
            "get_top_n_filtered": "($self, query, n=5, allowed=None)",
            "fuzzy_only": "($self, query, n)",
            "get_top_n_fuzzy": "($self, query, n=5, bm25_candidates=50, fuzzy_weight=0.3)",
            "get_top_n_rrf": "($self, query, n=5, bm25_candidates=100, rrf_k=60)",
            "get_top_n_rrf_filtered": "($self, query, n=5, bm25_candidates=100, rrf_k=60, allowed=None)",
            "get_idf_map": "($self)",
            "get_document_vector": "($self, doc_idx)",
            "explain": "($self, query, doc_idx)",
            "get_top_n_phrase": "($self, query, n=5, proximity_window=3, phrase_boost=2.0)",
            "search_filtered_sorted": "($self, query, _query_embedding=None, _n=5, _rrf_k=60, "
                                      "_bm25_candidates=100, _filter_json=None, _sort_keys=None)",
        }
        for name, sig in sigs.items():
            method = getattr(MmapBM25Index, name)
            assert method.__text_signature__ == sig
            assert method.__doc__ is None

    def test_search_filtered_sorted_refuses_after_conversion(self, tmp_path):
        idx = MmapBM25Index.load(write(tmp_path, ["a"]))
        with pytest.raises(NotImplementedError, match=r"^search_filtered_sorted not implemented for Mmap BM25 yet: a b$"):
            idx.search_filtered_sorted("a b", [1.0], 3, 60, 10, '{"type": "exists"}', [("x.y", True)])
        with pytest.raises(NotImplementedError):
            idx.search_filtered_sorted(query="q")
        for kwargs, name in [({"_n": -1}, None), ({"_n": "x"}, "_n"), ({"_query_embedding": "ab"}, "_query_embedding"),
                             ({"_filter_json": 5}, "_filter_json"), ({"_sort_keys": [("a", 1)]}, "_sort_keys"),
                             ({"_sort_keys": "ab"}, "_sort_keys"), ({"_rrf_k": 1.5}, "_rrf_k")]:
            with pytest.raises((TypeError, OverflowError)) as info:
                idx.search_filtered_sorted("a", **kwargs)
            if name:
                assert "argument '%s'" % name in str(info.value)
        with pytest.raises(TypeError):
            idx.search_filtered_sorted(5)

    @pytest.mark.parametrize("keys", [[("a",)], [("a", True, 1)], [["a", True]], [(1, True)], [None]])
    def test_sort_keys_refused_as_by_the_hybrid_index(self, tmp_path, keys):
        # The conversion is the hybrid index's: every malformed key, a tuple of another
        # length included, is a TypeError naming the argument, raised before the refusal.
        from _tarnwick import HybridSearchIndex
        idx = MmapBM25Index.load(write(tmp_path, ["a"]))
        with pytest.raises(TypeError) as mapped:
            idx.search_filtered_sorted("a", _sort_keys=keys)
        with pytest.raises(TypeError) as hybrid:
            HybridSearchIndex(["a"]).search_filtered_sorted("a", sort_keys=keys)
        assert str(mapped.value) == str(hybrid.value).replace("'sort_keys'", "'_sort_keys'")
        assert str(mapped.value).startswith("argument '_sort_keys': ")

    def test_argument_errors(self, tmp_path):
        idx = MmapBM25Index.load(write(tmp_path, ["a", "b", "c"]))
        with pytest.raises(TypeError, match="argument 'allowed'"):
            idx.get_top_n_filtered("a", 2, [0, 1])
        with pytest.raises(TypeError, match="argument 'allowed'"):
            idx.get_scores_filtered("a", "ab")
        with pytest.raises(OverflowError):
            idx.get_top_n("a", -1)
        with pytest.raises(TypeError, match="argument 'queries'"):
            idx.get_batch_scores("ab")
        with pytest.raises(TypeError, match="argument 'query'"):
            idx.get_scores(b"a")
        with pytest.raises(TypeError, match="argument 'path'"):
            MmapBM25Index.load(5)
        # The directory named up to the NUL is not the one asked for.
        with pytest.raises(ValueError, match=r"^embedded null byte$"):
            MmapBM25Index.load(str(tmp_path) + "\0x")
        with pytest.raises(TypeError, match=r"MmapBM25Index\.load\(\) missing 1 required"):
            MmapBM25Index.load()


# ---- Malformed, corrupt and truncated directories ----

META = '{"corpus":["a b"],"idf":{"a":0.5,"b":0.5},"dictionary":{"a":[0,1,0,0],"b":[1,1,0,0]},"num_docs":1,"normalize":false}'

REFUSALS = [
    ("", "EOF while parsing a value at line 1 column 0"),
    ("  \n", "EOF while parsing a value at line 2 column 0"),
    ("5", "invalid type: integer `5`, expected struct MmapMeta at line 1 column 1"),
    ('"x"', 'invalid type: string "x", expected struct MmapMeta at line 1 column 3'),
    ("null", "invalid type: null, expected struct MmapMeta at line 1 column 4"),
    ('{"corpus":[]}', "missing field `idf` at line 1 column 13"),
    ('{"corpus":[],"idf":{},"dictionary":{},"num_docs":0}', "missing field `normalize` at line 1 column 51"),
    ('{"corpus":[],"corpus":[],"idf":{},"dictionary":{},"num_docs":0,"normalize":false}',
     "duplicate field `corpus` at line 1 column 21"),
    ('{"corpus":[],"idf":{"a":null},"dictionary":{},"num_docs":0,"normalize":false}',
     "invalid type: null, expected f64 at line 1 column 28"),
    ('{"corpus":[1],"idf":{},"dictionary":{},"num_docs":0,"normalize":false}',
     "invalid type: integer `1`, expected a string at line 1 column 12"),
    ('{"corpus":"ab","idf":{},"dictionary":{},"num_docs":0,"normalize":false}',
     'invalid type: string "ab", expected a sequence at line 1 column 14'),
    ('{"corpus":[],"idf":"ος\\u0085\\t","dictionary":{},"num_docs":0,"normalize":false}',
     'invalid type: string "ος\\u{85}\\t", expected a map at line 1 column 33'),
    ('{"corpus":[],"idf":[],"dictionary":{},"num_docs":0,"normalize":false}',
     "invalid type: sequence, expected a map at line 1 column 20"),
    ('{"corpus":[],"idf":{},"dictionary":{"a":[1,2,3]},"num_docs":0,"normalize":false}',
     "invalid length 3, expected an array of length 4 at line 1 column 47"),
    ('{"corpus":[],"idf":{},"dictionary":{"a":[1,2,3,-4]},"num_docs":0,"normalize":false}',
     "invalid value: integer `-4`, expected u64 at line 1 column 49"),
    ('{"corpus":[],"idf":{},"dictionary":{"a":[1,2,3,4.5]},"num_docs":0,"normalize":false}',
     "invalid type: floating point `4.5`, expected u64 at line 1 column 50"),
    ('{"corpus":[],"idf":{},"dictionary":{},"num_docs":-1,"normalize":false}',
     "invalid value: integer `-1`, expected usize at line 1 column 51"),
    ('{"corpus":[],"idf":{},"dictionary":{},"num_docs":0,"normalize":1}',
     "invalid type: integer `1`, expected a boolean at line 1 column 64"),
    ("[[],{},{}]", "invalid length 3, expected struct MmapMeta with 5 elements at line 1 column 10"),
    ("[[],{},{},0,false,1]", "trailing characters at line 1 column 19"),
    (META + " x", "trailing characters at line 1 column %d" % (len(META) + 2)),
    ("[[],{},{},0,false]\n\n  }", "trailing characters at line 3 column 3"),
]


class TestMetaRefusals:
    @pytest.mark.parametrize("text,message", REFUSALS)
    def test_messages(self, tmp_path, text, message):
        path = write(tmp_path, ["a b"])
        with open(os.path.join(path, "meta.json"), "w", encoding="utf-8") as f:
            f.write(text)
        with pytest.raises(OSError) as info:
            MmapBM25Index.load(path)
        assert type(info.value) is OSError
        assert str(info.value) == message

    def test_malformed_json(self, tmp_path):
        path = write(tmp_path, ["a b"])
        for text in ['{"corpus":[}', '{"corpus":["a\\q"]}', '{"corpus" []}', "{", b'{"corpus":["\xff"]}']:
            with open(os.path.join(path, "meta.json"), "wb") as f:
                f.write(text if isinstance(text, bytes) else text.encode())
            with pytest.raises(OSError) as info:
                MmapBM25Index.load(path)
            assert type(info.value) is OSError and str(info.value)

    def test_the_writer_form_loads(self, tmp_path):
        path = write(tmp_path, ["a b"], positions=False)
        with open(os.path.join(path, "postings.bin"), "rb") as f:
            (_, wa, _), (_, wb, _) = struct.iter_unpack("<IfI", f.read())
        with open(os.path.join(path, "meta.json"), "w", encoding="utf-8") as f:
            f.write(META)
        assert MmapBM25Index.load(path).get_scores("a b") == [0.0 + 0.5 * wa + 0.5 * wb]


class TestCorruptDirectories:
    def test_random_damage_never_crashes(self, tmp_path):
        # Flipped, dropped and inserted bytes in each file: load and queries either work or
        # raise OSError (at load) or ValueError (from a query), never anything worse.
        rng = random.Random(23)
        corpus = random_corpus(rng, 40)
        clean = write(tmp_path / "clean", corpus)
        originals = {}
        for name in ["meta.json", "postings.bin", "positions.bin"]:
            with open(os.path.join(clean, name), "rb") as f:
                originals[name] = f.read()
        for trial in range(300):
            path = str(tmp_path / "clean")
            name = rng.choice(list(originals))
            data = bytearray(originals[name])
            for _ in range(rng.randint(1, 4)):
                kind, at = rng.random(), rng.randrange(len(data) + 1)
                if kind < 0.4 and at < len(data):
                    data[at] = rng.randrange(256)
                elif kind < 0.7:
                    del data[at:at + rng.randint(1, 16)]
                else:
                    data[at:at] = bytes(rng.randrange(256) for _ in range(rng.randint(1, 8)))
            for other, content in originals.items():
                with open(os.path.join(path, other), "wb") as f:
                    f.write(bytes(data) if other == name else content)
            try:
                idx = MmapBM25Index.load(path)
            except OSError:
                continue
            for q in ["alpha beta", "x y 42", "café"]:
                try:
                    idx.get_scores(q)
                    idx.get_top_n_phrase(q, 3)
                    if idx.num_docs:
                        idx.explain(q, idx.num_docs - 1)
                        idx.get_document_vector(0)
                except ValueError:
                    pass

    def test_missing_files(self, tmp_path):
        path = write(tmp_path, ["a b"])
        os.remove(os.path.join(path, "positions.bin"))
        with pytest.raises(FileNotFoundError, match=r"^No such file or directory \(os error 2\)$"):
            MmapBM25Index.load(path)
        with pytest.raises(FileNotFoundError):
            MmapBM25Index.load(str(tmp_path / "nowhere"))
        os.remove(os.path.join(path, "meta.json"))
        os.mkdir(os.path.join(path, "meta.json"))
        with pytest.raises(OSError, match=r"^Is a directory \(os error 21\)$"):
            MmapBM25Index.load(path)

    def test_num_docs_differs_from_corpus(self, tmp_path):
        path = write(tmp_path, ["a b", "c"])
        edit_meta(path, lambda m: m.update(num_docs=5))
        with pytest.raises(OSError, match=r"^meta\.json: num_docs is 5 but the corpus holds 2 texts$"):
            MmapBM25Index.load(path)

    def test_truncated_postings_and_positions(self, tmp_path):
        path = write(tmp_path, ["a b c a", "b c"])
        with open(os.path.join(path, "postings.bin"), "r+b") as f:
            f.truncate(12 * 4 + 5)  # four whole records and a partial one
        with pytest.raises(OSError, match=r"^postings\.bin: the records of term '.' .* lie beyond the end"):
            MmapBM25Index.load(path)
        path = write(tmp_path / "p", ["a b c a", "b c"])
        with open(os.path.join(path, "positions.bin"), "r+b") as f:
            f.truncate(4 * 5)
        with pytest.raises(OSError, match=r"^positions\.bin: the positions of term"):
            MmapBM25Index.load(path)

    def test_ranges_that_overflow(self, tmp_path):
        path = write(tmp_path, ["a b"])
        for entry in ([2 ** 64 - 1, 2, 0, 0], [1, 2 ** 64 - 1, 0, 0], [0, 1, 2 ** 64 - 1, 1]):
            edit_meta(path, lambda m: m["dictionary"].update(a=entry))
            with pytest.raises(OSError, match=r"^(postings|positions)\.bin: "):
                MmapBM25Index.load(path)

    def test_trailing_partial_record_is_ignored(self, tmp_path):
        path = write(tmp_path, ["a b", "b"])
        before = MmapBM25Index.load(path).get_scores("a b")
        with open(os.path.join(path, "postings.bin"), "ab") as f:
            f.write(b"\x01\x02\x03")
        with open(os.path.join(path, "positions.bin"), "ab") as f:
            f.write(b"\x01")
        assert MmapBM25Index.load(path).get_scores("a b") == before

    def patch_record(self, path, index, doc=None, npos=None):
        with open(os.path.join(path, "postings.bin"), "r+b") as f:
            f.seek(12 * index)
            d, w, n = struct.unpack("<IfI", f.read(12))
            f.seek(12 * index)
            f.write(struct.pack("<IfI", d if doc is None else doc, w, n if npos is None else npos))

    def term_range(self, path, term):
        with open(os.path.join(path, "meta.json"), encoding="utf-8") as f:
            return json.load(f)["dictionary"][term]

    def test_document_beyond_the_corpus(self, tmp_path):
        path = write(tmp_path, ["a b", "b", "c"])
        off = self.term_range(path, "b")[0]
        self.patch_record(path, off + 1, doc=7)
        idx = MmapBM25Index.load(path)  # checked when a query reads the term
        assert idx.get_scores("c")[2] > 0
        for call in [lambda: idx.get_scores("b"), lambda: idx.get_top_n("c b"),
                     lambda: idx.explain("b", 0), lambda: idx.get_document_vector(0),
                     lambda: idx.get_top_n_phrase("b"), lambda: idx.get_top_n_rrf("b"),
                     lambda: idx.get_batch_scores(["c", "b"])]:
            with pytest.raises(ValueError, match=r"^postings\.bin: term 'b' has a record of document 7 "
                                                 r"but the index holds 3 documents$"):
                call()
        assert idx.get_scores("c")[2] > 0

    def test_records_out_of_order(self, tmp_path):
        path = write(tmp_path, ["a b", "b", "c"])
        off = self.term_range(path, "b")[0]
        self.patch_record(path, off, doc=1)
        idx = MmapBM25Index.load(path)
        with pytest.raises(ValueError, match=r"^postings\.bin: the records of term 'b' are not in increasing"):
            idx.get_scores("b")

    def test_position_counts_disagree(self, tmp_path):
        path = write(tmp_path, ["a b b", "b", "c"])
        off = self.term_range(path, "b")[0]
        self.patch_record(path, off, npos=9)
        idx = MmapBM25Index.load(path)
        with pytest.raises(ValueError, match=r"^positions\.bin: the records of term 'b' count 10 positions "
                                             r"but the dictionary gives 3$"):
            idx.get_top_n_phrase("a b")


class TestLarge:
    def test_many_documents_and_batches(self, tmp_path):
        rng = random.Random(17)
        vocab = ["w%d" % i for i in range(500)]
        corpus = random_corpus(rng, 20000, vocab, 12)
        path = write(tmp_path, corpus, "bm25l", positions=False)
        idx, model = MmapBM25Index.load(path), MappedModel(path)
        queries = [random_query(rng, vocab) for _ in range(40)]
        batch = idx.get_batch_scores(queries)
        for q, got in zip(queries, batch):
            want = model.scores(q)
            assert bits(got) == bits(want)
            for n in [1, 10]:
                ranked = select_top_n(want, n)
                assert idx.get_top_n(q, n) == [(corpus[i], s) for i, s in ranked]
