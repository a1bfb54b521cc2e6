"""Search latency by query class, for bench_search: ours against tantivy and bm25s on a
synthetic corpus and on real English text, top-10, top-100 and top-1000, median and p99.

Every engine gets the same tokens: ours the text, tantivy the lowercased word runs
joined by spaces (its whitespace tokeniser, positions indexed, one segment, one search
thread, queries built beforehand, count=False), bm25s the token lists. All three are
built in one fresh interpreter with a one-thread pool and timed there side by side (the
corpus's objects frozen out of the garbage collector's passes): each engine runs a class's
queries in turn, three rounds over, and a query's time is its best of the three. (Engines
alternating query by query would leave each engine's data cold for the next: bm25s alone
reads megabytes a query.) Memory is each build's peak resident growth (the process's high-water mark is
reset before it) over the bytes of the text.

Query classes: 1-4 words mixing common, mid-frequency and rare terms; phrases of 2-4
consecutive words from random documents; single rare terms; the single most common terms;
words that occur nowhere. Every query is a disjunction of its words, scored by BM25.
"""
import ast
import gc
import gzip
import os
import pickle
import random
import re
import statistics
import sysconfig
import tempfile
import time

from common import call_in_child, fmt_time, optional

CACHE = os.path.join(tempfile.gettempdir(), "tarnwick-bench-search")
WORD = re.compile(r"[^\W_]+")
MARKUP = re.compile(r"<[^>]*>")
TROFF = re.compile(r"\\f[BIRP1-4]|\\f\(..|\\\*\(..|\\\(..|\\[-&e|^ ]|\\s[-+]?\d")
BINARY = (".png", ".gif", ".jpg", ".pdf", ".svg", ".ico", ".woff", ".ttf", ".js", ".css",
          ".inv", ".pickle", ".doctree")
# Longer "paragraphs" are whole files without a blank line (data, minified code).
MAX_PARAGRAPH = 10_000
CLASSES = {"words": 200, "phrases": 200, "rare": 100, "common": 50, "nowhere": 50}
TOPS = (10, 100, 1000)
REPEAT = 3
BM25S_QUERIES = 40  # per class: bm25s scores every document of every query


def tokens(text):
    return WORD.findall(text.lower())


def _read(path):
    try:
        with (gzip.open(path, "rb") if path.endswith(".gz") else open(path, "rb")) as f:
            data = f.read(4_000_000)
    except (OSError, EOFError):
        return None
    return None if b"\0" in data[:4096] else data.decode("utf-8", "replace")


def _paragraphs(text, man=False):
    out, cur = [], []
    for line in text.splitlines():
        if man and line[:1] in (".", "'"):
            line = ""  # a formatting request ends a paragraph
        if line.strip():
            cur.append(line.strip())
        elif cur:
            out.append(" ".join(cur))
            cur = []
    if cur:
        out.append(" ".join(cur))
    return out


def _texts():
    for root, dirs, files in os.walk("/usr/share/doc"):
        dirs.sort()
        for f in sorted(files):
            if not f.endswith(BINARY):
                text = _read(os.path.join(root, f))
                if text:
                    yield _paragraphs(MARKUP.sub(" ", text) if ".htm" in f else text)
    man = "/usr/share/man"
    for sec in sorted(os.listdir(man)) if os.path.isdir(man) else ():
        if sec.startswith("man"):
            for f in sorted(os.listdir(os.path.join(man, sec))):
                text = _read(os.path.join(man, sec, f))
                if text:
                    yield _paragraphs(TROFF.sub("", text), man=True)
    for root, dirs, files in os.walk(sysconfig.get_paths()["stdlib"]):
        dirs[:] = sorted(d for d in dirs if d not in ("site-packages", "test", "tests", "idlelib"))
        for f in sorted(files):
            if not f.endswith(".py"):
                continue
            try:
                with open(os.path.join(root, f), encoding="utf-8", errors="replace") as fh:
                    tree = ast.parse(fh.read())
            except (SyntaxError, ValueError):
                continue
            for node in ast.walk(tree):
                if isinstance(node, (ast.Module, ast.ClassDef, ast.FunctionDef, ast.AsyncFunctionDef)):
                    doc = ast.get_docstring(node)
                    if doc:
                        yield _paragraphs(doc)


