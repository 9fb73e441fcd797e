#!/usr/bin/env bash
# Fails when a core source (anything under src/ but src/platform/*/) includes a
# Qt, POSIX, Linux or Win32 header. Core code reaches the system only through
# the interface headers in src/ports/.
set -u
src=${1:?usage: check_core_includes.sh SRC_DIR}
pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*<(Q[A-Za-z]*|qt[a-z]*/|unistd\.h|fcntl\.h|dirent\.h|pthread\.h|pwd\.h|dlfcn\.h|poll\.h|sys/|linux/|windows\.h|winbase\.h|shlobj\.h|X11/|xcb/)'
hits=$(find "$src" -path "$src/platform/*/*" -prune -o \( -name '*.h' -o -name '*.cpp' \) -print0 |
  xargs -0 grep -nE "$pattern" || true)
if [ -n "$hits" ]; then
  echo "core files include platform headers:"
  echo "$hits"
  exit 1
fi
echo "core includes: clean"
