"""Shared helpers of the benchmarks: data sets, timing, the result table.

Benchmarks compare tarnwick with peer libraries in one process and one run and print
times per call and ratios; they never assert anything about speed.
"""
import importlib
import json
import os
import random
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
# This checkout's build and package, unless PYTHONPATH names the ones to measure (then
# they come after it).
for p in (os.path.join(ROOT, "build"), os.path.join(ROOT, "python")):
    if p not in sys.path:
        if os.environ.get("PYTHONPATH"):
            sys.path.append(p)
        else:
            sys.path.insert(0, p)

ASCII_LETTERS = "abcdefghijklmnopqrstuvwxyz"
NON_ASCII_LETTERS = "abcdefgh\u00e9\u00e8\u00fc\u00f6\u0430\u0431\u0432\u03b1\u03b2\u4e2d\u6587"


def words(rng, n, lo=5, hi=12, alphabet=ASCII_LETTERS):
    return ["".join(rng.choice(alphabet) for _ in range(rng.randint(lo, hi))) for _ in range(n)]


def mutate(rng, s, rate, alphabet):
    out = []
    for c in s:
        r = rng.random()
        if r < rate / 3:
            continue
        if r < 2 * rate / 3:
            out.append(rng.choice(alphabet))
            continue
        out.append(c)
        if r < rate:
            out.append(rng.choice(alphabet))
    return "".join(out)


def pairs_of_words(n, alphabet=ASCII_LETTERS, seed=1):
    rng = random.Random(seed)
    a = words(rng, n, alphabet=alphabet)
    b = [mutate(rng, w, 0.3, alphabet) if rng.random() < 0.7 else rng.choice(a) for w in a]
    return list(zip(a, b))


def pairs_of_texts(n, length, alphabet=ASCII_LETTERS, seed=2):
    rng = random.Random(seed)
    out = []
    for _ in range(n):
        a = "".join(rng.choice(alphabet) for _ in range(length))
        out.append((a, mutate(rng, a, 0.2, alphabet)[:length]))
    return out


def per_call(fn, pairs, repeat=3):
    """Best time per call, in seconds, of fn(a, b) over all pairs."""
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        for a, b in pairs:
            fn(a, b)
        best = min(best, time.perf_counter() - t0)
    return best / len(pairs)


def best_of(fn, repeat=3):
    """Best wall time, in seconds, of fn() over `repeat` calls."""
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def optional(module):
    try:
        return importlib.import_module(module)
    except ImportError:
        return None


def fmt_time(t):
    if t >= 1e-3:
        return f"{t * 1e3:9.2f} ms"
    if t >= 1e-6:
        return f"{t * 1e6:9.2f} us"
    return f"{t * 1e9:9.1f} ns"


def table(title, ours_name, ours, peers):
    """Prints our time per call and each peer's, with our speed relative to each."""
    print(f"\n{title}")
    print(f"  {'function':<44}{'per call':>13}{'ours faster by':>16}")
    print(f"  {ours_name:<44}{fmt_time(ours):>13}{'':>16}")
    for name, t in peers:
        print(f"  {name:<44}{fmt_time(t):>13}{t / ours:15.1f}x")


def ours_in_fresh_process(script, threads, env_extra=None):
    """The JSON that `script --ours` prints, run in a fresh interpreter whose pool has
    `threads` threads (None: the default size); the pool is sized once per process."""
    env = dict(os.environ)
    env.pop("RAYON_RS_NUM_CPUS", None)
    env.update(env_extra or {})
    if threads is None:
        env.pop("RAYON_NUM_THREADS", None)
    else:
        env["RAYON_NUM_THREADS"] = str(threads)
    out = subprocess.run([sys.executable, os.path.abspath(script), "--ours"], env=env,
                         capture_output=True, text=True, check=True,
                         cwd=os.path.dirname(os.path.abspath(script)))
    return json.loads(out.stdout)


def per_query(fn, queries, repeat=2):
    """Best time per query, in seconds, of fn(q) over all queries."""
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        for q in queries:
            fn(q)
        best = min(best, time.perf_counter() - t0)
    return best / len(queries)


def rss():
    """Resident memory of this process, in bytes."""
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def call_in_child(module, call, threads):
    """The JSON printed by `module.call` evaluated in a fresh interpreter whose pool has
    `threads` threads (0: the default size); the pool is sized once per process."""
    env = dict(os.environ)
    env.pop("RAYON_RS_NUM_CPUS", None)
    env.pop("RAYON_NUM_THREADS", None)
    if threads:
        env["RAYON_NUM_THREADS"] = str(threads)
    code = (f"import sys; sys.path.insert(0, {HERE!r}); import json, {module}; "
            f"print(json.dumps({module}.{call}))")
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    return json.loads(out.stdout.strip().splitlines()[-1])
