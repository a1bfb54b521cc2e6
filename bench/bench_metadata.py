"""Per-document metadata of HybridSearchIndex: set_metadata_json (MB of JSON text a second)
against Python's json module and orjson parsing the same texts into Python objects;
evaluate_filter_mask of a three-clause filter over 1,000,000 documents against the same
filter in Python over the parsed dicts; search_filtered_sorted with a filter and two sort
keys against search_filtered with a mask made in Python and a Python sort.

Metadata is one five-field object per document (an integer id, a title of two to six
words, a year, a price and a list of two or three tags; a tenth of the titles non-ASCII).
One-thread numbers come from a fresh interpreter with RAYON_NUM_THREADS=1, all-thread
numbers from one with the default pool; the peers run in this process. "cores" is
processor time over wall time of the all-thread run, below the pool size when the machine
is shared. "RSS growth" is the resident size gained by storing the metadata, over the
size of its JSON text.
"""
import gc
import json
import random
import time

from common import call_in_child, fmt_time, optional, rss

N_DOCS = 1_000_000
SEARCH_DOCS = 100_000
FILTER = {"type": "and",
          "left": {"type": "range", "attribute": "year", "low": 1990, "high": 2010},
          "right": {"type": "or",
                    "left": {"type": "in", "attribute": "tags", "values": ["news", "sport"]},
                    "right": {"type": "comparison", "attribute": "price", "op": "<", "value": 20}}}
SORT_KEYS = [("year", True), ("title", False)]
WORDS = ["river", "stone", "Quiet", "light", "north", "garden", "Iron", "paper", "winter", "glass",
         "ville", "café", "öffnung", "ΟΔΟΣ", "мост", "sol"]
TAGS = ["news", "sport", "art", "science", "travel", "food", "music", "tech"]


def metadata_texts(n, seed=3):
    rng = random.Random(seed)
    out = []
    for i in range(n):
        words = WORDS if i % 10 == 0 else WORDS[:10]
        out.append(json.dumps({
            "id": i,
            "title": " ".join(rng.choice(words) for _ in range(rng.randint(2, 6))),
            "year": rng.randint(1950, 2024),
            "price": round(rng.uniform(1, 100), 2),
            "tags": rng.sample(TAGS, rng.randint(2, 3)),
        }, ensure_ascii=False))
    return out


def python_filter(m):
    return 1990 <= m["year"] <= 2010 and (any(t in ("news", "sport") for t in m["tags"]) or m["price"] < 20)


def best(fn, repeat):
    """Best wall time and its processor time over wall time, with the garbage collector
    paused (it would otherwise walk the million new dicts of the Python routes again and
    again)."""
    out = None
    for _ in range(repeat):
        gc.collect()
        gc.disable()
        t0, c0 = time.perf_counter(), time.process_time()
        fn()
        wall = time.perf_counter() - t0
        gc.enable()
        if out is None or wall < out[0]:
            out = [wall, (time.process_time() - c0) / wall]
    return out


def ours():
    """Our times in this process, as a dict."""
    import _tarnwick
    from bench_search import corpus
    texts = metadata_texts(N_DOCS)
    out = {"bytes": sum(len(t.encode()) for t in texts)}
    h = _tarnwick.HybridSearchIndex([""] * N_DOCS)
    gc.collect()
    before = rss()
    h.set_metadata_json(texts)
    out["rss"] = rss() - before
    out["set"] = best(lambda: h.set_metadata_json(texts), 3)
    flt = json.dumps(FILTER)
    out["mask"] = best(lambda: h.evaluate_filter_mask(flt), 5)
    del h
    gc.collect()
    docs, queries = corpus(SEARCH_DOCS)
    h = _tarnwick.HybridSearchIndex(docs)
    h.set_metadata_json(texts[:SEARCH_DOCS])
    for n in (10, 100):
        out[f"sorted {n}"] = best(lambda: [h.search_filtered_sorted(q, None, n, 60, 100, flt, SORT_KEYS)
                                           for q in queries], 3)
        out[f"sorted {n}"][0] /= len(queries)
    return out


