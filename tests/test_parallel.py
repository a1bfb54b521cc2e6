"""The worker pool: its size from the environment, and where the thresholds send work.

Each case runs in a fresh interpreter, since the pool is sized once per process. The
number of threads of the process (from /proc) shows whether the pool started workers.
"""
import json
import os
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

SCRIPT = r"""
import json, random, sys
import _tarnwick

def threads():
    with open("/proc/self/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith("Threads:"))

rng = random.Random(5)
words = ["".join(rng.choice("abcdef") for _ in range(rng.randint(2, 12))) for _ in range(2000)]
steps = {}
start = threads()
if "thresholds" in sys.argv:
    # Below each threshold: the calling thread only.
    _tarnwick.cdist(words[:27], words[:37], "ratio", None)
    _tarnwick.extract("abcabc", words[:31], "ratio", None)
    steps["below"] = threads() - start
    _tarnwick.cdist(words[:40], words[:25], "ratio", None)
    steps["cdist_1000"] = threads() - start
elif "extract" in sys.argv:
    _tarnwick.extract("abcabc", words[:31], "ratio", None)
    steps["below"] = threads() - start
    _tarnwick.extract("abcabc", words[:32], "ratio", None)
    steps["extract_32"] = threads() - start
else:
    matrix = _tarnwick.cdist(words[:300], words, "wratio", None)[0]
    best = _tarnwick.extract("abcabc", words, "ratio", None, limit=10)
    steps["work"] = threads() - start
    steps["digest"] = [sum(matrix), best]
print(json.dumps(steps))
"""


def run(env_updates, *args, cpus=None):
    env = {k: v for k, v in os.environ.items()
           if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
    env.update(env_updates)
    env["PYTHONPATH"] = os.pathsep.join(
        [p for p in sys.path if p] + [os.path.join(ROOT, "build"), os.path.join(ROOT, "python")])

    def pin():
        if cpus is not None:
            os.sched_setaffinity(0, cpus)
    out = subprocess.run([sys.executable, "-c", SCRIPT, *args], env=env, capture_output=True,
                         text=True, timeout=300, preexec_fn=pin)
    assert out.returncode == 0, out.stderr
    return json.loads(out.stdout)


@pytest.fixture(scope="module")
def reference():
    return run({"RAYON_NUM_THREADS": "1"})


def available():
    return len(os.sched_getaffinity(0))


class TestPoolSize:
    def test_one_thread_starts_no_worker(self, reference):
        assert reference["work"] == 0

    # The calling thread waits outside the pool while the work runs, so a pool of N threads
    # starts N workers.
    @pytest.mark.parametrize("env, size", [
        ({"RAYON_NUM_THREADS": "3"}, 3),
        ({"RAYON_NUM_THREADS": "0"}, None),
        ({}, None),
        ({"RAYON_RS_NUM_CPUS": "2"}, 2),
        ({"RAYON_NUM_THREADS": "2", "RAYON_RS_NUM_CPUS": "1"}, 2),
    ])
    def test_sizes_give_the_same_results(self, reference, env, size):
        got = run(env)
        assert got["digest"] == reference["digest"]
        if size is None:
            size = available()
        assert got["work"] == (size if size > 1 else 0)

    def test_more_threads_than_processors_is_honoured(self, reference):
        got = run({"RAYON_NUM_THREADS": "4"}, cpus={min(os.sched_getaffinity(0))})
        assert got["digest"] == reference["digest"]
        assert got["work"] == 4

    def test_values_that_are_not_decimals_are_ignored(self):
        assert run({"RAYON_NUM_THREADS": "two", "RAYON_RS_NUM_CPUS": "1"})["work"] == 0
        assert run({"RAYON_NUM_THREADS": "-3", "RAYON_RS_NUM_CPUS": "1"})["work"] == 0

    def test_cpu_affinity_bounds_the_default_size(self, reference):
        got = run({}, cpus={min(os.sched_getaffinity(0))})
        assert got["work"] == 0
        assert got["digest"] == reference["digest"]


class TestThresholds:
    def test_small_work_stays_on_the_calling_thread(self):
        got = run({"RAYON_NUM_THREADS": "4"}, "thresholds")
        assert got["below"] == 0
        assert got["cdist_1000"] >= 1
        got = run({"RAYON_NUM_THREADS": "4"}, "extract")
        assert got["below"] == 0
        assert got["extract_32"] >= 1


FORK_SCRIPT = r"""
import json, multiprocessing, os, signal, sys
import _tarnwick

def watchdog():
    # A child that hangs ends itself rather than outliving the test.
    signal.alarm(30)

def threads():
    with open("/proc/self/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith("Threads:"))

words = ["w%d abc" % i for i in range(100)]

def work(_=None):
    return [_tarnwick.cdist(words, words, "ratio", None)[0],
            _tarnwick.extract_one("w7 abd", words, "ratio", None)]

out = {}
if "parent_uses_pool" in sys.argv:
    out["parent"] = work()
    out["parent_threads"] = threads()
r, w = os.pipe()
pid = os.fork()
if pid == 0:
    watchdog()
    start = threads()
    res = work()
    os.write(w, json.dumps([res, threads() - start]).encode())
    os._exit(0)
os.close(w)
data = b""
while chunk := os.read(r, 1 << 20):
    data += chunk
os.waitpid(pid, 0)
out["child"], out["child_extra_threads"] = json.loads(data)
with multiprocessing.get_context("fork").Pool(2, initializer=watchdog) as pool:
    out["pool"] = pool.map(work, range(2))
print(json.dumps(out))
"""


class TestFork:
    def run(self, *args):
        env = {k: v for k, v in os.environ.items()
               if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
        env["RAYON_NUM_THREADS"] = "4"
        env["PYTHONPATH"] = os.pathsep.join(
            [p for p in sys.path if p] + [os.path.join(ROOT, "build"), os.path.join(ROOT, "python")])
        out = subprocess.run([sys.executable, "-c", FORK_SCRIPT, *args], env=env,
                             capture_output=True, text=True, timeout=60)
        assert out.returncode == 0, out.stderr
        return json.loads(out.stdout)

    def test_child_scores_after_the_parent_used_the_pool(self):
        got = self.run("parent_uses_pool")
        assert got["parent_threads"] > 1
        assert got["child"] == got["parent"]
        assert got["pool"] == [got["parent"], got["parent"]]
        assert got["child"][1][0] == "w7 abc"

    def test_child_of_a_parent_without_pool_starts_its_own(self):
        got = self.run()
        assert got["child_extra_threads"] >= 1
        assert got["pool"] == [got["child"], got["child"]]
