"""Several threads call the module at once while another mutates the inputs they were
given and the objects they share: every result equals a sequential run over one of the
states the inputs went through, and the only errors are the borrow conflicts
("Already borrowed", "Already mutably borrowed")."""
import threading

import _tarnwick as m

BORROW_ERRORS = {"Already borrowed", "Already mutably borrowed"}
WORDS = ["new york mets", "new york yankees", "boston red sox", "chicago cubs",
         "los angeles dodgers", "san francisco giants", "york new", "café crème",
         "straße", "Σίσυφος", "mets new york", "red sox boston"]
EXTRA = "new yrok mets"
ROUNDS = 60


class Yielding:
    """An index that lets other threads run while the module holds its borrow."""

    def __init__(self, n):
        self.n = n

    def __index__(self):
        threading.Event().wait(0.0005)
        return self.n


def run_threads(workers, mutator):
    stop = threading.Event()
    failures = []

    def guarded(fn):
        def body():
            try:
                fn(stop)
            except BaseException as e:  # noqa: BLE001 - reported below
                failures.append(repr(e))
                stop.set()
        return body

    threads = [threading.Thread(target=guarded(w)) for w in workers]
    mut = threading.Thread(target=guarded(lambda s: mutator(s)))
    for t in threads:
        t.start()
    mut.start()
    for t in threads:
        t.join(300)
    stop.set()
    mut.join(300)
    assert not failures, failures


def test_batch_functions_and_metrics_see_one_state_of_a_mutated_list():
    choices = list(WORDS)
    states = [list(WORDS), list(WORDS) + [EXTRA]]
    # What a sequential run gives for each state the mutator leaves the list in.
    expect = {
        "cdist": [m.cdist(WORDS[:4], s, "token_set_ratio", None) for s in states],
        "extract": [m.extract("new york", s, "wratio", None, limit=None) for s in states],
        "extract_one": [m.extract_one("boston sox", s, "ratio", None) for s in states],
        "lev": [m.levenshtein_distance(s, WORDS) for s in states],
        "editops": [m.indel_editops(s, WORDS).as_list() for s in states],
        "partial": [m.fuzz_partial_ratio(" ".join(s), "red sox") for s in states],
    }

    def worker(kind):
        def run(stop):
            for _ in range(ROUNDS):
                if kind == "cdist":
                    got = m.cdist(WORDS[:4], choices, "token_set_ratio", None)
                elif kind == "extract":
                    got = m.extract("new york", choices, "wratio", None, limit=None)
                elif kind == "extract_one":
                    got = m.extract_one("boston sox", choices, "ratio", None)
                elif kind == "lev":
                    got = m.levenshtein_distance(choices, WORDS)
                elif kind == "editops":
                    got = m.indel_editops(choices, WORDS).as_list()
                else:
                    got = m.fuzz_partial_ratio(" ".join(choices), "red sox")
                assert got in expect[kind], (kind, got)
        return run

    def mutator(stop):
        while not stop.is_set():
            choices.append(EXTRA)
            choices.pop()
            # The same values in new objects.
            i = len(choices) // 2
            choices[i] = "".join(list(choices[i]))

    run_threads([worker(k) for k in expect for _ in range(2)], mutator)


def test_bktree_shared_between_readers_and_a_writer():
    tree = m.BKTree()
    for w in WORDS[:6]:
        tree.insert(w)
    later = WORDS[6:]
    # all_values after each insertion of the writer, in order.
    seq = m.BKTree()
    for w in WORDS[:6]:
        seq.insert(w)
    states = [sorted(seq.all_values())]
    for w in later:
        seq.insert(w)
        states.append(sorted(seq.all_values()))
    dedupe_input = WORDS + ["new york metz", "boston red sox"]
    own_expected = m.BKTree().dedupe(dedupe_input, 2)

    def reader(stop):
        for _ in range(ROUNDS):
            assert sorted(tree.all_values()) in states
            # a tree of its own per call: same result as the sequential one
            assert m.BKTree().dedupe(dedupe_input, 2) == own_expected

    def writer(stop):
        for w in later:
            tree.insert(w)

    run_threads([reader] * 4, writer)
    assert sorted(tree.all_values()) == states[-1]


def test_search_classes_under_concurrent_queries():
    corpus = [" ".join(WORDS[i:i + 3]) for i in range(len(WORDS))]
    embeddings = [[float((i * j) % 5) - 2.0 for j in range(4)] for i in range(len(corpus))]
    bm25 = m.BM25Index(corpus)
    plus = m.BM25Plus(corpus, normalize=True)
    hybrid = m.HybridSearchIndex(corpus, embeddings)
    allowed = [i % 2 == 0 for i in range(len(corpus))]
    queries = ["new york", "red sox boston", "crème", "giants dodgers"]
    calls = {
        "top_n": lambda q: bm25.get_top_n(q, 5),
        "filtered": lambda q: bm25.get_top_n_filtered(q, 5, allowed),
        "fuzzy": lambda q: plus.get_top_n_fuzzy(q, 4),
        "rrf": lambda q: plus.get_top_n_rrf(q, 4),
        "phrase": lambda q: bm25.get_top_n_phrase(q, 3),
        "batch": lambda q: bm25.get_batch_scores([q, q + " cubs"]),
        "hybrid": lambda q: hybrid.search(q, [1.0, 0.0, -1.0, 0.5], n=4),
        "hybrid_filtered": lambda q: hybrid.search_filtered(q, None, n=4, allowed=allowed),
        "yielding_n": lambda q: bm25.get_top_n(q, Yielding(3)),
    }
    expect = {(k, q): f(q) for k, f in calls.items() for q in queries}

    def worker(stop):
        for r in range(ROUNDS):
            for k, f in calls.items():
                q = queries[r % len(queries)]
                assert f(q) == expect[(k, q)], (k, q)

    def mutator(stop):
        # The allowed mask changes under the filtered calls only in ways that keep its
        # values: the same booleans in a new list.
        while not stop.is_set():
            allowed[:] = [bool(a) for a in allowed]

    run_threads([worker] * 4, mutator)


def test_joiner_with_a_thread_adding_arrays():
    arrays = [("a", WORDS[:5]), ("b", WORDS[3:9]), ("c", WORDS[6:]), ("d", WORDS[::2])]
    # The join after each prefix of the add_array calls, computed sequentially.
    states = []
    for k in range(2, len(arrays) + 1):
        j = m.MultiJoiner()
        for name, texts in arrays[:k]:
            j.add_array(name, texts=texts)
        states.append(j.join(n=2))
    shared = m.MultiJoiner()
    for name, texts in arrays[:2]:
        shared.add_array(name, texts=texts)
    conflicts = []

    def reader(stop):
        for _ in range(ROUNDS):
            try:
                rows = shared.join(n=Yielding(2))
            except RuntimeError as e:
                assert str(e) in BORROW_ERRORS, str(e)
                conflicts.append(str(e))
                continue
            assert rows in states

    def writer(stop):
        for name, texts in arrays[2:]:
            while True:
                try:
                    shared.add_array(name, texts=texts)
                    break
                except RuntimeError as e:
                    assert str(e) in BORROW_ERRORS, str(e)
                    conflicts.append(str(e))

    run_threads([reader] * 4, writer)
    assert shared.join(n=2) == states[-1]