def peers():
    """Times of the Python routes in this process."""
    import _tarnwick
    from bench_search import corpus
    orjson = optional("orjson")
    texts = metadata_texts(N_DOCS)
    out = {"json": best(lambda: [json.loads(t) for t in texts], 3)[0]}
    if orjson is not None:
        out["orjson"] = best(lambda: [orjson.loads(t) for t in texts], 3)[0]
    dicts = [json.loads(t) for t in texts]
    out["mask"] = best(lambda: [python_filter(m) for m in dicts], 3)[0]
    docs, queries = corpus(SEARCH_DOCS)
    dicts = dicts[:SEARCH_DOCS]
    h = _tarnwick.HybridSearchIndex(docs)
    last = {t: i for i, t in enumerate(docs)}

    def search(q, n):
        found = h.search_filtered(q, None, 10 * n, 60, 100, [python_filter(m) for m in dicts])
        found.sort(key=lambda e: dicts[last[e[0]]]["title"].lower())
        found.sort(key=lambda e: dicts[last[e[0]]]["year"], reverse=True)
        return found[:n]
    for n in (10, 100):
        out[f"sorted {n}"] = best(lambda: [search(q, n) for q in queries], 3)[0] / len(queries)
    return out


def run():
    one = call_in_child("bench_metadata", "ours()", 1)
    allt = call_in_child("bench_metadata", "ours()", 0)
    peer = peers()
    mb = one["bytes"] / 1e6
    print(f"\n{N_DOCS:,} metadata texts, {mb:.1f} MB of JSON; search over {SEARCH_DOCS:,} documents")
    print(f"  {'':<52}{'1 thread':>13}{'all threads':>13}{'cores':>7}")
    print(f"  {'set_metadata_json':<52}{fmt_time(one['set'][0]):>13}{fmt_time(allt['set'][0]):>13}"
          f"{allt['set'][1]:7.1f}")
    print(f"  {'  MB/s':<52}{mb / one['set'][0]:13.0f}{mb / allt['set'][0]:13.0f}")
    for key, label in (("json", "json.loads of each text"), ("orjson", "orjson.loads of each text")):
        if key in peer:
            print(f"  {label:<52}{fmt_time(peer[key]):>13}{'':>13}")
            print(f"  {'  MB/s':<52}{mb / peer[key]:13.0f}   ours faster by "
                  f"{peer[key] / one['set'][0]:.1f}x (1 thread), {peer[key] / allt['set'][0]:.1f}x (all)")
    print(f"  {'  RSS growth over JSON size':<52}{one['rss'] / one['bytes']:13.2f}{allt['rss'] / allt['bytes']:13.2f}")
    print(f"  {'evaluate_filter_mask, three clauses':<52}{fmt_time(one['mask'][0]):>13}"
          f"{fmt_time(allt['mask'][0]):>13}{allt['mask'][1]:7.1f}")
    print(f"  {'  the filter in Python over parsed dicts':<52}{fmt_time(peer['mask']):>13}   ours faster by "
          f"{peer['mask'] / one['mask'][0]:.1f}x (1 thread), {peer['mask'] / allt['mask'][0]:.1f}x (all)")
    for n in (10, 100):
        key = f"sorted {n}"
        print(f"  {f'search_filtered_sorted, filter + 2 keys, n={n}':<52}{fmt_time(one[key][0]):>13}"
              f"{fmt_time(allt[key][0]):>13}{allt[key][1]:7.1f}")
        print(f"  {'  search_filtered + Python mask and sort':<52}{fmt_time(peer[key]):>13}   ours faster by "
              f"{peer[key] / one[key][0]:.1f}x (1 thread), {peer[key] / allt[key][0]:.1f}x (all)")


if __name__ == "__main__":
    run()
