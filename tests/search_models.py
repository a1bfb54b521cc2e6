"""Plain-Python models of the search indexes, written from the formulas, for comparison."""
import json
import math
import os
import struct
import unicodedata
from decimal import Decimal

from naive import lcs_length


def div(a, b):
    """IEEE division: a zero divisor gives an infinity or NaN instead of an error."""
    if b == 0:
        if a == 0 or a != a:
            return math.nan
        return math.copysign(math.inf, a) * math.copysign(1.0, b)
    return a / b


def log(x):
    """IEEE natural logarithm: -inf at zero, NaN below."""
    if x != x or x < 0:
        return math.nan
    if x == 0:
        return -math.inf
    return math.log(x)


def is_word_char(c):
    o = ord(c)
    if o < 0x80:
        return c.isascii() and c.isalnum()
    if o < 0xAA:
        return False
    # Alphabetic is the letters, Nl and Other_Alphabetic; the generators of the tests
    # avoid Other_Alphabetic marks, which unicodedata cannot name.
    return c.isalpha() or unicodedata.category(c) in ("Nd", "Nl", "No")


def split_words(text):
    """The word-splitting mode: runs of word characters, each lowercased as a whole."""
    out, cur = [], []
    for c in text:
        if is_word_char(c):
            cur.append(c)
        elif cur:
            out.append("".join(cur).lower())
            cur = []
    if cur:
        out.append("".join(cur).lower())
    return out


class Bm25Model:
    """Index data and scores of the four variants, evaluated as the formulas read."""

    def __init__(self, corpus, variant="okapi", k1=1.5, b=0.75, delta=0.5):
        self.corpus = list(corpus)
        self.variant, self.k1, self.b, self.delta = variant, k1, b, delta
        n = len(self.corpus)
        self.tokens = [split_words(t) for t in self.corpus]
        self.idf, self.w = {}, [dict() for _ in range(n)]
        if n == 0:
            self.avgdl = 1.0
            return
        total = sum(len(t) for t in self.tokens)
        self.avgdl = total / n
        df, tf = {}, []
        for toks in self.tokens:
            counts = {}
            for t in toks:
                counts[t] = counts.get(t, 0) + 1
            tf.append(counts)
            for t in counts:
                df[t] = df.get(t, 0) + 1
        for t, f in df.items():
            if variant in ("okapi", "t"):
                self.idf[t] = log(((n - f) + 0.5) / (f + 0.5) + 1)
            elif variant == "l":
                self.idf[t] = log((n + 1) / (f + 0.5))
            else:
                self.idf[t] = log((n + 1) / f)
        K = [(1 - b) + div(b * len(toks), self.avgdl) for toks in self.tokens]
        term_k1 = {}
        if variant == "t":
            g = 1.0 if abs(k1 - 1) < 2.0 ** -52 else log(k1) * div(k1, k1 - 1)
            sums = {}
            for d, counts in enumerate(tf):
                for t, c in counts.items():
                    sums[t] = sums.get(t, 0.0) + log(div(c, K[d]) + 1)
            term_k1 = {t: (g - sums[t] / df[t]) * (g - sums[t] / df[t]) for t in df}
        for d, counts in enumerate(tf):
            for t, c in counts.items():
                if variant == "okapi":
                    w = div((k1 + 1) * c, k1 * K[d] + c)
                elif variant == "plus":
                    w = delta + div((k1 + 1) * c, k1 * K[d] + c)
                elif variant == "l":
                    cc = div(c, K[d])
                    w = div((k1 + 1) * (delta + cc), delta + (k1 + cc))
                else:
                    cc = div(c, K[d])
                    kt = term_k1[t]
                    w = div((kt + 1) * cc, kt + cc)
                self.w[d][t] = w

    def scores(self, query):
        toks = split_words(query)
        out = []
        for d in range(len(self.corpus)):
            s = -0.0
            for t in toks:
                s += self.idf.get(t, 0.0) * self.w[d].get(t, 0.0)
            out.append(s)
        return out

    def top_n(self, query, n=5, allowed=None):
        return masked_top_n(self.corpus, self.scores(query), n, allowed)


