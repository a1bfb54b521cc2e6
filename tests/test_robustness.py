"""The process survives what a hostile caller does to the runtime around a call: the
interpreter exiting while daemon threads are inside the module, recursion through Python
callbacks on small thread stacks, and Ctrl-C during long calls.

Each case runs in a fresh interpreter, since a failure is a crash of the process.
"""
import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def python_env():
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(
        [p for p in sys.path if p] + [os.path.join(ROOT, "build"), os.path.join(ROOT, "python")])
    return env


def interrupt(script, timeout=120):
    """Runs `script` in a child, sends SIGINT half a second after it prints "started", and
    returns the words it printed after that. The child installs the interpreter's own
    SIGINT handler first: a suite started from a background job inherits SIGINT ignored,
    and the interpreter then installs none (the call would run to its end, or forever)."""
    script = "import signal; signal.signal(signal.SIGINT, signal.default_int_handler)\n" + textwrap.dedent(script)
    child = subprocess.Popen([sys.executable, "-c", script], env=python_env(),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "started", child.stderr.read()
        time.sleep(0.5)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=timeout)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    assert child.returncode == 0, err
    return out.split()


def interrupt_call(setup, call, after="", timeout=120):
    """interrupt() of a child that runs `setup`, prints "started", then `call` (a statement),
    prints "returned" or "interrupted", then runs `after`."""
    return interrupt(textwrap.dedent(setup) + textwrap.dedent(f"""
        print("started", flush=True)
        try:
            {call}
            print("returned", flush=True)
        except KeyboardInterrupt:
            print("interrupted", flush=True)
    """) + textwrap.dedent(after), timeout)


def run_script(script, timeout=120):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(script)], env=python_env(),
                          capture_output=True, text=True, timeout=timeout)


def exit_with_daemons(setup, call):
    """Starts three daemon threads running `call` in a loop (after `setup`, with the
    module as m) and lets the interpreter exit under them, four times: each exit must
    be clean, status 0 and nothing on stderr."""
    script = textwrap.dedent("""
        import threading, time
        import _tarnwick as m
    """) + textwrap.dedent(setup) + textwrap.dedent(f"""
        def loop():
            while True:
                {call}
        for _ in range(3):
            threading.Thread(target=loop, daemon=True).start()
        time.sleep(0.2)
    """)
    for _ in range(4):
        out = run_script(script)
        assert (out.returncode, out.stderr) == (0, "")


class TestExitWithDaemonThreads:
    """The interpreter exits while daemon threads are inside the module: with the lock
    released (the thread is ended when it takes the lock back) or inside a Python
    callback the module called. Exit status 0 and nothing on stderr, every time."""

    LOOPS = {
        "cdist on the pool": 'm.cdist(q, q, "token_set_ratio", None)',
        "cdist below the pool threshold": 'm.cdist(q[:3], q[:3], "ratio", None)',
        "extract on the pool": 'm.extract("abc xyz 7", q, "wratio", None, limit=None)',
        "cdist with a processor": 'm.cdist(q, q[:20], "ratio", None, processor=lambda s: s.upper())',
        "scorer with a processor": 'm.fuzz_ratio("abc", "abd", processor=lambda s: s[::-1] + "")',
        "extract with a scorer object":
            'm.extract("abc", q, "", lambda a, b, **kw: float(len(a) + len(b)))',
    }

    @pytest.mark.parametrize("loop", sorted(LOOPS))
    def test_exit_is_clean(self, loop):
        exit_with_daemons('q = ["abc xyz %d" % i for i in range(300)]', self.LOOPS[loop])


