"""normalize_bayes and cosine_similarity_matrix against plain-Python references."""
import math
import random
import struct
from array import array

import pytest

from _tarnwick import cosine_similarity_matrix, normalize_bayes


def bits(x):
    return struct.pack("<d", x)


def same_floats(xs, ys):
    """Bit-for-bit equality (signed zeros and NaN included)."""
    return len(xs) == len(ys) and all(
        bits(x) == bits(y) or (math.isnan(x) and math.isnan(y)) for x, y in zip(xs, ys))


# ---- normalize_bayes ----

def exp_or_inf(x):
    try:
        return math.exp(x)
    except OverflowError:
        return math.inf


def bayes_reference(pairs):
    """The calibration written out: statistics of the positive scores in ascending order."""
    pos = sorted(s for _, s in pairs if s > 0)
    if not pos:
        return list(pairs)
    m = len(pos)
    median = pos[m // 2] if m % 2 else (pos[m // 2 - 1] + pos[m // 2]) * 0.5
    total = 0.0
    for p in pos:
        total += p
    mean = total / m
    sq = 0.0
    for p in pos:
        sq += (p - mean) * (p - mean)
    sd = math.sqrt(sq / m)
    d = sd if sd > 1e-6 else 1e-6
    c = -1.0 / d
    return [(t, 1.0 / (exp_or_inf(c * (s - median)) + 1.0) if s > 0 else s) for t, s in pairs]


def test_bayes_worked_examples():
    assert normalize_bayes([]) == []
    flat = [("a", 0.0), ("b", -1.5), ("c", 0.0)]
    assert normalize_bayes(flat) == flat
    assert normalize_bayes([("a", 0.0), ("b", 7.25), ("c", 0.0)]) == [
        ("a", 0.0), ("b", 0.5), ("c", 0.0)]
    assert normalize_bayes([("x", 2.0)] * 4) == [("x", 0.5)] * 4
    assert normalize_bayes([("lo", 1.0), ("hi", 3.0)]) == [
        ("lo", 0.2689414213699951), ("hi", 0.7310585786300049)]
    # Negative scores stay as they are, so the output is not confined to [0, 1].
    assert normalize_bayes([("n", -4.0), ("p", 1.0)]) == [("n", -4.0), ("p", 0.5)]


def test_bayes_matches_reference_on_random_rankings(rng):
    for _ in range(200):
        n = rng.randint(0, 30)
        pairs = [(f"d{i}", rng.choice([0.0, -rng.random(), rng.uniform(0, 40),
                                       float(rng.randint(1, 5))])) for i in range(n)]
        got = normalize_bayes(pairs)
        want = bayes_reference(pairs)
        assert [t for t, _ in got] == [t for t, _ in want]
        assert same_floats([s for _, s in got], [s for _, s in want])


def test_bayes_statistics_do_not_depend_on_input_order(rng):
    pairs = [(str(i), rng.uniform(0.001, 1e6)) for i in range(101)]
    base = dict(normalize_bayes(pairs))
    for _ in range(5):
        rng.shuffle(pairs)
        assert dict(normalize_bayes(pairs)) == base


def test_bayes_nan_and_infinite_scores():
    out = normalize_bayes([("nan", math.nan), ("a", 1.0), ("b", 3.0)])
    assert math.isnan(out[0][1])
    assert out[1:] == [("a", 0.2689414213699951), ("b", 0.7310585786300049)]
    # An infinite score makes the deviation NaN, so the scale falls back to 1e-6.
    out = normalize_bayes([("a", 1.0), ("inf", math.inf), ("b", 2.0)])
    want = bayes_reference([("a", 1.0), ("inf", math.inf), ("b", 2.0)])
    assert same_floats([s for _, s in out], [s for _, s in want])
    # A million equal scores keep the deviation near 1e-3, so one score a unit away from the
    # median is a thousand deviations out: exp underflows (1.0) or overflows (0.0).
    ones = [("x", 1.0)] * 10**6
    assert normalize_bayes(ones + [("high", 2.0)])[-1] == ("high", 1.0)
    assert normalize_bayes(ones + [("low", 1e-300)])[-1] == ("low", 0.0)


def test_bayes_argument_kinds():
    class Num:
        def __float__(self):
            return 3.0

    class Text(str):
        pass

    out = normalize_bayes((("a", 1), (Text("b"), Num())))
    assert out == [("a", 0.2689414213699951), ("b", 0.7310585786300049)]
    assert type(out) is list and all(type(p) is tuple and type(p[0]) is str for p in out)


@pytest.mark.parametrize("arg, fragment", [
    ("ab", "a str is not accepted"),
    (5, "'int' object cannot be converted to 'Sequence'"),
    ({("a", 1.0)}, "'set' object cannot be converted to 'Sequence'"),
    ((x for x in [("a", 1.0)]), "cannot be converted to 'Sequence'"),
    ([["a", 1.0]], "'list' object cannot be converted to 'PyTuple'"),
    ([(1, 1.0)], "'int' object cannot be converted to 'PyString'"),
    ([("a", "1.0")], "must be real number, not str"),
    ([("a", None)], "must be real number, not NoneType"),
])
def test_bayes_type_errors_name_the_argument(arg, fragment):
    with pytest.raises(TypeError) as e:
        normalize_bayes(arg)
    assert str(e.value).startswith("argument 'scores': ") and fragment in str(e.value)


def test_bayes_value_errors():
    with pytest.raises(ValueError, match=r"^expected tuple of length 2, but got tuple of length 3$"):
        normalize_bayes([("a", 1.0), ("b", 1.0, 2)])
    with pytest.raises(ValueError, match=r"^expected tuple of length 2, but got tuple of length 1$"):
        normalize_bayes([("a",)])
    with pytest.raises(UnicodeEncodeError):
        normalize_bayes([("\ud800", 1.0)])
    with pytest.raises(TypeError):
        normalize_bayes()


def test_bayes_signature_and_doc():
    assert normalize_bayes.__text_signature__ == "(scores)"
    assert normalize_bayes.__doc__ == (
        "Applies a 5-step Bayes normalization to calibrate BM25/fuzzy scores to [0, 1] "
        "probabilities.\n\n1. Filters non-zero scores.\n2. Calculates median and std_dev.\n"
        "3. Computes beta = median, alpha_eff = 1.0 / max(std_dev, 1e-6)\n"
        "4. Transforms scores using Sigmoid function.")


# ---- cosine_similarity_matrix ----

def f32(x):
    """x rounded to the nearest 32-bit float (infinite beyond its range)."""
    return array("f", [x])[0]


def dot_reference(x, y):
    """Products rounded to 32 bits, added one by one in increasing k into a 32-bit sum.

    A double holds the exact product of two 32-bit floats, and rounding a double sum of two
    32-bit floats to 32 bits gives the correctly rounded 32-bit sum.
    """
    acc = -0.0
    for a, b in zip(x, y):
        acc = f32(acc + f32(f32(a) * f32(b)))
    return acc


def matrix_reference(a, b):
    return [dot_reference(x, y) for x in a for y in b]


def random_row(rng, n):
    return [rng.choice([rng.uniform(-1, 1), rng.uniform(-1e4, 1e4), rng.randint(-3, 3)])
            for _ in range(n)]


def test_matrix_worked_examples():
    assert cosine_similarity_matrix([[1, 2, 3]], [[4, 5, 6], [1, 0]]) == ([32.0, 1.0], 1, 2)
    assert cosine_similarity_matrix([[1.0]] * 3, []) == ([], 3, 0)
    assert cosine_similarity_matrix([], [[1.0], [2.0]]) == ([], 0, 2)
    assert cosine_similarity_matrix([], []) == ([], 0, 0)
    flat, nq, nc = cosine_similarity_matrix([[], [2.0]], [[1.0], []])
    assert (nq, nc) == (2, 2) and same_floats(flat, [-0.0, -0.0, 2.0, -0.0])
    assert cosine_similarity_matrix([[0.1]], [[1]]) == ([0.10000000149011612], 1, 1)


def test_matrix_additions_are_sequential_in_k():
    # In 32 bits 1e8 + 1 rounds back to 1e8: the sequential sum ends at 0, any sum that
    # pairs terms differently would not. Repeated rows put the pair on the vector route too.
    row = [1e8, 1.0, -1e8, 1.0]
    flat, _, _ = cosine_similarity_matrix([[1.0, 1.0, 1.0, 1.0]], [row] * 40)
    assert flat == [1.0] * 40
    # Signed zeros: -0.0 + (+0.0) is +0.0, -0.0 + (-0.0) stays -0.0.
    flat, _, _ = cosine_similarity_matrix([[0.0], [-0.0]], [[1.0]] * 33)
    assert same_floats(flat, [0.0] * 33 + [-0.0] * 33)


def test_matrix_matches_reference_on_mixed_row_lengths(rng):
    # Equal-length rows fill whole blocks of the vector route; in the blocks of uneven
    # lengths the lanes longer than the block's shortest row finish alone, and the last
    # rows fill a partial block.
    b = [random_row(rng, 7) for _ in range(64)] + [random_row(rng, rng.randint(0, 9))
                                                    for _ in range(37)]
    b[40] = random_row(rng, 3)  # breaks the second block's equal lengths
    a = [random_row(rng, n) for n in (0, 1, 5, 7, 9, 12)]
    flat, nq, nc = cosine_similarity_matrix(a, b)
    assert (nq, nc) == (len(a), len(b))
    assert same_floats(flat, matrix_reference(a, b))


def test_matrix_nan_and_infinity(rng):
    b = [[1.0, 2.0]] * 33 + [[math.inf, 0.0], [math.nan], [3e38, 3e38], [1e39]]
    a = [[1.0, 1.0], [0.0, 1.0], [math.nan, 1.0], [-1.0, 1e38]]
    flat, _, _ = cosine_similarity_matrix(a, b)
    want = matrix_reference(a, b)
    assert same_floats(flat, want)
    assert math.isnan(flat[1 * len(b) + 33])     # 0 * inf
    assert flat[0 * len(b) + 35] == math.inf     # 3e38 + 3e38 overflows 32 bits
    assert flat[0 * len(b) + 36] == math.inf     # 1e39 enters as 32-bit infinity


def test_matrix_in_several_blocks_equals_row_by_row(rng):
    # Enough cells for the rows to be computed in several blocks on the pool.
    b = [random_row(rng, 3) for _ in range(4500)]
    a = [random_row(rng, 3) for _ in range(40)]
    flat, nq, nc = cosine_similarity_matrix(a, b)
    assert (nq, nc) == (40, 4500)
    for i in (0, 17, 39):
        assert same_floats(flat[i * nc:(i + 1) * nc], cosine_similarity_matrix([a[i]], b)[0])
    for _ in range(200):
        i, j = rng.randrange(nq), rng.randrange(nc)
        assert same_floats([flat[i * nc + j]], [dot_reference(a[i], b[j])])


def test_matrix_of_uneven_rows_in_many_tasks(rng):
    # More query rows than one task takes, of lengths that differ within every group of
    # queries and every block of targets (empty rows included), split over the pool.
    a = [random_row(rng, rng.choice([0, 1, 4, 11, 12, 13])) for _ in range(70)]
    b = [random_row(rng, rng.choice([0, 2, 11, 12, 30])) for _ in range(301)]
    flat, nq, nc = cosine_similarity_matrix(a, b)
    assert (nq, nc) == (70, 301)
    assert same_floats(flat, matrix_reference(a, b))


def test_matrix_row_kinds():
    class Num:
        def __float__(self):
            return 2.0

    class Rows:
        def __len__(self):
            return 2

        def __getitem__(self, i):
            if i >= 2:
                raise IndexError
            return (1, True) if i == 0 else [Num(), 0.5]

    flat, nq, nc = cosine_similarity_matrix(Rows(), ((3.0, 4.0),))
    assert (flat, nq, nc) == ([7.0, 8.0], 2, 1)


def test_matrix_row_changed_by_float_conversion():
    row = []

    class Shrinks:
        def __float__(self):
            row.clear()
            return 5.0

    row.extend([Shrinks(), 7.0, 9.0])
    # The list's iterator stops after the item whose conversion emptied it.
    assert cosine_similarity_matrix([row], [[1.0, 1.0, 1.0]]) == ([5.0], 1, 1)


@pytest.mark.parametrize("a, b, name, fragment", [
    ("ab", [[1.0]], "a", "a str is not accepted"),
    ([[1.0]], "ab", "b", "a str is not accepted"),
    (["ab"], [[1.0]], "a", "a str is not accepted"),
    ([[1.0]], [[1.0], "xy"], "b", "a str is not accepted"),
    (3, [[1.0]], "a", "'int' object cannot be converted to 'Sequence'"),
    ([{1.0}], [[1.0]], "a", "'set' object cannot be converted to 'Sequence'"),
    ([[1.0]], [[None]], "b", "must be real number, not NoneType"),
    ([["1.0"]], [[1.0]], "a", "must be real number, not str"),
    # a is examined first; its error is reported whatever b holds.
    ([[1.0, "x"]], "not even a matrix", "a", "must be real number, not str"),
])
def test_matrix_type_errors_name_the_argument(a, b, name, fragment):
    with pytest.raises(TypeError) as e:
        cosine_similarity_matrix(a, b)
    assert str(e.value).startswith(f"argument '{name}': ") and fragment in str(e.value)


def test_matrix_argument_binding_and_doc():
    assert cosine_similarity_matrix(b=[[2.0]], a=[[3.0]]) == ([6.0], 1, 1)
    with pytest.raises(TypeError):
        cosine_similarity_matrix([[1.0]])
    assert cosine_similarity_matrix.__text_signature__ == "(a, b)"
    assert cosine_similarity_matrix.__doc__ == (
        "Compute dot product (cosine sim on unit vectors) between two embedding matrices.\n\n"
        "Parameters\n----------\na : list[list[float]]\n    Query embeddings, shape (nq, dim)\n"
        "b : list[list[float]]\n    Corpus embeddings, shape (nc, dim)\n\n"
        "Returns\n-------\n(flat_scores: list[float], nq: int, nc: int)\n"
        "    Row-major matrix of shape (nq, nc)")
