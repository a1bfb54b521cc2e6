"""Long selections (hundreds to thousands of results) on corpora built so that ties at the
n-th place are the rule: documents of few lengths over a skewed vocabulary, so that many
documents share every score. Every selection must be the heap's over independently
computed scores, documents, order and score bits included, on both BM25 indexes, with
and without a mask, and for the fuzzy ranking, whose heap is offered every document
(zero scores included)."""
import json
import os
import random
import struct
import subprocess
import sys

import pytest

from _tarnwick import BM25Index, BM25L, BM25Plus, BM25T, MmapBM25Index, save_mmap_bm25
from search_models import Bm25Model, fuzzy_only, read_index_dir, select_top_n, split_words

VOCAB = ["ka", "to", "ri", "men", "sa", "lo", "ver", "in", "da", "ri"]
WEIGHTS = [30, 20, 12, 8, 5, 3, 2, 1, 0.5, 0.2]
NS = [21, 600, 1000, 1500, 4000]
QUERIES = ["ka", "to ri", "ka ka to", "sa lo ver", "pe ka", "in da men to", "ri zz"]


def bits(x):
    return struct.pack("<d", x)


def tied_corpus(seed, size, lengths=(4, 5, 9)):
    """Each document some words of VOCAB (repeats common) and its own marker word."""
    rng = random.Random(seed)
    return [" ".join(rng.choices(VOCAB, WEIGHTS, k=rng.choice(lengths)) + [f"u{i}"]) for i in range(size)]


def mapped_scores(path, query):
    """Scores read from the index files: from +0.0, token by token in query order, idf
    times the stored weight for each document holding the token's term."""
    meta, records, _ = read_index_dir(path)
    weights = {t: {doc: w for doc, w, _ in records[off:off + cnt]}
               for t, (off, cnt, _, _) in meta["dictionary"].items()}
    out = [0.0] * len(meta["corpus"])
    for t in split_words(query):
        for d, w in weights.get(t, {}).items():
            out[d] += meta["idf"].get(t, 0.0) * w
    return out


def masked(scores, mask):
    return [s if i >= len(mask) or mask[i] else 0.0 for i, s in enumerate(scores)]


@pytest.mark.parametrize("cls,variant,extra", [(BM25Index, "okapi", {}), (BM25L, "l", {"delta": 0.5}),
                                               (BM25Plus, "plus", {"delta": 1.0}), (BM25T, "t", {})])
def test_in_memory_selections_with_ties_at_the_cut(cls, variant, extra):
    docs = tied_corpus(variant, 6000)
    idx, model = cls(docs, **extra), Bm25Model(docs, variant, **extra)
    mask = [random.Random(1).random() < 0.7 for _ in range(5000)]
    ties = 0
    for q in QUERIES:
        scores = model.scores(q)
        ranked = sorted((s for s in scores if s > 0), reverse=True)
        for n in NS:
            want = [(docs[i], bits(s)) for i, s in select_top_n(scores, n)]
            assert [(t, bits(s)) for t, s in idx.get_top_n(q, n)] == want, (q, n)
            ties += n < len(ranked) and ranked[n - 1] == ranked[n]
        for n in NS[:3]:
            want = [(docs[i], bits(s)) for i, s in select_top_n(masked(scores, mask), n)]
            assert [(t, bits(s)) for t, s in idx.get_top_n_filtered(q, n, mask)] == want, (q, n)
    assert ties >= 10  # the corpus does what it is for


@pytest.mark.parametrize("algorithm", ["bm25", "bm25t"])
def test_mapped_selections_with_ties_at_the_cut(tmp_path, algorithm):
    docs = tied_corpus(algorithm, 6000)
    save_mmap_bm25(str(tmp_path), docs, 1.5, 0.75, False, algorithm, None, False)
    idx = MmapBM25Index.load(str(tmp_path))
    doc_of = {t: d for d, t in enumerate(docs)}
    mask = [d % 3 != 1 for d in range(6000)]
    for q in QUERIES:
        scores = mapped_scores(str(tmp_path), q)
        for n in NS:
            want = [(d, bits(s)) for d, s in select_top_n(scores, n)]
            assert [(doc_of[t], bits(s)) for t, s in idx.get_top_n(q, n)] == want, (q, n)
        want = [(d, bits(s)) for d, s in select_top_n(masked(scores, mask), 1000)]
        assert [(doc_of[t], bits(s)) for t, s in idx.get_top_n_filtered(q, 1000, mask)] == want, q


