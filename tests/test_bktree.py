"""BKTree: dedupe against a brute-force pairwise filter, tree shape, pickling, errors."""
import copy
import pickle

import pytest

import tarnwick
from _tarnwick import BKTree, levenshtein_distance


def byte_levenshtein(a, b):
    """Unit-cost Levenshtein distance of the UTF-8 bytes, by the textbook table."""
    a, b = a.encode(), b.encode()
    prev = list(range(len(b) + 1))
    for i, x in enumerate(a, 1):
        cur = [i]
        for j, y in enumerate(b, 1):
            cur.append(min(prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (x != y)))
        prev = cur
    return prev[-1]


def brute_dedupe(stored, items, threshold):
    """Keeps an item when nothing stored or kept so far lies within the threshold."""
    pool = list(stored)
    kept = []
    for s in items:
        if all(byte_levenshtein(s, t) > threshold for t in pool):
            kept.append(s)
            pool.append(s)
    return kept


def word_list(rng, n, alphabet, lo=0, hi=8):
    base = ["".join(rng.choice(alphabet) for _ in range(rng.randint(lo, hi)))
            for _ in range(max(1, n // 3))]
    out = []
    for _ in range(n):
        w = list(rng.choice(base))
        for _ in range(rng.randint(0, 2)):
            op = rng.randrange(3)
            if op == 0 and w:
                del w[rng.randrange(len(w))]
            elif op == 1:
                w.insert(rng.randint(0, len(w)), rng.choice(alphabet))
            elif w:
                w[rng.randrange(len(w))] = rng.choice(alphabet)
        out.append("".join(w))
    return out


class ReferenceTree:
    """A plain BK-tree: the (parent, key, child) edges that inserting in order gives."""

    def __init__(self):
        self.root = None
        self.children = {}

    def insert(self, s):
        if self.root is None:
            self.root = s
            self.children[s] = {}
            return
        node = self.root
        while True:
            d = byte_levenshtein(node, s)
            if d == 0:
                return
            if d not in self.children[node]:
                self.children[node][d] = s
                self.children[s] = {}
                return
            node = self.children[node][d]

    def edges(self):
        return {(p, k, c) for p, kids in self.children.items() for k, c in kids.items()}


class TestDedupeAgainstBruteForce:
    @pytest.mark.parametrize("threshold", [0, 1, 2, 3])
    # "pqxy0189": bytes that share a bit in the tree's folded byte sets.
    @pytest.mark.parametrize("alphabet", ["abc", "abcdefghij", "pqxy0189", "a\u00e9\u00e8\u4e2d"])
    def test_random_word_lists(self, rng, threshold, alphabet):
        tree = BKTree()
        words = word_list(rng, 300, alphabet)
        assert tree.dedupe(words, threshold) == brute_dedupe([], words, threshold)

    def test_batches_accumulate(self, rng):
        tree, stored = BKTree(), []
        for threshold in (2, 0, 1, 3):
            words = word_list(rng, 120, "abcdef")
            kept = tree.dedupe(words, threshold)
            assert kept == brute_dedupe(stored, words, threshold)
            stored += kept
        assert sorted(tree.all_values()) == sorted(stored)

    def test_long_strings(self, rng):
        # Queries of more than 64 bytes take the block-wise kernel.
        base = "".join(rng.choice("ab") for _ in range(100))
        words = [base[:k] + "".join(rng.choice("ab") for _ in range(rng.randint(0, 4)))
                 for k in (60, 63, 64, 65, 66, 90, 100) for _ in range(5)]
        rng.shuffle(words)
        for threshold in (1, 3, 8):
            assert BKTree().dedupe(words, threshold) == brute_dedupe([], words, threshold)

    def test_inserts_and_setstate_between_batches(self, rng):
        # Later batches must see strings added by insert and __setstate__ in between.
        tree = BKTree()
        first = word_list(rng, 150, "abcde", 3, 10)
        stored = tree.dedupe(first, 1)
        extra = word_list(rng, 40, "abcde", 3, 10)
        for s in extra:
            tree.insert(s)
        stored += [s for s in extra if s not in stored]
        words = word_list(rng, 150, "abcde", 3, 10)
        assert tree.dedupe(words, 1) == brute_dedupe(stored, words, 1)
        replacement = word_list(rng, 60, "abcde", 3, 10)
        tree.__setstate__(replacement)
        words = word_list(rng, 150, "abcde", 3, 10)
        assert tree.dedupe(words, 1) == brute_dedupe(list(dict.fromkeys(replacement)), words, 1)

    def test_many_candidates(self, rng):
        # A small alphabet fills the tree with strings that share segments with nearly
        # every query.
        tree, stored = BKTree(), []
        for threshold in (2, 3):
            words = word_list(rng, 400, "ab", 6, 14)
            kept = tree.dedupe(words, threshold)
            assert kept == brute_dedupe(stored, words, threshold)
            stored += kept

    def test_dense_tree(self, rng):
        # Every binary string of 8 to 11 bytes: queries meet thousands of candidates, and
        # the plain tree search answers them.
        stored = [format(v, "b").zfill(n) for n in range(8, 12) for v in range(2**n)]
        tree = BKTree()
        tree.__setstate__(stored)
        queries = []
        for _ in range(40):
            q = list(format(rng.randrange(2**10), "b").zfill(rng.choice([9, 10])))
            for _ in range(rng.randint(0, 3)):
                q.insert(rng.randint(0, len(q)), "c")
            queries.append("".join(q))
        for threshold in (2, 3):
            fresh = BKTree()
            fresh.__setstate__(stored)
            kept = fresh.dedupe(queries, threshold)
            pool, expect = list(stored), []
            for s in queries:
                if all(levenshtein_distance(s, t, score_cutoff=threshold) > threshold
                       for t in pool):
                    expect.append(s)
                    pool.append(s)
            assert kept == expect

    def test_after_inserts(self, rng):
        tree = BKTree()
        stored = word_list(rng, 80, "abcd")
        for s in stored:
            tree.insert(s)
        words = word_list(rng, 80, "abcd")
        assert tree.dedupe(words, 1) == brute_dedupe(stored, words, 1)


class TestDedupeCases:
    def test_worked_batch(self):
        tree = BKTree()
        assert tree.dedupe(["apple", "appel", "banana"], 2) == ["apple", "banana"]
        assert tree.all_values() == ["apple", "banana"]

    def test_threshold_zero_and_repeat(self):
        tree = BKTree()
        assert tree.dedupe(["x", "x", "y"], 0) == ["x", "y"]
        assert tree.dedupe(["x", "x", "y"], 0) == []

    def test_distance_counts_utf8_bytes(self):
        tree = BKTree()
        tree.insert("\u00e9")
        assert tree.dedupe(["e"], 1) == ["e"]  # d("é", "e") is 2 on bytes
        assert tree.dedupe(["\u00e8"], 1) == []  # é and è differ in one byte

    def test_empty_and_huge(self):
        tree = BKTree()
        assert tree.dedupe([], 3) == []
        assert tree.all_values() == []
        assert tree.dedupe(["a", "bcd", ""], 2**64 - 1) == ["a"]
        assert tree.dedupe(["zzzz"], 2**64 - 1) == []
        assert tree.dedupe(("", "q"), 0) == ["", "q"]  # any sequence of str

    def test_keeps_the_given_objects(self):
        class S(str):
            pass

        item = S("word")
        assert BKTree().dedupe([item], 1)[0] is item


class TestTreeShape:
    def test_insert_twice(self):
        tree = BKTree()
        assert tree.all_values() == [] and tree.__getstate__() == []
        assert tree.insert("a") is None
        tree.insert("a")
        assert tree.all_values() == ["a"]

    def test_parents_come_before_children(self, rng):
        words = word_list(rng, 200, "abcdef")
        tree, ref = BKTree(), ReferenceTree()
        for w in words:
            tree.insert(w)
            ref.insert(w)
        values = tree.all_values()
        assert values[0] == words[0]
        assert sorted(values) == sorted(set(words))
        # Inserting the walk order rebuilds exactly the same tree only when every
        # parent precedes its children.
        rebuilt = ReferenceTree()
        for v in values:
            rebuilt.insert(v)
        assert rebuilt.edges() == ref.edges()


class TestPickling:
    def test_round_trip(self, rng):
        tree = BKTree()
        tree.dedupe(word_list(rng, 150, "abcde\u00e9"), 1)
        clone = pickle.loads(pickle.dumps(tree))
        assert type(clone) is BKTree
        assert sorted(clone.all_values()) == sorted(tree.all_values())
        later = word_list(rng, 100, "abcde\u00e9")
        assert clone.dedupe(later, 2) == tree.dedupe(later, 2)

    def test_pickles_through_the_package(self):
        assert BKTree.__module__ == "tarnwick"
        assert tarnwick.BKTree is BKTree
        tree = BKTree()
        tree.insert("a")
        cls, args, state = tree.__reduce__()
        assert cls is BKTree and args == () and state == ["a"]
        for proto in range(pickle.HIGHEST_PROTOCOL + 1):
            assert pickle.loads(pickle.dumps(tree, proto)).all_values() == ["a"]
        assert pickle.loads(pickle.dumps(BKTree())).all_values() == []

    def test_copies(self):
        tree = BKTree()
        tree.dedupe(["apple", "banana"], 1)
        for clone in (copy.copy(tree), copy.deepcopy(tree)):
            assert clone is not tree
            clone.insert("cherry")
            assert sorted(clone.all_values()) == ["apple", "banana", "cherry"]
        assert sorted(tree.all_values()) == ["apple", "banana"]

    def test_setstate_replaces_content(self):
        tree = BKTree()
        tree.insert("old")
        source = BKTree()
        source.dedupe(["apple", "apply", "banana", "bandana", "cherry"], 0)
        tree.__setstate__(source.__getstate__())
        assert sorted(tree.all_values()) == sorted(source.all_values())
        tree.__setstate__(iter(["z"]))
        assert tree.all_values() == ["z"]


class TestErrors:
    def test_constructor_takes_nothing(self):
        with pytest.raises(TypeError):
            BKTree(["a"])
        with pytest.raises(TypeError):
            BKTree(items=["a"])

    def test_insert_needs_str(self):
        tree = BKTree()
        with pytest.raises(TypeError, match="argument 'item'"):
            tree.insert(b"a")
        assert tree.all_values() == []

    def test_dedupe_arguments_checked_first(self):
        tree = BKTree()
        tree.insert("abc")
        with pytest.raises(TypeError, match="argument 'items'"):
            tree.dedupe("abc", 1)
        with pytest.raises(TypeError, match="argument 'items'"):
            tree.dedupe({"x", "y"}, 1)
        with pytest.raises(TypeError, match="argument 'items'"):
            tree.dedupe(["x", 1], 1)
        with pytest.raises(OverflowError):
            tree.dedupe(["x"], -1)
        with pytest.raises(TypeError, match="argument 'threshold'"):
            tree.dedupe(["x"], 1.0)
        assert tree.all_values() == ["abc"]

    def test_setstate_errors(self):
        tree = BKTree()
        tree.insert("keep")
        with pytest.raises(TypeError):
            tree.__setstate__(5)
        assert tree.all_values() == []
        with pytest.raises(TypeError):
            tree.__setstate__(["a", 1])
        assert tree.all_values() == ["a"]

        def failing():
            yield "b"
            raise KeyError("boom")

        with pytest.raises(KeyError, match="boom"):
            tree.__setstate__(failing())
        assert tree.all_values() == ["b"]

    def test_reentrant_use_is_refused(self):
        tree = BKTree()
        tree.insert("a")

        class Reader(list):
            def __iter__(self):
                tree.all_values()
                return super().__iter__()

        with pytest.raises(RuntimeError, match="Already mutably borrowed"):
            tree.dedupe(Reader(["b"]), 0)

        def writer():
            tree.insert("c")
            yield "d"

        with pytest.raises(RuntimeError, match="Already borrowed"):
            tree.__setstate__(writer())
        assert tree.all_values() == []
        tree.insert("e")
        assert tree.all_values() == ["e"]

    def test_signatures(self):
        assert BKTree.__text_signature__ == "()"
        assert not BKTree.__doc__
        assert BKTree.insert.__text_signature__ == "($self, item)"
        assert BKTree.dedupe.__text_signature__ == "($self, items, threshold)"
        assert BKTree.all_values.__doc__ == "Collect all values in the tree via DFS."
        assert BKTree.__reduce__.__doc__.startswith("Pickle support: serialise as (cls, args, state)")


def test_setstate_iteration_error_is_raised_unchanged():
    from tarnwick import BKTree

    class Broken:
        def __iter__(self):
            raise TypeError("boom")

    with pytest.raises(TypeError) as e:
        BKTree().__setstate__(Broken())
    assert str(e.value) == "boom"
