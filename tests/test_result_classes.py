"""The result classes: the records Editop, Opcode, ScoreAlignment and MatchingBlock, the lists
Editops and Opcodes, and the conversions between them."""

import copy
import math
import pickle
import subprocess
import sys
import threading
import types

import pytest

import tarnwick as tw
from tarnwick import Editop, Editops, MatchingBlock, Opcode, Opcodes, ScoreAlignment


def blocks(bs):
    return [(b.a, b.b, b.size) for b in bs]


class TestRecords:
    def test_editop_equality_forms(self):
        e = Editop("delete", 1, 1)
        assert e == ("delete", 1, 1)
        assert e == ["delete", 1, 1]
        assert e == types.SimpleNamespace(tag="delete", src_pos=1, dest_pos=1)
        assert not e != ("delete", 1, 1)
        assert e != ("delete", 1)
        assert e != ("delete", -1, 1)
        assert e != 5
        assert e != Editop("Delete", 1, 1)

    def test_opcode_equality_forms(self):
        o = Opcode()
        assert o == ("equal", 0, 0, 0, 0)
        assert o == ["equal", 0, 0, 0, 0]
        assert o != types.SimpleNamespace(tag="equal", src_start=0, src_end=0, dest_start=0, dest_end=0)
        assert Opcode("replace", 1, 2, 3, 4) == Opcode(tag="replace", src_start=1, src_end=2,
                                                       dest_start=3, dest_end=4)

    def test_repr_index_iter(self):
        assert repr(Editop("insert", 0, 2)) == "Editop(tag='insert', src_pos=0, dest_pos=2)"
        assert repr(Editop("it's", 0, 2)) == "Editop(tag='it's', src_pos=0, dest_pos=2)"
        assert repr(Opcode("equal", 1, 2, 3, 4)) == (
            "Opcode(tag='equal', src_start=1, src_end=2, dest_start=3, dest_end=4)")
        e = Editop("replace", 3, 4)
        assert (e[-1], e[-3], list(e)) == (4, "replace", ["replace", 3, 4])
        for bad in (3, -4):
            with pytest.raises(IndexError, match="index out of range"):
                e[bad]
        with pytest.raises(TypeError, match="argument 'idx'"):
            e["x"]
        o = Opcode("delete", 1, 2, 3, 4)
        assert tuple(o) == ("delete", 1, 2, 3, 4) and o[-5] == "delete"

    def test_fields_are_mutable_and_checked(self):
        e = Editop("delete", 1, 1)
        e.dest_pos = 7
        assert e == ("delete", 1, 7)
        with pytest.raises(AttributeError, match="can't delete attribute"):
            del e.tag
        with pytest.raises(TypeError, match="argument 'tag'"):
            e.tag = 5
        with pytest.raises(OverflowError):
            e.src_pos = -1
        assert e.tag == "delete" and e.src_pos == 1
        with pytest.raises(TypeError):
            Editop(5, 1, 1)
        with pytest.raises(OverflowError):
            Opcode("equal", -1)
        with pytest.raises(TypeError):
            e < e

    def test_hash_is_siphash13_of_fields(self):
        """Compares with the interpreter's own SipHash-1-3 over bytes (zero keys when
        PYTHONHASHSEED=0)."""
        records = [Editop("delete", 1, 1), Editop("insert", 2**64 - 1, 0), Opcode("equal", 0, 3, 0, 3),
                   Opcode("é", 1, 2, 3, 4)]
        payloads = []
        for r in records:
            fields = list(r)
            data = fields[0].encode() + b"\xff" + b"".join(f.to_bytes(8, "little") for f in fields[1:])
            payloads.append(data)
        code = ("import sys; assert sys.hash_info.algorithm == 'siphash13'; "
                f"print([hash(p) for p in {payloads!r}])")
        out = subprocess.run([sys.executable, "-c", code], env={"PYTHONHASHSEED": "0"},
                             capture_output=True, text=True)
        if out.returncode != 0:
            pytest.skip("interpreter does not hash bytes with SipHash-1-3")
        assert [hash(r) for r in records] == eval(out.stdout)
        a, b = Editop("delete", 1, 1), Editop("delete", 1, 1)
        assert hash(a) == hash(b)
        b.dest_pos = 2
        assert hash(a) != hash(b)

    def test_pickle_and_copy(self):
        for r in (Editop("delete", 1, 2), Opcode("insert", 1, 1, 2, 5)):
            r2 = pickle.loads(pickle.dumps(r))
            assert r2 == r and type(r2) is type(r) and r2 is not r
            assert copy.copy(r) == r
        assert type(Editop("a", 1, 2)).__module__ == "tarnwick"
        assert Opcode.__text_signature__ == (
            '(tag="equal", src_start=0, src_end=0, dest_start=0, dest_end=0)')


