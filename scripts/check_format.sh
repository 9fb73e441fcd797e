#!/usr/bin/env bash
# Fails when a C++ source under src/, tests/, bench/ or fuzz/ differs from .clang-format.
set -u
top=${1:?usage: check_format.sh REPO_DIR}
cd "$top" || exit 1
files=$(find src tests bench fuzz -name '*.cpp' -o -name '*.h' 2>/dev/null)
[ -n "$files" ] || exit 0
clang-format --dry-run -Werror $files
