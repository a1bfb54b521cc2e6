"""Plain Python models of the partial, token and weighted scorers, used as the reference
in the scorer tests. Everything is computed the slow, obvious way: LCS by a dynamic
program, every window tried in turn, tokens split and sorted by hand."""

import naive

# Unicode White_Space: the token separators. Python's str.isspace also accepts the
# information separators U+001C..U+001F, which do not separate tokens here.
WHITE_SPACE = frozenset(
    [0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, *range(0x2000, 0x200B),
     0x2028, 0x2029, 0x202F, 0x205F, 0x3000]
)


def indel_ratio(a, b):
    """100 * (1 - Indel distance / total length); 100 for two empty sequences."""
    return naive.ratio(a, b)


def window_score(needle, window):
    n, w = len(needle), len(window)
    d = n + w - 2 * naive.lcs_length(needle, window)
    return 100.0 * (1.0 - d / (n + w))


def window_search(needle, hay):
    """Best (score, start, end): growing prefixes, full windows, shrinking suffixes; a
    window replaces the best only when strictly better; 100 stops the search."""
    n, m = len(needle), len(hay)
    if n == 0:
        return (100.0 if m == 0 else 0.0, 0, 0)
    if m == 0:
        return (0.0, 0, 0)
    windows = [(0, k) for k in range(1, min(n, m))]
    windows += [(s, min(s + n, m)) for s in range(0, max(m - n, 0) + 1)]
    windows += [(s, m) for s in range(0 if n > m else m - n + 1, m)]
    best = (0.0, 0, 0)
    for start, end in windows:
        score = window_score(needle, hay[start:end])
        if score == 100.0:
            return (score, start, end)
        if score > best[0]:
            best = (score, start, end)
    return best


def fast_kernel(needle, hay):
    """The short-needle kernel: exact occurrence, full windows, then suffixes, no prefixes."""
    n, m = len(needle), len(hay)
    if n == 0:
        return 100.0 if m == 0 else 0.0
    if any(hay[s:s + n] == needle for s in range(m - n + 1)):
        return 100.0
    best = 0.0
    windows = [hay[s:s + n] for s in range(m - n + 1)] + [hay[m - k:] for k in range(n - 1, 0, -1)]
    for win in windows:
        score = window_score(needle, win)
        if score == 100.0:
            return 100.0
        if score > best:
            best = score
    return best


def seq(x):
    """(kind, elements) as the module converts an input: bytes for bytes and ASCII str."""
    if isinstance(x, str):
        if x.isascii():
            return "bytes", list(x.encode())
        return "chars", [ord(c) for c in x]
    if isinstance(x, bytes):
        return "bytes", list(x)
    return "items", [ord(i) if isinstance(i, str) and len(i) == 1 else i for i in x]


def text(x):
    """The text the token scorers read from an input."""
    if isinstance(x, str):
        return x
    if isinstance(x, bytes):
        return x.decode("utf-8", errors="replace")
    return ""


def partial_vecs(s1, s2):
    (k1, a), (k2, b) = seq(s1), seq(s2)
    if k1 == k2 == "bytes" and min(len(a), len(b)) <= 64:
        return fast_kernel(a, b) if len(a) <= len(b) else fast_kernel(b, a)
    if len(a) > len(b):
        return window_search(b, a)[0]
    first = window_search(a, b)[0]
    if first == 100.0 or len(a) != len(b):
        return first
    return max(first, window_search(b, a)[0])


def partial_ratio(s1, s2):
    return partial_vecs(s1, s2)


def partial_ratio_alignment(s1, s2):
    a, b = seq(s1)[1], seq(s2)[1]
    if len(a) <= len(b):
        score, start, end = window_search(a, b)
        al = (score, 0, len(a), start, end)
        if score != 100.0 and len(a) == len(b):
            score2, start2, end2 = window_search(b, a)
            if score2 > score:
                al = (score2, start2, end2, 0, len(b))
        return al
    score, start, end = window_search(b, a)
    return (score, start, end, 0, len(b))


def partial_ratio_str(a, b):
    if a.isascii() and b.isascii() and min(len(a), len(b)) <= 64:
        ea, eb = list(a.encode()), list(b.encode())
        return fast_kernel(ea, eb) if len(ea) <= len(eb) else fast_kernel(eb, ea)
    ca, cb = [ord(c) for c in a], [ord(c) for c in b]
    return window_search(ca, cb)[0] if len(ca) <= len(cb) else window_search(cb, ca)[0]


def tokens(t):
    out, cur = [], []
    for ch in t:
        if ord(ch) in WHITE_SPACE:
            if cur:
                out.append("".join(cur))
            cur = []
        else:
            cur.append(ch)
    if cur:
        out.append("".join(cur))
    return sorted(out, key=lambda s: s.encode("utf-8"))


def sort_key(t):
    return " ".join(tokens(t))


def token_set_parts(a, b):
    A = sorted(set(tokens(a)), key=lambda s: s.encode())
    B = sorted(set(tokens(b)), key=lambda s: s.encode())
    inter = [x for x in A if x in B]
    return inter, [x for x in A if x not in B], [x for x in B if x not in A]


def joined(s, diff):
    if not diff:
        return s
    if not s:
        return " ".join(diff)
    return s + " " + " ".join(diff)


def ucmp(a, b):
    return indel_ratio([ord(c) for c in a], [ord(c) for c in b])


def token_sort(a, b):
    return ucmp(sort_key(a), sort_key(b))


def token_set(a, b, none_gives_zero=True):
    inter, ab, ba = token_set_parts(a, b)
    if none_gives_zero and not (inter or ab or ba):
        return 0.0
    s = " ".join(inter)
    t_ab, t_ba = joined(s, ab), joined(s, ba)
    if not inter:
        return ucmp(t_ab, t_ba)
    return max(ucmp(s, t_ab), ucmp(s, t_ba), ucmp(t_ab, t_ba))


def token_ratio(a, b):
    return max(token_sort(a, b), token_set(a, b, none_gives_zero=False))


def partial_token_sort(a, b):
    return partial_ratio_str(sort_key(a), sort_key(b))


def partial_token_set(a, b):
    inter, ab, ba = token_set_parts(a, b)
    if inter:
        return 100.0
    if not ab or not ba:
        return 0.0
    return partial_ratio_str(" ".join(ab), " ".join(ba))


def partial_token_ratio(a, b):
    return max(partial_token_sort(a, b), partial_token_set(a, b))


def wratio(s1, s2):
    a, b = seq(s1)[1], seq(s2)[1]
    if not a or not b:
        return 0.0
    ratio = indel_ratio(a, b)
    if ratio == 100.0:
        return 100.0
    r = max(len(a), len(b)) / min(len(a), len(b))
    ta, tb = text(s1), text(s2)
    if r < 1.5:
        t = token_ratio(ta, tb)
        return max(ratio, 0.95 * t) if t > 0.0 else ratio
    scale = 0.9 if r <= 8.0 else 0.6
    best = max(ratio, scale * partial_vecs(s1, s2))
    if best == 100.0:
        return 100.0
    return max(best, scale * (partial_token_set(ta, tb) * 0.95))