class TestLists:
    def test_editops_constructor(self):
        assert Editops(["abc"], 3, 3).as_list() == []
        assert Editops("abc", 3, 3).as_list() == []
        assert Editops([1, 2], 3, 3).as_list() == []
        e = Editops([("delete", 1, 1), ("replace", 0, 3, 0, 3)], 5, 5)
        assert e.as_list() == [("delete", 1, 1), ("replace", 0, 0), ("replace", 1, 1), ("replace", 2, 2)]
        assert Editops([("insert", 2, 2, 0, 3), ("equal", 0, 3, 0, 3)], 3, 6).as_list() == [
            ("insert", 2, 0), ("insert", 2, 1), ("insert", 2, 2)]
        assert Editops([Editop("delete", 0, 0), Opcode("delete", 1, 3, 0, 0)], 3, 0).as_list() == [
            ("delete", 0, 0), ("delete", 1, 0), ("delete", 2, 0)]
        with pytest.raises(TypeError):
            Editops(5, 1, 1)
        with pytest.raises(TypeError, match="argument 'src_len'"):
            Editops([], "x", 1)

    def test_opcodes_constructor(self):
        assert Opcodes([], 4, 2).as_list() == [("equal", 0, 4, 0, 2)]
        assert Opcodes([], 0, 0).as_list() == []
        assert Opcodes([("delete", 2, 3, 2, 2)], 5, 4).as_list() == [
            ("equal", 0, 2, 0, 2), ("delete", 2, 3, 2, 2), ("equal", 3, 5, 2, 4)]
        assert Opcodes([("delete", 1, 2, 1, 1), ("delete", 2, 3, 1, 1)], 3, 1).as_list() == [
            ("equal", 0, 1, 0, 1), ("delete", 1, 3, 1, 1)]
        assert Opcodes([("delete", 0, 1, 0, 0), ("insert", 0, 0, 0, 1)], 1, 1).as_list() == [
            ("delete", 0, 1, 0, 0), ("insert", 0, 0, 0, 1)]
        assert Opcodes([("delete", 0, 1, 0, 0), ("insert", 0, 0)], 1, 0).as_list() == [
            ("delete", 0, 1, 0, 0)]
        assert Opcodes([("replace", 0, 1, 0, 1, "extra")], 1, 1).as_list() == [("replace", 0, 1, 0, 1)]
        assert Opcodes([("delete", 1, 1)], 3, 2).as_list() == [
            ("equal", 0, 1, 0, 1), ("delete", 1, 2, 1, 1), ("equal", 2, 3, 1, 2)]

    def test_editops_indexing_slicing_deletion(self):
        e = Editops([("delete", i, 0) for i in range(3)], 3, 0)
        assert e[-1] == ("delete", 2, 0)
        with pytest.raises(IndexError, match="index out of range"):
            e[-4]
        with pytest.raises(ValueError, match="step sizes below 0 lead to an invalid order of editops"):
            e[::-1]
        with pytest.raises(ValueError, match="slice step cannot be zero"):
            e[::0]
        with pytest.raises(TypeError, match="invalid index type"):
            e["a"]
        assert e[1:].as_list() == [("delete", 1, 0), ("delete", 2, 0)]
        assert (e[::2].src_len, e[::2].dest_len) == (3, 0)
        with pytest.raises(NotImplementedError, match="can't set item"):
            e[100] = ("delete", 0, 0)
        e8 = Editops([("delete", i, 0) for i in range(8)], 8, 0)
        del e8[5:2:-1]
        assert [op.src_pos for op in e8] == [0, 1, 2, 6, 7]
        del e8[::2]
        assert [op.src_pos for op in e8] == [1, 6]
        del e8[-1]
        assert [op.src_pos for op in e8] == [1]
        with pytest.raises(TypeError, match="unsupported key type"):
            del e8["x"]
        item = e8[0]
        item.src_pos = 99
        assert e8[0].src_pos == 1

    def test_opcodes_indexing(self):
        o = Opcodes([("delete", 2, 3, 2, 2)], 5, 4)
        assert o[-1] == ("equal", 3, 5, 2, 4) and len(o) == 3
        for key in (slice(0, 1), 1.0):
            with pytest.raises(TypeError, match="invalid key"):
                o[key]
        with pytest.raises(TypeError):
            o[0] = ("equal", 0, 0, 0, 0)
        with pytest.raises(TypeError):
            del o[0]

    def test_equality_repr_and_lengths(self):
        e = Editops([("delete", 1, 1)], 3, 2)
        assert e != e.as_list()
        assert e == Editops([Editop("delete", 1, 1)], 3, 2)
        assert e != Editops([("delete", 1, 1)], 3, 3)
        assert repr(Editops([], 0, 0)) == "Editops([], src_len=0, dest_len=0)"
        assert repr(e) == "Editops([Editop(tag='delete', src_pos=1, dest_pos=1)], src_len=3, dest_len=2)"
        e.src_len = 10
        assert e.src_len == 10
        with pytest.raises(AttributeError, match="can't delete attribute"):
            del e.dest_len
        with pytest.raises(TypeError):
            hash(e)

    def test_pickle_copy_through_package(self):
        e = tw.levenshtein_editops("kitten", "sitting")
        o = tw.levenshtein_opcodes("kitten", "sitting")
        for x in (e, o):
            y = pickle.loads(pickle.dumps(x))
            assert y == x and type(y) is type(x)
            c = x.copy()
            assert c == x and c is not x
        assert e.__reduce__()[0] is Editops