class TestRecursionOnSmallStacks:
    """A processor, scorer object or __hash__ that calls the module again, on a thread
    with a small stack, ends with RecursionError rather than a stack overflow."""

    CALLS = {
        "fuzz_ratio processor": "m.fuzz_ratio(x, 'abc', processor=f) and x",
        "token_set_ratio processor": "m.fuzz_token_set_ratio(x, 'abc', processor=f) and x",
        "levenshtein processor": "m.levenshtein_distance(x, 'abc', processor=f) and x",
        "editops processor": "m.levenshtein_editops(x, 'abc', processor=f) and x",
        "extract processor": "m.extract(x, ['abc'], 'ratio', None, processor=f) and x",
        "extract_one scorer object":
            "m.extract_one('abc', [x], '', lambda a, b, **kw: f(b) and 1.0) and x",
        "extract iterator choices": "m.extract('abc', (f(y) for y in [x]), 'ratio', None) and x",
        "sequence item hash": "m.fuzz_ratio([H(x)], 'abc') and x",
    }

    @pytest.mark.parametrize("call", sorted(CALLS))
    @pytest.mark.parametrize("stack_kib", [256, 1024])
    def test_recursion_error(self, call, stack_kib):
        script = f"""
            import threading
            import _tarnwick as m
            class H:
                def __init__(self, x): self.x = x
                def __hash__(self): return hash(f(self.x))
            def f(x):
                return {self.CALLS[call]}
            threading.stack_size({stack_kib} << 10)
            result = []
            def run():
                try:
                    f("abc")
                except RecursionError:
                    result.append("RecursionError")
            t = threading.Thread(target=run)
            t.start()
            t.join()
            print(result)
        """
        out = run_script(script)
        assert (out.returncode, out.stdout.strip()) == (0, "['RecursionError']"), out.stderr

    def test_recursion_still_works_below_the_limit(self):
        # A bounded recursion through the module returns normally.
        script = """
            import threading
            import _tarnwick as m
            threading.stack_size(1 << 20)
            def f(x, depth=[0]):
                depth[0] += 1
                if depth[0] >= 100:
                    return x
                return m.fuzz_ratio(x, "abc", processor=f) and x
            out = []
            t = threading.Thread(target=lambda: out.append(f("abc")))
            t.start()
            t.join()
            print(out)
        """
        out = run_script(script)
        assert (out.returncode, out.stdout.strip()) == (0, "['abc']"), out.stderr


