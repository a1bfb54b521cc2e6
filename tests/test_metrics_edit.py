"""levenshtein, hamming, indel and lcs_seq functions against naive dynamic programs."""

import random

import pytest

import tarnwick as tw

INF = 2**64 - 1


def lev(a, b, w=(1, 1, 1)):
    ins, dele, rep = w
    prev = [j * ins for j in range(len(b) + 1)]
    for i in range(1, len(a) + 1):
        cur = [i * dele] + [0] * len(b)
        for j in range(1, len(b) + 1):
            cur[j] = min(prev[j - 1] + (0 if a[i - 1] == b[j - 1] else rep),
                         prev[j] + dele, cur[j - 1] + ins)
        prev = cur
    return min(prev[len(b)], INF)


def lcs(a, b):
    prev = [0] * (len(b) + 1)
    for i in range(1, len(a) + 1):
        cur = [0] * (len(b) + 1)
        for j in range(1, len(b) + 1):
            cur[j] = prev[j - 1] + 1 if a[i - 1] == b[j - 1] else max(prev[j], cur[j - 1])
        prev = cur
    return prev[len(b)]


def lev_max(l1, l2, w):
    ins, dele, rep = w
    r = l2 * rep + (l1 - l2) * dele if l1 >= l2 else l1 * rep + (l2 - l1) * ins
    return min(l1 * dele + l2 * ins, r, INF)


def apply_editops(ops, s1, s2):
    """Applies a script in script order to s1 (as a list)."""
    out, i = [], 0
    for tag, sp, dp in ops:
        out.extend(s1[i:sp])
        i = sp
        if tag == "insert":
            out.append(s2[dp])
        elif tag == "delete":
            i += 1
        else:
            out.append(s2[dp])
            i += 1
    out.extend(s1[i:])
    return out


ALPHABETS = ["ab", "acgt", "abcdefghijklmnopqrstuvwxyz", "aé€ж😀"]


