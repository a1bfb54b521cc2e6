#!/usr/bin/env bash
# Sets up, builds and runs the demonstration.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
PYTHONPATH=build:python "${PYTHON:-python3}" examples/demo.py
