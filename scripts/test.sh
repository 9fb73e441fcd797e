#!/usr/bin/env bash
# Sets up the machine, builds and runs every test: once in a plain build and
# once under AddressSanitizer + UndefinedBehaviorSanitizer; the threaded tests
# once more under ThreadSanitizer; then the fuzz targets for a bounded time.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0
for flavour in release asan; do
  echo "== $flavour build"
  "$top/scripts/build.sh" "$flavour"
  echo "== $flavour tests"
  ctest --test-dir "$top/build/$flavour" --output-on-failure -j "$(nproc)" || status=1
done
echo "== tsan build"
"$top/scripts/build.sh" tsan
echo "== tsan tests (the threaded ones)"
TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1} \
  ctest --test-dir "$top/build/tsan" -L threaded --output-on-failure -j "$(nproc)" || status=1

echo "== fuzz"
"$top/scripts/fuzz.sh" || status=1
exit $status
