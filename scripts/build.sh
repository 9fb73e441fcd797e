#!/usr/bin/env bash
# Configures and builds one flavour into build/<flavour>, all of it or only
# the targets named after it:
#   build.sh FLAVOUR [TARGET...]
#   release  optimised with debug info (the default)
#   asan     AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan     ThreadSanitizer
#   fuzz     the libFuzzer targets, with clang, ASan and UBSan
#   windows  cross-built with MinGW-w64 (cmake/mingw-w64.cmake), static
#   windows32  the same for 32-bit Windows (cmake/mingw-w64-i686.cmake)
set -euo pipefail
flavour=${1:-release}
shift || true
targets=()
[ $# -eq 0 ] || targets=(--target "$@")
top=$(cd "$(dirname "$0")/.." && pwd)
extra=()
case "$flavour" in
  release) sanitize="" ;;
  asan) sanitize="address,undefined" ;;
  tsan) sanitize="thread" ;;
  fuzz) sanitize="address,undefined"; extra=(-DCMAKE_CXX_COMPILER=clang++ -DTESSMIRA_FUZZ=ON) ;;
  windows) sanitize=""; extra=(-DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64.cmake") ;;
  windows32) sanitize=""; extra=(-DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-i686.cmake") ;;
  *) echo "build.sh: unknown flavour '$flavour' (release, asan, tsan, fuzz, windows, windows32)" >&2; exit 2 ;;
esac
cmake -S "$top" -B "$top/build/$flavour" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSMIRA_WERROR=ON -DTESSMIRA_SANITIZE="$sanitize" "${extra[@]}" >/dev/null
cmake --build "$top/build/$flavour" -j "$(nproc)" "${targets[@]}"
