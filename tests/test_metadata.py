"""Per-document metadata of HybridSearchIndex: set_metadata_json (counts, parse errors,
argument types, parsing on the worker pool) and search_filtered_sorted (the filter mask,
the widened fused ranking and the attribute sort) against plain-Python models."""
import json
import random

import pytest

from _tarnwick import HybridSearchIndex
from metadata_models import MISSING, dumps, evaluate, random_filter, sort_by_keys, written
from search_models import Bm25Model, f32, fused

VOCAB = ["apple", "apply", "banana", "band", "cherry", "café", "naïve", "ΟΔΟΣ", "x"]


def filter_text(flt):
    return json.dumps(flt)


class TestSetMetadata:
    def test_sets_and_replaces(self):
        h = HybridSearchIndex(["a", "b"])
        assert h.has_metadata is False
        h.set_metadata_json(['{"k": 1}', '{"k": 2}'])
        assert h.has_metadata is True
        assert h.evaluate_filter_mask('["comparison", "k", "=", 2]') == [False, True]
        assert h.set_metadata_json(['{"k": 2}', " \t\r\n[] \n"]) is None
        assert h.evaluate_filter_mask('["comparison", "k", "=", 2]') == [True, False]

    def test_count_mismatch_keeps_earlier_state(self):
        h = HybridSearchIndex(["a", "b"])
        with pytest.raises(ValueError, match=r"^metadata length \(3\) must match corpus length \(2\)$"):
            h.set_metadata_json(["{}", "{}", "{}"])
        assert h.has_metadata is False
        h.set_metadata_json(['{"k": 1}', "{}"])
        # The count is checked before any text is parsed.
        with pytest.raises(ValueError, match=r"^metadata length \(1\) must match corpus length \(2\)$"):
            h.set_metadata_json(["{"])
        with pytest.raises(ValueError, match=r"^metadata length \(0\) must match corpus length \(2\)$"):
            h.set_metadata_json([])
        assert h.has_metadata is True
        assert h.evaluate_filter_mask('["exists", "k"]') == [True, False]

    @pytest.mark.parametrize("text", ['{"a": 1} {"b": 2}', '{"a": 1} x', "", " ", '{"a": }', "[1,]",
                                      '"\\ud800"', '"\\udc00x"', "\x0c{}", "{}\x0c", "NaN", "01",
                                      "{'a': 1}", '{"a": 1,}', '"\x01"'])
    def test_parse_errors_keep_earlier_state(self, text):
        h = HybridSearchIndex(["a", "b"])
        with pytest.raises(ValueError, match=r"^Failed to parse metadata JSON: \S"):
            h.set_metadata_json(["{}", text])
        assert h.has_metadata is False
        h.set_metadata_json(['{"k": 1}', "5"])
        with pytest.raises(ValueError, match=r"^Failed to parse metadata JSON: "):
            h.set_metadata_json([text, "{}"])
        assert h.evaluate_filter_mask('["exists", "k"]') == [True, False]

    def test_any_json_value_is_accepted(self):
        texts = ["[1, 2]", "3", "-1.5e3", "null", "true", '"a"', "{}", '{"é": {"ß": [null]}}']
        h = HybridSearchIndex([str(i) for i in range(len(texts))])
        h.set_metadata_json(texts)
        assert h.evaluate_filter_mask('["exists", "é.ß"]') == [False] * 7 + [True]
        assert h.evaluate_filter_mask('["not", ["exists", ""]]') == [True] * 8

    def test_number_forms(self):
        # Each metadata number equals, as a double, Python's reading of its text.
        forms = ["0", "-0", "-0.0", "0e0", "-0E+00", "1", "-1", "9223372036854775807", "9223372036854775808",
                 "-9223372036854775808", "-9223372036854775809", "18446744073709551615", "18446744073709551616",
                 "123456789012345678901234567890", "1e308", "1.7976931348623157e308", "4.9e-324", "2.4e-324",
                 "1e-400", "-1e-400", "2.2250738585072011e-308", "0.1000000000000000055511151231257827",
                 "3.14159265358979323846264338327950288", "1E+2", "-2.5e-3", "12345678901234567890.5e-10"]
        h = HybridSearchIndex(forms)
        h.set_metadata_json(['{"z": 0, "v": %s}' % f for f in forms])
        for i, f in enumerate(forms):
            x = float(f) if any(c in f for c in ".eE") else float(int(f))
            mask = h.evaluate_filter_mask(json.dumps(["range", "v", x, x]))
            assert mask[i], f
            assert sum(mask) == sum(float(g) == x for g in forms)
        with pytest.raises(ValueError, match="^Failed to parse metadata JSON: .*1e400"):
            HybridSearchIndex(["a"]).set_metadata_json(['{"v": 1e400}'])

    def test_texts_of_growing_length(self):
        # Lengths from a few bytes to beyond a megabyte, up and down again.
        sizes = [0, 10, 5000, 100, 70000, 1 << 20, (1 << 20) + 1, 3_000_000, 50, 2_000_000, 8]
        metas = [{"s": "é" * (k // 2), "n": k, "t": ["x"] * (k // 100000)} for k in sizes]
        h = HybridSearchIndex([str(k) for k in sizes])
        h.set_metadata_json([json.dumps(m, ensure_ascii=False) for m in metas])
        assert h.evaluate_filter_mask('["starts_with", "s", "éé"]') == [k >= 4 for k in sizes]
        assert h.evaluate_filter_mask('["in", "t", ["x"]]') == [k >= 100000 for k in sizes]
        assert h.evaluate_filter_mask('["range", "n", 1000000, 1e9]') == [k >= 1000000 for k in sizes]

    def test_nesting_limit(self):
        h = HybridSearchIndex(["a"])
        h.set_metadata_json(["[" * 128 + "]" * 128])
        h.set_metadata_json(['{"a":' * 127 + "1" + "}" * 127])
        assert h.evaluate_filter_mask('["exists", "%s"]' % ".".join(["a"] * 127)) == [True]
        with pytest.raises(ValueError) as e:
            h.set_metadata_json(["[" * 129 + "]" * 129])
        assert str(e.value) == "Failed to parse metadata JSON: recursion limit exceeded at line 1 column 129"
        with pytest.raises(ValueError, match="recursion limit exceeded at line 2 column 8$"):
            h.set_metadata_json(['{"a":' * 127 + '\n  {"a":[' + "]}" + "}" * 127])

    def test_first_bad_text_is_reported_on_the_pool(self):
        n = 6000
        texts = [json.dumps({"i": i}) for i in range(n)]
        one = HybridSearchIndex(["x"])
        for first, second in ((100, 4000), (2047, 2048), (4500, 5999)):
            bad = texts[:]
            bad[first] = '{"i": ' + str(first) + ",}"
            bad[second] = "[1,,2]"
            with pytest.raises(ValueError) as alone:
                one.set_metadata_json([bad[first]])
            h = HybridSearchIndex([str(i) for i in range(n)])
            with pytest.raises(ValueError) as e:
                h.set_metadata_json(bad)
            assert str(e.value) == str(alone.value)
            assert h.has_metadata is False

    def test_parsed_on_the_pool_as_one_at_a_time(self, rng):
        # Keys met first in late chunks, objects of more than 16 keys, repeated keys.
        n = 7000
        metas, texts = [], []
        for i in range(n):
            m = {f"k{j}": rng.choice([i, str(i), None, [i], {"v": i}]) for j in rng.sample(range(40), rng.randint(0, 25))}
            m[f"late{i // 1000}"] = i % 7
            metas.append(m)
            texts.append(dumps(m, rng) if i % 5 else "{" + '"k0": "old", ' + dumps(m, rng).strip()[1:])
        h = HybridSearchIndex([str(i) for i in range(n)])
        h.set_metadata_json(texts)
        for j in range(30):
            flt = random_filter(rng)
            flt = {"type": "and", "left": {"type": "comparison", "attribute": rng.choice(["late0", "late6", "late3"]),
                                           "op": "<=", "value": rng.randint(0, 6)},
                   "right": {"type": "exists", "attribute": f"k{j}"}} if j % 2 else \
                {"type": "or", "left": {"type": "in", "attribute": f"k{j}", "values": [rng.randrange(n), str(rng.randrange(n))]},
                 "right": flt}
            got = h.evaluate_filter_mask(json.dumps(flt))
            assert got == [evaluate(flt, m if i % 5 else dict({"k0": "old"}, **m)) for i, m in enumerate(metas)]

    def test_argument_types(self):
        h = HybridSearchIndex(["a", "b"])
        with pytest.raises(TypeError, match="json_strings"):
            h.set_metadata_json("ab")
        with pytest.raises(TypeError, match="json_strings"):
            h.set_metadata_json(["{}", 5])
        with pytest.raises(TypeError, match="json_strings"):
            h.set_metadata_json(["{}", b"{}"])
        with pytest.raises(UnicodeEncodeError):
            h.set_metadata_json(["{}", '"\ud800"'])
        assert h.has_metadata is False
        h.set_metadata_json(json_strings=("{}", "{}"))
        assert h.has_metadata is True


def random_meta(rng):
    """Metadata whose keys each hold one kind of present value (or null, or nothing), so
    that the attribute sort is a plain stable sort."""
    m = {}
    pools = {"num": [1, 2, 2.0, -3, 9.5, 10, 1e3, 2 ** 64, -0.0],
             "name": ["apple", "Banana", "banana", "APPLE", "b", "", "ΟΔΟΣ", "οδοσ", "é", "E"],
             "flag": [True, False]}
    for key, pool in pools.items():
        r = rng.random()
        if r < 0.7:
            m[key] = rng.choice(pool)
        elif r < 0.8:
            m[key] = None
    if rng.random() < 0.5:
        m["o"] = {"rank": rng.choice([1, 2, 3])} if rng.random() < 0.8 else [1]
    if rng.random() < 0.05:
        return rng.choice([[m], 5, None])
    return m


KEY_PATHS = ["num", "name", "flag", "o.rank", "zz"]


def model_sorted(corpus, metas, query, n=5, rrf_k=60, bm25_candidates=100, flt=None, keys=None,
                 rows=None, q=None):
    allowed = None if flt is None or metas is None else [evaluate(flt, m) for m in metas]
    found = fused(Bm25Model(corpus), query, min(10 * n, 2 ** 64 - 1), rrf_k, bm25_candidates,
                  allowed, rows, q)
    if keys and metas is not None:
        last = {t: i for i, t in enumerate(corpus)}
        found = sort_by_keys(found, lambda item: metas[last[item[0]]], keys)
    return found[:n]


class TestSearchFilteredSorted:
    def test_random_against_model(self, rng):
        for trial in range(12):
            corpus = [" ".join(rng.choice(VOCAB) for _ in range(rng.randint(0, 4))) for _ in range(rng.randint(1, 80))]
            metas = [random_meta(rng) for _ in corpus]
            rows = [[rng.uniform(-1, 1) for _ in range(3)] for _ in corpus] if trial % 2 else None
            h = HybridSearchIndex(corpus, rows)
            h.set_metadata_json([dumps(m, rng) for m in metas])
            for _ in range(12):
                query = " ".join(rng.choice(VOCAB + ["zzz", "Apple"]) for _ in range(rng.randint(0, 3)))
                e = [rng.uniform(-1, 1) for _ in range(3)] if rng.random() < 0.5 else None
                n, rrf_k, bc = rng.randint(0, 12), rng.choice([0, 1, 60]), rng.choice([0, 5, 100])
                flt = random_filter(rng) if rng.random() < 0.5 else None
                keys = [(rng.choice(KEY_PATHS), rng.random() < 0.5) for _ in range(rng.randint(0, 3))]
                got = h.search_filtered_sorted(query, e, n, rrf_k, bc,
                                               None if flt is None else json.dumps(written(flt, rng)),
                                               keys or rng.choice([None, []]))
                want = model_sorted(corpus, metas, query, n, rrf_k, bc, flt, keys,
                                    [[f32(x) for x in r] for r in rows] if rows else None,
                                    [f32(x) for x in e] if rows and e else None)
                assert got == want, (query, n, flt, keys)

    def test_many_results_on_the_pool(self, rng):
        # No BM25 hit: all 2,600 documents are candidates (channels on the pool), and
        # 10 n covers them all, so the sort orders more than 20 tied-score groups.
        corpus = ["".join(rng.choice("abcd") for _ in range(rng.randint(0, 6))) for _ in range(2600)]
        metas = [random_meta(rng) for _ in corpus]
        h = HybridSearchIndex(corpus)
        h.set_metadata_json([json.dumps(m) for m in metas])
        keys = [("flag", True), ("name", False), ("num", True)]
        flt = {"type": "not", "child": {"type": "is_null", "attribute": "num"}}
        got = h.search_filtered_sorted("dcbz", None, 300, 60, 100, json.dumps(flt), keys)
        assert got == model_sorted(corpus, metas, "dcbz", 300, 60, 100, flt, keys)

    def test_without_sort_keys_the_wide_fused_order(self):
        # Ten documents lead BM25 for "apple"; forty rank lower there but closer by fuzzy
        # score, and only the widened pool of 100 holds them.
        corpus = [f"apple apple apple {i}" for i in range(10)] + [f"apple b{i}" for i in range(40)]
        h = HybridSearchIndex(corpus)
        h.set_metadata_json(["{}"] * len(corpus))
        got = h.search_filtered_sorted("apple", n=1, bm25_candidates=0)
        assert got == fused(Bm25Model(corpus), "apple", 10, 60, 0)[:1]
        assert got[0][0] == "apple b0"
        assert h.search_filtered("apple", n=1, bm25_candidates=0)[0][0] == "apple apple apple 0"

    def test_filter_without_metadata_is_ignored(self):
        corpus = ["apple pie", "apple tart", "banana"]
        h = HybridSearchIndex(corpus)
        plain = h.search_filtered_sorted("apple", n=3)
        assert plain == fused(Bm25Model(corpus), "apple", 30)[:3]
        for text in ('["exists", "a"]', "{", "[1, 2", "5"):
            assert h.search_filtered_sorted("apple", n=3, filter_json=text) == plain
        assert h.search_filtered_sorted("apple", n=3, sort_keys=[("a", True)]) == plain

    def test_filter(self):
        corpus = ["apple pie", "apple tart", "banana split", "cherry"]
        h = HybridSearchIndex(corpus)
        h.set_metadata_json(['{"p": 1}', '{"p": 2}', '{"p": 3}', "{}"])
        assert h.search_filtered_sorted("apple", filter_json='["range", "p", 5, 9]') == []
        got = h.search_filtered_sorted("apple", filter_json='["range", "p", 2, 9]')
        assert [t for t, _ in got] == ["apple tart"]
        # With no BM25 hit among the allowed documents: every allowed one, by fuzzy score.
        got = h.search_filtered_sorted("apple", filter_json='["range", "p", 3, 9]')
        assert [t for t, _ in got] == ["banana split"]
        # The filter is parsed before the search finds the embedding's length wrong.
        h2 = HybridSearchIndex(corpus, [[1.0, 0.0]] * 4)
        h2.set_metadata_json(["{}"] * 4)
        with pytest.raises(ValueError, match=r"^Failed to parse filter JSON: invalid length 0, expected "
                                             r"struct variant FilterAst::Exists with 1 element at line 1 column 10$"):
            h2.search_filtered_sorted("apple", [1.0], filter_json='["exists"]')

    def test_embedding_length(self):
        h = HybridSearchIndex(["a", "b"], [[1, 2, 3], [3, 2, 1]])
        h.set_metadata_json(["{}", "{}"])
        with pytest.raises(ValueError, match=r"^query_embedding has 2 dims, expected 3$"):
            h.search_filtered_sorted("a", [1.0, 2.0], sort_keys=[("a", False)])
        assert HybridSearchIndex(["a"]).search_filtered_sorted("a", [1.0, 2.0]) == \
            HybridSearchIndex(["a"]).search("a")

    def test_counts(self):
        h = HybridSearchIndex(["a b", "a", "c"])
        h.set_metadata_json(['{"r": 2}', '{"r": 1}', '{"r": 0}'])
        assert h.search_filtered_sorted("a", n=0, sort_keys=[("r", False)]) == []
        top = h.search_filtered_sorted("a", None, 2 ** 64 - 1, 2 ** 64 - 1, 0, None, [("r", False)])
        assert [t for t, _ in top] == ["a", "a b"]
        for name in ("n", "rrf_k", "bm25_candidates"):
            with pytest.raises(OverflowError):
                h.search_filtered_sorted("a", **{name: -1})

    @pytest.mark.parametrize("keys", ["ab", [("a",)], [("a", True, 1)], [["a", True]], [("a", 1)],
                                      [(1, True)], [(b"a", True)], 5, [None]])
    def test_sort_key_types(self, keys):
        h = HybridSearchIndex(["a"])
        with pytest.raises(TypeError, match="^argument 'sort_keys': "):
            h.search_filtered_sorted("a", sort_keys=keys)

    def test_argument_types(self):
        h = HybridSearchIndex(["a"])
        with pytest.raises(TypeError, match="filter_json"):
            h.search_filtered_sorted("a", filter_json=5)
        with pytest.raises(TypeError, match="query"):
            h.search_filtered_sorted(None)
        # Arguments are converted in order: the first bad one is reported.
        with pytest.raises(TypeError, match="query_embedding"):
            h.search_filtered_sorted("a", "xy", -1, -1, -1, 5, 5)
        with pytest.raises(OverflowError):
            h.search_filtered_sorted("a", None, -1, 60, 100, 5, 5)
        with pytest.raises(TypeError, match="filter_json"):
            h.search_filtered_sorted("a", None, 1, 60, 100, 5, 5)


def sorted_texts(metas, keys, query="w"):
    """Texts of search_filtered_sorted over documents "w 0", "w 1", ... (BM25 ranks them
    all alike, so the fused order is the fuzzy one), and the fused order itself."""
    corpus = [f"w {i}" for i in range(len(metas))]
    h = HybridSearchIndex(corpus)
    h.set_metadata_json([json.dumps(m) if m is not MISSING else "{}" for m in metas])
    base = [t for t, _ in h.search_filtered_sorted(query, n=len(corpus))]
    got = [t for t, _ in h.search_filtered_sorted(query, n=len(corpus), sort_keys=keys)]
    return [int(t[2:]) for t in got], [int(t[2:]) for t in base]


class TestSortRules:
    def test_strings_ignore_case(self):
        metas = [{"s": "Banana"}, {"s": "apple"}, {"s": "cherry"}, {"s": "APPLE pie"}]
        assert sorted_texts(metas, [("s", False)])[0] == [1, 3, 0, 2]
        assert sorted_texts(metas, [("s", True)])[0] == [2, 0, 3, 1]

    def test_final_sigma(self):
        # ΟΔΟΣ lowers to οδος with a final sigma, which sorts before the medial σ of οδοσ;
        # without the final form the two would tie and keep the fused order.
        metas = [{"s": "οδοσ"}, {"s": "ΟΔΟΣ"}, {"s": "οδος"}]
        got, base = sorted_texts(metas, [("s", False)])
        assert got == [d for d in base if d != 0] + [0]
        assert "ΟΔΟΣ".lower() == "οδος"

    def test_numbers(self):
        metas = [{"v": 10}, {"v": 9.5}, {"v": -1}, {"v": 2 ** 64}, {"v": 1e3}]
        assert sorted_texts(metas, [("v", False)])[0] == [2, 1, 0, 4, 3]
        assert sorted_texts(metas, [("v", True)])[0] == [3, 4, 0, 1, 2]

    def test_booleans(self):
        metas = [{"b": True}, {"b": False}, {"b": True}]
        got, base = sorted_texts(metas, [("b", False)])
        assert got == [1] + [d for d in base if d != 1]
        got, base = sorted_texts(metas, [("b", True)])
        assert got == [d for d in base if d != 1] + [1]

    def test_null_and_missing_go_last(self):
        metas = [{"v": None}, {}, {"v": 3}, 7, {"v": 1}, {"w": 1}]
        for reverse, present in ((False, [4, 2]), (True, [2, 4])):
            got, base = sorted_texts(metas, [("v", reverse)])
            assert got == present + [d for d in base if d not in (2, 4)]
        # Null and missing are alike: the next key orders them.
        got, _ = sorted_texts(metas, [("v", False), ("w", True)])
        assert got[:3] == [4, 2, 5]

    def test_second_key_breaks_ties(self):
        metas = [{"a": 1, "b": "z"}, {"a": 0, "b": "y"}, {"a": 1, "b": "x"}, {"a": 0, "b": "w"}]
        assert sorted_texts(metas, [("a", False), ("b", False)])[0] == [3, 1, 2, 0]
        assert sorted_texts(metas, [("a", True), ("b", True)])[0] == [0, 2, 1, 3]

    def test_mixed_kinds_leave_it_to_the_next_key(self):
        # A string "10" and a number 9.5 do not order each other.
        metas = [{"v": "10", "w": 2}, {"v": 9.5, "w": 1}]
        assert sorted_texts(metas, [("v", False), ("w", False)])[0] == [1, 0]
        assert sorted_texts(metas, [("v", False), ("w", True)])[0] == [0, 1]
        # Present values of several kinds keep their order, ahead of null and missing.
        metas = [{"v": None}, {"v": 3}, {"v": "b"}, {}, {"v": 1}, {"v": [0]}, {"v": True}, {"v": {}}]
        got, base = sorted_texts(metas, [("v", False)])
        present = [1, 2, 4, 5, 6, 7]
        assert got == [d for d in base if d in present] + [d for d in base if d not in present]

    def test_unknown_path_keeps_the_fused_order(self):
        metas = [{"v": i} for i in range(25)]
        got, base = sorted_texts(metas, [("nope", False), ("v.x", True), ("", False)])
        assert got == base and len(got) == 25

    def test_identical_texts_share_the_last_metadata(self):
        corpus = ["same", "other", "same", "more"]
        h = HybridSearchIndex(corpus)
        h.set_metadata_json(['{"r": 0}', '{"r": 2}', '{"r": 3}', '{"r": 1}'])
        # No BM25 hit: every document is a candidate, both "same" ones with r = 3.
        got = [t for t, _ in h.search_filtered_sorted("zzz", n=4, sort_keys=[("r", False)])]
        assert got == ["more", "other", "same", "same"]


class TestDocstrings:
    def test_signatures_and_docs(self):
        H = HybridSearchIndex
        assert H.set_metadata_json.__text_signature__ == "($self, json_strings)"
        assert H.evaluate_filter_mask.__text_signature__ == "($self, filter_json)"
        assert H.search_filtered_sorted.__text_signature__ == (
            "($self, query, query_embedding=None, n=5, rrf_k=60, bm25_candidates=100, "
            "filter_json=None, sort_keys=None)")
        doc = H.set_metadata_json.__doc__
        assert "Parameters\n----------\njson_strings : list[str]\n" in doc
        assert "JSON-serialized metadata dicts, one per document." in doc
        assert H.evaluate_filter_mask.__doc__.startswith(
            "Evaluate a JSON filter expression against stored metadata and return a boolean mask.\n")
        for text in ("filter_json : str\n", "JSON-serialized filter expression (see Python-side serialization).",
                     "Returns\n-------\nlist[bool]\n", "Boolean mask, True for documents that pass the filter."):
            assert text in H.evaluate_filter_mask.__doc__
        doc = H.search_filtered_sorted.__doc__
        for text in ("query : str\n", "query_embedding : list[float] | None\n", "n : int\n", "rrf_k : int\n",
                     "bm25_candidates : int\n", "filter_json : str | None\n", "JSON-serialized filter expression.",
                     "sort_keys : list[(str, bool)] | None\n", "List of (attribute_path, reverse) pairs for sorting."):
            assert text in doc
