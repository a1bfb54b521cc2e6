"""save_mmap_bm25 and save_mmap_hybrid: the index directory read back byte for byte with
struct and json, against a plain model of the formulas."""
import json
import math
import os
import random
import stat
import struct
import sys

import pytest

from _tarnwick import BM25Index, save_mmap_bm25, save_mmap_hybrid
from search_models import (Bm25Model, f32, json_number, json_text, read_index_dir, read_meta,
                           split_words, terms_with_positions)

ALGORITHMS = [
    # (algorithm name, model variant, delta the model uses when None is given)
    ("bm25", "okapi", 0.5),
    ("bm25l", "l", 0.5),
    ("bm25+", "plus", 1.0),
    ("bm25plus", "plus", 1.0),
    ("bm25t", "t", 0.5),
    ("BM25L", "okapi", 0.5),
    ("anything", "okapi", 0.5),
]

VOCAB = ["alpha", "Beta", "gamma", "delta", "café", "ΟΔΟΣ", "straße", "x²", "42", "日本", "a"]


def random_corpus(rng, n):
    seps = [" ", ", ", "-", "\n", "\u00a0", "\"", "\\", "\x01", "\t"]
    return ["".join(rng.choice(VOCAB) + rng.choice(seps) for _ in range(rng.randint(0, 8)))
            for _ in range(n)]


def check_against_model(path, corpus, model, include_positions, normalize=False):
    """Every file of the directory against the model's idf and weights."""
    meta, postings, positions = read_index_dir(path)
    assert meta["corpus"] == corpus
    assert meta["num_docs"] == len(corpus)
    assert meta["normalize"] is normalize
    assert set(meta["idf"]) == set(meta["dictionary"]) == set(model.idf)
    assert sum(c for _, c, _, _ in meta["dictionary"].values()) == len(postings)
    assert sum(c for _, _, _, c in meta["dictionary"].values()) == len(positions)
    covered_records, covered_positions = set(), set()
    for term, (p_off, p_cnt, q_off, q_cnt) in meta["dictionary"].items():
        idf = model.idf[term]
        assert meta["idf"][term] == idf or (idf != idf and meta["idf"][term] is None)
        run = postings[p_off:p_off + p_cnt]
        assert len(run) == p_cnt
        holders = [d for d, toks in enumerate(model.tokens) if term in toks]
        assert [r[0] for r in run] == holders
        at = q_off
        for doc, weight, npos in run:
            want = f32(model.w[doc][term])
            assert weight == want or (weight != weight and want != want), (term, doc)
            pos = terms_with_positions(model.tokens[doc])[term]
            if include_positions:
                assert npos == len(pos)
                assert positions[at:at + npos] == pos
            else:
                assert npos == 0
            at += npos
        assert at == q_off + q_cnt
        covered_records.update(range(p_off, p_off + p_cnt))
        covered_positions.update(range(q_off, q_off + q_cnt))
    # The runs of the terms partition both files.
    assert covered_records == set(range(len(postings)))
    assert covered_positions == set(range(len(positions)))
    return meta


