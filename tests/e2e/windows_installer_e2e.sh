#!/usr/bin/env bash
# The Windows installer under Wine: installed silently for the current user,
# the installed program backs up a small tree and shows a picture (on Xvfb
# with openbox), the uninstaller takes back every file and association; then
# the same for everyone on the machine.
#   windows_installer_e2e.sh SETUP_EXE SAMPLES_FOLDER VERSION
# WINE names the loader (64- or 32-bit), WINEPREFIX a prepared prefix.
set -u
wine=${WINE:-/usr/lib/wine/wine64}
setup=${1:?setup exe}
samples=${2:?samples folder}
version=${3:?version}
work=$(mktemp -d /tmp/tessmira-setup-e2e-XXXXXX)
source "$(dirname "$0")/x_session.sh"
# Wine would mirror the Start menu entry and the associations into this
# machine's own desktop menus.
export WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
server="${wine%/*}/wineserver"
trap '"$server" -k 2>/dev/null; cleanup' EXIT
# Wine's desktop process keeps the display it was started on: start anew on ours.
"$server" -k 2>/dev/null
"$server" -w 2>/dev/null

drive_c="$WINEPREFIX/drive_c"
profile="$drive_c/users/$(id -un)"
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessmira'
unix_path() { local p=${1//\\//}; printf '%s/%s' "$drive_c" "${p#C:/}"; }
z() { printf 'Z:%s' "${1//\//\\}"; }
# reg_value ROOT\KEY NAME: the value's data, or nothing when it is not there.
reg_value() {
  "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
reg_default() { "$wine" reg query "$1" /ve 2>/dev/null | tr -d '\r' | sed -n 's/^ *(Default) *REG_SZ *//p'; }
key_there() { "$wine" reg query "$1" >/dev/null 2>&1 && echo there || echo gone; }
value_there() { "$wine" reg query "$1" /v "$2" >/dev/null 2>&1 && echo there || echo gone; }
ended() { "$server" -w; }  # every Wine process of the prefix, the uninstaller's copy among them

# A run cut short before leaves nothing behind for this one.
for root in HKCU HKLM; do
  left=$(reg_value "$root\\$uninstall_key" InstallLocation)
  [ -n "$left" ] && "$wine" "$left\\Uninstall.exe" /S && ended
done

mkdir -p "$work/tree/sub" "$work/pictures"
echo a >"$work/tree/a.txt"
echo b >"$work/tree/sub/b.txt"
cp "$samples/01-dusk.jpg" "$work/pictures/"

# install_and_check MODE ROOT [SWITCHES...]: installs, then checks it all.
install_and_check() {
  local mode=$1 root=$2
  shift 2
  check "$mode: the silent install succeeds" 0 "$("$wine" "$setup" /S "$@" >/dev/null 2>&1; echo $?)"
  ended
  local location folder
  location=$(reg_value "$root\\$uninstall_key" InstallLocation)
  folder=$(unix_path "$location")
  check "$mode: Apps lists the version" "$version" "$(reg_value "$root\\$uninstall_key" DisplayVersion)"
  check "$mode: with its uninstaller" "\"$location\\Uninstall.exe\"" \
    "$(reg_value "$root\\$uninstall_key" UninstallString)"
  check "$mode: the program's files" "DefSet.txt ReadMe.htm Uninstall.exe tessmira.exe" \
    "$(ls "$folder" 2>/dev/null | tr '\n' ' ' | sed 's/ $//')"
  local menu="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
  [ "$root" = HKLM ] && menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
  check "$mode: a Start menu entry" yes "$([ -f "$menu/Tessmira.lnk" ] && echo yes)"
  local classes="$root\\Software\\Classes"
  check "$mode: JPEG files open with the program" "\"$location\\tessmira.exe\" \"%1\"" \
    "$(reg_default "$classes\\Tessmira.JPGFile\\shell\\Open\\Command")"
  check "$mode: and JPEG XL files are offered it" there \
    "$(value_there "$classes\\.jxl\\OpenWithProgids" Tessmira.JXLFile)"
  check "$mode: it is among the default apps" 'Software\Brindlex\Tessmira\Capabilities' \
    "$(reg_value "$root\\Software\\RegisteredApplications" Tessmira)"

  # The installed program keeps its data in the user's folder, never its own.
  local data="$profile/AppData/Roaming/Brindlex/Tessmira"
  rm -rf "$data" "$profile/Backup/Tessmira"
  (cd "$work" && "$wine" "$location\\tessmira.exe" "/b=$(z "$work/tree")" >"$work/out" 2>"$work/err")
  check "$mode: the installed program backs up" "0 2 files copied" "$? $(tr -d '\r' <"$work/out")"
  check "$mode: into the default backup root" b "$(cat "$profile/Backup/Tessmira/F0/tree/sub/b.txt" 2>/dev/null)"
  check "$mode: its catalog in the user's data folder" yes "$([ -s "$data/TesmiCat.lbf" ] && echo yes)"

  (cd "$work" && exec "$wine" "$location\\tessmira.exe" "$(z "$work/pictures/01-dusk.jpg")") \
    >"$work/viewer.log" 2>&1 &
  viewer=$!
  started+=("$viewer")
  window=$(visible_window --name " - Tessmira $version\$")
  check "$mode: the installed program shows the picture" \
    "$(z "$work/pictures")\\01-dusk.jpg (1600 x 1000 @ 50%) $(z "$work/pictures") 1 Files - Tessmira $version" \
    "$(title)"
  [ -n "$window" ] && close_viewer
  ended

  check "$mode: the silent uninstall succeeds" 0 "$("$wine" "$location\\Uninstall.exe" /S >/dev/null 2>&1; echo $?)"
  ended
  check "$mode: no program file is left" gone "$([ -e "$folder" ] && echo there || echo gone)"
  check "$mode: nor the Start menu entry" gone "$([ -e "$menu/Tessmira.lnk" ] && echo there || echo gone)"
  check "$mode: nor the uninstall entry" gone "$(key_there "$root\\$uninstall_key")"
  check "$mode: nor the program's types" gone "$(key_there "$classes\\Tessmira.JPGFile")"
  check "$mode: nor its offer for JPEG" gone "$(value_there "$classes\\.jpg\\OpenWithProgids" Tessmira.JPGFile)"
  check "$mode: nor a default it set" "" "$(reg_default "$classes\\.jpg" | grep Tessmira)"
  check "$mode: nor the default apps entry" gone "$(value_there "$root\\Software\\RegisteredApplications" Tessmira)"
  check "$mode: the user's settings stay" yes "$([ -s "$data/TesmiCat.lbf" ] && echo yes)"
}

install_and_check "for the user" HKCU
install_and_check "for everyone" HKLM /AllUsers

[ "$fails" -eq 0 ] && echo "windows installer end-to-end: $passes passed"
exit $((fails > 0))
