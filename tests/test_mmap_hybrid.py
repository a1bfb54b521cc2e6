"""MmapHybridSearchIndex: directories written by save_mmap_hybrid opened again; the fused
search against a model reading the files (cosines with the 2^-23 norm floor); the dimension
file, missing and short embedding files; metadata; the class surface."""
import os
import random
import struct

import pytest

from _tarnwick import HybridSearchIndex, MmapHybridSearchIndex, save_mmap_bm25, save_mmap_hybrid
from search_models import F32_EPSILON, MappedModel, f32, fused

VOCAB = ["apple", "apply", "banana", "band", "cherry", "café", "naïve", "x"]


def random_corpus(rng, n):
    return [" ".join(rng.choice(VOCAB) for _ in range(rng.randint(0, 6))) for _ in range(n)]


def random_rows(rng, n, dim):
    return [[rng.uniform(-1, 1) for _ in range(dim)] for _ in range(n)]


def rounded(rows):
    return [[f32(x) for x in row] for row in rows]


def write(path, corpus, rows=None, algorithm="bm25"):
    save_mmap_hybrid(str(path), corpus, 1.5, 0.75, False, algorithm, None, rows, True)
    return str(path)


class TestSearch:
    @pytest.mark.parametrize("algorithm", ["bm25", "bm25l", "bm25plus", "bm25t"])
    def test_equals_model(self, tmp_path, algorithm):
        rng = random.Random(algorithm)
        for trial in range(5):
            size, dim = rng.choice([1, 8, 40, 300]), rng.choice([1, 3, 16])
            corpus, rows = random_corpus(rng, size), random_rows(rng, size, dim)
            path = write(tmp_path / str(trial), corpus, rows, algorithm)
            idx, model = MmapHybridSearchIndex.load(path), MappedModel(path)
            assert (idx.num_docs, idx.has_vectors) == (size, True)
            for _ in range(10):
                q = " ".join(rng.choice(VOCAB + ["zzz"]) for _ in range(rng.randint(0, 3)))
                e = [rng.uniform(-1, 1) for _ in range(dim)]
                n, rrf_k, cands = rng.choice([1, 5, 50]), rng.choice([0, 60]), rng.choice([1, 100])
                mask = [rng.random() < 0.8 for _ in range(rng.randint(0, size + 1))]
                want = fused(model, q, n, rrf_k, cands, None, rounded(rows), [f32(x) for x in e], floor=True)
                assert idx.search(q, e, n, rrf_k, cands) == want
                want = fused(model, q, n, rrf_k, cands, mask, rounded(rows), [f32(x) for x in e], floor=True)
                assert idx.search_filtered(q, e, n, rrf_k, cands, mask) == want
                assert idx.search(q, None, n) == fused(model, q, n)

    def test_pool_of_many_candidates(self, tmp_path):
        # More than 2000 candidates: the fuzzy channel on the pool, the dense one not.
        rng = random.Random(3)
        corpus, rows = random_corpus(rng, 3000), random_rows(rng, 3000, 4)
        path = write(tmp_path, corpus, rows)
        idx, model = MmapHybridSearchIndex.load(path), MappedModel(path)
        e = [0.5, -0.25, 1.0, 0.0]
        want = fused(model, "zzz", 10, 60, 100, None, rounded(rows), e, floor=True)
        assert idx.search("zzz", e, 10) == want

    def test_same_as_in_memory_where_they_agree(self, tmp_path):
        # Two channels: both rank the same BM25 hits and fuzzy scores whenever the ranks
        # agree; unit rows make the norms exact, so the dense channel agrees too.
        corpus = ["red apple", "green apple", "banana", "cherry red"]
        rows = [[1.0, 0.0], [0.0, 1.0], [1.0, 0.0], [0.0, 1.0]]
        idx = MmapHybridSearchIndex.load(write(tmp_path, corpus, rows))
        twin = HybridSearchIndex(corpus, rows)
        for q in ["apple", "red", "zzz", ""]:
            assert [t for t, _ in idx.search(q, [1.0, 0.0])] == [t for t, _ in twin.search(q, [1.0, 0.0])]

    def test_norm_floor_is_the_twin_difference(self, tmp_path):
        # A row whose norm is below 2^-23: the in-memory index divides by the norm itself
        # (cosine 1.0), the mapped one by 2^-23 (cosine about 1e-13).
        corpus, rows = ["a", "b"], [[1e-20, 0.0], [0.6, 0.8]]
        idx = MmapHybridSearchIndex.load(write(tmp_path, corpus, rows))
        twin = HybridSearchIndex(corpus, rows)
        q = [1.0, 0.0]
        assert twin.search("zzz", q) == [("a", 2 * (1 / 61)), ("b", 2 * (1 / 62))]
        assert idx.search("zzz", q) == [("a", 1 / 61 + 1 / 62), ("b", 1 / 62 + 1 / 61)]

    def test_zero_vectors_use_the_norm_floor(self, tmp_path):
        corpus = ["a", "b", "c"]
        rows = [[0.0, 0.0], [3.0, 4.0], [1e-30, 0.0]]
        path = write(tmp_path, corpus, rows)
        idx, model = MmapHybridSearchIndex.load(path), MappedModel(path)
        for e in ([0.0, 0.0], [1.0, 0.0], [1e-30, 0.0]):
            assert idx.search("zzz", e, 3) == fused(model, "zzz", 3, 60, 100, None, rounded(rows), e, floor=True)
        # With all-zero query every cosine is 0.0: the order is the fuzzy one alone.
        twin = fused(model, "zzz", 3)
        assert [t for t, _ in idx.search("zzz", [0.0, 0.0], 3)] == [t for t, _ in twin]
        assert F32_EPSILON == 1.1920928955078125e-07