class TestInterrupt:
    """SIGINT during a long call raises KeyboardInterrupt out of the call while it runs,
    not after it: each call below would run for minutes, and the child is given one."""

    SETUP = """
        import os, random, sys, time
        import _tarnwick as m
        rng = random.Random(7)
        def text(n): return "".join(rng.choice("abcdefghij") for _ in range(n))
        a, b = text(3000), text(300_000)
    """
    CALLS = {
        "partial ratio on the calling thread": "m.fuzz_partial_ratio(a * 10, b * 10)",
        "partial ratio alignment": "m.fuzz_partial_ratio_alignment(b * 10, a * 10)",
        "cdist on the calling thread, lock released": "m.cdist([a * 10], [b * 10], 'partial_ratio', None)",
        "cdist on the pool": "m.cdist([a] * 40, [b] * 25, 'partial_ratio', None)",
        "extract on the pool": "m.extract(a, [b] * 256, 'partial_ratio', None)",
        "extract of a tuple": "m.extract(a, (b,) * 100, 'partial_ratio', None)",
        "extract_one of a dict": "m.extract_one(a, dict.fromkeys(range(100), b), 'partial_ratio', None)",
        "extract with a text query": "m.extract(a + 'é', [b] * 100, 'partial_ratio', None)",
        "Editops skipping endless items": "m.Editops(range(2**63 - 1), 3, 1)",
        "Opcodes skipping endless items": "m.Opcodes(range(2**63 - 1), 3, 1)",
    }

    @pytest.mark.parametrize("call", sorted(CALLS))
    def test_sigint_interrupts(self, call):
        assert interrupt_call(self.SETUP, self.CALLS[call]) == ["interrupted"]

    def test_interrupted_dedupe_leaves_the_tree_as_it_was(self):
        # Items far apart under a wide threshold: every item is compared with every
        # stored string, for hours; the interrupted call must not keep the items it had
        # already added.
        script = textwrap.dedent(self.SETUP) + textwrap.dedent("""
            tree = m.BKTree()
            tree.dedupe([text(3000) for _ in range(30)], 0)
            before = sorted(tree.all_values())
            items = [text(3000) for _ in range(3000)]
            print("started", flush=True)
            try:
                tree.dedupe(items, 500)
                print("returned", flush=True)
            except KeyboardInterrupt:
                print("interrupted", flush=True)
            print(sorted(tree.all_values()) == before, len(tree.all_values()))
            # The tree still works: one more item is added and found.
            print(tree.dedupe(["abc", "abd"], 1) == ["abc"], "abc" in tree.all_values())
        """)
        assert interrupt(script) == ["interrupted", "True", "30", "True", "True"]

    # The choices of one extraction on the calling thread, read from two repeats one
    # after the other: None (skipped at once, tens of nanoseconds between cancellation
    # points) and a text scored against the query (about 50 ms). The signal comes in the
    # second phase, and the handler records how many of its choices had been read; the
    # first phase has taught nothing that delays the signal in the second.
    PHASES = """
        import itertools, operator, signal
        s = text(60000)
        dense, sparse = {dense}, {sparse}
        first, second = {first}, {second}
        read = []
        def handler(signum, frame):
            read.append(n - operator.length_hint(second))
            raise KeyboardInterrupt
        signal.signal(signal.SIGINT, handler)
        print("started", flush=True)
        try:
            m.extract(s[::-1], itertools.chain(first, second), "ratio", None, limit=1)
            print("returned", flush=True)
        except KeyboardInterrupt:
            print("interrupted", flush=True)
        print(len(read) == 1 and read[0] < n // 2)
    """

    def test_dense_then_sparse_points(self):
        # 5 million Nones (a fraction of a second), then 60 texts: the signal is seen a
        # text or two after it comes, not when the points since the last look at the
        # clock have made up a count learnt among the Nones.
        script = textwrap.dedent(self.SETUP) + textwrap.dedent(self.PHASES.format(
            dense="itertools.repeat(None, 5_000_000)", sparse="itertools.repeat(s, n := 60)",
            first="dense", second="sparse"))
        assert interrupt(script) == ["interrupted", "True"]

    def test_sparse_then_dense_points(self):
        # 4 texts (a fifth of a second or so), then 100 million Nones (seconds): the signal
        # is seen among the Nones as soon as among texts.
        script = textwrap.dedent(self.SETUP) + textwrap.dedent(self.PHASES.format(
            dense="itertools.repeat(None, n := 100_000_000)", sparse="itertools.repeat(s, 4)",
            first="sparse", second="dense"))
        assert interrupt(script) == ["interrupted", "True"]

    def test_cosine_matrix_sees_the_signal_while_it_runs(self):
        # 144 million cells of one-element rows: the time goes into the result's floats,
        # made on this thread while the pool is ahead of it. Before, the signal was seen
        # only at the last wait for the pool, with nearly every float made (seconds after
        # the signal); now it is seen between blocks, with a fraction of them made. The
        # module still computes a matrix afterwards.
        script = textwrap.dedent(self.SETUP) + textwrap.dedent("""
            import signal
            rows = [[0.5]] * 12000
            made = []
            def handler(signum, frame):
                made.append(sys.getallocatedblocks() - before)
                raise KeyboardInterrupt
            signal.signal(signal.SIGINT, handler)
            before = sys.getallocatedblocks()
            print("started", flush=True)
            try:
                m.cosine_similarity_matrix(rows, rows)
                print("returned", flush=True)
            except KeyboardInterrupt:
                print("interrupted", flush=True)
            print(len(made) == 1 and made[0] < 12000 * 12000 // 2)
            print(m.cosine_similarity_matrix([[1.0, 2.0]], [[3.0, 4.0], [0.5]]) == ([11.0, 0.5], 1, 2))
        """)
        assert interrupt(script) == ["interrupted", "True", "True"]


