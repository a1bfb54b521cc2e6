"""A grammar of hostile Python values, driven by the bytes of one fuzz input.

`Draw` reads the input a byte at a time (zeros once it runs out), so the same bytes always
give the same values: an input saved in the corpus replays without the fuzzing engine.
"""
import math
import struct

import numpy as np

import _tarnwick as m


class Draw:
    """Choices taken from a byte string."""

    def __init__(self, data):
        self.data = data
        self.pos = 0

    def byte(self):
        if self.pos >= len(self.data):
            return 0
        b = self.data[self.pos]
        self.pos += 1
        return b

    def below(self, n):
        """An integer in [0, n)."""
        if n <= 256:
            return self.byte() % n
        return (self.byte() | self.byte() << 8 | self.byte() << 16) % n

    def pick(self, options):
        return options[self.below(len(options))]

    def chance(self, in_256):
        return self.byte() < in_256

    def raw(self, n):
        out = self.data[self.pos:self.pos + n]
        self.pos += len(out)
        return out

    def f64(self):
        return struct.unpack("<d", self.raw(8).ljust(8, b"\0"))[0]


INTS = [0, 1, -1, 2, 3, 5, 64, 65, 100, 255, 256, 2**31 - 1, 2**31, -2**31, 2**32, 2**63 - 1, 2**63,
        -2**63, -2**63 - 1, 2**64 - 1, 2**64, 2**64 + 1, 10**30, -10**30]
FLOATS = [0.0, -0.0, 0.5, 1.0, 50.0, 99.9, 100.0, 100.5, -1.0, math.nan, -math.nan, math.inf,
          -math.inf, 1e308, 5e-324, 2.0**63, 2.0**64]
WORDS = ["", " ", "a", "abc", "abd", "new york", "york new", "the cat sat", "<NA>", "None",
         "café", "CAFE\u0301", "straße", "Σίσυφος", "ǅemal", "ﬁne", "日本語", "\u0130stanbul",
         "😀", "a😀b", "\U0001d518\U0001d51e", "\ud800", "a\udfffb", "\x00", "tab\there",
         "\u200b\u00a0 x", "İi̇", "ΣΑΣ", "Ⅻ", "١٢٣", "ß" * 3, "a-b_c.d", "1e308", "NaN"]


def text(d):
    kind = d.below(8)
    if kind < 4:
        return d.pick(WORDS)
    if kind == 4:
        return " ".join(d.pick(WORDS) for _ in range(d.below(6)))
    if kind == 5:
        # raw code points, lone surrogates included
        return "".join(chr(d.below(0x110000) if d.chance(64) else d.below(0x300))
                       for _ in range(d.below(24)))
    if kind == 6:
        # long text: repeated material, bounded so that quadratic kernels stay quick
        return (d.pick(WORDS) + d.pick(["", " ", "x"])) * d.below(1500)
    return d.raw(d.below(16)).decode("latin-1")


def bytestring(d):
    return d.pick([b"", b"abc", b"\xff\xfe", b"\xc3\x28", b"\xed\xa0\x80", b"caf\xc3\xa9",
                   b"\x00\x01", d.raw(d.below(12))])


def number(d):
    kind = d.below(6)
    if kind == 0:
        return d.pick(INTS)
    if kind == 1:
        return d.pick(FLOATS)
    if kind == 2:
        return d.f64()
    if kind == 3:
        return d.pick([True, False])
    if kind == 4:
        return d.pick([np.int64(-1), np.uint64(2**64 - 1), np.int32(7), np.float32("nan"),
                       np.float64(-0.0), np.float16(65504), np.bool_(True), np.int8(-128)])
    return d.pick(INTS) + d.below(5) - 2


class Stop(KeyboardInterrupt):
    """What hostile methods raise in the "stops" runs instead of ValueError: a Ctrl-C of
    the harness's own, which the module must let through."""


# The "stops" runs: on while one runs; `raised` counts the Stops raised in the current call.
STOPS = {"on": False, "raised": 0}
# Lengths a __len__ claims in the "stops" runs: more than memory holds, or close to it.
CLAIMS = [10**9, 2**62, 2**63 - 1]


class Hostile:
    """An object whose protocol methods raise, lie or call back into the module."""

    def __init__(self, d, depth):
        self.mode = d.below(4)  # 0 raise, 1 re-enter, 2 lie, 3 behave
        self.methods = {d.pick(["__index__", "__float__", "__len__", "__iter__", "__hash__",
                                "__eq__", "__str__", "__getitem__"]) for _ in range(1 + d.below(3))}
        self.value = text(d)
        self.n = d.pick([0, 1, 3, -1, 2**63, 10**20])
        self.depth = depth

    def act(self, name, normal):
        if name not in self.methods or self.mode == 3:
            return normal()
        if self.mode == 0:
            if STOPS["on"]:
                STOPS["raised"] += 1
                raise Stop("hostile " + name)
            raise ValueError("hostile " + name)
        if self.mode == 1:
            m.fuzz_ratio(self.value, "abc", processor=m.default_process)
            m.levenshtein_distance(self.value, [1, 2])
            return normal()
        return None  # a lie: the wrong type

    def __index__(self):
        return self.act("__index__", lambda: self.n)

    def __int__(self):
        return self.__index__()

    def __float__(self):
        return self.act("__float__", lambda: 1.5)

    def __len__(self):
        if STOPS["on"] and self.mode == 3:
            return CLAIMS[len(self.value) % len(CLAIMS)]
        return self.act("__len__", lambda: self.n if self.n >= 0 else 0)

    def __iter__(self):
        return self.act("__iter__", lambda: iter(self.value))

    def __getitem__(self, i):
        def normal():
            if isinstance(i, int) and 0 <= i < len(self.value):
                return self.value[i]
            raise IndexError(i)
        return self.act("__getitem__", normal)

    def __hash__(self):
        return self.act("__hash__", lambda: hash(self.value))

    def __eq__(self, other):
        return self.act("__eq__", lambda: other is self)

    def __str__(self):
        return self.act("__str__", lambda: self.value)

    def __repr__(self):
        return "Hostile(%r)" % (self.methods,)


