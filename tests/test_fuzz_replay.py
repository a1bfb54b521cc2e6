"""Replays the fuzz inputs that once found a fault (tests/fuzz/corpus/SUBSYSTEM/*), and
checks that the fuzz harness reaches every registered name."""
import importlib.util
import os

import pytest

FUZZ = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fuzz")
CORPUS = os.path.join(FUZZ, "corpus")


def load_harness():
    spec = importlib.util.spec_from_file_location("tarnwick_fuzz_run", os.path.join(FUZZ, "run.py"))
    mod = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(mod)
    return mod


harness = load_harness()

INPUTS = sorted(
    (sub, name)
    for sub in (os.listdir(CORPUS) if os.path.isdir(CORPUS) else [])
    for name in os.listdir(os.path.join(CORPUS, sub)))


def test_every_registered_name_is_fuzzed():
    import _tarnwick

    assert harness.targets.check_coverage() == []
    fuzzed = {name for entries in harness.DRIVERS.values() for name, _ in entries}
    assert fuzzed == set(_tarnwick.__all__)


@pytest.mark.parametrize("sub,name", INPUTS)
def test_saved_input(sub, name):
    with open(os.path.join(CORPUS, sub, name), "rb") as f:
        harness.one_input(f.read(), sub)


def test_random_inputs_of_each_subsystem():
    """A few hundred inputs per subsystem: the harness itself runs clean."""
    import random

    rng = random.Random(5)
    for sub in harness.DRIVERS:
        for _ in range(100):
            harness.one_input(rng.randbytes(rng.choice([8, 64, 256])), sub)