class TestAgainstModel:
    @pytest.mark.parametrize("algorithm,variant,default_delta", ALGORITHMS)
    def test_random_corpora(self, tmp_path, algorithm, variant, default_delta):
        rng = random.Random(hash(algorithm) & 0xFFFF)
        for trial in range(25):
            corpus = random_corpus(rng, rng.randint(0, 25))
            k1 = rng.choice([1.5, 1.2, 1.0, 0.0, 2.0, -1.0])
            b = rng.choice([0.75, 0.0, 1.0, 0.3])
            delta = rng.choice([None, 0.5, 1.0, 0.0, -0.25])
            positions = rng.random() < 0.5
            path = str(tmp_path / str(trial))
            save_mmap_bm25(path, iter(corpus), k1, b, False, algorithm, delta, positions)
            used = delta if delta is not None and variant in ("l", "plus") else default_delta
            model = Bm25Model(corpus, variant, k1, b, used if variant in ("l", "plus") else 0.5)
            check_against_model(path, corpus, model, positions)

    def test_same_idf_and_weights_as_in_memory_normalising(self, tmp_path):
        corpus = ["Ελληνικά κείμενα", "Café au lait, CAFÉ noir", "ﬁne ① Straße", "", "日本語のテキスト"]
        save_mmap_bm25(str(tmp_path), corpus, 1.5, 0.75, True, include_positions=True)
        meta, postings, _ = read_index_dir(str(tmp_path))
        idx = BM25Index(corpus, normalize=True)
        assert meta["normalize"] is True
        assert meta["idf"] == idx.get_idf_map()
        for d in range(len(corpus)):
            vector = idx.get_document_vector(d)
            stored = {t: postings[off + i][1]
                      for t, (off, cnt, _, _) in meta["dictionary"].items()
                      for i in range(cnt) if postings[off + i][0] == d}
            assert stored == {t: f32(w) for t, w in vector.items()}

    def test_hybrid_writes_the_same_index(self, tmp_path):
        corpus = ["red fox", "red red hen", "blue"]
        save_mmap_bm25(str(tmp_path / "a"), corpus, 1.2, 0.5, False, "bm25l", 0.25, True)
        save_mmap_hybrid(str(tmp_path / "b"), corpus, 1.2, 0.5, False, "bm25l", 0.25, None, True)
        for name in ["meta.json", "postings.bin", "positions.bin"]:
            assert (tmp_path / "a" / name).read_bytes() == (tmp_path / "b" / name).read_bytes()
        assert sorted(os.listdir(tmp_path / "b")) == ["meta.json", "positions.bin", "postings.bin"]


class TestMetaJsonBytes:
    def test_layout_equals_model_serialisation(self, tmp_path):
        corpus = ["quote \" backslash \\ controls \b\f\n\r\t\x00\x01\x1f del \x7f",
                  "non-ASCII: é 日本 \U0001F600 \u2028", "a b a", "", "   "]
        save_mmap_bm25(str(tmp_path), corpus, 1.5, 0.75, False, include_positions=True)
        raw, pairs = read_meta(str(tmp_path))
        assert [k for k, _ in pairs] == ["corpus", "idf", "dictionary", "num_docs", "normalize"]
        assert raw.decode("utf-8") == json_text(pairs)
        assert b"\\u0000\\u0001\\u001f" in raw and b"\x7f" in raw and "😀".encode() in raw

    def test_example_shape(self, tmp_path):
        save_mmap_bm25(str(tmp_path), ["a b a"], 1.5, 0.75, False)
        raw, _ = read_meta(str(tmp_path))
        model = Bm25Model(["a b a"])
        a, b = json_number(model.idf["a"]), json_number(model.idf["b"])
        assert raw.decode() in (
            '{"corpus":["a b a"],"idf":{"a":%s,"b":%s},"dictionary":{"a":[0,1,0,0],"b":[1,1,0,0]},'
            '"num_docs":1,"normalize":false}' % (a, b),
            '{"corpus":["a b a"],"idf":{"b":%s,"a":%s},"dictionary":{"b":[0,1,0,0],"a":[1,1,0,0]},'
            '"num_docs":1,"normalize":false}' % (b, a))

    def test_number_layouts(self, tmp_path):
        # A term in every document has idf about 0.5 / N: "0.0000..." from N = 20000 on and
        # an exponent below 1e-5.
        for n, layout in [(20000, "0.0000"), (300000, "e-6")]:
            path = str(tmp_path / str(n))
            save_mmap_bm25(path, ["w"] * n, 1.5, 0.75, False)
            raw, pairs = read_meta(path)
            text = raw.decode()
            idf = dict(pairs)["idf"][0][1]
            assert idf == math.log(0.5 / (n + 0.5) + 1)
            assert '"w":' + json_number(idf) + "}" in text and layout in json_number(idf)

    def test_number_model_on_hand_worked_values(self):
        cases = {1.0: "1.0", 0.1: "0.1", 1e16: "1e16", 1.5e-7: "1.5e-7",
                 1.2345678901234568e20: "1.2345678901234568e20", 1e15: "1000000000000000.0",
                 1e-5: "0.00001", 1e-6: "1e-6", 12.5: "12.5", -0.0: "-0.0", 5e-324: "5e-324",
                 123.0: "123.0", math.inf: "null", math.nan: "null"}
        for value, text in cases.items():
            assert json_number(value) == text

    def test_empty_corpus(self, tmp_path):
        save_mmap_bm25(str(tmp_path), [], 1.5, 0.75, True)
        raw, _ = read_meta(str(tmp_path))
        assert raw == b'{"corpus":[],"idf":{},"dictionary":{},"num_docs":0,"normalize":true}'
        assert (tmp_path / "postings.bin").read_bytes() == b""
        assert (tmp_path / "positions.bin").read_bytes() == b""


