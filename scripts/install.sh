#!/usr/bin/env bash
# Installs Tessmira from this clone with `cmake --install` into PREFIX
# (/usr/local unless set): the program in bin/, its desktop entry, AppStream
# metadata, icons, manual page and help page under share/. Settings then go to
# each user's data folder. The list of what was installed is kept, so that
#   scripts/install.sh --uninstall
# removes every installed file again.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
prefix=${PREFIX:-/usr/local}
manifest="$prefix/share/tessmira/installed-files.txt"
sudo_cmd=()
[ -w "$(dirname "$prefix")" ] || [ -w "$prefix" ] || [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

refresh_desktop() {  # the menus' and icon themes' caches, where the desktop keeps them
  if command -v update-desktop-database >/dev/null; then
    "${sudo_cmd[@]}" update-desktop-database -q "$prefix/share/applications" 2>/dev/null || true
  fi
  if command -v gtk-update-icon-cache >/dev/null && [ -f "$prefix/share/icons/hicolor/index.theme" ]; then
    "${sudo_cmd[@]}" gtk-update-icon-cache -q -t "$prefix/share/icons/hicolor" 2>/dev/null || true
  fi
}

if [ "${1:-}" = --uninstall ]; then
  [ -f "$manifest" ] || { echo "install.sh: no Tessmira installed in $prefix" >&2; exit 1; }
  # CMake ends the list without a newline: the last line counts too.
  while IFS= read -r file || [ -n "$file" ]; do
    "${sudo_cmd[@]}" rm -f -- "$file"
  done <"$manifest"
  "${sudo_cmd[@]}" rm -f -- "$manifest"
  for folder in "$prefix/share/tessmira" "$prefix/share/doc/tessmira"; do
    [ -d "$folder" ] && "${sudo_cmd[@]}" rmdir --ignore-fail-on-non-empty -- "$folder"
  done
  refresh_desktop
  echo "uninstalled Tessmira from $prefix"
  exit 0
elif [ $# -gt 0 ]; then
  echo "usage: install.sh [--uninstall]   (PREFIX=$prefix)" >&2
  exit 2
fi

"$top/scripts/setup.sh"
"$top/scripts/build.sh" release >/dev/null
# The layout of earlier versions of this script: one folder, linked from bin/.
if [ -d "$prefix/lib/tessmira" ]; then
  "${sudo_cmd[@]}" rm -rf -- "$prefix/lib/tessmira"
  [ -L "$prefix/bin/tessmira" ] && "${sudo_cmd[@]}" rm -f -- "$prefix/bin/tessmira"
fi
"${sudo_cmd[@]}" cmake --install "$top/build/release" --prefix "$prefix" >/dev/null
"${sudo_cmd[@]}" cp "$top/build/release/install_manifest.txt" "$manifest"
refresh_desktop
echo "installed: $prefix/bin/tessmira (scripts/install.sh --uninstall removes it)"
