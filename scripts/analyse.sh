#!/usr/bin/env bash
# Static analysis of src/: clang-tidy with the checks of .clang-tidy, then
# cppcheck. Any finding fails. A finding that is wrong for a line is
# silenced on that line (NOLINT / cppcheck-suppress) with its reason.
#   analyse.sh BUILD_FOLDER   (a configured build: its compile_commands.json)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?build folder with compile_commands.json}
cd "$top"
echo "== clang-tidy"
# The Win32 layer is not in a Linux build's compile commands (windows.h).
find src -name '*.cpp' -not -path 'src/platform/win32/*' -print0 | sort -z |
  xargs -0 -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet 2>/dev/null
echo "== cppcheck"
cppcheck --quiet --enable=warning,performance,portability --std=c++20 --language=c++ \
  --inline-suppr --error-exitcode=1 -I src -j "$(nproc)" src
echo "analysis: no findings"