class TestEdgeCases:
    def test_documents_without_terms_keep_their_numbers(self, tmp_path):
        save_mmap_bm25(str(tmp_path), ["", "-- !!", "x"], 1.5, 0.75, False)
        meta, postings, _ = read_index_dir(str(tmp_path))
        assert meta["corpus"] == ["", "-- !!", "x"] and meta["num_docs"] == 3
        assert [p[0] for p in postings] == [2]

    def test_repeated_terms(self, tmp_path):
        save_mmap_bm25(str(tmp_path), ["a b a"], 1.5, 0.75, False, include_positions=True)
        meta, postings, positions = read_index_dir(str(tmp_path))
        off, cnt, poff, pcnt = meta["dictionary"]["a"]
        assert cnt == 1 and postings[off][2] == 2 and pcnt == 2
        assert positions[poff:poff + 2] == [0, 2]
        save_mmap_bm25(str(tmp_path), ["a b a"], 1.5, 0.75, False)
        meta, postings, positions = read_index_dir(str(tmp_path))
        assert positions == [] and all(p[2] == 0 for p in postings)
        assert all(e[2] == 0 and e[3] == 0 for e in meta["dictionary"].values())

    def test_algorithm_names_are_exact(self, tmp_path):
        corpus = ["a b", "a", "c"]
        for name in ["BM25L", "bm25L", "bm25 ", "bm25plus!", ""]:
            save_mmap_bm25(str(tmp_path / "x"), corpus, 1.5, 0.75, False, name, 9.0)
            save_mmap_bm25(str(tmp_path / "y"), corpus, 1.5, 0.75, False)
            for f in ["meta.json", "postings.bin"]:
                assert (tmp_path / "x" / f).read_bytes() == (tmp_path / "y" / f).read_bytes()

    def test_embedding_files(self, tmp_path):
        save_mmap_hybrid(str(tmp_path / "e"), ["a"], 1.5, 0.75, False, embeddings=[])
        assert (tmp_path / "e" / "embeddings.bin").read_bytes() == b""
        assert (tmp_path / "e" / "emb_dim.txt").read_bytes() == b"0"
        rows = [[1.0, 0.1, -2.5], [1e40, 3]]
        save_mmap_hybrid(str(tmp_path / "f"), ["a", "b"], 1.5, 0.75, False, embeddings=rows)
        data = (tmp_path / "f" / "embeddings.bin").read_bytes()
        assert struct.unpack("<5f", data) == (1.0, f32(0.1), -2.5, math.inf, 3.0)
        assert (tmp_path / "f" / "emb_dim.txt").read_bytes() == b"3"
        save_mmap_hybrid(str(tmp_path / "g"), ["a"], 1.5, 0.75, False, embeddings=())
        assert (tmp_path / "g" / "emb_dim.txt").read_bytes() == b"0"

    def test_rewrite_replaces_files_and_leaves_others(self, tmp_path):
        path = str(tmp_path)
        save_mmap_hybrid(path, ["a b c d e f"] * 5, 1.5, 0.75, False, embeddings=[[1.0]] * 5,
                         include_positions=True)
        save_mmap_bm25(path, ["z"], 1.5, 0.75, False)
        meta, postings, positions = read_index_dir(path)
        assert meta["corpus"] == ["z"] and len(postings) == 1 and positions == []
        # save_mmap_bm25 leaves the embedding files of an earlier hybrid write in place.
        assert (tmp_path / "emb_dim.txt").read_bytes() == b"1"
        assert len((tmp_path / "embeddings.bin").read_bytes()) == 20
        assert sorted(os.listdir(path)) == ["emb_dim.txt", "embeddings.bin", "meta.json",
                                            "positions.bin", "postings.bin"]

    def test_creates_parents_and_accepts_trailing_slash(self, tmp_path):
        path = str(tmp_path / "a" / "b" / "c") + "/"
        save_mmap_bm25(path, ["x"], 1.5, 0.75, False)
        assert read_index_dir(path)[0]["corpus"] == ["x"]
        save_mmap_bm25(path, ["y"], 1.5, 0.75, False)  # an existing directory is fine
        assert read_index_dir(path)[0]["corpus"] == ["y"]

    def test_file_modes_follow_the_umask(self, tmp_path):
        old = os.umask(0o027)
        try:
            save_mmap_hybrid(str(tmp_path / "d"), ["x"], 1.5, 0.75, False, embeddings=[[1.0]])
        finally:
            os.umask(old)
        assert stat.S_IMODE(os.stat(tmp_path / "d").st_mode) == 0o750
        for name in os.listdir(tmp_path / "d"):
            assert stat.S_IMODE(os.stat(tmp_path / "d" / name).st_mode) == 0o640

    def test_any_iterable(self, tmp_path):
        for corpus in [("a", "b"), {"a": 1, "b": 2}, (t for t in ["a", "b"]), map(str.lower, ["A", "B"])]:
            save_mmap_bm25(str(tmp_path), corpus, 1.5, 0.75, False)
            assert read_index_dir(str(tmp_path))[0]["corpus"] == ["a", "b"]


