#!/usr/bin/env bash
# Fuzzes every entry point of the module (tests/fuzz/) with inputs of random bytes under
# the sanitizer build.
#   scripts/fuzz.sh [SECONDS] [SUBSYSTEM...]   SECONDS per subsystem (default 3600); all
#                                              subsystems when none is named
#   FUZZ_RUNS=N FUZZ_SEED=S scripts/fuzz.sh    N inputs per subsystem from seed S (CI)
#   FUZZ_CALL_LIMIT=SECONDS scripts/fuzz.sh    a call's wall-clock limit (default 10; raise it
#                                              on a shared machine at low priority)
#   FUZZ_ENGINE=atheris scripts/fuzz.sh ...    coverage-guided by atheris/libFuzzer, on the
#                                              normal build (the engine's coverage does not
#                                              work with the preloaded sanitizer runtime)
# A fault stops the run; the input is in fuzz-artifacts/ (current-SUBSYSTEM, or the
# engine's crash-*/timeout-* files). Once it is fixed, copy the input to
# tests/fuzz/corpus/SUBSYSTEM/, which the tests replay.
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON="${PYTHON:-python3}"
SECONDS_EACH="${1:-3600}"
shift || true
SUBSYSTEMS=("$@")
[ "${#SUBSYSTEMS[@]}" -eq 0 ] && SUBSYSTEMS=(scorers metrics process results bktree search join stops)
ENGINE="${FUZZ_ENGINE:-random}"
if [ "$ENGINE" = atheris ]; then BUILD="${FUZZ_BUILD:-build}"; else BUILD="${FUZZ_BUILD:-build-sanitize}"; fi

source scripts/sanitizer.sh
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  if [ "$BUILD" = build-sanitize ]; then
    build_sanitizer "$BUILD"
  else
    bash scripts/build.sh "$BUILD" -DTARNWICK_WERROR=ON
  fi
fi
mkdir -p fuzz-artifacts
# A huge allocation fails with bad_alloc (MemoryError), as in the normal build, instead
# of aborting (scripts/sanitizer.sh says why the tests differ).
for sub in "${SUBSYSTEMS[@]}"; do
  if [ "$ENGINE" = atheris ]; then
    mkdir -p "fuzz-corpus/$sub"
    corpus=("fuzz-corpus/$sub")
    [ -d "tests/fuzz/corpus/$sub" ] && corpus+=("tests/fuzz/corpus/$sub")
    opts=(-timeout=10 -rss_limit_mb=4096 -max_len=2048 -artifact_prefix="fuzz-artifacts/$sub-"
          -print_final_stats=1)
    if [ -n "${FUZZ_RUNS:-}" ]; then opts+=(-runs="$FUZZ_RUNS" -seed="${FUZZ_SEED:-1}")
    else opts+=(-max_total_time="$SECONDS_EACH"); fi
    PYTHONPATH="$BUILD:python" run_sanitized fuzz "$BUILD" \
      "$PYTHON" tests/fuzz/run.py "$sub" "${opts[@]}" "${corpus[@]}"
  else
    PYTHONPATH="$BUILD:python" run_sanitized fuzz "$BUILD" \
      "$PYTHON" tests/fuzz/run.py --random "$sub" "${FUZZ_RUNS:-0}" "${FUZZ_SEED:-$RANDOM}" "$SECONDS_EACH"
  fi
done
