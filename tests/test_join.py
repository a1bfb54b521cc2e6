"""MultiJoiner: configuration, add_array, and joins against a plain-Python reference."""
import math
import pickle
import re
import threading
from collections import Counter

import numpy as np
import pytest

from _tarnwick import MultiJoiner
from naive import indel_distance

f32 = np.float32
KEYS = ["src_array", "src_idx", "src_text", "tgt_array", "tgt_idx", "tgt_text",
        "score", "text_score", "sparse_score", "dense_score"]


# ---- The reference: the join's arithmetic in plain Python and numpy float32 ----

def words(text):
    """Word splitting for the reference inputs: maximal alphanumeric runs, lowercased."""
    return [w.lower() for w in re.findall(r"[^\W_]+", text)]


def build_index(targets, k1, b, variant):
    """idf and postings (target, weight) of the join's BM25 index, as float32."""
    n_docs = len(targets)
    toks = [words(t) if t is not None else [] for t in targets]
    avgdl = sum(len(t) for t in toks) / n_docs
    df = Counter()
    for t in toks:
        df.update(set(t))
    idf = {t: f32(math.log(((n_docs - d) + 0.5) / (d + 0.5) + 1)) for t, d in df.items()}
    big_k = [(1 - b) + (b * len(t)) / avgdl if t else None for t in toks]
    k1_t = {}
    if variant == "BM25T":
        g = 1.0 if abs(k1 - 1) < 2.0 ** -52 else math.log(k1) * (k1 / (k1 - 1))
        sums = Counter()
        for j, t in enumerate(toks):
            for term, tf in Counter(t).items():
                sums[term] += math.log(tf / big_k[j] + 1)
        k1_t = {term: (g - sums[term] / df[term]) ** 2 for term in df}
    postings = {}
    for j, t in enumerate(toks):
        for term, tf in Counter(t).items():
            K = big_k[j]
            if variant == "BM25L":
                c = tf / K
                w = ((k1 + 1) * (0.5 + c)) / (0.5 + (k1 + c))
            elif variant == "BM25Plus":
                w = 1.0 + ((k1 + 1) * tf) / (k1 * K + tf)
            elif variant == "BM25T":
                c = tf / K
                kt = k1_t[term]
                w = ((kt + 1) * c) / (kt + c)
            else:
                w = ((k1 + 1) * tf) / (k1 * K + tf)
            postings.setdefault(term, []).append((j, f32(w)))
    return idf, postings


def bm25_candidates(index, text):
    """(target, score) in touched order."""
    idf, postings = index
    acc, touched = {}, []
    for tok in words(text):
        if tok not in idf:
            continue
        for j, w in postings[tok]:
            cur = acc.get(j, f32(0.0))
            if cur == 0.0:
                touched.append(j)
            acc[j] = f32(cur + f32(idf[tok] * w))
    out = []
    for j in touched:
        out.append((j, float(acc[j])))
        acc[j] = f32(0.0)
    return out


def ranked(items):
    """Stable descending sort of (target, score), NaN last."""
    return sorted(items, key=lambda it: (math.isnan(it[1]), -it[1] if not math.isnan(it[1]) else 0))


def fuzzy(a, b):
    if not a and not b:
        return 1.0
    return 1.0 - indel_distance(a, b) / (len(a) + len(b))


def sparse_dot(a, b):
    total = f32(0.0)
    for k in sorted(set(a) & set(b)):
        total = f32(total + f32(f32(a[k]) * f32(b[k])))
    return total


def dense_dot(a, b):
    total = f32(-0.0)
    for x, y in zip(a, b):
        total = f32(total + f32(f32(x) * f32(y)))
    return total


