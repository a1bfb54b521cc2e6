"""Module entry: registration order, signatures, re-import and sub-interpreters."""
import importlib
import os
import subprocess
import sys
import textwrap

import _tarnwick
import pytest

ENDINGS6 = ["distance", "similarity", "normalized_distance", "normalized_similarity",
            "editops", "opcodes"]
ENDINGS4 = ENDINGS6[:4]

# Every name the module can register, in the fixed registration order.
FULL_ORDER = (
    ["Editop", "Editops", "Opcode", "Opcodes", "MatchingBlock", "ScoreAlignment",
     "default_process", "extract", "extract_one", "extract_iter", "cdist",
     "BM25Index", "BM25L", "BM25Plus", "BM25T", "MmapBM25Index", "HybridSearchIndex",
     "MmapHybridSearchIndex", "save_mmap_bm25", "save_mmap_hybrid",
     "cosine_similarity_matrix", "normalize_bayes", "MultiJoiner",
     "fuzz_ratio", "fuzz_partial_ratio", "fuzz_partial_ratio_alignment",
     "fuzz_token_sort_ratio", "fuzz_token_set_ratio", "fuzz_token_ratio",
     "fuzz_partial_token_sort_ratio", "fuzz_partial_token_set_ratio",
     "fuzz_partial_token_ratio", "fuzz_wratio", "fuzz_qratio"]
    + [f"levenshtein_{e}" for e in ENDINGS6]
    + [f"hamming_{e}" for e in ENDINGS6]
    + [f"indel_{e}" for e in ENDINGS6]
    + [f"jaro_{e}" for e in ENDINGS4]
    + [f"jaro_winkler_{e}" for e in ENDINGS4]
    + [f"lcs_seq_{e}" for e in ENDINGS6]
    + [f"{fam}_{e}" for fam in ("osa", "damerau_levenshtein", "prefix", "postfix")
       for e in ENDINGS4]
    + ["soundex_encode", "soundex_distance", "soundex_similarity",
       "soundex_normalized_similarity", "soundex_normalized_distance",
       "gotoh_distance", "gotoh_similarity", "gotoh_normalized_distance",
       "gotoh_normalized_similarity", "sorensen_dice", "jaccard", "BKTree"]
)


def test_all_is_registered_in_fixed_order():
    names = list(_tarnwick.__all__)
    assert all(isinstance(n, str) for n in names)
    assert set(names) <= set(FULL_ORDER)
    assert names == [n for n in FULL_ORDER if n in names]
    for n in names:
        assert hasattr(_tarnwick, n)
    # The foundation names are always present.
    assert {"default_process", "fuzz_ratio", "fuzz_qratio"} <= set(names)
    assert not hasattr(_tarnwick, "__version__")


BATCH_WRAPPERS = {"extract", "extract_one", "extract_iter", "cdist"}
PATH_WRAPPERS = {"save_mmap_bm25", "save_mmap_hybrid"}


def test_package_reexports_everything():
    import tarnwick
    assert tarnwick.__all__ == list(_tarnwick.__all__)
    for n in _tarnwick.__all__:
        if n in BATCH_WRAPPERS:
            # The package wraps these: it takes a scorer function, not a name.
            assert getattr(tarnwick, n).__module__ == "tarnwick"
        elif n in PATH_WRAPPERS:
            # The package turns an os.PathLike path into text, then calls the module.
            assert getattr(tarnwick, n).__wrapped__ is getattr(_tarnwick, n)
        else:
            assert getattr(tarnwick, n) is getattr(_tarnwick, n)


def test_functions_have_text_signatures_and_module():
    assert _tarnwick.default_process.__text_signature__ == "(s, *, processor=None)"
    for name in ("fuzz_ratio", "fuzz_qratio"):
        f = getattr(_tarnwick, name)
        assert f.__text_signature__ == "(s1, s2, *, processor=None, score_cutoff=None)"
        assert f.__doc__ is None
        assert f.__module__ == "_tarnwick"
        assert f.__name__ == name


def test_reimport_returns_the_same_module():
    first = sys.modules.pop("_tarnwick")
    try:
        again = importlib.import_module("_tarnwick")
        assert again is first
    finally:
        sys.modules["_tarnwick"] = first


def test_sub_interpreter_import_is_refused(tmp_path):
    testcapi = pytest.importorskip("_testcapi")
    if not hasattr(testcapi, "run_in_subinterp"):
        pytest.skip("no sub-interpreter support in this build")
    out = tmp_path / "result.txt"
    code = textwrap.dedent(f"""
        import sys
        sys.path[:0] = {sys.path!r}
        try:
            import _tarnwick
            msg = "imported"
        except ImportError as e:
            msg = "ImportError: " + str(e)
        open({str(out)!r}, "w").write(msg)
    """)
    testcapi.run_in_subinterp(code)
    msg = out.read_text()
    assert msg.startswith(
        "ImportError: PyO3 modules do not yet support subinterpreters, see ")


def test_import_in_fresh_process_registers_before_use():
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    out = subprocess.run(
        [sys.executable, "-c", "import _tarnwick; print(len(_tarnwick.__all__))"],
        env=env, capture_output=True, text=True, check=True)
    assert int(out.stdout) == len(_tarnwick.__all__)
