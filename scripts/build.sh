#!/usr/bin/env bash
# Builds the extension into a build directory: scripts/build.sh [DIR] [CMAKE ARGS...]
# The module lands as DIR/_tarnwick.abi3.so; run with PYTHONPATH=DIR:python.
# TARNWICK_JOBS=N caps the parallel compile jobs (default: one per processor), for a
# machine shared with other work.
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON="${PYTHON:-python3}"
DIR="${1:-build}"
shift || true
# The configure step is quiet when it succeeds and shows everything it printed when not.
if ! log="$(cmake -S . -B "$DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DPython_EXECUTABLE="$(command -v "$PYTHON")" "$@" 2>&1)"; then
  printf '%s\n' "$log" >&2
  exit 1
fi
JOBS="${TARNWICK_JOBS:-$(nproc)}"
if ! [[ "$JOBS" =~ ^[1-9][0-9]*$ ]]; then
  echo "TARNWICK_JOBS must be a positive whole number, not '$JOBS'" >&2
  exit 1
fi
cmake --build "$DIR" -j "$JOBS"
