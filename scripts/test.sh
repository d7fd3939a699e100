#!/usr/bin/env bash
# Runs every test: the C++ unit tests (ctest) and the Python tests (pytest)
# against a module built from this checkout.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=build/test
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORLET_BUILD_TESTS=ON \
  -DPython_EXECUTABLE="$(command -v python3)" >/dev/null
cmake --build "$BUILD" -j "$(nproc)"
ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)"
PYTHONPATH="$PWD/$BUILD" python3 -m pytest -q tests "$@"

# Time-boxed fuzzing of every decoder and of the text functions
# (ZORLET_FUZZ_SECONDS per target; 0 skips).
FUZZ_SECONDS="${ZORLET_FUZZ_SECONDS:-10}"
if [ "$FUZZ_SECONDS" != "0" ] && command -v clang++-16 >/dev/null 2>&1; then
  bash scripts/fuzz.sh "$FUZZ_SECONDS"
fi