class StrSub(str):
    """A str subclass whose comparisons and hash call into the module."""

    def __hash__(self):
        m.fuzz_ratio("a", "b")
        return str.__hash__(self)

    def __eq__(self, other):
        return str.__eq__(self, other)


def generator(items):
    yield from items


def failing_generator(items):
    yield from items
    raise RuntimeError("generator failed")


def sequence(d, depth):
    n = d.below(6)
    items = [any_value(d, depth + 1) for _ in range(n)]
    kind = d.below(10)
    if kind == 0:
        return tuple(items)
    if kind == 1:
        return generator(items)
    if kind == 2:
        return failing_generator(items)
    if kind == 3:
        return {i: v for i, v in enumerate(items)}
    if kind == 4:
        return np.array([d.below(300) - 20 for _ in range(n)],
                        dtype=d.pick([np.int8, np.int64, np.uint64, np.float64, np.uint8]))
    if kind == 5:
        return np.array([text(d) for _ in range(n)], dtype=d.pick([object, str]))
    if kind == 6:
        return [text(d) for _ in range(n)]
    if kind == 7:
        return range(d.pick([0, 3, 50, 2**63 - 1]))
    return items


def any_value(d, depth=0):
    kind = d.below(16)
    if depth > 3:
        kind = d.pick([0, 1, 4])
    if kind <= 4:
        return text(d)
    if kind == 5:
        return bytestring(d)
    if kind <= 7:
        return number(d)
    if kind == 8:
        return None
    if kind == 9:
        return Hostile(d, depth)
    if kind == 10:
        return StrSub(text(d))
    if kind == 11:
        return d.pick([object(), m.fuzz_ratio, type, Ellipsis, 1j, frozenset({1})])
    return sequence(d, depth)


def string_list(d, max_items=12):
    """A list of texts with the odd hostile item, for corpora and choices."""
    out = []
    for _ in range(d.below(max_items)):
        out.append(text(d) if d.chance(230) else any_value(d, 2))
    return out


def processor(d):
    kind = d.below(10)
    if kind < 3:
        return None
    if kind == 3:
        return m.default_process
    if kind == 4:
        return str.upper

    def raising(s):
        raise KeyError("processor failed")

    def reentering(s):
        m.fuzz_wratio(s, "abc", processor=m.default_process)
        m.cdist(["a", "b"], ["a"], "ratio", None)
        return s

    odd = any_value(d, 3)
    return d.pick([raising, reentering, lambda s: odd, lambda s: None, lambda s: [s, s],
                   lambda s: s[::-1] if isinstance(s, str) else s, 42])


def scorer(d):
    """The (name, object) pair the native batch functions take."""
    names = ["ratio", "qratio", "wratio", "partial_ratio", "token_sort_ratio",
             "token_set_ratio", "token_ratio", "partial_token_sort_ratio",
             "partial_token_set_ratio", "partial_token_ratio"]
    name = d.pick(names + ["", "fuzz_ratio", "levenshtein_distance", "\ud800", "ratio\0"])
    if name and d.chance(200):
        return name, getattr(m, "fuzz_" + name, None)
    odd = any_value(d, 3)

    def reentering(a, b, **kw):
        return m.fuzz_ratio(a, b, processor=m.default_process)

    def raising(a, b, **kw):
        raise ArithmeticError("scorer failed")

    return name, d.pick([reentering, raising, lambda a, b, **kw: odd,
                         lambda a, b, **kw: math.nan, lambda a, b, **kw: -math.inf,
                         lambda a, b, **kw: 10**40, lambda a, b: 1.0, lambda *a, **kw: "50",
                         m.fuzz_ratio, m.levenshtein_distance, None, 3])


def cutoff(d):
    return d.pick([None, None, 0, 50, 100, 101, -1, math.nan, math.inf, 2**64, "50", 0.5])


def index(d):
    return d.pick([0, 1, 2, 3, 5, -1, 2**31, 2**63, 2**64, None, 1.5, math.nan, True,
                   np.int64(2)]) if d.chance(200) else number(d)


def json_text(d, depth=0):
    """JSON: valid, malformed, deeply nested, huge numbers."""
    kind = d.below(12)
    if kind == 0:
        return "[" * d.pick([10, 1000, 100000]) + "]" * d.below(3)
    if kind == 1:
        return d.pick(["1e999999", "-1e400", "123456789012345678901234567890", "-0", "NaN",
                       "0x10", "1.", ".5", "\"\\ud800\"", "\"\\u00\"", "{\"a\":1,}", "[1 2]",
                       "{'a':1}", "", "null", "true", "\ufeff{}", "{\"a\":1}{}", "\"\0\""])
    if kind == 2 and depth < 4:
        return "{" + ",".join('"%s":%s' % (d.pick(["a", "b", "", "\u00e9", "$and", "$or",
                                                   "$not", "$eq", "$in", "$gt", "$lt"]),
                                           json_text(d, depth + 1))
                              for _ in range(d.below(4))) + "}"
    if kind == 3 and depth < 4:
        return "[" + ",".join(json_text(d, depth + 1) for _ in range(d.below(4))) + "]"
    if kind == 4:
        return str(d.pick(INTS))
    return d.pick(['"x"', "1", "1.5", "true", "null", '{"a": [1, {"b": null}]}',
                   '{"$and": [{"a": 1}, {"b": {"$gt": 2}}]}', text(d)])
