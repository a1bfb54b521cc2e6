"""Fuzzes the module's entry points with atheris.

    python3 tests/fuzz/run.py SUBSYSTEM [libFuzzer options]   one subsystem, or "all"
    python3 tests/fuzz/run.py --random SUBSYSTEM RUNS SEED [SECONDS]
                                                  RUNS inputs of random bytes (RUNS 0:
                                                  as many as SECONDS allow)
    python3 tests/fuzz/run.py --replay FILE...                replay saved inputs

The random mode needs no fuzzing engine: it is what runs under the sanitizer build, where
the engine's coverage feedback is not available (the sanitizer runtime is preloaded, not
linked with the engine). Before each input it writes the input to fuzz-artifacts/current-*
so that a crash leaves the input behind; a call past 10 seconds (FUZZ_CALL_LIMIT) ends the
process.

An input is a byte string that values.Draw turns into a call: its first byte picks the
entry point of the subsystem, the rest its arguments. A call may return anything or raise
a Python exception with a message; a SystemError, an exception with an empty message, a
crash, a sanitizer report or a call past the time limit (libFuzzer's -timeout) is a fault,
and libFuzzer saves the input (-artifact_prefix).
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

if __name__ == "__main__" and sys.argv[1:2] not in (["--replay"], ["--random"]):
    import atheris
    import numpy  # noqa: F401 - imported first so that only the harness is instrumented
    import _tarnwick  # noqa: F401

    with atheris.instrument_imports(include=["targets", "values"]):
        import targets
        import values
else:
    import targets
    import values

check_exception, drivers, Draw = targets.check_exception, targets.drivers, values.Draw

DRIVERS = drivers()


def one_input(data, subsystem="all"):
    """Runs the call that `data` describes; raises FuzzFailure on a forbidden outcome."""
    d = Draw(data)
    if subsystem == "all":
        entries = [e for sub in sorted(DRIVERS) for e in DRIVERS[sub]]
    else:
        entries = DRIVERS[subsystem]
    _, driver = d.pick(entries)
    values.STOPS["raised"] = 0
    try:
        driver(d)
    except values.Stop:
        return
    except RecursionError:
        pass
    except Exception as e:  # noqa: BLE001 - the rules are in check_exception
        check_exception(e)
    if values.STOPS["raised"]:
        raise targets.FuzzFailure("a Stop raised by a hostile method did not reach the caller")


# Seconds of wall-clock time a call may take. On a machine shared with other work, a long
# fuzz run at low priority can give a call a small share of a processor: FUZZ_CALL_LIMIT
# raises the limit there (a blocking call still ends the run).
LIMIT = float(os.environ.get("FUZZ_CALL_LIMIT", "10"))


def random_run(subsystem, runs, seed, seconds=0.0):
    import faulthandler
    import random
    import time

    rng = random.Random(seed)
    os.makedirs("fuzz-artifacts", exist_ok=True)
    current = os.path.join("fuzz-artifacts", "current-%s" % subsystem)
    start = time.monotonic()
    i = 0
    while i < runs or (runs == 0 and time.monotonic() - start < seconds):
        i += 1
        data = rng.randbytes(rng.choice([8, 32, 128, 512]))
        with open(current, "wb") as f:
            f.write(data)
        faulthandler.dump_traceback_later(LIMIT, exit=True)
        try:
            one_input(data, subsystem)
        except BaseException:
            sys.stderr.write("input %d of seed %d found a fault; it is in %s\n"
                             % (i, seed, current))
            raise
        finally:
            faulthandler.cancel_dump_traceback_later()
    os.remove(current)
    print("%s: %d executions in %.1f s" % (subsystem, i, time.monotonic() - start))


def main(argv):
    if argv[1:2] == ["--random"]:
        random_run(argv[2], int(argv[3]), int(argv[4]), float(argv[5]) if len(argv) > 5 else 0)
        return
    if argv[1:2] == ["--replay"]:
        for path in argv[2:]:
            sub = os.path.basename(os.path.dirname(path))
            with open(path, "rb") as f:
                one_input(f.read(), sub if sub in DRIVERS else "all")
        return
    subsystem = argv[1] if len(argv) > 1 else "all"
    if subsystem != "all" and subsystem not in DRIVERS:
        sys.exit("unknown subsystem %r; one of: all, %s" % (subsystem, ", ".join(DRIVERS)))
    atheris.Setup([argv[0]] + argv[2:], lambda data: one_input(data, subsystem))
    atheris.Fuzz()


if __name__ == "__main__":
    main(sys.argv)