def masked_top_n(corpus, scores, n, allowed=None):
    """The top-n selection over `scores` after the mask, as (text, score) pairs."""
    scores = list(scores)
    if allowed is not None:
        for i in range(min(len(scores), len(allowed))):
            if not allowed[i]:
                scores[i] = 0.0
    return [(corpus[i], s) for i, s in select_top_n(scores, n)]


def sort_ranked(entries):
    """Descending by score; stable (insertion) up to 20 entries. Beyond 20 the order of
    ties is open; the module puts them in order of their first element (a document or
    candidate index) and NaN last, and so does this model."""
    if len(entries) <= 20:
        out = []
        for e in entries:
            j = len(out)
            while j > 0 and out[j - 1][1] < e[1]:
                j -= 1
            out.insert(j, e)
        return out
    return sorted(entries, key=lambda e: (e[1] != e[1], -e[1] if e[1] == e[1] else 0.0, e[0]))


def select_top_n(scores, n, positive_only=True):
    """The top-n selection: sort path for small corpora or n >= N, else the min-heap.
    Only positive scores are candidates, unless `positive_only` is false."""
    big_n = len(scores)
    cands = [(i, s) for i, s in enumerate(scores) if s > 0.0 or not positive_only]
    if big_n <= 256 or n >= big_n:
        return sort_ranked(cands)[:n]
    heap = []
    for i, s in cands:
        if n == 0:
            break
        if len(heap) < n:
            heap.append((i, s))
            p = len(heap) - 1
            while p > 0 and heap[(p - 1) // 2][1] > s:
                heap[p] = heap[(p - 1) // 2]
                p = (p - 1) // 2
            heap[p] = (i, s)
        elif s > heap[0][1]:
            L, p = len(heap), 0
            placed = False
            while 2 * p + 2 <= L - 1:
                l, r = 2 * p + 1, 2 * p + 2
                c = l if heap[l][1] < heap[r][1] else r
                if heap[c][1] >= s:
                    heap[p] = (i, s)
                    placed = True
                    break
                heap[p] = heap[c]
                p = c
            if not placed:
                if 2 * p + 1 == L - 1 and heap[2 * p + 1][1] < s:
                    heap[p] = heap[2 * p + 1]
                    p = 2 * p + 1
                heap[p] = (i, s)
    return sort_ranked(heap)


# ---- Fuzzy score and the rankings built on it ----

def fuzzy_score(a, b):
    """1 - Indel distance / total length, over code points; 1.0 for two empty texts."""
    total = len(a) + len(b)
    if total == 0:
        return 1.0
    return 1.0 - (total - 2 * lcs_length(a, b)) / total


def fuzzy_only(corpus, query, n):
    scores = [fuzzy_score(query, t) for t in corpus]
    return [(corpus[i], s) for i, s in select_top_n(scores, n, positive_only=False)]


def pool_size(n, bm25_candidates):
    return max(min(10 * n, 2 ** 64 - 1), bm25_candidates)


def top_n_fuzzy(model, query, n=5, bm25_candidates=50, w=0.3):
    cands = model.top_n(query, pool_size(n, bm25_candidates))
    if not cands:
        return fuzzy_only(model.corpus, query, n)
    hi, lo = max(s for _, s in cands), min(s for _, s in cands)
    rng = max(hi - lo, 1e-10)
    blended = [(i, (1 - w) * ((s - lo) / rng) + w * fuzzy_score(query, t))
               for i, (t, s) in enumerate(cands)]
    return [(cands[i][0], s) for i, s in sort_ranked(blended)[:n]]


def fusion_term(rrf_k, rank):
    return 1.0 / float(min(rrf_k + rank + 1, 2 ** 64 - 1))


def f32(x):
    """x rounded to the nearest 32-bit float (one rounding of a double result of two
    32-bit operands equals the correctly rounded 32-bit operation)."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


F32_EPSILON = 2.0 ** -23


def norm(sum_of_squares, floor):
    """A norm from its sum of squares: 1.0 for a sum that is not positive, or with `floor`
    the larger of the root and 2^-23 (2^-23 also for NaN)."""
    root = f32(math.sqrt(sum_of_squares)) if sum_of_squares >= 0 else math.nan
    if floor:
        return root if root > F32_EPSILON else F32_EPSILON
    return root if sum_of_squares > 0 else 1.0


def cosine(row, q, qn, floor=False):
    t = s = -0.0
    for a, b in zip(row, q):
        t = f32(t + f32(a * a))
        s = f32(s + f32(b * a))
    return f32(s / f32(norm(t, floor) * qn))


def fused(model, query, n=5, rrf_k=60, bm25_candidates=100, allowed=None, rows=None, q=None,
          floor=False):
    """The fused ranking of the two- or three-channel search, as (text, score) pairs."""
    corpus = model.corpus
    hits = model.top_n(query, pool_size(n, bm25_candidates), allowed)
    doc_index = {t: i for i, t in enumerate(corpus)}
    if hits:
        cands = list(dict.fromkeys(doc_index[t] for t, _ in hits))
    else:
        cands = [i for i in range(len(corpus))
                 if allowed is None or (i < len(allowed) and allowed[i])]
    slot = {d: j for j, d in enumerate(cands)}
    F = [0.0] * len(cands)
    for r, (t, _) in enumerate(hits):
        F[slot[doc_index[t]]] += fusion_term(rrf_k, r)
    channels = [sort_ranked([(j, fuzzy_score(query, corpus[d])) for j, d in enumerate(cands)])]
    if rows is not None and q is not None:
        qs = -0.0
        for x in q:
            qs = f32(qs + f32(x * x))
        qn = norm(qs, floor)
        channels.append(sort_ranked([(j, cosine(rows[d], q, qn, floor)) for j, d in enumerate(cands)]))
    for ranked in channels:
        for r, (j, _) in enumerate(ranked):
            F[j] += fusion_term(rrf_k, r)
    return [(corpus[cands[j]], s) for j, s in sort_ranked(list(enumerate(F)))[:n]]


# ---- Explanations and phrase proximity ----

def positions(model, d):
    out = {}
    for p, t in enumerate(model.tokens[d]):
        out.setdefault(t, []).append(p)
    return out


def proximity(tokens, pos, window):
    k = len(tokens)
    if k == 0:
        return 0.0
    if k == 1:
        return 1.0 if tokens[0] in pos else 0.0
    if not pos:
        return 0.0
    close = 0
    for a, b in zip(tokens, tokens[1:]):
        if a in pos and b in pos and any(abs(p - q) <= window for p in pos[a] for q in pos[b]):
            close += 1
    return close / (k - 1)


def top_n_phrase(model, query, n=5, window=3, boost=2.0):
    scores = model.scores(query)
    toks = split_words(query)
    g = boost - 1.0
    ranked = [(d, s * (g * proximity(toks, positions(model, d), window) + 1.0))
              for d, s in enumerate(scores) if s > 0]
    return [(model.corpus[d], s) for d, s in sort_ranked(ranked)[:n]]


# ---- Index directories ----

def json_number(x):
    """A double as the index directory's JSON writes it: Python's shortest round-trip
    digits (repr) laid out by the position p of the decimal point: integers with p <= 16
    in full with ".0", 0 < p <= 16 plain, -5 < p <= 0 as "0.000ddd", otherwise
    d.ddde<p - 1>; null when not finite."""
    if not math.isfinite(x):
        return "null"
    if x == 0:
        return "-0.0" if math.copysign(1.0, x) < 0 else "0.0"
    sign, digits, exp = Decimal(repr(x)).as_tuple()
    d = "".join(map(str, digits))
    short = d.rstrip("0")
    k = exp + len(d) - len(short)  # value = short x 10^k
    d, p = short, len(short) + k
    s = "-" if sign else ""
    if k >= 0 and p <= 16:
        return s + d + "0" * k + ".0"
    if 0 < p <= 16:
        return s + d[:p] + "." + d[p:]
    if -5 < p <= 0:
        return s + "0." + "0" * (-p) + d
    return s + d[0] + ("." + d[1:] if len(d) > 1 else "") + "e" + str(p - 1)


def json_text(value):
    """Compact JSON as the index directory's writer lays it out (member order as given)."""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        return json_number(value)
    if isinstance(value, str):
        return json.dumps(value, ensure_ascii=False)
    if isinstance(value, list) and value and isinstance(value[0], tuple):
        return "{" + ",".join(json_text(k) + ":" + json_text(v) for k, v in value) + "}"
    if isinstance(value, list):
        return "[" + ",".join(json_text(v) for v in value) + "]"
    raise TypeError(value)


def read_meta(path):
    """meta.json as nested lists of (key, value) pairs, keeping member order."""
    with open(os.path.join(path, "meta.json"), "rb") as f:
        raw = f.read()
    return raw, json.loads(raw.decode("utf-8"), object_pairs_hook=list)


def read_index_dir(path):
    """(meta as a dict, postings as (doc_id, weight, n_positions) triples, positions)."""
    raw, pairs = read_meta(path)
    meta = dict(pairs)
    meta["idf"], meta["dictionary"] = dict(meta["idf"]), dict(meta["dictionary"])
    with open(os.path.join(path, "postings.bin"), "rb") as f:
        data = f.read()
    assert len(data) % 12 == 0
    postings = list(struct.iter_unpack("<IfI", data))
    with open(os.path.join(path, "positions.bin"), "rb") as f:
        data = f.read()
    assert len(data) % 4 == 0
    positions = [p for (p,) in struct.iter_unpack("<I", data)]
    return meta, postings, positions


def terms_with_positions(tokens):
    """term -> ascending positions in a token list."""
    out = {}
    for p, t in enumerate(tokens):
        out.setdefault(t, []).append(p)
    return out


class MappedModel:
    """Scores and rankings of an index directory, read from its files with struct and json:
    each query term of the dictionary adds idf x stored weight to the documents of its
    records, term by term, into scores that start at +0.0."""

    def __init__(self, path):
        self.meta, self.records, self.positions = read_index_dir(path)
        self.corpus = self.meta["corpus"]
        self.idf, self.dictionary = self.meta["idf"], self.meta["dictionary"]
        self.normalize = self.meta["normalize"]

    def run(self, term):
        off, cnt, poff, _ = self.dictionary[term]
        at = poff
        for doc, weight, npos in self.records[off:off + cnt]:
            yield doc, weight, self.positions[at:at + npos]
            at += npos

    def scores(self, query):
        out = [0.0] * len(self.corpus)
        for t in split_words(query):
            if t in self.dictionary:
                idf = self.idf.get(t, 0.0)
                for doc, weight, _ in self.run(t):
                    out[doc] += idf * weight
        return out

    def top_n(self, query, n=5, allowed=None):
        return masked_top_n(self.corpus, self.scores(query), n, allowed)

    def weight(self, term, d):
        if term not in self.dictionary:
            return None
        for doc, weight, pos in self.run(term):
            if doc == d:
                return weight, pos
        return None

    def explain(self, query, d):
        out = []
        for t in split_words(query):
            found = self.weight(t, d)
            idf, w = self.idf.get(t, 0.0), (found[0] if found else 0.0)
            out.append((t, idf, w, idf * w))
        return out

    def document_vector(self, d):
        return {t: self.weight(t, d)[0] for t in self.dictionary if self.weight(t, d)}

    def top_n_phrase(self, query, n=5, window=3, boost=2.0):
        toks = split_words(query)
        ranked = []
        for d, s in enumerate(self.scores(query)):
            if s > 0:
                pos = {t: self.weight(t, d)[1] for t in toks if self.weight(t, d)}
                ranked.append((d, s * ((boost - 1.0) * proximity(toks, pos, window) + 1.0)))
        return [(self.corpus[d], s) for d, s in sort_ranked(ranked)[:n]]
