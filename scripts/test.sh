#!/usr/bin/env bash
# Sets up the machine, builds and runs every test: once in a plain build and
# once under AddressSanitizer + UndefinedBehaviorSanitizer; the unit tests of
# the plain build once more shuffled and repeated, then clang-tidy and
# cppcheck on src/; the threaded tests once more under ThreadSanitizer; then
# the fuzz targets for a bounded time; then the 64- and 32-bit Windows builds,
# their tests run under Wine; last the packages, checked and installed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
export TESSMIRA_SETUP_DONE=1

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0
# Each step's heading says when it began, so a slow CI run shows where its
# time went.
stage() { echo "== $1 (at $((SECONDS / 60))m$((SECONDS % 60))s)"; }
for flavour in release asan; do
  stage "$flavour build"
  "$top/scripts/build.sh" "$flavour"
  stage "$flavour tests"
  ctest --test-dir "$top/build/$flavour" --output-on-failure -j "$(nproc)" || status=1
  if [ "$flavour" = release ]; then
    # CTest runs each test in a process of its own; here each program runs
    # whole, its tests shuffled and twice, so no test leans on another.
    stage "release unit tests, shuffled and repeated"
    for program in "$top"/build/release/tests/*_test; do
      (cd "$top/build/release/tests" && QT_QPA_PLATFORM=offscreen \
        "$program" --gtest_shuffle --gtest_repeat=2 --gtest_brief=1) || status=1
    done
    stage "static analysis"
    "$top/scripts/analyse.sh" "$top/build/release" || status=1
  fi
done
stage "tsan build"
"$top/scripts/build.sh" tsan threaded_tests
stage "tsan tests (the threaded ones)"
TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1} \
  ctest --test-dir "$top/build/tsan" -L threaded --output-on-failure -j "$(nproc)" || status=1

stage "fuzz"
"$top/scripts/fuzz.sh" || status=1

# The Windows builds, 64- and 32-bit, each with its installer; their tests
# run under Wine of their width, each in a prefix of the build's own, made
# once (about 12 s): the 32-bit one a 32-bit Windows.
export WINEDEBUG=-all
for flavour in windows windows32; do
  stage "$flavour build"
  "$top/scripts/build.sh" "$flavour"
  stage "$flavour tests, under Wine"
  if [ "$flavour" = windows ]; then loader=/usr/lib/wine/wine64 arch=win64; else loader=/usr/lib/wine/wine arch=win32; fi
  if [ ! -x "$loader" ]; then
    echo "$flavour tests LEFT OUT: $loader is missing (setup could not install it)"
    continue
  fi
  (
    export WINEPREFIX="$top/build/$flavour/wine-prefix" WINEARCH=$arch
    # The prefix's services come up only once its first wineserver is done.
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$loader" wineboot -i >/dev/null 2>&1
      "${loader%/*}/wineserver" -w
    fi
    ctest --test-dir "$top/build/$flavour" --output-on-failure
  ) || status=1
done

stage "packages"
"$top/scripts/package.sh" || status=1
version=$(sed -n 's/^project(Tessmira VERSION \([0-9.]*\) .*/\1/p' "$top/CMakeLists.txt")
"$top/tests/e2e/package_e2e.sh" "$top/dist/tessmira_${version}_amd64.deb" "$version" || status=1
exit $status