def reference_element(cfg, src, targets, index, n, cutoff):
    """The matches (target, score, text, sparse, dense) of one source element."""
    text, sp, de = src
    rrf = lambda r: 1.0 / (cfg["rrf_k"] + 1 + r)
    sums = [dict(), dict(), dict()]
    raw = [dict(), dict(), dict()]
    reached = []

    def reach(t):
        if t not in reached:
            reached.append(t)

    text_on = cfg["text_weight"] > 0 and index is not None and text is not None
    sparse_on = cfg["sparse_weight"] > 0 and (sp is not None or (text is not None and index is not None))
    dense_on = cfg["dense_weight"] > 0 and de is not None
    hits = bm25_candidates(index, text) if index is not None and text is not None else []
    if text_on:
        order = ranked(hits)
        for r, (t, _) in enumerate(order):
            sums[0][t] = sums[0].get(t, 0.0) + rrf(r)
            reach(t)
        fz = []
        for t, _ in order[:cfg["bm25_candidates"]]:
            raw[0][t] = fuzzy(text, targets[t][0])
            fz.append((t, raw[0][t]))
        for r, (t, _) in enumerate(ranked(fz)):
            sums[0][t] += rrf(r)
    if sparse_on:
        if sp is not None:
            cands = []
            for t, tgt in enumerate(targets):
                if tgt[1] is None or not sp or not tgt[1]:
                    continue
                s = sparse_dot(sp, tgt[1])
                if s > 0:
                    cands.append((t, float(s)))
                    raw[1][t] = float(s)
                    reach(t)
        else:
            cands = hits
            for t, s in hits:
                raw[1][t] = s
                reach(t)
        for r, (t, _) in enumerate(ranked(cands)):
            sums[1][t] = sums[1].get(t, 0.0) + rrf(r)
    if dense_on:
        cands = []
        for t, tgt in enumerate(targets):
            if tgt[2] is not None:
                s = float(dense_dot(de, tgt[2]))
                cands.append((t, s))
                raw[2][t] = s
                reach(t)
        for r, (t, _) in enumerate(ranked(cands)):
            sums[2][t] = sums[2].get(t, 0.0) + rrf(r)

    on = [text_on, sparse_on, dense_on]
    weights = [cfg["text_weight"], cfg["sparse_weight"], cfg["dense_weight"]]
    total_w = 0.0
    for c in range(3):
        if on[c]:
            total_w += weights[c]
    if not total_w >= 1e-10:
        total_w = 1e-10
    kept = []
    for t in reached:
        if sum(on) == 1:
            score = raw[on.index(True)].get(t, 0.0)
        else:
            acc = 0.0
            for c in range(3):
                if on[c]:
                    acc += sums[c].get(t, 0.0) * weights[c]
            score = acc / total_w
        if cutoff is not None and not score >= cutoff:
            continue
        kept.append((t, score))
    kept = ranked(kept)[:n]
    if cutoff is None or cutoff <= 0:
        for t in range(len(targets)):
            if len(kept) >= n:
                break
            if t not in reached:
                kept.append((t, 0.0))
    return [(t, s) + tuple(raw[c].get(t, 0.0) if on[c] else None for c in range(3))
            for t, s in kept]


def reference_pair(cfg, src, tgt, n, cutoff):
    """The rows of one ordered pair; src and tgt are (name, [(text, sparse, dense)])."""
    (sname, selems), (tname, telems) = src, tgt
    index = None
    if ((cfg["text_weight"] > 0 or cfg["sparse_weight"] > 0)
            and any(e[0] is not None for e in selems) and any(e[0] is not None for e in telems)):
        index = build_index([e[0] for e in telems], cfg["bm25_k1"], cfg["bm25_b"],
                            cfg["bm25_variant"])
    rows = []
    for i, e in enumerate(selems):
        for t, s, ts, ss, ds in reference_element(cfg, e, telems, index, n, cutoff):
            rows.append(dict(zip(KEYS, [sname, i, e[0], tname, t, telems[t][0], s, ts, ss, ds])))
    return rows


DEFAULTS = dict(text_weight=1.0, sparse_weight=1.0, dense_weight=1.0, bm25_k1=1.5, bm25_b=0.75,
                bm25_variant="BM25Okapi", rrf_k=60, bm25_candidates=100)


