"""The package's own layer: metric functions as extraction scorers and os.PathLike paths."""
import pathlib
import random

import pytest

import _tarnwick
import tarnwick


def levenshtein(a, b):
    """Unit-cost edit distance by the textbook table."""
    prev = list(range(len(b) + 1))
    for i, x in enumerate(a, 1):
        cur = [i]
        for j, y in enumerate(b, 1):
            cur.append(min(prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (x != y)))
        prev = cur
    return prev[-1]


def random_words(rng, n):
    return ["".join(rng.choice("abcde") for _ in range(rng.randint(0, 7))) for _ in range(n)]


def test_issue_example_ranks_the_closest_first():
    choices = ["sitting", "kitten", "completely different"]
    assert tarnwick.extract_one("kitten", choices, scorer=tarnwick.levenshtein_distance) == (
        "kitten", 0.0, 1)
    assert tarnwick.extract("kitten", choices, scorer=tarnwick.levenshtein_distance,
                            score_cutoff=1) == [("kitten", 0.0, 1)]


def test_distance_rankings_equal_a_sort_by_the_naive_distance():
    """Smallest distance first, earlier index first among equals; the cut-off is a maximum
    (fractional cut-offs included); extract, extract_iter and extract_one agree."""
    rng = random.Random(5)
    for _ in range(40):
        query, choices = random_words(rng, 1)[0], random_words(rng, 30)
        ranked = sorted(((c, float(levenshtein(query, c)), i) for i, c in enumerate(choices)),
                        key=lambda r: (r[1], r[2]))
        cutoff = rng.choice([None, 0, 1, 2.5, 3])
        kept = [r for r in ranked if cutoff is None or r[1] <= cutoff]
        limit = rng.choice([None, 1, 4])
        got = tarnwick.extract(query, choices, scorer=tarnwick.levenshtein_distance,
                               limit=limit, score_cutoff=cutoff)
        assert got == (kept if limit is None else kept[:limit])
        assert tarnwick.extract_iter(query, choices, scorer=tarnwick.levenshtein_distance,
                                     score_cutoff=cutoff) == kept
        assert tarnwick.extract_one(query, choices, scorer=tarnwick.levenshtein_distance,
                                    score_cutoff=cutoff) == (kept[0] if kept else None)


def test_similarities_keep_their_order_and_take_any_cut_off():
    """An integer similarity with a fractional cut-off keeps what reaches it (no TypeError);
    a normalized distance ranks the reverse of its similarity."""
    rng = random.Random(6)
    query, choices = "abcde", random_words(rng, 40)
    sims = [(c, float(max(len(query), len(c)) - levenshtein(query, c)), i)
            for i, c in enumerate(choices)]
    expected = sorted((r for r in sims if r[1] >= 2.5), key=lambda r: (-r[1], r[2]))
    assert tarnwick.extract(query, choices, scorer=tarnwick.levenshtein_similarity, limit=None,
                            score_cutoff=2.5) == expected
    by_distance = tarnwick.extract(query, choices, limit=None,
                                   scorer=tarnwick.indel_normalized_distance)
    by_similarity = tarnwick.extract(query, choices, limit=None,
                                     scorer=tarnwick.indel_normalized_similarity)
    assert [r[2] for r in by_distance] == [r[2] for r in by_similarity]
    for (_, d, _), (_, s, _) in zip(by_distance, by_similarity):
        assert d == pytest.approx(1.0 - s)


def test_missing_choices_and_metrics_without_keywords():
    """A missing choice has no distance and is left out; metrics that take no processor
    (soundex) get the processed values; metrics without the missing-value rule still
    refuse None as they do when called directly."""
    choices = ["kitten", None, float("nan"), "<NA>", "mitten"]
    got = tarnwick.extract("kitten", choices, scorer=tarnwick.levenshtein_distance)
    assert got == [("kitten", 0.0, 0), ("mitten", 1.0, 4)]
    assert tarnwick.extract_one(None, choices, scorer=tarnwick.levenshtein_distance) is None
    got = tarnwick.extract("ROBERT", ["rupert", "tymczak"], scorer=tarnwick.soundex_distance,
                           processor=str.upper)
    assert got == [("rupert", 0.0, 0), ("tymczak", 4.0, 1)]
    with pytest.raises(TypeError):
        tarnwick.extract("ab", ["ab", None], scorer=tarnwick.gotoh_distance)


def test_other_scorers_go_to_the_module_unchanged():
    choices = ["new york", "newark", "boston"]
    for scorer in (tarnwick.fuzz_wratio, tarnwick.fuzz_ratio, lambda a, b, **kw: len(b)):
        name, obj = tarnwick._scorer_args(scorer)
        assert tarnwick.extract("new yrok", choices, scorer=scorer) == _tarnwick.extract(
            "new yrok", choices, name, obj, None, 5, None)


def test_directory_paths_may_be_pathlike(tmp_path):
    corpus = ["the quick brown fox", "lazy dogs sleep", "a quick test"]
    as_text, as_path = str(tmp_path / "text"), tmp_path / "path"
    tarnwick.save_mmap_bm25(as_text, corpus, 1.5, 0.75, False)
    tarnwick.save_mmap_bm25(as_path, corpus, 1.5, 0.75, False)
    assert (tarnwick.MmapBM25Index.load(as_path).get_scores("quick")
            == tarnwick.MmapBM25Index.load(as_text).get_scores("quick"))
    embeddings = [[1.0, 0.0], [0.0, 1.0], [1.0, 1.0]]
    tarnwick.save_mmap_hybrid(tmp_path / "hybrid", corpus, 1.5, 0.75, False, embeddings=embeddings)
    tarnwick.save_mmap_hybrid(str(tmp_path / "hybrid2"), corpus, 1.5, 0.75, False,
                              embeddings=embeddings)
    loaded = tarnwick.MmapHybridSearchIndex.load(pathlib.PurePosixPath(tmp_path / "hybrid"))
    assert loaded.search("quick", [1.0, 0.0]) == tarnwick.MmapHybridSearchIndex.load(
        str(tmp_path / "hybrid2")).search("quick", [1.0, 0.0])
    # Anything else reaches the module as it is, with the module's own message.
    for call in (lambda: tarnwick.MmapBM25Index.load(3),
                 lambda: tarnwick.save_mmap_bm25(3, corpus, 1.5, 0.75, False)):
        with pytest.raises(TypeError, match="cannot be converted to 'PyString'"):
            call()
