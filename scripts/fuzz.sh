#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer) and runs each for a
# fixed time. Usage: scripts/fuzz.sh [seconds-per-target]   (default 20)
# Crashes are written to build/fuzz/crashes/; turn each into a regression test.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET="${1:-20}"
CXX_BIN="$(command -v clang++-16 || command -v clang++)"
BUILD=build/fuzz
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$CXX_BIN" \
  -DZORLET_FUZZ=ON -DZORLET_BUILD_MODULE=OFF >/dev/null
cmake --build "$BUILD"
mkdir -p "$BUILD/crashes"
for target in "$BUILD"/fuzz_*; do
  [ -x "$target" ] || continue
  name="$(basename "$target")"
  mkdir -p "$BUILD/corpus/$name"
  echo "== $name (${SECONDS_PER_TARGET}s)"
  "$target" "$BUILD/corpus/$name" -max_total_time="$SECONDS_PER_TARGET" -max_len=4096 -rss_limit_mb=2048 \
    -artifact_prefix="$BUILD/crashes/$name-" -print_final_stats=1 2>&1 | grep -E "^(stat::number_of_executed_units|#[0-9]+ *DONE)|ERROR|SUMMARY" || true
  if ls "$BUILD/crashes/$name-"* >/dev/null 2>&1; then
    echo "fuzz target $name found a crash"; exit 1
  fi
done
