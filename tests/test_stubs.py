"""The type stubs against the module: every registered name, method and attribute both
ways, the docstrings an editor shows, and numpy arguments under mypy --strict."""
import ast
import os
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
    # (__slotnames__ is copyreg's cache, set on a class once pickling has been tried.)
    names = set(cls.__dict__) - {"__doc__", "__module__", "__text_signature__", "__slotnames__"}
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


# Calls the stubs must refuse, appended to the example that uses numpy arrays, pathlib
# paths and every class (run by test_examples.py): the checker passes the example and
# flags exactly these lines.
REFUSED = textwrap.dedent("""

    def refused(out: pathlib.Path) -> None:
        mapped = tarnwick.MmapHybridSearchIndex.load(out)
        mapped.evaluate_filter_mask("{}")
        mapped.search_filtered_sorted("apple")
        tarnwick.BKTree().dedupe(["apple"], 1.5)
        tarnwick.HybridSearchIndex(["a"], np.eye(1)).search("a", n="3")
""")


def test_mypy_strict_passes_numpy_and_paths_and_refuses_wrong_calls(tmp_path):
    mypy_api = pytest.importorskip("mypy.api")
    pytest.importorskip("numpy")
    with open(os.path.join(ROOT, "examples", "typed_usage.py"), encoding="utf-8") as f:
        source = f.read() + REFUSED
    script = tmp_path / "typed_usage_refused.py"
    script.write_text(source)
    previous = os.environ.get("MYPYPATH")
    os.environ["MYPYPATH"] = os.path.join(ROOT, "python")
    try:
        stdout, _, status = mypy_api.run(["--strict", "--no-incremental", "--cache-dir",
                                          os.devnull, str(script)])
    finally:
        if previous is None:
            del os.environ["MYPYPATH"]
        else:
            os.environ["MYPYPATH"] = previous
    lines = source.splitlines()
    refused = {i + 1 for i, line in enumerate(lines)
               if i >= len(lines) - 4}
    flagged = {int(e.split(":")[1]) for e in stdout.splitlines() if ": error:" in e}
    assert flagged == refused, stdout
    assert status == 1
