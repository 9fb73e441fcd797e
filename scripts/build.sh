#!/usr/bin/env bash
# Configures and builds one flavour into build/<flavour>:
#   release  optimised with debug info (the default)
#   asan     AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan     ThreadSanitizer
set -euo pipefail
flavour=${1:-release}
top=$(cd "$(dirname "$0")/.." && pwd)
case "$flavour" in
  release) sanitize="" ;;
  asan) sanitize="address,undefined" ;;
  tsan) sanitize="thread" ;;
  *) echo "build.sh: unknown flavour '$flavour' (release, asan, tsan)" >&2; exit 2 ;;
esac
cmake -S "$top" -B "$top/build/$flavour" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSMIRA_SANITIZE="$sanitize" >/dev/null
cmake --build "$top/build/$flavour" -j "$(nproc)"