ONE_THREAD_SCRIPT = """
import json, random, sys
sys.path.insert(0, sys.argv[1])
from _tarnwick import BM25Index, BM25T
from test_top_n_long import one_thread_corpus, ONE_THREAD_CASES
docs, mask = one_thread_corpus()
out = {}
for cls in (BM25Index, BM25T):
    idx = cls(docs)
    out[cls.__name__] = [[[t, s.hex()] for t, s in (idx.get_top_n_filtered(q, n, mask) if masked
                                                    else idx.get_top_n(q, n))]
                         for q, n, masked in ONE_THREAD_CASES]
print(json.dumps(out))
"""
ONE_THREAD_CASES = [(q, n, masked) for q in ("ka to", "sa lo ver", "in da men to", "ri zz ka")
                    for n, masked in ((10, False), (1000, False), (2500, False), (1000, True))]


def one_thread_corpus():
    """20,500 documents (parts of the corpus, the last one partial), most of few lengths,
    one in fifty of any length up to 3,000 words (thousands of distinct lengths), and a
    mask over the first 15,000."""
    rng = random.Random(23)
    docs = tied_corpus("one thread", 20_500)
    for i in range(0, len(docs), 50):
        docs[i] += " " + " ".join(rng.choices(VOCAB, WEIGHTS, k=rng.randint(10, 3000)))
    return docs, [rng.random() < 0.6 for _ in range(15_000)]