def make(arrays, **cfg):
    j = MultiJoiner(**cfg)
    for name, elems in arrays:
        j.add_array(name, texts=[e[0] for e in elems], sparse=[e[1] for e in elems],
                    dense=[e[2] for e in elems])
    return j


def same_rows(got, want):
    """Rows equal, floats to the last bit (NaN equal to NaN)."""
    assert len(got) == len(want)
    for g, w in zip(got, want):
        assert list(g) == KEYS
        for k in KEYS:
            a, b = g[k], w[k]
            if isinstance(b, float) and math.isnan(b):
                assert isinstance(a, float) and math.isnan(a), (k, g, w)
            else:
                assert a == b and type(a) is type(b), (k, g, w)


# ---- Construction, configuration and add_array ----

def test_constructor_signature_and_docs():
    assert MultiJoiner.__text_signature__ == (
        "(text_weight=1.0, sparse_weight=1.0, dense_weight=1.0, bm25_k1=1.5, bm25_b=0.75, "
        "bm25_variant=..., rrf_k=60, bm25_candidates=100)")
    assert MultiJoiner.__doc__.startswith("Fuzzy full-join across multiple named arrays.\n\n")
    assert MultiJoiner.__doc__.endswith("rrf_k : int, default 60\n    RRF smoothing constant.")
    assert MultiJoiner.__module__ == "tarnwick"
    assert MultiJoiner.add_array.__text_signature__ == "($self, name, texts=None, sparse=None, dense=None)"
    assert MultiJoiner.join.__text_signature__ == "($self, n=1, score_cutoff=None)"
    assert MultiJoiner.join_pair.__text_signature__ == "($self, src_name, tgt_name, n=1, score_cutoff=None)"
    assert MultiJoiner.join_pair.__doc__ == "Run the join for one specific ordered pair."
    assert MultiJoiner.join.__doc__.splitlines()[0] == (
        "Run the full join across every ordered pair of arrays (src \u2260 tgt).")
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


def test_add_array_elements_and_names():
    j = MultiJoiner(text_weight=0, dense_weight=0)
    j.add_array("s", sparse=[{3: 1.0, 1: 2.0}, None, {}])
    j.add_array("t", sparse=[{1: 1.0}, {3: 1.0}], texts=("a", None))
    # Sparse pairs sorted by id: the product with {1:1} is 2, with {3:1} is 1.
    rows = j.join_pair("s", "t", n=2)
    assert [(r["src_idx"], r["tgt_idx"], r["score"]) for r in rows] == [
        (0, 0, 2.0), (0, 1, 1.0), (1, 0, 0.0), (1, 1, 0.0), (2, 0, 0.0), (2, 1, 0.0)]
    # Element 1 has no sparse vector and no text: no channel; element 2 has an empty one.
    assert rows[2]["sparse_score"] is None and rows[4]["sparse_score"] == 0.0
    assert rows[0]["src_text"] is None and rows[1]["tgt_text"] is None
    j.add_array("s", texts=[])
    assert j.num_arrays == 3
    # join_pair takes the first "s"; the empty second one contributes no rows to join.
    assert [r["src_idx"] for r in j.join_pair("s", "t")] == [0, 1, 2]
    assert [(r["src_array"], r["tgt_array"]) for r in j.join()] == [("s", "t")] * 3 + [("t", "s")] * 2
    # Numbers are rounded to float32; beyond its range they become infinities.
    big = float(np.finfo(np.float32).max)
    k = MultiJoiner(text_weight=0, sparse_weight=0)
    k.add_array("a", dense=[[0.1, 1e300], [big * (1 + 2 ** -26), 0.0], [2.0 ** 128 - 2.0 ** 103, 0.0]])
    k.add_array("b", dense=[[1.0, 0.0]])
    k.add_array("c", dense=[[0.1, -1e300]])
    rows = k.join_pair("a", "b")
    assert math.isnan(rows[0]["dense_score"])  # inf * 0.0
    assert rows[1]["dense_score"] == big and rows[2]["dense_score"] == math.inf
    assert k.join_pair("c", "a")[0]["dense_score"] == -math.inf


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


# ---- Joins: hand-worked examples ----

