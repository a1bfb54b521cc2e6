"""Ctrl-C and other stops reach the caller: SIGINT during long metadata and filter calls,
KeyboardInterrupt, SystemExit and MemoryError raised by a caller's own methods inside
conversions that otherwise only report "no match", daemon threads ended at exit inside
those methods, and lengths that claim more than memory holds.

Signal and exit cases run in a fresh interpreter, since a failure is a hang or a crash.
"""
import os
import subprocess
import sys
import textwrap

import pytest

import _tarnwick as m
from test_robustness import exit_with_daemons, interrupt_call, python_env

SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")


class TestSigintInMetadataCalls:
    """Each call below runs for minutes (texts of 2 MB of blanks, or an "in" filter of
    200,000 values over arrays of 500); SIGINT stops it while it runs. Metadata texts parse
    on the calling thread below 2048 documents and on the pool from there; masks from 5000
    documents. An interrupted set_metadata_json keeps the metadata it replaced (a signal
    seen only once the call had ended would find the new metadata in place)."""

    SETUP = """
        import json, sys, tempfile
        import _tarnwick as m
        n = {n}
        idx = m.HybridSearchIndex(["doc %d" % i for i in range(n)])
        idx.set_metadata_json([json.dumps({{"k": i % 3, "t": list(range(500))}}) for i in range(n)])
        few = json.dumps({{"type": "comparison", "attribute": "k", "op": "=", "value": 1}})
        before = idx.evaluate_filter_mask(few)
        heavy = json.dumps({{"type": "in", "attribute": "t", "values": list(range(1000, 201000))}})
        blanks = [" " * (2 << 20) + "1"] * n
    """
    AFTER = "print(idx.evaluate_filter_mask(few) == before)"

    @pytest.mark.parametrize("n", [1500, 20000])
    def test_set_metadata_json(self, n):
        out = interrupt_call(self.SETUP.format(n=n), "idx.set_metadata_json(blanks)", self.AFTER)
        assert out == ["interrupted", "True"]

    @pytest.mark.parametrize("n", [4000, 20000])
    def test_evaluate_filter_mask(self, n):
        out = interrupt_call(self.SETUP.format(n=n), "idx.evaluate_filter_mask(heavy)", self.AFTER)
        assert out == ["interrupted", "True"]

    def test_set_metadata_json_of_a_mapped_index(self, tmp_path):
        setup = f"""
            import _tarnwick as m
            n = 200000
            m.save_mmap_hybrid({str(tmp_path)!r}, ["doc %d" % i for i in range(n)], 1.5, 0.75, True)
            idx = m.MmapHybridSearchIndex.load({str(tmp_path)!r})
        """
        out = interrupt_call(setup, 'idx.set_metadata_json([" " * (8 << 20) + "1"] * n)',
                             'print(idx.search("doc 7", None, 1)[0][0])')
        assert out == ["interrupted", "doc", "7"]


@pytest.mark.parametrize("cls", ["Editops", "Opcodes"])
def test_sigint_stops_an_edit_list_over_an_endless_iterator(cls):
    # Items that are no records are skipped, so the constructor read range() for ever,
    # in C code that never saw the signal.
    assert interrupt_call("import _tarnwick as m\n", f"m.{cls}(range(2**63 - 1), 1, 1)") == ["interrupted"]


class Raising:
    """An integer whose __index__ raises `exc`."""

    def __init__(self, exc):
        self.exc = exc

    def __index__(self):
        raise self.exc


def with_attributes(exc):
    """An object whose `tag` attribute raises `exc`, with valid src_pos and dest_pos."""

    class Obj:
        src_pos, dest_pos = 1, 2

        @property
        def tag(self):
            raise exc

    return Obj()


class TestStopsInConversions:
    """Where a failed conversion only means "no match" (an Editop compared with a tuple,
    a missing-value test, an iterable that is none), KeyboardInterrupt, SystemExit and
    MemoryError of the caller's own methods propagate; before, they were swallowed and the
    call went on as if the value did not match."""

    STOPS = [KeyboardInterrupt, SystemExit, MemoryError]

    @pytest.mark.parametrize("exc", STOPS)
    def test_record_readers_let_stops_through(self, exc):
        e = m.Editop("delete", 1, 2)
        with pytest.raises(exc):
            e == ("delete", Raising(exc()), 2)
        with pytest.raises(exc):
            e == with_attributes(exc())
        with pytest.raises(exc):
            m.Opcode("equal", 0, 1, 0, 1) == ["equal", 0, 1, 0, Raising(exc())]
        with pytest.raises(exc):
            m.Editops([("delete", Raising(exc()), 0)], 3, 3)

    def test_ordinary_failures_still_mean_no_match(self):
        e = m.Editop("delete", 1, 2)
        assert e != ("delete", Raising(ValueError("no")), 2)
        assert e != with_attributes(AttributeError("no tag"))
        assert list(m.Editops([("delete", Raising(OverflowError("x")), 0), ("insert", 1, 1)], 3, 3)) == [
            m.Editop("insert", 1, 1)]

    @pytest.mark.parametrize("exc", STOPS)
    def test_missing_value_test_and_items_let_stops_through(self, exc):
        class Floating:
            def __float__(self):
                raise exc()

        class Iterating:
            def __iter__(self):
                raise exc()

        with pytest.raises(exc):
            m.levenshtein_distance(Floating(), "abc")
        with pytest.raises(exc):
            m.levenshtein_distance(Iterating(), "abc")
        # An ordinary error of the same methods keeps its meaning.
        Floating.__float__ = lambda self: float("x")
        Iterating.__iter__ = lambda self: iter(1)
        with pytest.raises(TypeError, match="expected str, bytes, or sequence"):
            m.levenshtein_distance(Iterating(), "abc")