def test_one_thread_selections_over_several_parts():
    # On one thread the accumulation of a long corpus runs part after part through the
    # same scratch, offering each part before the next: the selection is still the heap's
    # over the whole corpus in document order.
    env = {k: v for k, v in os.environ.items() if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    env["RAYON_NUM_THREADS"] = "1"
    run = subprocess.run([sys.executable, "-c", ONE_THREAD_SCRIPT, os.path.dirname(__file__)], env=env,
                         capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    got = json.loads(run.stdout)
    docs, mask = one_thread_corpus()
    for name, variant in (("BM25Index", "okapi"), ("BM25T", "t")):
        model = Bm25Model(docs, variant)
        for (q, n, use_mask), result in zip(ONE_THREAD_CASES, got[name]):
            scores = model.scores(q)
            if use_mask:
                scores = masked(scores, mask)
            want = [[docs[i], s.hex()] for i, s in select_top_n(scores, n)]
            assert result == want, (name, q, n, use_mask)


def test_fuzzy_selection_offers_every_document():
    # Short texts over two letters: most documents tie with some other, and many score 0.
    rng = random.Random(4)
    docs = ["".join(rng.choice("ab") for _ in range(rng.randint(0, 3))) + "-" * rng.randint(0, 1)
            for _ in range(2000)]
    idx = BM25Index(docs)
    for q, n in [("ab", 700), ("zz", 1200), ("ba-", 1999)]:
        want = fuzzy_only(docs, q, n)
        got = idx.fuzzy_only(q, n)
        assert [(t, bits(s)) for t, s in got] == [(t, bits(s)) for t, s in want], (q, n)


def test_mapped_one_word_records_rewritten_out_of_order(tmp_path):
    # After the records are checked, the file is rewritten in place so that the one word's
    # records repeat and go back in document order: the selection is then the heap's over
    # the summed records, as for several words.
    docs = tied_corpus("rewritten", 3000)
    save_mmap_bm25(str(tmp_path), docs, 1.5, 0.75, False, "bm25", None, False)
    idx = MmapBM25Index.load(str(tmp_path))
    idx.get_top_n("ri", 700)  # the records are checked here
    meta, _, _ = read_index_dir(str(tmp_path))
    off, cnt, _, _ = meta["dictionary"]["ri"]
    f = tmp_path / "postings.bin"
    data = bytearray(f.read_bytes())
    for k in range(cnt):
        struct.pack_into("<I", data, 12 * (off + k), (cnt - k // 2) * 7 % len(docs))
    with open(f, "r+b") as fh:
        fh.write(bytes(data))
    meta, records, _ = read_index_dir(str(tmp_path))
    scores = [0.0] * len(docs)
    for d, w, _ in records[off:off + cnt]:
        scores[d] += meta["idf"]["ri"] * w
    doc_of = {t: d for d, t in enumerate(docs)}
    for n in (300, 700):
        want = [(d, bits(s)) for d, s in select_top_n(scores, n)]
        assert [(doc_of[t], bits(s)) for t, s in idx.get_top_n("ri", n)] == want, n



def test_ranked_lists_across_many_document_digits(tmp_path):
    # Documents numbered past 65,536, so that the order among tied scores rests on every
    # byte of the document numbers: the heap's selections (its entries in heap order,
    # sorted by radix from 512), and with n beyond the corpus every positive score sorted
    # whole, against the heap model and a sort by descending score, then document.
    docs = tied_corpus("digits", 70_000, lengths=(2, 3))
    save_mmap_bm25(str(tmp_path), docs, 1.5, 0.75, False, "bm25", None, False)
    mapped, idx = MmapBM25Index.load(str(tmp_path)), BM25Index(docs)
    doc_of = {t: d for d, t in enumerate(docs)}
    for q in ["sa", "men lo", "ver in da"]:
        scores = mapped_scores(str(tmp_path), q)
        for n in (700, 3000):
            want = [(d, bits(s)) for d, s in select_top_n(scores, n)]
            assert max(d for d, _ in want) > 65_536, (q, n)
            assert [(doc_of[t], bits(s)) for t, s in mapped.get_top_n(q, n)] == want, (q, n)
        for index in (idx, mapped):
            own = index.get_scores(q)
            want = sorted(((d, s) for d, s in enumerate(own) if s > 0), key=lambda e: (-e[1], e[0]))
            assert 512 <= len(want) <= 65_536 and max(d for d, _ in want) > 65_536, q
            got = [(doc_of[t], s) for t, s in index.get_top_n(q, len(docs))]
            assert got == want, (q, type(index).__name__)


def varied_corpus(seed, size):
    """Documents of many lengths holding VOCAB's words in varied counts: thousands of
    distinct scores, each arriving entry rising any number of levels in the heap, beside
    the ties of equal lengths and counts."""
    rng = random.Random(seed)
    return [" ".join(rng.choices(VOCAB, WEIGHTS, k=rng.randint(1, 120)) + [f"u{i}"]) for i in range(size)]


def test_selections_with_many_distinct_scores():
    # Heaps from 16 entries on, where an entry's rise from the leaf is decided three levels
    # at a time: every selection, its order and score bits, is the heap model's.
    docs = varied_corpus("distinct", 5000)
    idx, model = BM25Index(docs), Bm25Model(docs, "okapi")
    distinct = 0
    for q in ["ka", "to ri", "sa lo ver", "in da men to"]:
        scores = model.scores(q)
        distinct = max(distinct, len({s for s in scores if s > 0}))
        for n in (15, 16, 17, 40, 333, 1000, 2100):
            want = [(docs[i], bits(s)) for i, s in select_top_n(scores, n)]
            assert [(t, bits(s)) for t, s in idx.get_top_n(q, n)] == want, (q, n)
    assert distinct > 1000  # the corpus does what it is for


def test_mapped_selections_with_many_distinct_scores(tmp_path):
    docs = varied_corpus("distinct mapped", 5000)
    save_mmap_bm25(str(tmp_path), docs, 1.5, 0.75, False, "bm25", None, False)
    idx = MmapBM25Index.load(str(tmp_path))
    doc_of = {t: d for d, t in enumerate(docs)}
    for q in ["ka", "to ri", "sa lo ver"]:
        scores = mapped_scores(str(tmp_path), q)
        for n in (16, 17, 100, 1000, 2100):
            want = [(d, bits(s)) for d, s in select_top_n(scores, n)]
            assert [(doc_of[t], bits(s)) for t, s in idx.get_top_n(q, n)] == want, (q, n)


def test_selections_of_heaps_that_never_fill(tmp_path):
    """Single-word queries whose lists hold up to about n documents: the heap fills at the
    last offer or never (kept in offer order, then sifted for up to 20 entries, ranked by
    counting up to 256 and sorted beyond), and shorter or longer by one. Few document
    lengths and term frequencies make most scores tie."""
    rng = random.Random(11)
    sizes = [3, 19, 20, 21, 22, 64, 130, 255, 256, 257, 300]
    docs = [[rng.choice(VOCAB) for _ in range(rng.choice((3, 6)))] for _ in range(3000)]
    for size in sizes:
        for d in rng.sample(range(len(docs)), size):
            docs[d] += [f"w{size}"] * rng.choice((1, 1, 2))
    docs = [" ".join(d) for d in docs]
    save_mmap_bm25(str(tmp_path), docs, 1.5, 0.75, False, "bm25", None, False)
    engines = [(BM25Index(docs), Bm25Model(docs, "okapi").scores), (BM25T(docs), Bm25Model(docs, "t").scores),
               (MmapBM25Index.load(str(tmp_path)), lambda q: mapped_scores(str(tmp_path), q))]
    for idx, scores_of in engines:
        for size in sizes:
            q = f"w{size}"
            scores = scores_of(q)
            for n in {size - 1, size, size + 1, 2 * size, 1000}:
                want = [(docs[i], bits(s)) for i, s in select_top_n(scores, n)]
                assert [(t, bits(s)) for t, s in idx.get_top_n(q, n)] == want, (idx, size, n)
