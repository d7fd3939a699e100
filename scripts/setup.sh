#!/usr/bin/env bash
# Installs everything the project needs on a fresh Debian machine (as root):
# the system libraries, the Python test tools, and the package itself.
set -euo pipefail
cd "$(dirname "$0")/.."

if command -v apt-get >/dev/null 2>&1; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq \
    build-essential pkg-config cmake ninja-build \
    liblmdb-dev libzstd-dev libicu-dev nlohmann-json3-dev libgtest-dev \
    clang-16 libclang-rt-16-dev >/dev/null
fi

python3 -m pip install -q --upgrade pip >/dev/null 2>&1 || true
python3 -m pip install -q "scikit-build-core>=0.8" cmake ninja pytest hypothesis mypy
python3 -m pip install -q .
