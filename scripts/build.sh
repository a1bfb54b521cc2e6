#!/usr/bin/env bash
# Builds the extension into a build directory: scripts/build.sh [DIR] [CMAKE ARGS...]
# The module lands as DIR/_tarnwick.abi3.so; run with PYTHONPATH=DIR:python.
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON="${PYTHON:-python3}"
DIR="${1:-build}"
shift || true
cmake -S . -B "$DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPython_EXECUTABLE="$(command -v "$PYTHON")" "$@" >/dev/null
cmake --build "$DIR" -j "$(nproc)"