class TestDirectories:
    def test_without_embeddings(self, tmp_path):
        corpus = ["a b", "b c"]
        save_mmap_bm25(str(tmp_path), corpus, 1.5, 0.75, False)
        idx = MmapHybridSearchIndex.load(str(tmp_path))
        assert (idx.num_docs, idx.has_vectors) == (2, False)
        assert idx.search("b", [1.0, 2.0, 3.0]) == idx.search("b") == fused(MappedModel(str(tmp_path)), "b")

    def test_empty_embeddings(self, tmp_path):
        path = write(tmp_path, ["a", "b"], [])
        idx = MmapHybridSearchIndex.load(path)
        assert (idx.num_docs, idx.has_vectors) == (2, True)
        # Every cosine is 0 / floor^2 = 0.0, and the dense channel still ranks.
        assert idx.search("a", []) == fused(MappedModel(path), "a", 5, 60, 100, None, [[], []], [], floor=True)
        with pytest.raises(ValueError, match=r"^query_embedding dim mismatch$"):
            idx.search("a", [1.0])

    def test_dimension_file(self, tmp_path):
        rows = [[float(i + j) for j in range(384)] for i in range(2)]
        path = write(tmp_path, ["a", "b"], rows)
        for text, dim in [(b"384\n", 384), (b"+384", 384), (b" \t384\xe2\x80\x83\r\n", 384),
                          (b"", 0), (b"-384", 0), (b"3.0", 0), (b"abc", 0), (b"+", 0), (b"++3", 0),
                          (b"18446744073709551616", 0), (b"0384", 384)]:
            with open(os.path.join(path, "emb_dim.txt"), "wb") as f:
                f.write(text)
            idx = MmapHybridSearchIndex.load(path)
            assert idx.has_vectors
            query = [1.0] * dim
            idx.search("a", query)
            if dim != 1:
                with pytest.raises(ValueError, match=r"^query_embedding dim mismatch$"):
                    idx.search("a", [1.0])

    def test_dimension_zero_passes_only_the_empty_embedding(self, tmp_path):
        path = write(tmp_path, ["a", "b"], [[1.0, 2.0], [3.0, 4.0]])
        with open(os.path.join(path, "emb_dim.txt"), "w") as f:
            f.write("not a number")
        idx = MmapHybridSearchIndex.load(path)
        model = MappedModel(path)
        assert idx.search("zzz", [], 2) == fused(model, "zzz", 2, 60, 100, None, [[], []], [], floor=True)
        with pytest.raises(ValueError):
            idx.search("zzz", [1.0, 2.0])

    def test_dimension_file_errors(self, tmp_path):
        path = write(tmp_path, ["a"], [[1.0]])
        with open(os.path.join(path, "emb_dim.txt"), "wb") as f:
            f.write(b"\xff1")
        with pytest.raises(OSError, match=r"^stream did not contain valid UTF-8$"):
            MmapHybridSearchIndex.load(path)
        os.remove(os.path.join(path, "emb_dim.txt"))
        with pytest.raises(FileNotFoundError, match=r"^No such file or directory \(os error 2\)$"):
            MmapHybridSearchIndex.load(path)

    def test_short_embeddings_refused_at_load(self, tmp_path):
        path = write(tmp_path, ["a", "b", "c"], [[1.0, 2.0]] * 3)
        with open(os.path.join(path, "embeddings.bin"), "r+b") as f:
            f.truncate(4 * 5)
        with pytest.raises(OSError, match=r"^embeddings\.bin: 5 floats, fewer than 3 documents of 2 "
                                          r"dimensions need$"):
            MmapHybridSearchIndex.load(path)
        with open(os.path.join(path, "emb_dim.txt"), "w") as f:
            f.write(str(2 ** 63))
        with pytest.raises(OSError, match=r"^embeddings\.bin: "):
            MmapHybridSearchIndex.load(path)
        with open(os.path.join(path, "emb_dim.txt"), "w") as f:
            f.write("1")
        assert MmapHybridSearchIndex.load(path).search("a", [1.0], 1)[0][0] == "a"

    def test_bm25_part_errors(self, tmp_path):
        path = write(tmp_path, ["a b", "b"], [[1.0], [2.0]])
        with open(os.path.join(path, "postings.bin"), "r+b") as f:
            d, w, n = struct.unpack("<IfI", f.read(12))
            f.seek(0)
            f.write(struct.pack("<IfI", 99, w, n))
        idx = MmapHybridSearchIndex.load(path)
        with pytest.raises(ValueError, match=r"^postings\.bin: term 'a' has a record of document 99"):
            idx.search("a", [1.0])
        os.remove(os.path.join(path, "postings.bin"))
        with pytest.raises(FileNotFoundError):
            MmapHybridSearchIndex.load(path)

    def test_rewritten_directory_keeps_old_answers(self, tmp_path):
        path = write(tmp_path, ["alpha beta"] * 20, [[1.0, 0.0]] * 20)
        old = MmapHybridSearchIndex.load(path)
        before = old.search("alpha", [1.0, 0.0], 3)
        write(tmp_path, ["gamma"], [[0.0, 1.0, 2.0]])
        assert old.search("alpha", [1.0, 0.0], 3) == before
        assert MmapHybridSearchIndex.load(path).search("alpha", [1.0, 0.0, 0.0], 3) == [("gamma", 2 / 61)]