def test_worked_example():
    j = MultiJoiner()
    j.add_array("src", texts=["apple"])
    j.add_array("tgt", texts=["apple pie", "banana"])
    rows = j.join_pair("src", "tgt", n=2)
    assert [list(r) for r in rows] == [KEYS, KEYS]
    a, b = rows
    assert (a["tgt_idx"], a["tgt_text"], a["dense_score"]) == (0, "apple pie", None)
    assert a["score"] == (2 / 61 + 1 / 61) / 2
    assert a["text_score"] == 1 - 4 / 14
    idf = f32(math.log(2))
    w = f32((2.5 * 1) / (1.5 * ((1 - 0.75) + (0.75 * 2) / 1.5) + 1))
    assert a["sparse_score"] == float(f32(idf * w))
    assert abs(a["sparse_score"] - 0.6027367) < 1e-7
    assert (b["tgt_idx"], b["score"], b["text_score"], b["sparse_score"]) == (1, 0.0, 0.0, 0.0)
    j2 = MultiJoiner(sparse_weight=0)
    j2.add_array("src", texts=["apple"])
    j2.add_array("tgt", texts=["apple pie", "banana"])
    (row,) = j2.join_pair("src", "tgt")
    assert row["score"] == 1 - 4 / 14 and row["sparse_score"] is None


def test_huge_rrf_k_keeps_fusion_terms_tiny():
    # rrf_k + 1 + rank is not cut to 64 bits: 2**64 - 1 gives terms 1 / 2**64, not 1 / 0.
    j = MultiJoiner(rrf_k=2 ** 64 - 1)
    j.add_array("src", texts=["apple"])
    j.add_array("tgt", texts=["apple pie", "banana"])
    row = j.join_pair("src", "tgt")[0]
    assert row["score"] == (2 / 2.0 ** 64 + 1 / 2.0 ** 64) / 2
    assert row["text_score"] == 1 - 4 / 14


def test_fusion_terms_saturate_at_2_to_the_64():
    # A denominator rrf_k + 1 + rank beyond 2**64 - 1 is cut there, as in the search
    # rankings: every rank then adds exactly 2**-64, also ranks past 2**11 (an exact sum
    # would round to 2**64 + 2**12 there and give a smaller term).
    j = MultiJoiner(rrf_k=2 ** 64 - 1, sparse_weight=0, bm25_candidates=0)
    j.add_array("src", texts=["apple"], dense=[[1.0]])
    j.add_array("tgt", texts=["apple"] * 2500, dense=[[1.0]] * 2500)
    rows = j.join_pair("src", "tgt", n=2500)
    assert len(rows) == 2500
    assert {r["score"] for r in rows} == {2.0 ** -64}


def test_no_active_channel():
    arrays = [("a", [("x", {1: 1.0}, [1.0])] * 2), ("b", [("x", {1: 1.0}, [1.0])] * 3)]
    j = make(arrays, text_weight=0, sparse_weight=0, dense_weight=0)
    rows = j.join_pair("a", "b", n=2)
    assert [(r["src_idx"], r["tgt_idx"], r["score"]) for r in rows] == [
        (0, 0, 0.0), (0, 1, 0.0), (1, 0, 0.0), (1, 1, 0.0)]
    assert all(r["text_score"] is r["sparse_score"] is r["dense_score"] is None for r in rows)
    assert j.join_pair("a", "b", n=2, score_cutoff=0.5) == []