class TestSigintInsideOnePair:
    """SIGINT stops one long pair inside its kernel, not when the kernel ends: each call
    below would run on for tens of seconds after the signal (the kernels' work grows as
    the product of the lengths, or the text runs to gigabytes), and the child is given
    five. Then the module computes a pair right: the stop left no state behind (such as
    the scratch mask tables a later pattern reuses)."""

    SETUP = """
        import random
        import _tarnwick as m
        rng = random.Random(11)
        def text(n, extra=""): return "".join(rng.choices("abcdefgh" + extra, k=n))
        a, b = text(1_000_000), text(1_000_000)
        wide_a, wide_b = text(1_000_000, "\u00e9\u4e2d"), text(1_000_000, "\u00e9\u4e2d")
    """
    CALLS = {
        # Multi-word bit-parallel kernels, bytes and wider elements.
        "levenshtein": "m.levenshtein_distance(a, b)",
        "levenshtein, wide": "m.levenshtein_distance(wide_a, wide_b)",
        "levenshtein, weighted": "m.levenshtein_distance(a[:200_000], b[:200_000], weights=(1, 1, 3))",
        "indel": "m.indel_distance(a, b)",
        "indel, wide, bounded": "m.indel_distance(wide_a, wide_b, score_cutoff=900_000)",
        "osa": "m.osa_distance(a, b)",
        "osa, wide": "m.osa_distance(wide_a, wide_b)",
        "lcs": "m.lcs_seq_similarity(a, b)",
        "ratio": "m.fuzz_ratio(a, b)",
        "levenshtein editops": "m.levenshtein_editops(a[:300_000], b[:300_000])",
        # Quadratic scans: windows of half a million elements, rows of a million cells.
        "jaro": "m.jaro_similarity(a, b)",
        "gotoh": "m.gotoh_distance(a[:300_000], b[:300_000])",
        # The whole table: 1.3e9 cells of four bytes (5 GB), whose pages are committed only
        # as its rows are written, a few hundred MB before the stop.
        "damerau-levenshtein": "m.damerau_levenshtein_distance(a[:36_000], b[:36_000])",
        # One-word kernels over a text of 8 GB of zero pages that are never written.
        "ratio, short query": "m.fuzz_ratio(b'abcdefghijklmnopq', bytes(2**33))",
        "levenshtein, short query": "m.levenshtein_distance(b'abcdefgh', bytes(2**33))",
        "osa, word query": "m.osa_distance(b'abcdefghijklmnopqrstuvwxyz0123456789', bytes(2**33))",
        # The batch ratio's one-at-a-time path (a single choice, no lanes) on such a text.
        "cdist, one long choice": "m.cdist([b'abcdefghijklmnopq'], [bytes(2**33)], 'ratio', None)",
        "extract, one long choice": "m.extract(b'abcdefghijklmnopq', [bytes(2**33)], 'ratio', None)",
        # Multi-word pairs on the pool: each task is inside one pair when the signal comes.
        "cdist on the pool": "m.cdist([a] * 40, [b] * 25, 'ratio', None)",
        "cdist on the pool, wide": "m.cdist([wide_a] * 40, [wide_b] * 25, 'qratio', None)",
    }
    AFTER = """
        x, y = text(300, "\u00e9"), text(200, "\u00e9")
        def lev(s, t):
            row = list(range(len(t) + 1))
            for i, c in enumerate(s, 1):
                prev, row[0] = row[0], i
                for j, d in enumerate(t, 1):
                    prev, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, prev + (c != d))
            return row[-1]
        print(m.levenshtein_distance(x, y) == lev(x, y) and m.levenshtein_distance("kitten", "sitting") == 3
              and m.osa_distance("ca", "ac") == 1 and m.indel_distance("abc", "acb") == 2
              and abs(m.fuzz_ratio(b"abcdefghijklmnopq", b"abcdefghijklmnopx") - 100 * 32 / 34) < 1e-9)
    """

    @pytest.mark.parametrize("call", sorted(CALLS))
    def test_stops_inside_the_pair(self, call):
        assert interrupt_call(self.SETUP, self.CALLS[call], self.AFTER, timeout=5) == ["interrupted", "True"]