def random_pairs(seed, count):
    rng = random.Random(seed)
    pairs = []
    for k in range(count):
        alpha = ALPHABETS[k % len(ALPHABETS)]
        n = rng.choice([0, 1, 5, 63, 64, 65, 127, 128, 129, rng.randrange(0, 301)])
        a = "".join(rng.choice(alpha) for _ in range(n))
        if rng.random() < 0.5:
            b = list(a)
            for _ in range(rng.randrange(0, max(1, n // 4) + 1)):
                op = rng.randrange(3)
                pos = rng.randrange(len(b) + 1)
                if op == 0 or not b:
                    b.insert(pos, rng.choice(alpha))
                elif op == 1:
                    del b[min(pos, len(b) - 1)]
                else:
                    b[min(pos, len(b) - 1)] = rng.choice(alpha)
            b = "".join(b)
        else:
            b = "".join(rng.choice(alpha) for _ in range(rng.randrange(0, 301)))
        pairs.append((a, b))
    return pairs


def as_kinds(a, b):
    """The same pair as str, as bytes/lists of code points, and as lists of large ints."""
    yield a, b
    if all(ord(c) < 256 for c in a + b):
        yield a.encode("latin-1"), b.encode("latin-1")
    yield [ord(c) + 2**40 for c in a], [ord(c) + 2**40 for c in b]


PAIRS = random_pairs(7, 48)


@pytest.mark.parametrize("a,b", PAIRS)
def test_levenshtein_family_matches_dp(a, b):
    """Distances, similarities and normalized forms for several weight triples."""
    for w in [(1, 1, 1), (1, 1, 2), (3, 5, 7), (0, 0, 0), (2, 1, 0)]:
        d = lev(a, b, w)
        m = lev_max(len(a), len(b), w)
        for x, y in as_kinds(a, b):
            assert tw.levenshtein_distance(x, y, weights=w) == d
        assert tw.levenshtein_similarity(a, b, weights=w) == m - d
        nd = 0.0 if m == 0 else d / m
        assert tw.levenshtein_normalized_distance(a, b, weights=w) == nd
        assert tw.levenshtein_normalized_similarity(a, b, weights=w) == 1.0 - nd


@pytest.mark.parametrize("a,b", PAIRS)
def test_indel_and_lcs_seq_match_dp(a, b):
    l = lcs(a, b)
    d = len(a) + len(b) - 2 * l
    for x, y in as_kinds(a, b):
        assert tw.indel_distance(x, y) == d
        assert tw.lcs_seq_similarity(x, y) == l
    m = len(a) + len(b)
    assert tw.indel_similarity(a, b) == m - d
    assert tw.indel_normalized_distance(a, b) == (0.0 if m == 0 else d / m)
    longest = max(len(a), len(b))
    assert tw.lcs_seq_distance(a, b) == longest - l
    assert tw.lcs_seq_normalized_similarity(a, b) == 1.0 - (0.0 if longest == 0 else (longest - l) / longest)


@pytest.mark.parametrize("a,b", PAIRS)
def test_hamming_matches_count(a, b):
    d = sum(x != y for x, y in zip(a, b)) + abs(len(a) - len(b))
    assert tw.hamming_distance(a, b) == d
    assert tw.hamming_similarity(a, b) == max(len(a), len(b)) - d
    if len(a) == len(b):
        assert tw.hamming_distance(a, b, pad=False) == d
    else:
        with pytest.raises(ValueError, match="Sequences are not the same length."):
            tw.hamming_distance(a, b, pad=False)


@pytest.mark.parametrize("a,b", PAIRS)
def test_edit_scripts_rebuild_s2(a, b):
    """Each script applied to s1 gives s2, is as long as the distance, and converts to
    opcodes and matching blocks consistently."""
    families = [
        (tw.levenshtein_editops, tw.levenshtein_opcodes, lev(a, b)),
        (tw.indel_editops, tw.indel_opcodes, len(a) + len(b) - 2 * lcs(a, b)),
        (tw.lcs_seq_editops, tw.lcs_seq_opcodes, len(a) + len(b) - 2 * lcs(a, b)),
        (tw.hamming_editops, tw.hamming_opcodes, tw.hamming_distance(a, b)),
    ]
    for editops_fn, opcodes_fn, dist in families:
        for x, y in as_kinds(a, b):
            ops = editops_fn(x, y)
            assert (ops.src_len, ops.dest_len) == (len(x), len(y))
            assert len(ops) == dist
            assert apply_editops(ops.as_list(), list(x), list(y)) == list(y)
        ops = editops_fn(a, b)
        opc = opcodes_fn(a, b)
        assert opc == ops.as_opcodes()
        assert opc.as_editops() == ops
        blocks = [(m.a, m.b, m.size) for m in ops.as_matching_blocks()]
        assert blocks == [(m.a, m.b, m.size) for m in opc.as_matching_blocks()]
        for i, j, size in blocks:
            assert a[i:i + size] == b[j:j + size]
        for tag, i1, i2, j1, j2 in opc.as_list():
            if tag == "equal":
                assert a[i1:i2] == b[j1:j2]


def test_script_examples():
    assert tw.levenshtein_editops("abcd", "bcda").as_list() == [("delete", 0, 0), ("insert", 4, 3)]
    assert tw.levenshtein_editops("abc", "acb").as_list() == [("insert", 1, 1), ("delete", 2, 3)]
    assert tw.indel_editops("ab", "ba").as_list() == [("insert", 0, 0), ("delete", 1, 2)]
    assert tw.levenshtein_editops("xab", "xba").as_list() == [("insert", 1, 1), ("delete", 2, 3)]
    assert tw.hamming_editops("abcde", "abx").as_list() == [
        ("replace", 2, 2), ("delete", 3, 3), ("delete", 4, 3)]
    assert tw.levenshtein_opcodes("abc", "abd").as_list() == [
        ("equal", 0, 2, 0, 2), ("replace", 2, 3, 2, 3)]


def test_cutoff_rules_of_each_kind():
    # indel of abc/xyz is 6, similarity 0, normalized 1.0
    assert tw.indel_distance("abc", "xyz", score_cutoff=2) == 3
    assert tw.indel_distance("abc", "xyz", score_cutoff=6) == 6
    assert tw.levenshtein_distance("kitten", "sitting", score_cutoff=2) == 3
    assert tw.lcs_seq_distance("abcdef", "badcfe", score_cutoff=1) == 2
    assert tw.indel_similarity("abc", "abd", score_cutoff=5) == 0
    assert tw.indel_similarity("abc", "abd", score_cutoff=4) == 4
    assert tw.lcs_seq_similarity("abc", "abd", score_cutoff=3) == 0
    assert tw.lcs_seq_similarity("abc", "abd", score_cutoff=2) == 2
    assert tw.indel_normalized_distance("abcd", "abce", score_cutoff=0.1) == 1.0
    assert tw.indel_normalized_distance("abcd", "abce", score_cutoff=0.25) == 0.25
    assert tw.indel_normalized_similarity("ab", "ac", score_cutoff=0.5) == 0.5
    assert tw.indel_normalized_similarity("ab", "ac", score_cutoff=0.6) == 0.0
    assert tw.hamming_normalized_similarity("abcd", "abce", score_cutoff=0.75) == 0.75
    assert tw.levenshtein_normalized_distance("abc", "abd", score_cutoff=float("nan")) == 1 / 3
    assert tw.levenshtein_normalized_similarity("abc", "abd", score_cutoff=-1.0) == 1.0 - 1 / 3


@pytest.mark.parametrize("a,b", PAIRS[:16])
def test_bounded_kernels_never_change_a_passing_value(a, b):
    """With the cutoff at the exact value, every kind returns the value itself."""
    for fam in ("indel", "lcs_seq", "levenshtein", "hamming"):
        d = getattr(tw, fam + "_distance")(a, b)
        s = getattr(tw, fam + "_similarity")(a, b)
        nd = getattr(tw, fam + "_normalized_distance")(a, b)
        ns = getattr(tw, fam + "_normalized_similarity")(a, b)
        assert getattr(tw, fam + "_distance")(a, b, score_cutoff=d) == d
        assert getattr(tw, fam + "_similarity")(a, b, score_cutoff=s) == s
        assert getattr(tw, fam + "_normalized_distance")(a, b, score_cutoff=nd) == nd
        assert getattr(tw, fam + "_normalized_similarity")(a, b, score_cutoff=ns) == ns
        if d > 0:
            assert getattr(tw, fam + "_distance")(a, b, score_cutoff=d - 1) == d


def test_missing_inputs_and_processor():
    assert tw.indel_distance(None, "abc") == 0
    assert tw.levenshtein_normalized_distance(float("nan"), "abc") == 1.0
    assert tw.hamming_normalized_similarity("<NA>", "abc") == 0.0
    with pytest.raises(TypeError, match="expected str, bytes, or sequence"):
        tw.levenshtein_editops(None, "ab")
    with pytest.raises(TypeError, match="expected str, bytes, or sequence"):
        tw.indel_opcodes("ab", None)
    assert tw.levenshtein_distance("ABC", "abc", processor=str.lower) == 0
    assert tw.levenshtein_editops("ABC", "abd", processor=str.lower).as_list() == [("replace", 2, 2)]
    with pytest.raises(TypeError, match="expected str, bytes, or sequence"):
        tw.indel_distance("a", "b", processor=lambda s: None)


def test_argument_errors():
    with pytest.raises(ValueError, match=r"expected tuple of length 3, but got tuple of length 2"):
        tw.levenshtein_distance("a", "b", weights=(1, 1))
    with pytest.raises(TypeError, match="argument 'weights'"):
        tw.levenshtein_distance("a", "b", weights=[1, 1, 1])
    with pytest.raises(TypeError, match="argument 'weights'"):
        tw.levenshtein_distance("a", "b", weights=(1, 1.5, 1))
    with pytest.raises(OverflowError):
        tw.levenshtein_distance("a", "b", weights=(1, -1, 1))
    with pytest.raises(TypeError, match="argument 'pad'"):
        tw.hamming_editops("a", "b", pad=1)
    with pytest.raises(ValueError, match="Sequences are not the same length."):
        tw.hamming_opcodes("abc", "ab", pad=False)
    with pytest.raises(OverflowError):
        tw.indel_distance("a", "b", score_cutoff=-1)
    with pytest.raises(TypeError, match="argument 'score_cutoff'"):
        tw.lcs_seq_similarity("a", "b", score_cutoff=1.5)
    with pytest.raises(TypeError):
        tw.levenshtein_editops("a", "b", score_cutoff=1)
    assert tw.levenshtein_opcodes.__text_signature__ == "(s1, s2, *, processor=None)"
    assert tw.hamming_distance.__text_signature__ == (
        "(s1, s2, *, pad=True, processor=None, score_cutoff=None)")


def test_huge_weights_saturate():
    big = (2**63, 2**63, 2**63)
    assert tw.levenshtein_distance("aa", "", weights=big) == INF
    assert tw.levenshtein_normalized_distance("aa", "", weights=big) == 1.0
    assert tw.levenshtein_similarity("aa", "", weights=big) == 0
    assert tw.levenshtein_distance("ab", "ba", weights=(2**64 - 1, 1, 2**64 - 1)) == INF
    assert tw.levenshtein_distance("ab", "ab", weights=big) == 0


def test_long_inputs_cross_word_boundaries():
    rng = random.Random(3)
    for n in (1000, 2500):
        a = "".join(rng.choice("abcd") for _ in range(n))
        b = list(a)
        for _ in range(n // 10):
            b[rng.randrange(len(b))] = rng.choice("abcdxyz")
        b = "".join(b[: n // 2] + list("zz") + b[n // 2:])
        ops = tw.levenshtein_editops(a, b)
        assert len(ops) == tw.levenshtein_distance(a, b)
        assert apply_editops(ops.as_list(), list(a), list(b)) == list(b)
        assert len(tw.indel_editops(a, b)) == tw.indel_distance(a, b)