def test_text_channel_details():
    # Fusion scores of text-only elements never exceed 3/122 with two active channels.
    j = MultiJoiner()
    j.add_array("a", texts=["red apple", "green pear", "!!"])
    j.add_array("b", texts=["apple red", "pear", "red red red"])
    rows = j.join_pair("a", "b", n=3)
    assert all(0.0 <= r["score"] <= 3 / 122 for r in rows)
    # A punctuation-only text reaches nothing: padding with text score 0.0.
    j = MultiJoiner(sparse_weight=0)
    j.add_array("a", texts=["!!", "red"])
    j.add_array("b", texts=["red", "blue"])
    rows = j.join_pair("a", "b", n=2)
    assert [(r["tgt_idx"], r["score"], r["text_score"]) for r in rows[:2]] == [
        (0, 0.0, 0.0), (1, 0.0, 0.0)]
    # Beyond bm25_candidates a candidate keeps its BM25 term but has text score 0.0.
    j = MultiJoiner(bm25_candidates=1, sparse_weight=0)
    j.add_array("a", texts=["red apple"])
    j.add_array("b", texts=["red apple", "apple"])
    rows = j.join_pair("a", "b", n=2)
    assert [(r["tgt_idx"], r["text_score"]) for r in rows] == [(0, 1.0), (1, 0.0)]
    # Fuzzy similarity: code points unless both texts are ASCII.
    j = MultiJoiner(sparse_weight=0)
    j.add_array("a", texts=["\u00e9 x", "ab x", ""])
    j.add_array("b", texts=["e x", "abc x", ""])
    rows = j.join_pair("a", "b", n=1)
    assert rows[0]["tgt_idx"] == 0 and rows[0]["text_score"] == 1 - 2 / 6
    assert rows[1]["tgt_idx"] == 1 and rows[1]["text_score"] == 1 - 1 / 9
    # An empty text reaches nothing, so it is padded.
    assert rows[2]["tgt_idx"] == 0 and rows[2]["score"] == 0.0


def test_sparse_and_dense_channels():
    j = MultiJoiner(text_weight=0, dense_weight=0)
    j.add_array("a", sparse=[{1: 1.0}, {1: -1.0}])
    j.add_array("b", sparse=[{2: 1.0}, {1: 1.0}])
    rows = j.join_pair("a", "b", n=1, score_cutoff=0.5)
    assert [(r["src_idx"], r["tgt_idx"], r["score"]) for r in rows] == [(0, 1, 1.0)]
    # {1: -1} against {1: 1} is -1 and {1: 1} against {2: 1} is 0: neither is reached.
    rows = j.join_pair("a", "b", n=1, score_cutoff=0.0)
    assert [(r["src_idx"], r["tgt_idx"], r["score"]) for r in rows] == [(0, 1, 1.0), (1, 0, 0.0)]
    # Dense: every target with a vector ranks, negative included; the rest is padding.
    j = MultiJoiner(text_weight=0, sparse_weight=0)
    j.add_array("a", dense=[[1.0, 2.0, 3.0]])
    j.add_array("b", dense=[None, [-1.0, 0.25], [], [2.0]])
    rows = j.join_pair("a", "b", n=4)
    assert [(r["tgt_idx"], r["score"]) for r in rows] == [(3, 2.0), (2, -0.0), (1, -0.5), (0, 0.0)]
    assert math.copysign(1.0, rows[1]["score"]) == -1.0  # empty overlap: -0.0
    assert [(r["tgt_idx"], r["score"]) for r in j.join_pair("a", "b", n=4, score_cutoff=-1.0)] \
        == [(3, 2.0), (2, -0.0), (1, -0.5), (0, 0.0)]
    assert [(r["tgt_idx"], r["score"]) for r in j.join_pair("a", "b", n=4, score_cutoff=0.5)] \
        == [(3, 2.0)]


def test_sparse_dots_of_long_vectors(rng):
    """Vectors of up to 40 entries, merged block by block, against the plain float sum."""
    for _ in range(20):
        span = rng.choice([50, 200, 5000])

        def vec():
            return {i: rng.uniform(-1, 2) for i in rng.sample(range(span), rng.randint(0, 40))}

        src = [vec() for _ in range(3)]
        tgt = [vec() for _ in range(60)]
        j = MultiJoiner(text_weight=0, dense_weight=0)
        j.add_array("s", sparse=src)
        j.add_array("t", sparse=tgt)
        rows = j.join_pair("s", "t", n=60, score_cutoff=1e-30)
        got = {(r["src_idx"], r["tgt_idx"]): r["sparse_score"] for r in rows}
        norm = lambda v: {k: float(f32(x)) for k, x in v.items()}
        want = {}
        for si, s in enumerate(src):
            for ti, t in enumerate(tgt):
                d = float(sparse_dot(norm(s), norm(t))) if s and t else 0.0
                if d >= 1e-30:
                    want[(si, ti)] = d
        assert got == want