# The sanitizer's allocator ends the process on a request beyond memory instead of failing
# it, so these run on the normal build only.
@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="allocations beyond memory end the process under AddressSanitizer")
class TestIterablesTooLongToHold:
    """An iterable that reports a length no memory holds (range(2**63 - 1), a few bytes
    of Python) is refused at once, before any item is read; before, each conversion read
    items until the machine ran out of memory."""

    HUGE = range(2**63 - 1)
    CALLS = {
        "items of a metric": lambda m, r: m.levenshtein_distance(r, "a"),
        "editops": lambda m, r: m.hamming_editops(r, frozenset({1})),
        "cdist choices": lambda m, r: m.cdist(["a"], r, "partial_token_ratio", None),
        "join dense row": lambda m, r: m.MultiJoiner().add_array("a", dense=[r]),
        "hybrid embedding": lambda m, r: m.HybridSearchIndex(["a"], [r]),
        "cosine rows": lambda m, r: m.cosine_similarity_matrix([r], [[1.0]]),
    }

    @pytest.mark.parametrize("call", sorted(CALLS))
    def test_refused(self, call):
        import _tarnwick

        for r in (self.HUGE, range(2**40)):
            with pytest.raises((OverflowError, MemoryError)) as info:
                self.CALLS[call](_tarnwick, r)
            assert str(info.value)

    def test_len_errors_propagate_and_lengthless_iterables_still_work(self):
        import _tarnwick as m

        class BadLen:
            def __len__(self):
                raise ValueError("no length today")

            def __iter__(self):
                return iter("abc")

        with pytest.raises(ValueError, match="no length today"):
            m.levenshtein_distance(BadLen(), [1])
        assert m.levenshtein_distance((c for c in "abc"), ["a", "b", "c"]) == 0
        assert m.cdist(["ab"], (x for x in ["ab", "b"]), "ratio", None)[0] == [100.0, 66.66666666666667]


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="the sanitizer's shadow memory does not fit under an address-space limit")
def test_score_matrix_beyond_memory_says_so():
    """A cosine matrix or cdist result whose list cannot be allocated raised a MemoryError
    with an empty message; under an address-space limit of 3 GiB, 20,000 x 20,000 cells
    (3.2 GB of list alone) cannot be held."""
    out = run_script("""
        import resource
        resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))
        import _tarnwick as m
        rows = [[1.0]] * 20000
        for call in (lambda: m.cosine_similarity_matrix(rows, rows),
                     lambda: m.cdist(["a"] * 20000, ["b"] * 20000, "ratio", None)):
            try:
                call()
            except MemoryError as e:
                print(str(e))
    """)
    assert out.stdout.splitlines() == ["out of memory for the 20000 x 20000 score matrix"] * 2, out.stderr


def test_index_path_with_a_nul_is_refused(tmp_path):
    """A path with an embedded NUL reached the system's calls cut at the NUL: the writer
    then tried temporary names inside another directory forever (EEXIST on every one)."""
    import _tarnwick as m

    (tmp_path / "idx").mkdir()
    for save in (m.save_mmap_bm25, m.save_mmap_hybrid):
        with pytest.raises(ValueError, match="embedded null byte"):
            save(str(tmp_path / "idx") + "\0", ["a b"], 1.5, 0.75, True)
    assert [p.name for p in tmp_path.iterdir()] == ["idx"]
    assert list((tmp_path / "idx").iterdir()) == []