class Doc:
    def __init__(self, page_content):
        self.page_content = page_content


class Printable:
    def __str__(self):
        return "printed Form"


class Unprintable:
    def __str__(self):
        raise ValueError("no")


class Raises:
    """str() raises the given exception."""

    def __init__(self, exc):
        self.exc = exc

    def __str__(self):
        raise self.exc


class BadContent:
    def __init__(self, exc):
        self.exc = exc

    @property
    def page_content(self):
        raise self.exc


class TestItemTexts:
    def test_text_choice(self, tmp_path):
        class S(str):
            pass

        items = [S("Sub Class"), Doc("page text"), Doc(42), Doc("bad \ud800"), Printable(), 7,
                 None, "lone \udc00 and \ud83d", b"raw"]
        seen = []
        old_hook = sys.unraisablehook
        sys.unraisablehook = seen.append
        try:
            save_mmap_bm25(str(tmp_path), items + [Unprintable()], 1.5, 0.75, False)
        finally:
            sys.unraisablehook = old_hook
        meta, _, _ = read_index_dir(str(tmp_path))
        assert meta["corpus"] == ["Sub Class", "page text", "", "", "printed Form", "7", "None",
                                  "lone \ufffd and \ufffd", "b'raw'", "<unprintable Unprintable object>"]
        assert len(seen) == 1 and isinstance(seen[0].exc_value, ValueError)
        assert set(meta["idf"]) == {"sub", "class", "page", "text", "printed", "form", "7", "none",
                                    "lone", "and", "b", "raw", "unprintable", "object"}

    @pytest.mark.parametrize("exc", [KeyboardInterrupt, SystemExit, MemoryError])
    def test_fatal_exceptions_propagate_and_nothing_is_written(self, tmp_path, exc):
        for item in [Raises(exc()), BadContent(exc())]:
            path = tmp_path / "x"
            with pytest.raises(exc):
                save_mmap_bm25(str(path), ["a", item, "b"], 1.5, 0.75, False)
            assert not path.exists()

    def test_other_exceptions_are_cleared(self, tmp_path):
        # A failing page_content falls back to str(); nothing is reported for it.
        save_mmap_bm25(str(tmp_path), [BadContent(RuntimeError("x"))], 1.5, 0.75, False)
        assert read_index_dir(str(tmp_path))[0]["corpus"][0].startswith("<")

    def test_iterator_exception_propagates(self, tmp_path):
        def gen():
            yield "a"
            raise LookupError("stop here")

        with pytest.raises(LookupError, match="stop here"):
            save_mmap_bm25(str(tmp_path / "x"), gen(), 1.5, 0.75, False)
        assert not (tmp_path / "x").exists()