class TestConversions:
    def test_editops_to_opcodes_examples(self):
        cases = [
            ([], 0, 0, []),
            ([], 3, 3, [("equal", 0, 3, 0, 3)]),
            ([("delete", 1, 1)], 3, 2, [("equal", 0, 1, 0, 1), ("delete", 1, 2, 1, 1), ("equal", 2, 3, 1, 2)]),
            ([("delete", 1, 1), ("delete", 2, 1)], 4, 2,
             [("equal", 0, 1, 0, 1), ("delete", 1, 3, 1, 1), ("equal", 3, 4, 1, 2)]),
            ([("replace", 0, 0), ("replace", 1, 1)], 2, 2, [("replace", 0, 2, 0, 2)]),
            ([("replace", 0, 0), ("delete", 1, 1)], 2, 1, [("replace", 0, 1, 0, 1), ("delete", 1, 2, 1, 1)]),
            ([("insert", 0, 0), ("insert", 0, 1)], 0, 2, [("insert", 0, 0, 0, 2)]),
        ]
        for ops, l1, l2, want in cases:
            assert Editops(ops, l1, l2).as_opcodes().as_list() == want

    def test_as_editops_and_matching_blocks(self):
        o = Opcodes([("equal", 0, 2, 0, 2), ("delete", 2, 4, 2, 2)], 4, 2)
        assert o.as_editops().as_list() == [("delete", 2, 2), ("delete", 3, 2)]
        e = Editops([("delete", 1, 1)], 3, 2)
        assert blocks(e.as_matching_blocks()) == [(0, 0, 1), (2, 1, 1), (3, 2, 0)]
        assert blocks(e.as_opcodes().as_matching_blocks()) == [(0, 0, 1), (2, 1, 1), (3, 2, 0)]
        assert blocks(Editops([], 0, 0).as_matching_blocks()) == [(0, 0, 0)]
        assert blocks(Editops([], 3, 3).as_matching_blocks()) == [(0, 0, 3), (3, 3, 0)]
        assert all(type(b) is MatchingBlock for b in e.as_matching_blocks())

    def test_inverse_and_remove_subsequence(self):
        assert Editops([("delete", 1, 1)], 3, 2).inverse() == Editops([("insert", 1, 1)], 2, 3)
        assert Opcodes([("delete", 1, 2, 1, 1)], 3, 2).inverse()[1] == ("insert", 1, 1, 1, 2)
        e = Editops([("delete", 1, 1), ("insert", 3, 2)], 5, 5)
        r = e.remove_subsequence(Editops([("delete", 1, 1)], 5, 5))
        assert r.as_list() == [("insert", 3, 2)] and (r.src_len, r.dest_len) == (5, 5)
        assert e.remove_subsequence(other=Editops([("replace", 0, 0)], 1, 1)) == e
        with pytest.raises(TypeError, match="argument 'other'"):
            e.remove_subsequence([("delete", 1, 1)])

    def test_round_trip_of_a_real_script(self):
        s1, s2 = "the quick brown fox", "a quack brown box!"
        e = tw.levenshtein_editops(s1, s2)
        assert Opcodes(e.as_opcodes().as_list(), len(s1), len(s2)) == e.as_opcodes()
        assert Editops(e.as_opcodes(), len(s1), len(s2)) == e
        assert e.inverse().inverse() == e
        assert e.as_opcodes().inverse().as_editops() == e.inverse()


