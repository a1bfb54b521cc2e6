"""The type stubs against the module: every registered name, method and attribute both
ways, the docstrings an editor shows, and numpy arguments under mypy --strict."""
import ast
import os
import subprocess
import sys
import textwrap

import pytest

import _tarnwick
import tarnwick

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STUB = os.path.join(ROOT, "python", "tarnwick", "__init__.pyi")


def stub_tree():
    with open(STUB, encoding="utf-8") as f:
        return ast.parse(f.read())


def stub_table():
    """{top-level name: node}, and {class name: {member: node}} with the members the stub
    gives each class through its (private) bases."""
    top = {n.name: n for n in stub_tree().body
           if isinstance(n, (ast.FunctionDef, ast.ClassDef))}
    members = {}

    def of_class(name):
        node = top[name]
        found = {}
        for base in node.bases:
            if isinstance(base, ast.Name) and base.id in top:
                found.update(of_class(base.id))
        for item in node.body:
            if isinstance(item, ast.FunctionDef):
                found[item.name] = item
            elif isinstance(item, ast.AnnAssign):
                found[item.target.id] = item
        return found

    for name, node in top.items():
        if isinstance(node, ast.ClassDef) and not name.startswith("_"):
            members[name] = of_class(name)
    return top, members


def module_members(cls):
    """A class's own names: what it has beyond object, dunders only when defined on it."""
    names = set(cls.__dict__) - {"__doc__", "__module__", "__text_signature__"}
    return {n for n in names if not (n.startswith("__") and getattr(object, n, None) is
                                     getattr(cls, n, None))}


OBJECT_SLOTS = {"__new__", "__init__", "__repr__", "__hash__", "__reduce__", "__eq__", "__ne__",
                "__lt__", "__le__", "__gt__", "__ge__"}


def test_every_name_method_and_attribute_both_ways():
    top, members = stub_table()
    public = {n for n in top if not n.startswith("_")}
    assert public == set(_tarnwick.__all__)
    for name in _tarnwick.__all__:
        obj = getattr(_tarnwick, name)
        if not isinstance(obj, type):
            assert isinstance(top[name], ast.FunctionDef), name
            continue
        stubbed = set(members[name])
        real = module_members(obj)
        # Slots whose types object's own stubs already give (the records compare for
        # equality only: ordering raises TypeError).
        real -= OBJECT_SLOTS
        stubbed -= OBJECT_SLOTS
        assert stubbed - real == set(), f"{name}: stubbed but absent"
        assert real - stubbed == set(), f"{name}: present but not stubbed"


def test_the_mapped_hybrid_index_offers_only_what_it_has():
    _, members = stub_table()
    for missing in ("evaluate_filter_mask", "search_filtered_sorted", "dim", "has_metadata"):
        assert missing not in members["MmapHybridSearchIndex"]
        assert not hasattr(_tarnwick.MmapHybridSearchIndex, missing)
        assert missing in members["HybridSearchIndex"]


def test_functions_without_a_module_docstring_have_one_in_the_stubs():
    top, members = stub_table()
    wanted = [n for n in _tarnwick.__all__
              if n.startswith(("fuzz_", "default_process", "save_mmap_", "soundex_"))
              or n.endswith(("_distance", "_similarity", "_editops", "_opcodes"))
              or n in ("jaccard", "sorensen_dice")]
    assert len(wanted) > 60
    for name in wanted:
        assert ast.get_docstring(top[name]), name
    for cls, method in [("BKTree", "insert"), ("BKTree", "dedupe"), ("BKTree", "all_values"),
                        ("MmapBM25Index", "load"), ("MmapHybridSearchIndex", "load")]:
        assert ast.get_docstring(members[cls][method]), (cls, method)


# Calls the module accepts at run time with numpy arrays and paths: each is run here and
# type-checked under --strict; the last lines must be refused by the checker.
NUMPY_CALLS = textwrap.dedent("""
    import pathlib
    import sys
    import numpy as np
    import tarnwick

    out = pathlib.Path(sys.argv[1])
    rows = np.eye(3, dtype=np.float32)
    mask = np.array([True, False, True])
    hybrid = tarnwick.HybridSearchIndex(["a b", "c d", "a e"], rows)
    hybrid.search("a", rows[0])
    hybrid.search_filtered("a", np.array([1.0, 0.0, 0.0]), allowed=mask)
    bm25 = tarnwick.BM25Index(np.array(["a b", "c d", "a"]))
    bm25.get_scores_filtered("a", mask)
    bm25.get_top_n_filtered("a", 2, mask)
    bm25.get_top_n_rrf_filtered("a", allowed=mask)
    tarnwick.cosine_similarity_matrix(rows, np.ones((2, 3)))
    tarnwick.cosine_similarity_matrix([rows[0], rows[1]], [[1.0, 0.0, 0.0]])
    joiner = tarnwick.MultiJoiner()
    joiner.add_array("x", texts=np.array(["a", "b"]), dense=np.eye(2))
    joiner.add_array("y", texts=["a", None], dense=[np.ones(2), None])
    tarnwick.extract("a", np.array(["a", "b"]))
    tarnwick.cdist(np.array(["a"]), np.array(["a", "b"]))
    tarnwick.save_mmap_hybrid(out / "h", ["a", "b", "c"], 1.5, 0.75, False, embeddings=rows)
    tarnwick.MmapHybridSearchIndex.load(out / "h").search_filtered("a", rows[1], allowed=mask)
    tarnwick.save_mmap_bm25(out / "b", ["a", "b"], 1.5, 0.75, False)
    tarnwick.MmapBM25Index.load(out / "b").get_scores_filtered("a", np.array([True, True]))
    if len(sys.argv) > 2:
        tarnwick.MmapHybridSearchIndex.load(out / "h").evaluate_filter_mask("{}")
        tarnwick.MmapHybridSearchIndex.load(out / "h").search_filtered_sorted("a")
        tarnwick.BKTree().dedupe(["a"], 1.5)
""")


def test_numpy_arguments_run_and_type_check(tmp_path):
    pytest.importorskip("numpy")
    script = tmp_path / "numpy_calls.py"
    script.write_text(NUMPY_CALLS)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        [os.path.join(ROOT, "build"), os.path.join(ROOT, "python")] + sys.path[1:]))
    run = subprocess.run([sys.executable, str(script), str(tmp_path)], env=env,
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    mypy_api = pytest.importorskip("mypy.api")
    env_path = os.environ.get("MYPYPATH")
    os.environ["MYPYPATH"] = os.path.join(ROOT, "python")
    try:
        stdout, _, status = mypy_api.run(["--strict", "--no-incremental", "--cache-dir",
                                          os.devnull, str(script)])
    finally:
        if env_path is None:
            del os.environ["MYPYPATH"]
        else:
            os.environ["MYPYPATH"] = env_path
    errors = [line for line in stdout.splitlines() if ": error:" in line]
    lines = NUMPY_CALLS.splitlines()
    refused = {i + 1 for i, line in enumerate(lines) if line.startswith("    tarnwick.")}
    assert {int(e.split(":")[1]) for e in errors} == refused, stdout
    assert status == 1
