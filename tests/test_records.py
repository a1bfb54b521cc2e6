"""ScoreAlignment and MatchingBlock: plain mutable records with value equality."""

import copy
import math
import pickle
import threading

import pytest

from tarnwick import MatchingBlock, ScoreAlignment


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
