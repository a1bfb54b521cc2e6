"""The metadata filter language through evaluate_filter_mask: both written forms of every
node kind, the decoder's messages, nesting limits, each operator against a plain-Python
evaluator, and masks computed on the worker pool."""
import json
import os
import random
import subprocess
import sys

import pytest

from _tarnwick import HybridSearchIndex
from metadata_models import TAGS, dumps, evaluate, random_filter, random_metadata, written

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ONE_OF = ("one of `comparison`, `range`, `exists`, `is_null`, `is_empty`, `in`, `contains`, "
          "`starts_with`, `not`, `and`, `or`")


def index_of(metas):
    h = HybridSearchIndex([f"doc {i}" for i in range(len(metas))])
    h.set_metadata_json([json.dumps(m) for m in metas])
    return h


def mask(metas, flt):
    return index_of(metas).evaluate_filter_mask(flt if isinstance(flt, str) else json.dumps(flt))


def at_end(text):
    """' at line {} column {}' of the last character of the JSON value in `text`, lines
    and columns counted from 1, columns in bytes."""
    raw = text.encode()
    last = len(raw.rstrip(b" \t\r\n")) - 1
    line = raw.count(b"\n", 0, last) + 1
    line_start = raw.rfind(b"\n", 0, last) + 1
    return f" at line {line} column {last - line_start + 1}"


def parse_error(text):
    h = index_of([{}])
    with pytest.raises(ValueError) as e:
        h.evaluate_filter_mask(text)
    return str(e.value)


METAS = [{"a": 5, "s": "apple", "t": ["x", "y"], "o": {"p": 1}}, {"a": "5", "s": ""}, {"a": None},
         {}, [1, 2], 7, None, {"t": [], "o": {}, "s": "Apple pie"}]


LEAF = {"type": "exists", "attribute": "a"}
NODES = [
    {"type": "comparison", "attribute": "a", "op": ">=", "value": 5},
    {"type": "range", "attribute": "a", "low": 1, "high": 5.0},
    {"type": "exists", "attribute": "a"},
    {"type": "is_null", "attribute": "a"},
    {"type": "is_empty", "attribute": "t"},
    {"type": "in", "attribute": "t", "values": ["y", 3]},
    {"type": "contains", "attribute": "s", "value": "ppl"},
    {"type": "starts_with", "attribute": "s", "value": "App"},
    {"type": "not", "child": LEAF},
    {"type": "and", "left": LEAF, "right": {"type": "exists", "attribute": "s"}},
    {"type": "or", "left": {"type": "is_null", "attribute": "a"},
     "right": {"type": "exists", "attribute": "o.p"}},
]


def array_form(node):
    return [node["type"]] + [node[f] for f in node if f != "type"]


class TestForms:
    def test_every_kind_in_both_forms(self):
        assert [n["type"] for n in NODES] == TAGS
        h = index_of(METAS)
        for node in NODES:
            want = [evaluate(node, m) for m in METAS]
            assert h.evaluate_filter_mask(json.dumps(node)) == want
            assert h.evaluate_filter_mask(json.dumps(array_form(node))) == want, node
        # Hand-worked rows of a few of them.
        assert h.evaluate_filter_mask(json.dumps(NODES[0])) == [True] + [False] * 7
        assert h.evaluate_filter_mask(json.dumps(NODES[4])) == [False] * 7 + [True]
        assert h.evaluate_filter_mask(json.dumps(NODES[7])) == [False] * 7 + [True]
        assert h.evaluate_filter_mask(json.dumps(NODES[8])) == [False, False, False, True, True, True, True, True]

    def test_nested_integer_tags(self):
        h = index_of(METAS)
        for k, node in enumerate(NODES):
            want = [not evaluate(node, m) for m in METAS]
            assert h.evaluate_filter_mask(json.dumps({"type": "not", "child": dict(node, type=k)})) == want
            assert h.evaluate_filter_mask(json.dumps(["not", [k] + array_form(node)[1:]])) == want

    def test_random_filters_against_model(self, rng):
        metas = [random_metadata(rng) for _ in range(300)]
        h = HybridSearchIndex([""] * len(metas))
        h.set_metadata_json([dumps(m, rng) for m in metas])
        for _ in range(400):
            flt = random_filter(rng)
            text = dumps(written(flt, rng), rng)
            assert h.evaluate_filter_mask(text) == [evaluate(flt, m) for m in metas], text

    def test_extra_keys_ignored(self):
        flt = {"type": "comparison", "extra": {"type": "bad"}, "attribute": "a", "op": "=",
               "value": 5, "low": "x", "child": 3}
        assert mask(METAS, flt) == [True] + [False] * 7


