"""numpy arrays, pathlib paths and every class of the package in one type-checked program
(mypy --strict passes it): a reference for what the stubs accept.

    python3 examples/typed_usage.py [scratch_directory]
"""
import pathlib
import sys
import tempfile

import numpy as np

import tarnwick


def main(out: pathlib.Path) -> None:
    rows = np.eye(3, dtype=np.float32)
    mask = np.array([True, False, True])
    texts = np.array(["apple pie", "banana bread", "apple tart"])

    # Result records of the edit-distance functions.
    ops: tarnwick.Editops = tarnwick.levenshtein_editops("kitten", "sitting")
    first: tarnwick.Editop = ops[0]
    tag: str = first[0]
    codes: tarnwick.Opcodes = ops.as_opcodes()
    code: tarnwick.Opcode = codes[0]
    blocks: list[tarnwick.MatchingBlock] = codes.as_matching_blocks()
    where = tarnwick.fuzz_partial_ratio_alignment("apple", "an apple pie")
    assert where is None or isinstance(where, tarnwick.ScoreAlignment)
    print(tag, code.tag, len(blocks), where)

    # Batch matching over numpy arrays; a distance ranks the closest first.
    print(tarnwick.extract("apple", texts, scorer=tarnwick.levenshtein_distance, limit=2))
    scores, n, m = tarnwick.cdist(np.array(["apple"]), texts)
    kept: list[str] = tarnwick.BKTree().dedupe(["apple", "appel", "apple"], 2)
    print(scores, n, m, kept)

    # The four BM25 variants, with numpy masks of allowed documents.
    for variant in (tarnwick.BM25Index(texts), tarnwick.BM25L(texts), tarnwick.BM25Plus(texts),
                    tarnwick.BM25T(texts)):
        print(type(variant).__name__, variant.get_top_n_filtered("apple", 2, mask))

    # Hybrid search with numpy embeddings; the filter mask of a numpy array.
    hybrid = tarnwick.HybridSearchIndex(texts, rows)
    print(hybrid.search_filtered("apple", rows[0], allowed=mask))
    print(tarnwick.cosine_similarity_matrix(rows, np.ones((2, 3))))

    # Index directories under pathlib paths.
    tarnwick.save_mmap_bm25(out / "bm25", texts, 1.5, 0.75, False)
    tarnwick.save_mmap_hybrid(out / "hybrid", texts, 1.5, 0.75, False, embeddings=rows)
    print(tarnwick.MmapBM25Index.load(out / "bm25").get_scores_filtered("apple", mask))
    mapped = tarnwick.MmapHybridSearchIndex.load(out / "hybrid")
    print(mapped.search_filtered("apple", rows[2], allowed=mask))

    # The join with numpy texts and dense rows.
    joiner = tarnwick.MultiJoiner()
    joiner.add_array("a", texts=texts, dense=rows)
    joiner.add_array("b", texts=["apple pie", None], dense=[rows[0], None])
    print(len(joiner.join()))


if __name__ == "__main__":
    if len(sys.argv) > 1:
        main(pathlib.Path(sys.argv[1]))
    else:
        with tempfile.TemporaryDirectory() as scratch:
            main(pathlib.Path(scratch))