def real_text(limit=None):
    """The real-text paragraphs (all, or a fixed random sample of `limit`), cached. A
    sample has a cache of its own: reading all and dropping most would leave freed memory
    in the process for the index to reuse, and its growth would not show."""
    path = f"{CACHE}-real.pickle"
    sample = f"{CACHE}-real-{limit}.pickle"
    if limit and os.path.exists(sample):
        with open(sample, "rb") as f:
            return pickle.load(f)
    if os.path.exists(path):
        with open(path, "rb") as f:
            docs = pickle.load(f)
    else:
        seen, docs = set(), []
        for paras in _texts():
            for p in paras:
                if p not in seen:
                    seen.add(p)
                    if len(p) <= MAX_PARAGRAPH and len(WORD.findall(p)) >= 5:
                        docs.append(p)
        with open(path, "wb") as f:
            pickle.dump(docs, f)
    if limit and limit < len(docs):
        docs = random.Random(5).sample(docs, limit)
        with open(sample, "wb") as f:
            pickle.dump(docs, f)
    return docs


def query_classes(toks, seed=9):
    """Token lists of each query class, drawn from the corpus's tokens `toks`."""
    rng = random.Random(seed)
    df = {}
    for t in toks:
        for w in set(t):
            df[w] = df.get(w, 0) + 1
    by_df = sorted(df, key=lambda w: (-df[w], w))
    common, mid = by_df[:100], by_df[100:10_000]
    rare = [w for w in by_df if df[w] <= 5] or by_df[-100:]
    pools = (common, mid, rare)
    out = {"words": [[rng.choice(rng.choice(pools)) for _ in range(rng.randint(1, 4))]
                     for _ in range(CLASSES["words"])]}
    phrases = []
    while len(phrases) < CLASSES["phrases"]:
        t = rng.choice(toks)
        k = rng.randint(2, 4)
        if len(t) >= k:
            i = rng.randrange(len(t) - k + 1)
            phrases.append(t[i:i + k])
    out["phrases"] = phrases
    out["rare"] = [[rng.choice(rare)] for _ in range(CLASSES["rare"])]
    out["common"] = [[w] for w in by_df[:CLASSES["common"]]]
    nowhere = []
    while len(nowhere) < CLASSES["nowhere"]:
        w = "".join(rng.choice("bcdfghjklmnpqrstvwxz") for _ in range(rng.randint(5, 9)))
        if w not in df:
            nowhere.append([w])
    out["nowhere"] = nowhere
    return out


def corpus_of(kind, n):
    """(texts, token lists) of the corpus `kind` ('synthetic' or 'real') of n documents."""
    if kind == "synthetic":
        from bench_search import corpus
        docs, _ = corpus(n)
        return docs, [d.split(" ") for d in docs]
    docs = real_text(n)
    return docs, [tokens(d) for d in docs]


def _status(key):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1]) * 1024
    return 0


def _peak_growth(build):
    """build() and the growth of this process's resident peak during it, in bytes."""
    gc.collect()
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")  # resets the high-water mark to the current resident size
    except OSError:
        pass
    before = _status("VmRSS")
    t0 = time.perf_counter()
    out = build()
    elapsed = time.perf_counter() - t0
    return out, max(_status("VmHWM"), _status("VmRSS")) - before, elapsed