class TestMessages:
    @pytest.mark.parametrize("text, message", [
        ("5", "invalid type: integer `5`, expected internally tagged enum FilterAst"),
        ("-3", "invalid type: integer `-3`, expected internally tagged enum FilterAst"),
        ("true", "invalid type: boolean `true`, expected internally tagged enum FilterAst"),
        ("null", "invalid type: null, expected internally tagged enum FilterAst"),
        ('"x"', 'invalid type: string "x", expected internally tagged enum FilterAst'),
        ("2.5", "invalid type: floating point `2.5`, expected internally tagged enum FilterAst"),
        ("1e20", "invalid type: floating point `100000000000000000000.0`, expected internally "
                 "tagged enum FilterAst"),
        ('"\\t\\u0001\\""', 'invalid type: string "\\t\\u{1}\\"", expected internally tagged enum FilterAst'),
        ("{}", "missing field `type`"),
        ("[]", "missing field `type`"),
        ('{"type": "exists", "attribute": "a", "type": "exists"}', "duplicate field `type`"),
        ('{"type": "range", "attribute": "a", "low": 1, "low": 2, "high": 3}', "duplicate field `low`"),
        ('{"type": "Exists", "attribute": "a"}', "unknown variant `Exists`, expected " + ONE_OF),
        ('["nope", "a"]', "unknown variant `nope`, expected " + ONE_OF),
        ('{"type": "comparison", "attribute": "a", "value": 1}', "missing field `op`"),
        ('{"type": "and", "left": {"type": "exists", "attribute": "a"}}', "missing field `right`"),
        ('{"type": 3, "attribute": "a"}', "invalid type: integer `3`, expected variant identifier"),
        ('[2, "a"]', "invalid type: integer `2`, expected variant identifier"),
        # Wrong kinds in every field.
        ('{"type": "exists", "attribute": 1}', "invalid type: integer `1`, expected a string"),
        ('{"type": "comparison", "attribute": "a", "op": null, "value": 1}',
         "invalid type: null, expected a string"),
        ('{"type": "range", "attribute": "a", "low": "1", "high": 2}',
         'invalid type: string "1", expected f64'),
        ('["range", "a", 1, true]', "invalid type: boolean `true`, expected f64"),
        ('{"type": "in", "attribute": "a", "values": {"a": 1}}', "invalid type: map, expected a sequence"),
        ('["in", "a", "ab"]', 'invalid type: string "ab", expected a sequence'),
        ('{"type": "contains", "attribute": "a", "value": 5}', "invalid type: integer `5`, expected a string"),
        ('["starts_with", "a", ["x"]]', "invalid type: sequence, expected a string"),
        ('{"type": "not", "child": 5}', "invalid type: integer `5`, expected internally tagged enum FilterAst"),
        ('["and", ["exists", "a"], "b"]', 'invalid type: string "b", expected internally tagged enum FilterAst'),
        # Nested tags.
        ('["not", {"type": -1, "attribute": "a"}]', "invalid type: integer `-1`, expected variant identifier"),
        ('["not", [2.0, "a"]]', "invalid type: floating point `2.0`, expected variant identifier"),
        ('["not", [true, "a"]]', "invalid type: boolean `true`, expected variant identifier"),
        ('["not", ["3", "a"]]', "unknown variant `3`, expected " + ONE_OF),
        ('["not", [11, "a"]]', "invalid value: integer `11`, expected variant index 0 <= i < 11"),
        # Array lengths.
        ('["comparison", "a"]', "invalid length 1, expected struct variant FilterAst::Comparison with 3 elements"),
        ('["exists"]', "invalid length 0, expected struct variant FilterAst::Exists with 1 element"),
        ('["in", "a"]', "invalid length 1, expected struct variant FilterAst::In with 2 elements"),
        ('["exists", "a", "b"]', "invalid length 2, expected 1 element in sequence"),
        ('["in", "a", [], 1]', "invalid length 3, expected 2 elements in sequence"),
    ])
    def test_structural(self, text, message):
        assert parse_error(text) == "Failed to parse filter JSON: " + message + at_end(text)

    def test_position_over_lines(self):
        text = '{\n  "type": "exists",\n  "atribute": "a"\n}  \n'
        assert parse_error(text) == "Failed to parse filter JSON: missing field `attribute` at line 4 column 1"
        text = '["not",\n  ["in", "é", 3]]'
        assert parse_error(text).endswith("expected a sequence at line 2 column 18")  # in bytes

    def test_first_fault_in_text_order(self):
        text = '["and", ["exists", 1], ["nope"]]'
        assert parse_error(text).startswith("Failed to parse filter JSON: invalid type: integer `1`")
        # A syntax fault comes before any structural one.
        assert parse_error('["nope"] x').startswith("Failed to parse filter JSON: ")
        assert "unknown variant" not in parse_error('["nope"] x')

    @pytest.mark.parametrize("text", ['{"type":', "", "  ", '{"type": "exists", "attribute": "a"} x',
                                      '["exists", "a"]]', "{'type': 'exists'}", '["exists", "\\ud800"]',
                                      '["exists", "a\x01"]', "NaN"])
    def test_malformed_json(self, text):
        message = parse_error(text)
        assert message.startswith("Failed to parse filter JSON: ") and len(message) > 29