class TestOddScripts:
    def test_out_of_order_editops_convert_in_finite_time(self):
        e = Editops([("insert", 0, 0), ("delete", 0, 0)], 1, 1)
        assert isinstance(e.as_opcodes(), Opcodes)
        assert isinstance(Opcodes([("insert", 0, 0), ("delete", 0, 0)], 1, 1), Opcodes)
        assert isinstance(Editops([("replace", 5, 5), ("replace", 1, 1), ("foo", 0, 0)], 9, 9).as_opcodes(),
                          Opcodes)

    def test_backward_ranges_expand_to_nothing(self):
        assert len(Editops([("replace", 5, 1, 0, 0)], 9, 9)) == 0
        assert len(Editops([("insert", 0, 0, 5, 1)], 9, 9)) == 0
        assert len(Editops([("delete", 7, 2, 0, 0)], 9, 9)) == 0
        o = Opcodes([("replace", 3, 0, 0, 3)], 0, 0)
        assert len(o.as_editops()) == 0
        assert blocks(Opcodes([("equal", 3, 0, 0, 3)], 0, 0).as_matching_blocks()) == [(0, 0, 0)]

    def test_huge_expansions_raise_memory_error(self):
        with pytest.raises(MemoryError):
            Editops([("delete", 0, 2**62, 0, 0)], 0, 0)
        o = Opcodes([("insert", 0, 0, 0, 2**63)], 0, 2**63)
        with pytest.raises(MemoryError):
            o.as_editops()


def test_comparison_with_a_list_changed_by_its_own_items():
    """A list emptied while its items convert is compared as it was when read."""
    from tarnwick import Editop, Opcode

    class Shrinks:
        def __index__(self):
            victim.clear()
            return 1

    victim = ["delete", Shrinks(), 1]
    assert Editop("delete", 1, 1) == victim
    victim = ["equal", Shrinks(), 1, 1, 1]
    assert Opcode("equal", 1, 1, 1, 1) == victim