def test_sparse_ids_shared_by_many_targets(rng):
    """Ids held by most targets, anywhere in 0 .. 2^32 - 1, with weights whose float sum
    depends on the order of addition (1e8 + 1 - 1e8 is 0 in float, 1e8 - 1e8 + 1 is 1):
    every dot product adds the shared ids in ascending order, alone and fused with dense."""
    ids = [0, 7, 2 ** 31, 2 ** 32 - 1] + rng.sample(range(1, 2 ** 32 - 1), 8)
    weights = [1e8, -1e8, 1.0, 3.0, 0.5, -2.0]
    for case in range(4):
        def element():
            sparse = {i: rng.choice(weights) for i in rng.sample(ids, rng.randint(0, len(ids)))}
            return (None, rng.choice([sparse, sparse, None]), [rng.choice([1.0, 0.5, -1.0])])
        src = ("s", [element() for _ in range(30)])
        tgt = ("t", [element() for _ in range(rng.randint(100, 200))])
        cfg = dict(DEFAULTS, dense_weight=float(case % 2))
        j = make([src, tgt], **cfg)
        arrs = normalised([src, tgt])
        for n in (1, 250):
            same_rows(j.join_pair("s", "t", n=n), reference_pair(cfg, arrs[0], arrs[1], n, None))


def test_cutoffs_and_nan():
    j = MultiJoiner(text_weight=0, sparse_weight=0)
    j.add_array("a", dense=[[1.0], [float("nan")]])
    j.add_array("b", dense=[[1.0], [2.0], [float("nan")]])
    rows = j.join_pair("a", "b", n=3)
    assert [r["tgt_idx"] for r in rows[:3]][:2] == [1, 0]
    assert math.isnan(rows[2]["score"])
    # A NaN cut-off keeps nothing and pads nothing.
    assert j.join_pair("a", "b", n=3, score_cutoff=float("nan")) == []
    # Every NaN score is dropped by a cut-off.
    rows = j.join_pair("a", "b", n=3, score_cutoff=-math.inf)
    assert [(r["src_idx"], r["tgt_idx"]) for r in rows] == [(0, 1), (0, 0)]


def test_drivers_and_row_order():
    j = MultiJoiner()
    assert j.join() == []
    j.add_array("a", texts=["x", "y"])
    assert j.join() == []
    j.add_array("b", texts=["x", "y", "z"])
    rows = j.join()
    assert [(r["src_array"], r["src_idx"]) for r in rows] == [
        ("a", 0), ("a", 1), ("b", 0), ("b", 1), ("b", 2)]
    assert j.join(n=0) == []
    assert len(j.join_pair("a", "b", n=10)) == 2 * 3
    with pytest.raises(KeyError) as e:
        j.join_pair("a", "c")
    assert e.value.args == ("unknown array 'c'",)
    with pytest.raises(KeyError) as e:
        j.join_pair("d", "c")
    assert e.value.args == ("unknown array 'd'",)
    # The same name twice joins an array with itself; join never does.
    rows = j.join_pair("a", "a")
    assert [(r["src_idx"], r["tgt_idx"]) for r in rows] == [(0, 0), (1, 1)]
    # Two arrays under one name: join_pair takes the first, join joins them both ways.
    k = MultiJoiner()
    k.add_array("s", texts=["p"])
    k.add_array("s", texts=["q", "p"])
    assert [r["tgt_idx"] for r in k.join_pair("s", "s")] == [0]
    assert [(r["src_idx"], r["tgt_idx"]) for r in k.join()] == [(0, 1), (0, 0), (1, 0)]
    with pytest.raises(OverflowError):
        j.join(n=-1)
    with pytest.raises(TypeError, match="argument 'score_cutoff'"):
        j.join(score_cutoff="x")
    with pytest.raises(TypeError, match="argument 'src_name'"):
        j.join_pair(1, "a")
    with pytest.raises(TypeError):
        j.join(1, None, 3)