def nested_filter(levels, array):
    """`levels` nested JSON containers: `levels - 1` "not" nodes around an "exists" leaf."""
    node = ["exists", "a"] if array else {"type": "exists", "attribute": "a"}
    for _ in range(levels - 1):
        node = ["not", node] if array else {"type": "not", "child": node}
    return json.dumps(node)


class TestNesting:
    @pytest.mark.parametrize("array", [False, True])
    def test_limit(self, array):
        h = index_of([{"a": 1}, {}])
        # An even number of "not" keeps the leaf's result.
        assert h.evaluate_filter_mask(nested_filter(127, array)) == [True, False]
        assert h.evaluate_filter_mask(nested_filter(128, array)) == [False, True]
        text = nested_filter(129, array)
        column = [i for i, c in enumerate(text) if c in "[{"][128] + 1
        with pytest.raises(ValueError) as e:
            h.evaluate_filter_mask(text)
        assert str(e.value) == f"Failed to parse filter JSON: recursion limit exceeded at line 1 column {column}"

    def test_deep_value_counts_too(self):
        h = index_of([{"a": 1}])
        value = "[" * 127 + "]" * 127
        assert h.evaluate_filter_mask('["comparison", "a", "=", %s]' % value) == [False]
        # The outer array, then 128 levels of value: the 129th bracket is at offset 25 + 127.
        with pytest.raises(ValueError, match="recursion limit exceeded at line 1 column 153$"):
            h.evaluate_filter_mask('["comparison", "a", "=", [%s]]' % value)

    def test_long_chains(self):
        metas = [{"a": i % 3, "b": i % 2} for i in range(12)]
        leaves = [{"type": "comparison", "attribute": k, "op": "!=", "value": v}
                  for k, v in [("a", 0), ("b", 5), ("a", 7)] * 40]
        for op in ("and", "or"):
            node = leaves[-1]
            for leaf in reversed(leaves[:-1]):
                node = {"type": op, "left": leaf, "right": node}
            assert mask(metas, node) == [evaluate(node, m) for m in metas]
        node = {"type": "exists", "attribute": "b"}
        for _ in range(101):
            node = {"type": "not", "child": node}
        assert mask(metas, node) == [False] * 12