class TestExitInsideCallbacks:
    """The interpreter exits while daemon threads run a caller's __hash__, __iter__,
    __eq__, property or __getitem__ inside a long call: each thread is parked at the call
    into Python code. Before, the thread's end unwound through the module's frames,
    releasing objects without the lock (a crash) or stopping at a catch-all ("FATAL:
    exception not rethrown")."""

    LOOPS = {
        "__hash__ of items": "m.levenshtein_distance(hs, hs[::-1])",
        "generator of choices": "m.cdist(['abc'], Gen(), 'ratio', None)",
        "generator of items": "m.levenshtein_distance(Gen(), 'abc')",
        "__getitem__ of a corpus": "m.BM25Index(Seq())",
        "property of an Editop's peer": "[m.Editop('delete', 1, 2) == A() for _ in range(50)]",
        "__float__ of choices": "m.extract('abc', [F()] * 50, 'ratio', None)",
    }

    SETUP = """
        def work():
            return sum(range(2000))
        class H:
            def __init__(self, i): self.i = i
            def __hash__(self): work(); return self.i
            def __eq__(self, o): work(); return self is o
        hs = [H(i) for i in range(100)]
        def Gen():
            for i in range(300):
                work()
                yield "abc %d" % i
        class Seq:
            def __len__(self): return 300
            def __getitem__(self, i):
                if i >= 300: raise IndexError(i)
                work()
                return "abc %d" % i
        class A:
            src_pos, dest_pos = 1, 2
            @property
            def tag(self): work(); return "delete"
        class F:
            def __float__(self): work(); return 1.5
    """

    @pytest.mark.parametrize("loop", sorted(LOOPS))
    def test_exit_is_clean(self, loop):
        exit_with_daemons(self.SETUP, self.LOOPS[loop])


class TestClaimedLengths:
    """A length beyond the machine's memory is refused with MemoryError naming the
    argument; a claim below it reserves little before the first item is read."""

    @pytest.mark.skipif(SANITIZED, reason="allocations beyond memory end the process under AddressSanitizer")
    @pytest.mark.parametrize("call,name", [
        (lambda r: m.levenshtein_distance(r, "a"), "s1"),
        (lambda r: m.hamming_editops("a", r), "s2"),
        (lambda r: m.cdist(["a"], r, "ratio", None), "choices"),
        (lambda r: m.cdist(r, ["a"], "ratio", None), "queries"),
        (lambda r: m.BM25Index(r), "corpus"),
        (lambda r: m.HybridSearchIndex(["a"]).set_metadata_json(r), "json_strings"),
        (lambda r: m.HybridSearchIndex(["a"]).search_filtered("a", None, 5, 60, 100, r), "allowed"),
    ])
    def test_refusal_names_the_argument(self, call, name):
        with pytest.raises(MemoryError, match=f"^argument '{name}': a length of {2**63 - 1} items"):
            call(range(2**63 - 1))

    def test_a_false_claim_costs_no_memory_up_front(self):
        # A third of memory's worth of items claimed by a bytes object of three: the
        # corpus reads its first item (an int) and refuses it, without first reserving
        # gigabytes (whose bookkeeping the sanitizer pays for). In a fresh interpreter, so
        # that the peak resident size is its own.
        script = """
            import os, resource
            import _tarnwick as m
            claim = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE") // (3 * 24)
            class Claims(bytes):
                def __len__(self):
                    return claim
            before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
            try:
                m.BM25Index(Claims(b"abc"))
            except TypeError as e:
                print(str(e).startswith("argument 'corpus'"))
            print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before < 256 << 10)
        """
        out = subprocess.run([sys.executable, "-c", textwrap.dedent(script)], env=python_env(),
                             capture_output=True, text=True, timeout=120)
        assert out.stdout.split() == ["True", "True"], out.stderr