# ---- Joins against the reference on random inputs ----

VOCAB = ["apple", "pie", "Banana", "red", "green", "x1", "b2b", "caf\u00e9", "\u00fcber", "pear"]


def random_element(rng, kinds, dim_choices):
    text = sparse = dense = None
    if "t" in kinds and rng.random() < 0.85:
        k = rng.randint(0, 4)
        text = rng.choice([" ", ", ", "-", "  "]).join(rng.choice(VOCAB) for _ in range(k))
        if rng.random() < 0.1:
            text = "?!"
    if "s" in kinds and rng.random() < 0.85:
        sparse = {rng.randrange(8): rng.choice([0.5, 1.0, 2.0, -1.0, 0.3])
                  for _ in range(rng.randint(0, 4))}
    if "d" in kinds and rng.random() < 0.85:
        dense = [rng.choice([0.5, -0.25, 1.0, 0.1, 3.0]) for _ in range(rng.choice(dim_choices))]
    return (text, sparse, dense)


def random_case(rng):
    kinds = rng.choice(["t", "s", "d", "ts", "td", "sd", "tsd"])
    dims = rng.choice([[3], [0, 1, 2, 3]])
    arrays = []
    for name in ["a", "b", "c"][: rng.randint(1, 3)]:
        arrays.append((name, [random_element(rng, kinds, dims) for _ in range(rng.randint(0, 6))]))
    cfg = dict(DEFAULTS)
    cfg.update(
        text_weight=rng.choice([0.0, 0.5, 1.0, 2.0]),
        sparse_weight=rng.choice([0.0, 1.0, 3.0]),
        dense_weight=rng.choice([0.0, 1.0, 0.25]),
        bm25_k1=rng.choice([1.5, 1.0, 0.5, 2.0]),
        bm25_b=rng.choice([0.75, 0.0, 1.0]),
        bm25_variant=rng.choice(["BM25Okapi", "BM25L", "BM25Plus", "BM25T", "bm25l"]),
        rrf_k=rng.choice([60, 0, 5]),
        bm25_candidates=rng.choice([100, 0, 1, 2]),
    )
    n = rng.choice([0, 1, 2, 3, 10])
    cutoff = rng.choice([None, None, 0.0, 0.01, 0.5, -1.0])
    return arrays, cfg, n, cutoff


def normalised(arrays):
    """Elements as the joiner stores them: numbers rounded to float32."""
    out = []
    for name, elems in arrays:
        out.append((name, [(t, None if s is None else {k: float(f32(v)) for k, v in s.items()},
                            None if d is None else [float(f32(x)) for x in d])
                           for t, s, d in elems]))
    return out


def test_random_joins_match_reference(rng):
    for _ in range(400):
        arrays, cfg, n, cutoff = random_case(rng)
        j = make(arrays, **cfg)
        ref_cfg = dict(cfg)
        if ref_cfg["bm25_variant"] not in ("BM25L", "BM25Plus", "BM25T"):
            ref_cfg["bm25_variant"] = "BM25Okapi"
        arrs = normalised(arrays)
        want = []
        for i, src in enumerate(arrs):
            for k, tgt in enumerate(arrs):
                if i != k:
                    want += reference_pair(ref_cfg, src, tgt, n, cutoff)
        same_rows(j.join(n=n, score_cutoff=cutoff), want)
        name = arrays[0][0]
        same_rows(j.join_pair(name, name, n, cutoff),
                  reference_pair(ref_cfg, arrs[0], arrs[0], n, cutoff))