class TestOperators:
    def test_comparison(self):
        m = [{"a": 5}, {"a": 2020}, {"a": "5"}, {}, {"a": None}]
        assert mask(m, ["comparison", "a", "==", 5]) == [False] * 5
        assert mask(m, ["comparison", "a", "=", 5]) == [True, False, False, False, False]
        assert mask(m, ["comparison", "a", "=", 2020.0]) == [False, True, False, False, False]
        assert mask(m, ["comparison", "a", "!=", 5]) == [False, True, True, False, True]
        assert mask(m, ["not", ["comparison", "a", "!=", 5]]) == [True, False, False, True, False]
        assert mask(m, ["comparison", "a", "<", 6]) == [True, False, False, False, False]
        assert mask(m, ["comparison", "a", ">=", 5.0]) == [True, True, False, False, False]
        assert mask(m, ["comparison", "a", "<", "6"]) == [False] * 5
        assert mask(m, ["comparison", "a", "=", None]) == [False, False, False, False, True]

    def test_array_attributes(self):
        m = [{"t": ["a", "b"]}, {"t": []}, {"t": [1, 2]}, {"t": [["b"]]}]
        assert mask(m, ["comparison", "t", "=", "b"]) == [True, False, False, False]
        assert mask(m, ["comparison", "t", "!=", "c"]) == [True, True, True, True]
        assert mask(m, ["comparison", "t", "!=", "a"]) == [False, True, True, True]
        assert mask(m, ["comparison", "t", "<", 5]) == [False] * 4
        assert mask(m, ["comparison", "t", "=", 2.0]) == [False, False, True, False]
        assert mask(m, ["comparison", "t", "=", ["b"]]) == [False] * 4

    def test_in(self):
        m = [{"a": "x"}, {"a": ["y", "x"]}, {"a": []}, {"a": 1}, {"a": ["z"]}, {"a": {"x": 1}}]
        assert mask(m, ["in", "a", ["x", 1.0]]) == [True, True, False, True, False, False]
        assert mask(m, ["in", "a", []]) == [False] * 6
        assert mask(m, ["in", "a", [["z"], {"x": 1}]]) == [False] * 6
        assert mask(m, ["in", "b", ["x"]]) == [False] * 6

    def test_contains_and_starts_with(self):
        m = [{"s": ""}, {"s": "Apple pie"}, {"s": 5}, {"s": ["apple"]}, {"s": "pineapple"}, {}]
        assert mask(m, ["contains", "s", ""]) == [True, True, False, False, True, False]
        assert mask(m, ["contains", "s", "apple"]) == [False, False, False, False, True, False]
        assert mask(m, ["contains", "s", "pie"]) == [False, True, False, False, False, False]
        assert mask(m, ["starts_with", "s", ""]) == [True, True, False, False, True, False]
        assert mask(m, ["starts_with", "s", "apple"]) == [False] * 6
        assert mask(m, ["starts_with", "s", "Apple"]) == [False, True, False, False, False, False]

    def test_range(self):
        m = [{"a": 1}, {"a": 2.5}, {"a": 3}, {"a": "2"}, {"a": True}, {"a": 2 ** 64 - 1}]
        assert mask(m, ["range", "a", 1, 3]) == [True, True, True, False, False, False]
        assert mask(m, ["range", "a", 3, 1]) == [False] * 6
        assert mask(m, ["range", "a", 2.5, 2.5]) == [False, True, False, False, False, False]
        assert mask(m, ["range", "a", 1e19, 2e19]) == [False] * 5 + [True]

    def test_is_empty_and_is_null(self):
        m = [{"a": ""}, {"a": []}, {"a": {}}, {"a": 0}, {"a": False}, {"a": None}, {"a": "x"}, {}]
        assert mask(m, ["is_empty", "a"]) == [True, True, True, False, False, False, False, False]
        assert mask(m, ["is_null", "a"]) == [False] * 5 + [True, False, False]
        assert mask(m, ["exists", "a"]) == [True] * 7 + [False]

    def test_paths(self):
        m = [{"a": [{"b": 1}]}, {"": 1}, {"a": {"": 2}}, {"a.b": 1}, {"a": {"b": None}}]
        assert mask(m, ["exists", "a.b"]) == [False, False, False, False, True]
        assert mask(m, ["exists", ""]) == [False, True, False, False, False]
        assert mask(m, ["exists", "a."]) == [False, False, True, False, False]
        assert mask(m, ["exists", "a..b"]) == [False] * 5

    def test_metadata_that_is_not_an_object(self):
        h = HybridSearchIndex(["a", "b", "c", "d"])
        h.set_metadata_json(["[1, 2]", "5", "null", '"a"'])
        for flt in (["exists", "a"], ["not", ["exists", "a"]], ["exists", ""]):
            assert h.evaluate_filter_mask(json.dumps(flt)) == [evaluate(written_back(flt), None)] * 4

    def test_repeated_metadata_key_keeps_the_last(self):
        h = HybridSearchIndex(["a"])
        h.set_metadata_json(['{"a": 1, "b": 0, "a": 2}'])
        assert h.evaluate_filter_mask('["comparison", "a", "=", 2]') == [True]
        assert h.evaluate_filter_mask('["comparison", "a", "=", 1]') == [False]


