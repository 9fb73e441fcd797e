#!/usr/bin/env bash
# Builds every package into dist/: the Debian package of the Linux build
# (CPack) and the NSIS installers of the 64- and 32-bit Windows builds.
#   dist/tessmira_<version>_amd64.deb
#   dist/tessmira-<version>-win64-setup.exe
#   dist/tessmira-<version>-win32-setup.exe
# Builds that are already there are brought up to date, not made again.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
dist="$top/dist"
mkdir -p "$dist"
version=$(sed -n 's/^project(Tessmira VERSION \([0-9.]*\) .*/\1/p' "$top/CMakeLists.txt")
[ -n "$version" ] || { echo "package.sh: no version in CMakeLists.txt" >&2; exit 1; }
rm -f "$dist"/tessmira[_-]"$version"[_-]*

echo "== Debian package"
"$top/scripts/build.sh" release >/dev/null
(cd "$top/build/release" && cpack -G DEB -B "$top/build/release/packages" >/dev/null)
cp "$top/build/release/packages/tessmira_${version}_"*.deb "$dist/"

for flavour in windows windows32; do
  echo "== $flavour installer"
  "$top/scripts/build.sh" "$flavour" >/dev/null
  cp "$top/build/$flavour"/tessmira-"$version"-win*-setup.exe "$dist/"
done
ls -l "$dist"