def _engines(docs, toks):
    """name -> (build seconds, peak bytes, query(token list, k), limit of queries)."""
    import _tarnwick
    out = {}
    idx, mem, t = _peak_growth(lambda: _tarnwick.BM25Index(docs))
    out["tarnwick"] = (t, mem, lambda q, k, s=" ".join: idx.get_top_n(s(q), k), None)
    tantivy = optional("tantivy")
    if tantivy is not None:
        def build_tantivy():
            sb = tantivy.SchemaBuilder()
            sb.add_text_field("body", stored=False, tokenizer_name="whitespace", index_option="position")
            schema = sb.build()
            index = tantivy.Index(schema)
            writer = index.writer(heap_size=1_500_000_000, num_threads=1)
            for t in toks:
                writer.add_document(tantivy.Document(body=" ".join(t)))
            writer.commit()
            writer.wait_merging_threads()
            index.reload()
            return schema, index.searcher()
        (schema, searcher), mem, t = _peak_growth(build_tantivy)
        Q, Occur = tantivy.Query, tantivy.Occur

        def prepared(q):
            if len(q) == 1:
                return Q.term_query(schema, "body", q[0])
            return Q.boolean_query([(Occur.Should, Q.term_query(schema, "body", w)) for w in q])
        cache = {}

        def query(q, k):
            key = tuple(q)
            if key not in cache:
                cache[key] = prepared(q)
            return searcher.search(cache[key], k, count=False).hits
        out["tantivy"] = (t, mem, query, None)
    bm25s = optional("bm25s")
    if bm25s is not None:
        def build_bm25s():
            r = bm25s.BM25()
            r.index(toks, show_progress=False)
            return r
        r, mem, t = _peak_growth(build_bm25s)
        out["bm25s"] = (t, mem, lambda q, k: r.retrieve([q], k=min(k, len(docs)), show_progress=False,
                                                        n_threads=1), BM25S_QUERIES)
    return out


def latency(kind, n):
    """Build seconds, memory per byte of text, and for every query class and top size the
    median and p99 time of each engine, in this process (run it with a one-thread pool)."""
    docs, toks = corpus_of(kind, n)
    text = sum(len(d.encode()) for d in docs)
    classes = query_classes(toks)
    engines = _engines(docs, toks)
    # The corpus is millions of objects: a collection set off by a query's result lists
    # would traverse them all and be charged to whichever engine allocated last.
    gc.collect()
    gc.freeze()
    result = {"docs": len(docs), "mb": text / 1e6,
              "build": {k: v[0] for k, v in engines.items()},
              "memory": {k: v[1] / text for k, v in engines.items()}, "times": {}}
    for cls, queries in classes.items():
        for k in TOPS:
            best = {name: [float("inf")] * len(queries) for name in engines}
            for _ in range(REPEAT):
                for name, (_, _, fn, limit) in engines.items():
                    for i, q in enumerate(queries[:limit]):
                        t0 = time.perf_counter()
                        fn(q, k)
                        best[name][i] = min(best[name][i], time.perf_counter() - t0)
            for name, times in best.items():
                times = sorted(t for t in times if t != float("inf"))
                p99 = times[min(len(times) - 1, int(0.99 * len(times)))]
                result["times"][f"{cls} top-{k} {name}"] = (statistics.median(times), p99)
    return result


def report_latency(kind, n):
    r = call_in_child("search_corpora", f"latency({kind!r}, {n})", 1)
    names = [k for k in r["build"]]
    print(f"\nLatency by query class, {kind} text, {r['docs']:,} documents ({r['mb']:.0f} MB), "
          "one thread, best of 3 per query")
    head = "".join(f"{name + ' median':>17}{'p99':>12}" for name in names)
    ratio = "  ours/tantivy med  p99" if "tantivy" in names else ""
    print(f"  {'class':<20}{head}{ratio}")
    for cls in CLASSES:
        for k in TOPS:
            cells, row = "", {}
            for name in names:
                med, p99 = r["times"][f"{cls} top-{k} {name}"]
                row[name] = (med, p99)
                cells += f"{fmt_time(med):>17}{fmt_time(p99):>12}"
            if "tantivy" in row:
                cells += (f"{row['tarnwick'][0] / row['tantivy'][0]:13.2f}"
                          f"{row['tarnwick'][1] / row['tantivy'][1]:9.2f}")
            print(f"  {cls + ' top-' + str(k):<20}{cells}")
    print("  build:       " + "".join(f"{name} {r['build'][name]:.2f}s   " for name in names))
    print("  memory/text: " + "".join(f"{name} {r['memory'][name]:.2f}x   " for name in names))
    print(f"  (bm25s on the first {BM25S_QUERIES} queries of each class; ours returns each hit's "
          "text, tantivy document addresses)")


def report_classes(large=False):
    for kind, n in [("synthetic", 100_000), ("real", 100_000)] + (
            [("synthetic", 1_000_000), ("real", 0)] if large else []):
        report_latency(kind, n)