def written_back(flt):
    """The object form of a filter written in array form (string tags only)."""
    tag = flt[0]
    node = {"type": tag}
    for name, value in zip(("attribute",) if tag != "not" else ("child",), flt[1:]):
        node[name] = written_back(value) if name == "child" else value
    return node


MASK_SCRIPT = r"""
import json, sys
sys.path.insert(0, sys.argv[1])
from test_filter import large_case
h, _, _, texts = large_case()
print(json.dumps([h.evaluate_filter_mask(t) for t in texts]))
"""


def large_case():
    """6,200 documents (masks on the pool, metadata parsed on the pool) and 40 filters,
    as objects and as written texts."""
    rng = random.Random(11)
    metas = [random_metadata(rng) for _ in range(6200)]
    h = HybridSearchIndex([f"d{i}" for i in range(len(metas))])
    h.set_metadata_json([dumps(m, rng) for m in metas])
    filters = [random_filter(rng) for _ in range(40)]
    return h, metas, filters, [dumps(written(f, rng), rng) for f in filters]


class TestMasks:
    def test_large_mask_matches_model_and_one_thread(self):
        h, metas, filters, texts = large_case()
        here = [h.evaluate_filter_mask(t) for t in texts]
        for flt, got in zip(filters, here):
            assert got == [evaluate(flt, m) for m in metas]
        env = {k: v for k, v in os.environ.items() if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
        env["PYTHONPATH"] = os.pathsep.join([p for p in sys.path if p] + [os.path.join(ROOT, "build")])
        env["RAYON_NUM_THREADS"] = "1"
        out = subprocess.run([sys.executable, "-c", MASK_SCRIPT, os.path.dirname(__file__)], env=env,
                             capture_output=True, text=True, timeout=300)
        assert out.returncode == 0, out.stderr
        assert json.loads(out.stdout) == here

    def test_threshold_sizes(self):
        rng = random.Random(4)
        for n in (4999, 5000, 5001):
            metas = [{"a": rng.randint(0, 9)} for _ in range(n)]
            flt = {"type": "range", "attribute": "a", "low": 3, "high": 5}
            assert mask(metas, flt) == [3 <= m["a"] <= 5 for m in metas]

    def test_without_metadata_even_a_malformed_filter_fails_on_that(self):
        h = HybridSearchIndex(["a", "b"])
        for text in ('["exists", "a"]', "{", "5"):
            with pytest.raises(ValueError, match=r"^No metadata set\. Call set_metadata_json first\.$"):
                h.evaluate_filter_mask(text)

    def test_empty_index(self):
        h = HybridSearchIndex([])
        h.set_metadata_json([])
        assert h.has_metadata is True
        assert h.evaluate_filter_mask('["exists", "a"]') == []
        with pytest.raises(ValueError, match="^Failed to parse filter JSON: "):
            h.evaluate_filter_mask("[")

    def test_argument_type(self):
        h = index_of([{}])
        with pytest.raises(TypeError, match="filter_json"):
            h.evaluate_filter_mask(b'["exists", "a"]')
        with pytest.raises(TypeError):
            h.evaluate_filter_mask()
