#!/usr/bin/env bash
# Builds the module and the C++ tests with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs the whole test suite under them.
# Leak checking covers the store's own allocations: Python's own are suppressed.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=build/sanitize
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORLET_BUILD_TESTS=ON -DZORLET_SANITIZE=ON \
  -DPython_EXECUTABLE="$(command -v python3)" >/dev/null
cmake --build "$BUILD"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ASAN_OPTIONS="detect_leaks=1" ctest --test-dir "$BUILD" --output-on-failure

SUPP="$BUILD/lsan.supp"
printf 'leak:libpython\nleak:_PyObject\nleak:PyObject_Malloc\nleak:python3\nleak:_multiprocessing\nleak:libicu\n' > "$SUPP"
export LSAN_OPTIONS="suppressions=$PWD/$SUPP:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
# The interpreter itself, not a wrapper script that would run under the sanitizers too.
PY="$(python3 -c 'import sys; print(sys.executable)')"
LD_PRELOAD="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libubsan.so)" \
  PYTHONPATH="$PWD/$BUILD" PYTHONMALLOC=malloc "$PY" -m pytest -q -p no:cacheprovider tests "$@"
