"""Runs every benchmark of this folder (or those named on the command line)."""
import glob
import importlib
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

names = sys.argv[1:] or sorted(
    os.path.basename(p)[:-3] for p in glob.glob(os.path.join(HERE, "bench_*.py")))
for name in names:
    print(f"==== {name}")
    importlib.import_module(name).run()
