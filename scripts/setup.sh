#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine: the C++ libraries
# (when missing) and the Python build and test tools.
set -euo pipefail

PYTHON="${PYTHON:-python3}"
DEBS=(g++ libtbb-dev nlohmann-json3-dev libsimdjson-dev libicu-dev libabsl-dev)

missing=()
for pkg in "${DEBS[@]}"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing Debian packages: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

"$PYTHON" -m pip install -q --disable-pip-version-check \
  "scikit-build-core>=0.10" "cmake>=3.24" ninja pytest hypothesis numpy "mypy>=1.11" atheris \
  "dask[distributed]"  # for examples/dask_partitions.py and its test only