class TestMetadataAndClass:
    def test_set_metadata_json(self, tmp_path):
        idx = MmapHybridSearchIndex.load(write(tmp_path, ["a", "b"], [[1.0], [2.0]]))
        assert idx.set_metadata_json(['{"x": 1}', "[1, 2]"]) is None
        with pytest.raises(ValueError, match=r"^length mismatch$"):
            idx.set_metadata_json(["{}"])
        with pytest.raises(ValueError) as info:
            idx.set_metadata_json(["{}", "{"])
        assert not str(info.value).startswith("Failed") and "line 1" in str(info.value)
        idx.set_metadata_json(["null", '"text"'])
        assert idx.search("a", [1.0], 1)[0][0] == "a"
        with pytest.raises(TypeError, match="argument 'json_strings'"):
            idx.set_metadata_json("{}")

    def test_class_surface(self, tmp_path):
        with pytest.raises(TypeError, match=r"^No constructor defined for MmapHybridSearchIndex$"):
            MmapHybridSearchIndex()
        assert MmapHybridSearchIndex.__doc__ is None
        assert MmapHybridSearchIndex.load.__text_signature__ == "(path)"
        assert MmapHybridSearchIndex.search.__text_signature__ == (
            "($self, query, query_embedding=None, n=5, rrf_k=60, bm25_candidates=100)")
        assert MmapHybridSearchIndex.search_filtered.__text_signature__ == (
            "($self, query, query_embedding=None, n=5, rrf_k=60, bm25_candidates=100, allowed=None)")
        assert MmapHybridSearchIndex.set_metadata_json.__text_signature__ == "($self, json_strings)"
        for name in ["search", "search_filtered", "set_metadata_json"]:
            assert getattr(MmapHybridSearchIndex, name).__doc__ is None
        for name in ["dim", "has_metadata", "evaluate_filter_mask", "search_filtered_sorted"]:
            assert not hasattr(MmapHybridSearchIndex, name)
        idx = MmapHybridSearchIndex.load(write(tmp_path, ["a"], [[1.0]]))
        with pytest.raises(AttributeError):
            idx.has_vectors = False

    def test_argument_errors(self, tmp_path):
        idx = MmapHybridSearchIndex.load(write(tmp_path, ["a", "b"], [[1.0], [2.0]]))
        with pytest.raises(TypeError, match="argument 'query_embedding'"):
            idx.search("a", "ab")
        with pytest.raises(OverflowError):
            idx.search("a", None, -1)
        with pytest.raises(TypeError, match="argument 'allowed'"):
            idx.search_filtered("a", None, 5, 60, 100, [1])
        with pytest.raises(TypeError, match="argument 'path'"):
            MmapHybridSearchIndex.load(None)
        with pytest.raises(ValueError, match=r"^embedded null byte$"):
            MmapHybridSearchIndex.load(str(tmp_path) + "\0")
