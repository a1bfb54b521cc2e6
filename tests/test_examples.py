"""The examples run as a user would run them, on small data (each checks its own results,
the Dask one against a single-process run)."""
import os
import subprocess
import sys

import pytest

import _tarnwick

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The examples import the build under test, wherever it is.
BUILD = os.path.dirname(os.path.abspath(_tarnwick.__file__))


def run_example(name, *args):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(
        [BUILD, os.path.join(ROOT, "python")] + [p for p in sys.path if p])
    out = subprocess.run([sys.executable, os.path.join(ROOT, "examples", name), *args], env=env,
                         capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    return out.stdout


def test_demo():
    assert "== MultiJoiner" in run_example("demo.py")


def test_dedupe_names():
    out = run_example("dedupe_names.py", "300")
    assert "300 names" in out and "BKTree keeps" in out


def test_search_catalogue():
    pytest.importorskip("numpy")
    assert "reopened from catalogue" in run_example("search_catalogue.py", "500")


def test_join_tables():
    pytest.importorskip("numpy")
    out = run_example("join_tables.py", "300")
    precisions = [float(line.rsplit(" ", 1)[1]) for line in out.splitlines()
                  if line.startswith("  texts")]
    assert len(precisions) == 2 and precisions[1] >= precisions[0]


def test_typed_usage(tmp_path):
    pytest.importorskip("numpy")
    run_example("typed_usage.py", str(tmp_path))
    assert (tmp_path / "bm25" / "meta.json").exists()


def test_dask_partitions_equal_a_single_process_run():
    # dask[distributed] is a test requirement (scripts/setup.sh installs it): no skip.
    out = run_example("dask_partitions.py", "300")
    assert "results equal to a single-process run" in out