class TestScoreAlignment:
    def test_equality(self):
        a = ScoreAlignment(50.0, 0, 3, 2, 5)
        assert a == ScoreAlignment(50, 0, 3, 2, 5)
        assert a != ScoreAlignment(50.0, 0, 3, 2, 6)
        assert (a == (50.0, 0, 3, 2, 5)) is False
        assert (a != (50.0, 0, 3, 2, 5)) is True
        assert a != [50.0, 0, 3, 2, 5]
        with pytest.raises(TypeError):
            a < ScoreAlignment(60.0, 0, 3, 2, 5)

    def test_repr(self):
        assert repr(ScoreAlignment(100.0, 1, 2, 3, 4)) == (
            "ScoreAlignment(score=100, src_start=1, src_end=2, dest_start=3, dest_end=4)")
        assert repr(ScoreAlignment(12.5, 1, 2, 3, 4)).startswith("ScoreAlignment(score=12.5,")
        assert "score=66.66666666666667," in repr(ScoreAlignment(200 / 3, 0, 0, 0, 0))
        assert "score=0.0001," in repr(ScoreAlignment(1e-4, 0, 0, 0, 0))
        assert "score=100000000000000000000," in repr(ScoreAlignment(1e20, 0, 0, 0, 0))
        assert "score=NaN," in repr(ScoreAlignment(math.nan, 0, 0, 0, 0))
        assert "score=-inf," in repr(ScoreAlignment(-math.inf, 0, 0, 0, 0))

    def test_iteration_and_indexing(self):
        a = ScoreAlignment(1.5, 1, 2, 3, 4)
        assert list(a) == [1.5, 1, 2, 3, 4]
        score, s0, s1, d0, d1 = a
        assert (score, s0, s1, d0, d1) == (1.5, 1, 2, 3, 4)
        assert a[0] == 1.5 and a[-1] == 4 and a[-5] == 1.5 and a[4] == 4
        for idx in (5, -6):
            with pytest.raises(IndexError, match="index out of range"):
                a[idx]
        with pytest.raises(TypeError, match="argument 'idx'"):
            a["0"]
        with pytest.raises(TypeError):
            len(a)

    def test_iterator_is_a_snapshot(self):
        a = ScoreAlignment(1.5, 1, 2, 3, 4)
        it = iter(a)
        a.src_start = 9
        assert list(it) == [1.5, 1, 2, 3, 4]
        assert a[1] == 9

    def test_fields(self):
        a = ScoreAlignment(1, 2, 3, 4, 5)
        assert type(a.score) is float and a.score == 1.0
        a.score = 7
        a.dest_end = 2**64 - 1
        assert list(a) == [7.0, 2, 3, 4, 2**64 - 1]
        with pytest.raises(OverflowError):
            a.src_end = -1
        with pytest.raises(TypeError, match="argument 'src_end'"):
            a.src_end = "x"
        with pytest.raises(TypeError, match="argument 'score'"):
            a.score = "x"
        assert list(a) == [7.0, 2, 3, 4, 2**64 - 1]
        with pytest.raises(AttributeError, match="can't delete attribute"):
            del a.score

    def test_constructor_arguments(self):
        assert ScoreAlignment(score=1, src_start=2, src_end=3, dest_start=4, dest_end=5) == \
            ScoreAlignment(1, 2, 3, 4, 5)
        with pytest.raises(TypeError):
            ScoreAlignment(1, 2, 3, 4)
        with pytest.raises(OverflowError):
            ScoreAlignment(1, 2, 3, 4, 2**64)
        with pytest.raises(TypeError, match="argument 'dest_start'"):
            ScoreAlignment(1, 2, 3, 4.0, 5)
        assert ScoreAlignment.__text_signature__ == "(score, src_start, src_end, dest_start, dest_end)"
        assert ScoreAlignment.__module__ == "tarnwick"

    def test_unhashable_pickle_and_copy(self):
        a = ScoreAlignment(12.5, 1, 2, 3, 4)
        with pytest.raises(TypeError):
            hash(a)
        assert a.__reduce__() == (ScoreAlignment, (12.5, 1, 2, 3, 4))
        for b in (pickle.loads(pickle.dumps(a)), copy.copy(a), copy.deepcopy(a)):
            assert b == a and b is not a
        n = ScoreAlignment(math.nan, 1, 2, 3, 4)
        assert n != n
        assert pickle.loads(pickle.dumps(n)) != n

    def test_concurrent_reads_and_writes(self):
        """Readers and setters from several threads leave a consistent record."""
        a = ScoreAlignment(0.0, 0, 0, 0, 0)

        def work(k):
            for i in range(2000):
                a.src_start = k
                list(a)
                a[1]

        threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
        for th in threads:
            th.start()
        for th in threads:
            th.join()
        assert a.src_start in range(4)


class TestMatchingBlock:
    def test_value_record(self):
        m = MatchingBlock(1, 2, 3)
        assert m == MatchingBlock(a=1, b=2, size=3)
        assert m != MatchingBlock(1, 2, 4)
        assert (m == (1, 2, 3)) is False
        assert repr(m) == "MatchingBlock(a=1, b=2, size=3)"
        assert MatchingBlock.__text_signature__ == "(a, b, size)"
        assert MatchingBlock.__module__ == "tarnwick"

    def test_neither_iterable_nor_indexable(self):
        m = MatchingBlock(1, 2, 3)
        with pytest.raises(TypeError):
            a, b, size = m
        with pytest.raises(TypeError):
            m[0]
        with pytest.raises(TypeError):
            hash(m)

    def test_fields_and_errors(self):
        m = MatchingBlock(1, 2, 3)
        m.size = 10
        assert (m.a, m.b, m.size) == (1, 2, 10)
        with pytest.raises(OverflowError):
            MatchingBlock(-1, 0, 0)
        with pytest.raises(AttributeError, match="can't delete attribute"):
            del m.size
        with pytest.raises(TypeError, match="argument 'b'"):
            m.b = 1.5

    def test_pickle_and_copy(self):
        m = MatchingBlock(4, 5, 6)
        assert m.__reduce__() == (MatchingBlock, (4, 5, 6))
        assert pickle.loads(pickle.dumps(m)) == m
        assert copy.copy(m) == m
