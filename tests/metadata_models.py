"""Plain-Python models of the filter language and the attribute sort, over values read by
Python's json module, and generators of random metadata and filters."""
import functools
import json

MISSING = object()

TAGS = ["comparison", "range", "exists", "is_null", "is_empty", "in", "contains",
        "starts_with", "not", "and", "or"]
FIELDS = {
    "comparison": ("attribute", "op", "value"),
    "range": ("attribute", "low", "high"),
    "exists": ("attribute",),
    "is_null": ("attribute",),
    "is_empty": ("attribute",),
    "in": ("attribute", "values"),
    "contains": ("attribute", "value"),
    "starts_with": ("attribute", "value"),
    "not": ("child",),
    "and": ("left", "right"),
    "or": ("left", "right"),
}


def is_num(x):
    return isinstance(x, (int, float)) and not isinstance(x, bool)


def resolve(value, path):
    """The value at a dotted path, or MISSING: each segment a key of an object."""
    for seg in path.split("."):
        if not isinstance(value, dict) or seg not in value:
            return MISSING
        value = value[seg]
    return value


def json_eq(a, b):
    if is_num(a) and is_num(b):
        return float(a) == float(b)
    if a is None or b is None:
        return a is None and b is None
    if isinstance(a, bool) or isinstance(b, bool):
        return isinstance(a, bool) and isinstance(b, bool) and a == b
    if isinstance(a, str) and isinstance(b, str):
        return a == b
    return False


def evaluate(node, meta):
    """Whether metadata `meta` passes the filter `node` (in object form, as Python data)."""
    t = node["type"]
    if t == "and":
        return evaluate(node["left"], meta) and evaluate(node["right"], meta)
    if t == "or":
        return evaluate(node["left"], meta) or evaluate(node["right"], meta)
    if t == "not":
        return not evaluate(node["child"], meta)
    a = resolve(meta, node["attribute"])
    if a is MISSING:
        return False
    if t == "exists":
        return True
    if t == "is_null":
        return a is None
    if t == "is_empty":
        return isinstance(a, (str, list, dict)) and len(a) == 0
    if t == "range":
        return is_num(a) and float(node["low"]) <= float(a) <= float(node["high"])
    if t == "in":
        members = node["values"]
        if isinstance(a, list):
            return any(json_eq(x, v) for x in a for v in members)
        return any(json_eq(a, v) for v in members)
    if t == "contains":
        return isinstance(a, str) and node["value"] in a
    if t == "starts_with":
        return isinstance(a, str) and a.startswith(node["value"])
    op, value = node["op"], node["value"]
    if isinstance(a, list):
        if op == "=":
            return any(json_eq(x, value) for x in a)
        if op == "!=":
            return not any(json_eq(x, value) for x in a)
        return False
    if op == "=":
        return json_eq(a, value)
    if op == "!=":
        return not json_eq(a, value)
    if op in ("<", ">", "<=", ">=") and is_num(a) and is_num(value):
        x, y = float(a), float(value)
        return {"<": x < y, ">": x > y, "<=": x <= y, ">=": x >= y}[op]
    return False


# ---- Written forms ----

def written(node, rng, nested=False):
    """`node` written as JSON-ready data: object or array form at random at every level,
    object keys shuffled with an ignored extra key now and then, nested tags sometimes as
    their index."""
    t = node["type"]
    tag = TAGS.index(t) if nested and rng.random() < 0.3 else t
    fields = [(f, written(node[f], rng, True) if f in ("child", "left", "right") else node[f])
              for f in FIELDS[t]]
    if rng.random() < 0.5:
        return [tag] + [v for _, v in fields]
    items = [("type", tag)] + fields
    if rng.random() < 0.3:
        items.append(("note", [1, {"x": None}]))
    rng.shuffle(items)
    return dict(items)


# ---- Random data ----

SCALARS = [None, True, False, 0, 1, -1, 3, 2020, 2020.0, 1.5, -0.0, -2.5, 1e20, 2 ** 63,
           -2 ** 63, 2 ** 64 - 1, 2 ** 64, "", "a", "b", "ab", "ba", "A", "é", "apple",
           "Banana", "2020", "a.b"]
KEYS = ["a", "b", "c", "arr", "o", "", "a.b"]
PATHS = ["a", "b", "c", "arr", "o", "o.a", "o.b", "o.o.a", "", "a.b", "a.", ".a", "zz"]


def random_value(rng, depth=0):
    r = rng.random()
    if depth < 2 and r < 0.12:
        return [random_value(rng, depth + 1) for _ in range(rng.randint(0, 3))]
    if depth < 2 and r < 0.22:
        return random_object(rng, depth + 1)
    return rng.choice(SCALARS)


def random_object(rng, depth=0):
    return {k: random_value(rng, depth) for k in rng.sample(KEYS, rng.randint(0, len(KEYS)))}


def random_metadata(rng):
    """Mostly objects; now and then an array, a scalar or null."""
    if rng.random() < 0.1:
        return random_value(rng, 1)
    return random_object(rng)


def random_filter(rng, depth=0):
    r = rng.random()
    if depth < 4 and r < 0.3:
        t = rng.choice(["not", "and", "or"])
        if t == "not":
            return {"type": t, "child": random_filter(rng, depth + 1)}
        return {"type": t, "left": random_filter(rng, depth + 1), "right": random_filter(rng, depth + 1)}
    t = rng.choice(TAGS[:8])
    node = {"type": t, "attribute": rng.choice(PATHS)}
    if t == "comparison":
        node["op"] = rng.choice(["=", "!=", "<", ">", "<=", ">=", "==", "<>"])
        node["value"] = random_value(rng, 1)
    elif t == "range":
        lo, hi = sorted(rng.choice([-1, 0, 1, 1.5, 3, 2020, 2.5e3]) for _ in range(2))
        if rng.random() < 0.1:
            lo, hi = hi, lo
        node["low"], node["high"] = lo, hi
    elif t == "in":
        node["values"] = [random_value(rng, 1) for _ in range(rng.randint(0, 3))]
    elif t in ("contains", "starts_with"):
        node["value"] = rng.choice(["", "a", "b", "pp", "A", "é", "2"])
    return node


def dumps(value, rng):
    """JSON text of a value, sometimes with non-ASCII kept and with spacing."""
    if rng.random() < 0.5:
        return json.dumps(value)
    return " " + json.dumps(value, ensure_ascii=False, indent=rng.choice([None, 1])) + "\n"


# ---- Sorting ----

def compare_under_key(va, vb, reverse):
    """-1, 0 or 1: the three-way comparison of two values under one key (null and missing
    alike, both after any present value)."""
    absent_a = va is MISSING or va is None
    absent_b = vb is MISSING or vb is None
    if absent_a or absent_b:
        return (absent_a > absent_b) - (absent_a < absent_b)
    if is_num(va) and is_num(vb):
        x, y = float(va), float(vb)
    elif isinstance(va, str) and isinstance(vb, str):
        x, y = va.lower().encode(), vb.lower().encode()
    elif isinstance(va, bool) and isinstance(vb, bool):
        x, y = va, vb
    else:
        return 0
    c = (x > y) - (x < y)
    return -c if reverse else c


def sort_by_keys(items, meta_of, keys):
    """Stable sort of `items` by the sort keys; meta_of(item) is its metadata or MISSING."""
    def cmp(p, q):
        for path, reverse in keys:
            c = compare_under_key(resolve(meta_of(p), path), resolve(meta_of(q), path), reverse)
            if c:
                return c
        return 0
    return sorted(items, key=functools.cmp_to_key(cmp))