class TestArguments:
    def test_signatures(self):
        assert save_mmap_bm25.__text_signature__ == (
            '(path, corpus_iter, k1, b, normalize, algorithm="bm25", delta=None, '
            'include_positions=False)')
        assert save_mmap_hybrid.__text_signature__ == (
            '(path, corpus_iter, k1, b, normalize, algorithm="bm25", delta=None, embeddings=None, '
            'include_positions=False)')

    def test_keywords(self, tmp_path):
        save_mmap_hybrid(path=str(tmp_path), corpus_iter=["a"], k1=1, b=0, normalize=False,
                         algorithm="bm25t", delta=None, embeddings=[[1]], include_positions=True)
        assert read_index_dir(str(tmp_path))[0]["corpus"] == ["a"]

    @pytest.mark.parametrize("args,kwargs,name", [
        ((1, ["a"], 1.5, 0.75, False), {}, "path"),
        (("p", ["a"], "x", 0.75, False), {}, "k1"),
        (("p", ["a"], 1.5, None, False), {}, "b"),
        (("p", ["a"], 1.5, 0.75, 1), {}, "normalize"),
        (("p", ["a"], 1.5, 0.75, False, 5), {}, "algorithm"),
        (("p", ["a"], 1.5, 0.75, False, "bm25", "x"), {}, "delta"),
        (("p", ["a"], 1.5, 0.75, False), {"include_positions": 0}, "include_positions"),
    ])
    def test_type_errors_name_the_argument(self, tmp_path, args, kwargs, name):
        for fn in (save_mmap_bm25, save_mmap_hybrid):
            with pytest.raises(TypeError, match="argument '%s'" % name):
                fn(*args, **kwargs)
        assert not os.path.exists("p")

    def test_embedding_errors(self, tmp_path):
        for bad in ["abc", [["x"]], [1.0], 5]:
            with pytest.raises(TypeError, match="argument 'embeddings'"):
                save_mmap_hybrid(str(tmp_path / "x"), ["a"], 1.5, 0.75, False, embeddings=bad)
        assert not (tmp_path / "x").exists()

    def test_corpus_must_be_iterable(self, tmp_path):
        with pytest.raises(TypeError, match="not iterable"):
            save_mmap_bm25(str(tmp_path), 5, 1.5, 0.75, False)


class TestFileSystemErrors:
    def test_path_through_a_file(self, tmp_path):
        (tmp_path / "f").write_bytes(b"")
        with pytest.raises(OSError) as info:
            save_mmap_bm25(str(tmp_path / "f" / "x"), ["a"], 1.5, 0.75, False)
        assert type(info.value) is OSError
        assert str(info.value) == "Not a directory (os error 20)"
        with pytest.raises(FileExistsError, match=r"^File exists \(os error 17\)$"):
            save_mmap_bm25(str(tmp_path / "f"), ["a"], 1.5, 0.75, False)

    @pytest.mark.skipif(os.geteuid() == 0, reason="permission bits do not bind root")
    def test_unwritable_directory(self, tmp_path):
        os.chmod(tmp_path, 0o500)
        try:
            with pytest.raises(PermissionError, match=r"\(os error 13\)"):
                save_mmap_bm25(str(tmp_path), ["a"], 1.5, 0.75, False)
        finally:
            os.chmod(tmp_path, 0o700)

    def test_failed_write_leaves_old_files_and_no_temporaries(self, tmp_path):
        path = str(tmp_path)
        save_mmap_bm25(path, ["old text"], 1.5, 0.75, False)
        before = {n: (tmp_path / n).read_bytes() for n in os.listdir(path)}
        # A directory named "meta.json" makes the first rename fail.
        os.rename(tmp_path / "meta.json", tmp_path / "keep")
        os.mkdir(tmp_path / "meta.json")
        with pytest.raises(OSError, match=r"^Is a directory \(os error 21\)$") as info:
            save_mmap_bm25(path, ["new text"], 1.5, 0.75, False)
        assert type(info.value) is OSError
        os.rmdir(tmp_path / "meta.json")
        os.rename(tmp_path / "keep", tmp_path / "meta.json")
        assert {n: (tmp_path / n).read_bytes() for n in os.listdir(path)} == before