def test_long_ranked_lists_match_reference(rng):
    """Hundreds of candidates per channel, with many equal scores and some NaN."""
    values = [0.5, -0.25, 1.0, 0.1, 3.0, 0.0, -0.0]
    for case in range(6):
        def element():
            text = " ".join(rng.choice(VOCAB) for _ in range(rng.randint(1, 3)))
            ids = rng.sample(range(60), rng.randint(0, 30))
            sparse = {i: rng.choice([0.5, 1.0, 2.0, 0.25]) for i in ids}
            dense = [rng.choice(values) for _ in range(rng.choice([3, 3, 2]))]
            if rng.random() < 0.02:
                dense[0] = float("nan")
            return (text, sparse, dense)
        src = ("s", [element() for _ in range(4)])
        tgt = ("t", [element() for _ in range(rng.randint(150, 300))])
        cfg = dict(DEFAULTS, bm25_candidates=rng.choice([100, 5]),
                   text_weight=rng.choice([1.0, 0.0]), sparse_weight=rng.choice([1.0, 0.0]))
        j = make([src, tgt], **cfg)
        n = rng.choice([3, 400])
        arrs = normalised([src, tgt])
        same_rows(j.join_pair("s", "t", n=n), reference_pair(cfg, arrs[0], arrs[1], n, None))


def test_single_source_matches_pool(rng):
    """A one-element source (scored on the calling thread) gives the rows it gets in a
    larger source array (scored on the pool)."""
    for _ in range(30):
        arrays, cfg, n, cutoff = random_case(rng)
        elems = [random_element(rng, "tsd", [4]) for _ in range(40)]
        targets = [random_element(rng, "tsd", [4]) for _ in range(25)]
        j = make([("all", elems), ("tgt", targets)], **cfg)
        for i, e in enumerate(elems):
            j.add_array(f"one{i}", texts=[e[0]], sparse=[e[1]], dense=[e[2]])
        big = j.join_pair("all", "tgt", n=5, score_cutoff=cutoff)
        for i in range(len(elems)):
            single = j.join_pair(f"one{i}", "tgt", n=5, score_cutoff=cutoff)
            expect = [dict(r, src_array=f"one{i}", src_idx=0) for r in big if r["src_idx"] == i]
            same_rows(single, expect)


def test_many_ties_rank_in_list_order():
    # 30 targets with equal dense scores: stable order, and fusion sums follow it.
    j = MultiJoiner(text_weight=0)
    j.add_array("a", sparse=[{1: 1.0}], dense=[[1.0]])
    j.add_array("b", sparse=[{1: 1.0}] * 30, dense=[[1.0]] * 30)
    rows = j.join_pair("a", "b", n=30)
    assert [r["tgt_idx"] for r in rows] == list(range(30))
    assert rows[0]["score"] == 1 / 61 and rows[29]["score"] == 1 / 90


# ---- Borrowing ----

def test_add_array_during_join_is_refused():
    j = MultiJoiner()
    j.add_array("a", texts=["x"])
    j.add_array("b", texts=["x"])
    errors = []
    started, go_on = threading.Event(), threading.Event()

    class SlowN:
        def __index__(self):
            started.set()
            go_on.wait(10)  # lets the other thread run while the join holds the joiner
            return 1

    def other():
        started.wait(10)
        try:
            j.add_array("c", texts=["y"])
        except RuntimeError as e:
            errors.append(str(e))
        finally:
            go_on.set()

    t = threading.Thread(target=other)
    t.start()
    rows = j.join(n=SlowN())
    t.join()
    assert errors == ["Already borrowed"]
    assert j.num_arrays == 2 and len(rows) == 2


def test_calls_during_add_array_are_refused():
    j = MultiJoiner()
    j.add_array("a", texts=["x"])
    seen = []

    class Texts:
        def __len__(self):
            return 1

        def __getitem__(self, i):
            if i == 0:
                for call in (lambda: j.join(), lambda: j.num_arrays,
                             lambda: j.add_array("c", texts=["z"])):
                    try:
                        call()
                    except RuntimeError as e:
                        seen.append(str(e))
                return "y"
            raise IndexError

    j.add_array("b", texts=Texts())
    assert seen == ["Already mutably borrowed"] * 2 + ["Already borrowed"]
    assert j.num_arrays == 2
    assert [r["src_text"] for r in j.join()] == ["x", "y"]

