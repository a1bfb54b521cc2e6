#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite:
#   1. the normal build (warnings are errors),
#   2. a build with AddressSanitizer and UndefinedBehaviorSanitizer, the runtime preloaded
#      (the batch functions' tests once more with the C allocator instead of the
#      interpreter's, so that reads of freed objects are seen),
#   3. a short fuzzing run of every entry point on the sanitizer build (scripts/fuzz.sh),
#   4. the type stubs against the built module (mypy's stubtest) and the examples under
#      mypy --strict (typed_usage.py passes numpy arrays and pathlib paths to every class;
#      tests/test_stubs.py checks what stubtest cannot see),
#   5. the same abi3 module under the oldest and the newest other CPython >= 3.10 found on
#      the machine (the ends of the range the one build serves; the versions between add
#      minutes to every run and little coverage).
#
# The inner loop while changing the code (CI does not use it):
#   scripts/test.sh --quick [PYTEST ARGS...]
# one incremental normal build and one pytest run (of tests/, or of what the arguments
# name), stopping at the first failure; no setup, no sanitizer, no fuzzing.
# On a shared machine TARNWICK_JOBS caps the build's parallel jobs (scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON="${PYTHON:-python3}"
source scripts/sanitizer.sh

if [ "${1:-}" = --quick ]; then
  shift
  bash scripts/build.sh build -DTARNWICK_WERROR=ON
  [ "$#" -eq 0 ] && set -- tests
  PYTHONPATH=build:python exec "$PYTHON" -m pytest -q -p no:cacheprovider -x "$@"
fi

bash scripts/setup.sh

echo "== normal build"
bash scripts/build.sh build -DTARNWICK_WERROR=ON
PYTHONPATH=build:python "$PYTHON" -m pytest tests -q -p no:cacheprovider

echo "== sanitizer build"
build_sanitizer build-sanitize
PYTHONPATH=build-sanitize:python run_sanitized tests build-sanitize \
  "$PYTHON" -m pytest tests -q -p no:cacheprovider -x
# The interpreter's own allocator keeps freed objects in its pools, where the sanitizer
# cannot see a read of them; with the C allocator it can. The batch functions hold the
# items they read across released interpreter locks, while other threads and finalizers
# may change the containers: their tests run again that way (the whole suite passes
# so too, but in minutes more than CI has room for).
PYTHONMALLOC=malloc PYTHONPATH=build-sanitize:python run_sanitized tests build-sanitize \
  "$PYTHON" -m pytest tests/test_process.py tests/test_process_lists.py tests/test_concurrency.py \
  tests/test_result_classes.py -q -p no:cacheprovider -x

echo "== fuzzing the sanitizer build (fixed seeds)"
FUZZ_RUNS=2000 FUZZ_SEED=20261207 bash scripts/fuzz.sh 0 scorers metrics process bktree search join stops
# The edit-list classes expand opcodes of any length (a few bytes of input can ask for
# terabytes): the sanitizer's allocator aborts where the normal build raises MemoryError,
# so they are fuzzed on the normal build.
FUZZ_BUILD=build FUZZ_RUNS=2000 FUZZ_SEED=20261207 bash scripts/fuzz.sh 0 results

echo "== type stubs"
PYTHONPATH=build:python MYPYPATH=python "$PYTHON" -m mypy.stubtest tarnwick
PYTHONPATH=build:python MYPYPATH=python "$PYTHON" -m mypy --strict --cache-dir=/dev/null examples/

echo "== other interpreters"
main_version="$("$PYTHON" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
declare -A seen=(["$main_version"]=1)
# Interpreters on PATH, and those installed by pyenv when it is there.
PYENV_VERSIONS=""
command -v pyenv >/dev/null 2>&1 && PYENV_VERSIONS="$(pyenv root)/versions"
candidates=()
for v in 10 11 12 13 14 15; do
  for exe in "python3.$v" ${PYENV_VERSIONS:+"$PYENV_VERSIONS"/3."$v".*/bin/python3.$v}; do
    command -v "$exe" >/dev/null 2>&1 && candidates+=("$(command -v "$exe")")
  done
done
versions=()
declare -A exe_of=()
for exe in "${candidates[@]}"; do
  ver="$("$exe" -c 'import sys; print("%d.%d" % sys.version_info[:2])' 2>/dev/null)" || continue
  [ -n "${seen[$ver]:-}" ] && continue
  seen[$ver]=1
  versions+=("$ver")
  exe_of[$ver]="$exe"
done
chosen=()
if [ "${#versions[@]}" -gt 0 ]; then
  chosen+=("${versions[0]}")
  if [ "${#versions[@]}" -gt 1 ]; then chosen+=("${versions[-1]}"); fi
fi
for ver in "${chosen[@]}"; do
  exe="${exe_of[$ver]}"
  if ! "$exe" -m pip install -q --disable-pip-version-check pytest hypothesis numpy "dask[distributed]" >/dev/null 2>&1; then
    echo "-- Python $ver: cannot install the test tools, skipped"
    continue
  fi
  echo "-- Python $ver ($exe)"
  PYTHONPATH=build:python "$exe" -m pytest tests -q -p no:cacheprovider
done
echo "all test runs passed"
