#!/usr/bin/env bash
# The Debian package: lintian, the validators on its files, the unpacked
# program's data folder; scripts/install.sh and its uninstall; and, where this
# process may run apt (root, or sudo without a password), a real install.
#   package_e2e.sh DEB VERSION
set -u
deb=$(realpath "${1:?deb}")
version=${2:?version}
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/tessmira-package-e2e-XXXXXX)
trap 'rm -rf "$work"' EXIT
fails=0
passes=0
check() {  # check NAME EXPECTED ACTUAL
  [ "$2" = "$3" ] && { passes=$((passes + 1)); return; }
  fails=$((fails + 1))
  printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
}
status_of() { "$@" >"$work/said" 2>&1; local s=$?; [ "$s" -eq 0 ] || sed 's/^/  /' "$work/said"; echo "$s"; }

check "the package is named for its version" "tessmira_${version}_amd64.deb" "$(basename "$deb")"
check "lintian finds no error or warning" 0 "$(status_of lintian --fail-on error,warning "$deb")"
field() { dpkg-deb -f "$deb" "$1"; }
check "the package's version" "$version" "$(field Version)"  # lintian checks the rest of its fields
check "its dependencies come from its libraries" yes \
  "$(field Depends | grep -q 'libqt6widgets6' && field Depends | grep -q 'libheif1' && echo yes)"

root="$work/root"
dpkg-deb -x "$deb" "$root"
usr="$root/usr"
check "the desktop entry is valid" 0 "$(status_of desktop-file-validate "$usr/share/applications/com.brindlex.Tessmira.desktop")"
check "it names the types the program opens" yes \
  "$(grep -q '^MimeType=.*image/jpeg;.*image/jxl;' "$usr/share/applications/com.brindlex.Tessmira.desktop" && echo yes)"
check "the AppStream metadata is valid" 0 \
  "$(status_of appstreamcli validate --no-net "$usr/share/metainfo/com.brindlex.Tessmira.metainfo.xml")"
check "and names this release" yes \
  "$(grep -q "<release version=\"$version\" date=\"[0-9-]*\"" "$usr/share/metainfo/com.brindlex.Tessmira.metainfo.xml" && echo yes)"
check "the manual page reads without warnings" "" \
  "$(MANWIDTH=80 man --warnings -l "$usr/share/man/man1/tessmira.1.gz" 2>&1 >/dev/null)"
icons=""
for size in 16 24 32 48 64 128 256; do
  png="$usr/share/icons/hicolor/${size}x$size/apps/tessmira.png"
  [ "$(identify -format '%wx%h' "$png" 2>/dev/null)" = "${size}x$size" ] && icons="$icons $size"
done
check "the icons are of their sizes" " 16 24 32 48 64 128 256" "$icons"
check "the changelog starts at this version" "tessmira ($version) stable; urgency=medium" \
  "$(zcat "$usr/share/doc/tessmira/changelog.gz" | head -1)"

# The unpacked program, as installed: its data goes to the user's folder
# (DefSet.txt in share/tessmira), nothing beside it in bin/.
home="$work/home"
mkdir -p "$home"
check "the program tells its version" "Tessmira $version" "$("$usr/bin/tessmira" --version)"
check "a rotation runs" 0 "$(HOME="$home" XDG_DATA_HOME="$home/data" status_of "$usr/bin/tessmira" /r)"
check "with the settings in the user's data folder" yes \
  "$([ -s "$home/data/Brindlex/Tessmira/dTesmi.dat" ] && echo yes)"
check "and none beside the program" "tessmira" "$(ls "$usr/bin")"

# scripts/install.sh into a prefix of its own, and back out.
prefix="$work/prefix"
check "install.sh installs" 0 "$(PREFIX="$prefix" status_of bash "$top/scripts/install.sh")"
check "the program into bin" "Tessmira $version" "$("$prefix/bin/tessmira" --version 2>&1)"
check "its help page into share" yes "$([ -s "$prefix/share/tessmira/ReadMe.htm" ] && echo yes)"
check "the uninstall succeeds" 0 "$(PREFIX="$prefix" status_of bash "$top/scripts/install.sh" --uninstall)"
# The desktop's own caches, made again without the program, stay.
check "and leaves no file behind" "" \
  "$(find "$prefix" -type f ! -name mimeinfo.cache ! -name icon-theme.cache 2>/dev/null)"

# A real install, where this machine lets us, of a package not yet installed.
apt_cmd=()
if [ "$(id -u)" -eq 0 ]; then
  apt_cmd=(env DEBIAN_FRONTEND=noninteractive)
elif sudo -n true 2>/dev/null; then
  apt_cmd=(sudo -n env DEBIAN_FRONTEND=noninteractive)
fi
if [ ${#apt_cmd[@]} -gt 0 ] && command -v apt-get >/dev/null &&
  ! dpkg-query -W -f='${Status}' tessmira 2>/dev/null | grep -q 'install ok'; then
  check "apt installs the package" 0 "$(status_of "${apt_cmd[@]}" apt-get install -y -q "$deb")"
  check "the installed program runs" "Tessmira $version" "$(/usr/bin/tessmira --version 2>&1)"
  dpkg-query -L tessmira | while IFS= read -r path; do [ -f "$path" ] && echo "$path"; done >"$work/files"
  check "it installed its files" yes "$(grep -qx /usr/share/tessmira/DefSet.txt "$work/files" && echo yes)"
  check "apt removes it" 0 "$(status_of "${apt_cmd[@]}" apt-get purge -y -q tessmira)"
  check "with every file it installed" "" "$(while IFS= read -r f; do [ -e "$f" ] && echo "$f"; done <"$work/files")"
else
  echo "package end-to-end: apt install skipped (needs root or sudo, and tessmira not installed)"
fi

[ "$fails" -eq 0 ] && echo "package end-to-end: $passes passed"
exit $((fails > 0))
