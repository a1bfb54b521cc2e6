"""MultiJoiner: configuration and add_array."""
import pickle
import pytest

from _tarnwick import MultiJoiner

# ---- Construction, configuration and add_array ----

def test_constructor_signature_and_docs():
    assert MultiJoiner.__text_signature__ == (
        "(text_weight=1.0, sparse_weight=1.0, dense_weight=1.0, bm25_k1=1.5, bm25_b=0.75, "
        "bm25_variant=..., rrf_k=60, bm25_candidates=100)")
    assert MultiJoiner.__doc__.startswith("Fuzzy full-join across multiple named arrays.\n\n")
    assert MultiJoiner.__doc__.endswith("rrf_k : int, default 60\n    RRF smoothing constant.")
    assert MultiJoiner.__module__ == "tarnwick"
    assert MultiJoiner.add_array.__text_signature__ == "($self, name, texts=None, sparse=None, dense=None)"
    assert MultiJoiner.num_arrays.__doc__ == "Number of arrays currently registered."


def test_constructor_arguments():
    j = MultiJoiner()
    assert j.num_arrays == 0
    MultiJoiner(0.5, 0, -1, 1, float("nan"), "bm25l", 0, 0)
    MultiJoiner(rrf_k=2 ** 64 - 1, bm25_candidates=True)
    with pytest.raises(TypeError, match="argument 'text_weight'"):
        MultiJoiner(text_weight="1")
    with pytest.raises(TypeError, match="argument 'bm25_variant'"):
        MultiJoiner(bm25_variant=1)
    with pytest.raises(OverflowError):
        MultiJoiner(rrf_k=-1)
    with pytest.raises(OverflowError):
        MultiJoiner(bm25_candidates=2 ** 64)
    with pytest.raises(TypeError, match="argument 'bm25_candidates'"):
        MultiJoiner(bm25_candidates=1.0)
    # Converted in signature order: the first failure is reported.
    with pytest.raises(TypeError, match="argument 'sparse_weight'"):
        MultiJoiner(bm25_b="x", sparse_weight="y")
    with pytest.raises(TypeError):
        MultiJoiner(1, 1, 1, 1, 1, "a", 1, 1, 1)
    with pytest.raises(TypeError):
        MultiJoiner(weight=1)
    with pytest.raises(TypeError):
        pickle.dumps(MultiJoiner())


def test_add_array_value_errors():
    j = MultiJoiner()
    msg = "add_array: at least one of texts, sparse, dense must be provided"
    for kwargs in ({}, {"texts": None, "sparse": None, "dense": None}):
        with pytest.raises(ValueError) as e:
            j.add_array("a", **kwargs)
        assert str(e.value) == msg
    with pytest.raises(ValueError, match="^add_array: sparse length mismatch$"):
        j.add_array("a", texts=["x", "y"], sparse=[{1: 1.0}])
    with pytest.raises(ValueError, match="^add_array: dense length mismatch$"):
        j.add_array("a", texts=["x"], dense=[[1.0], [2.0]])
    with pytest.raises(ValueError, match="sparse length mismatch"):
        j.add_array("a", texts=["x"], sparse=[], dense=[])
    with pytest.raises(ValueError, match="sparse length mismatch"):
        j.add_array("a", texts=[], sparse=[{}])
    assert j.num_arrays == 0


def test_add_array_type_errors_leave_joiner_unchanged():
    j = MultiJoiner()
    cases = [
        (TypeError, "name", dict(name=1, texts=["a"])),
        (TypeError, "texts", dict(name="a", texts="abc")),
        (TypeError, "texts", dict(name="a", texts=[1])),
        (TypeError, "texts", dict(name="a", texts=iter(["a"]))),
        (TypeError, "sparse", dict(name="a", sparse=[[1, 2]])),
        (TypeError, "sparse", dict(name="a", sparse=[{"k": 1.0}])),
        (TypeError, "sparse", dict(name="a", sparse=[{1: "x"}])),
        (OverflowError, "sparse", dict(name="a", sparse=[{-1: 1.0}])),
        (OverflowError, "sparse", dict(name="a", sparse=[{2 ** 32: 1.0}])),
        (TypeError, "dense", dict(name="a", dense=["ab"])),
        (TypeError, "dense", dict(name="a", dense=[[1.0, None]])),
        (TypeError, "dense", dict(name="a", dense=5)),
    ]
    for exc, which, kwargs in cases:
        with pytest.raises(exc) as e:
            j.add_array(**kwargs)
        if exc is TypeError:
            assert str(e.value).startswith(f"argument '{which}'"), str(e.value)
    # Arguments are converted in order: name, texts, sparse, dense.
    with pytest.raises(TypeError, match="argument 'texts'"):
        j.add_array("a", texts="x", sparse=5, dense=5)
    with pytest.raises(TypeError, match="argument 'sparse'"):
        j.add_array("a", texts=["x"], sparse=5, dense=5)
    assert j.num_arrays == 0


def test_add_array_counts_every_array():
    j = MultiJoiner()
    j.add_array("s", sparse=[{3: 1.0, 1: 2.0}, None, {}])
    j.add_array("s", texts=[])
    j.add_array("t", dense=[[0.1, 1e300], None], texts=("a", None))
    assert j.num_arrays == 3


def test_sequences_other_than_lists():
    class Seq:
        def __init__(self, items):
            self.items = items

        def __len__(self):
            return len(self.items)

        def __getitem__(self, i):
            return self.items[i]

    j = MultiJoiner()
    j.add_array("a", texts=Seq(["x y"]), sparse=(None,), dense=Seq([Seq([1.0, 2])]))
    assert j.num_arrays == 1


def test_add_array_during_add_array_is_refused():
    j = MultiJoiner()
    seen = []

    class Texts:
        def __len__(self):
            return 1

        def __getitem__(self, i):
            if i == 0:
                for call in (lambda: j.add_array("x", texts=["x"]), lambda: j.num_arrays):
                    try:
                        call()
                    except RuntimeError as e:
                        seen.append(str(e))
                return "y"
            raise IndexError

    j.add_array("b", texts=Texts())
    assert seen == ["Already borrowed", "Already mutably borrowed"]
    assert j.num_arrays == 1
