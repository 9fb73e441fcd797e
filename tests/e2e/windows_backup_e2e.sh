#!/usr/bin/env bash
# The Windows program's switches under Wine, on a tree on the Z: drive, and
# its settings and catalog files read by the Linux program and back.
#   windows_backup_e2e.sh TESSMIRA_EXE LINUX_TESSMIRA
# WINEPREFIX names a prepared prefix; WINEDEBUG=-all keeps Wine quiet.
set -u
wine=${WINE:-/usr/lib/wine/wine64}
work=$(mktemp -d /tmp/tessmira-win-XXXXXX)
mkdir -p "$work/removable"
# A removable drive R: for the data folder's rule. Wine's mount manager reads
# the drives when it starts: the prefix's server is stopped once both are set.
"$wine" reg add 'HKLM\Software\Wine\Drives' /v r: /d floppy /f >/dev/null 2>&1
ln -sfn "$work/removable" "$WINEPREFIX/dosdevices/r:"
trap 'rm -f "$WINEPREFIX/dosdevices/r:"; rm -rf "$work"' EXIT
"${wine%/*}/wineserver" -k 2>/dev/null
fails=0
check() {  # check NAME EXPECTED ACTUAL
  [ "$2" = "$3" ] && return
  fails=$((fails + 1))
  printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
}
[ -x "${2:?Linux binary}" ] || { echo "no Linux program at $2"; exit 1; }
tree="$work/my tree"  # a blank, so the command line quotes it
mkdir -p "$work/win" "$work/lin" "$work/home" "$tree/sub"
cp "${1:?exe}" "$work/win/tessmira.exe"
cp "$2" "$work/lin/tessmira"
echo a >"$tree/a.jpg"
echo b >"$tree/sub/b.txt"
echo u >"$tree/sub/über ☺.txt"  # UTF-8 names pass through unharmed
# Paths past Windows' 260 characters, in the tree and in the backup.
long="$tree/$(printf 'l%.0s' {1..120})/$(printf 'm%.0s' {1..120})"
mkdir -p "$long"
echo deep >"$long/deep.txt"
z() { printf 'Z:%s' "${1//\//\\}"; }
wrun() { (cd "$work" && "$wine" "$work/win/tessmira.exe" "$@" >"$work/out" 2>"$work/err"); echo $?; }
lrun() { (cd "$work" && HOME="$work/home" "$work/lin/tessmira" "$@" >"$work/out" 2>"$work/err"); echo $?; }
out() { tr -d '\r' <"$work/out"; }
err_has() { grep -q "$1" "$work/err" && echo yes; }
generation() { od -An -tu4 -j1720 -N4 "$1/dTesmi.dat" | tr -d ' '; }
put_root() {  # put_root FOLDER TEXT: the settings' backup root, as a user's edit would
  printf '%s\0' "$2" | dd of="$1/dTesmi.dat" bs=1 seek=8940 conv=notrunc status=none
}
wb="$work/wbackup"

check "a first rotation saves the settings" 0 "$(wrun /r)"
check "with the generation counted" 1 "$(generation "$work/win")"
text_at() { dd if="$1/dTesmi.dat" bs=1 skip="$2" count=600 status=none | tr '\0' '\n' | head -1; }
check "the default backup root is in the profile" yes \
  "$(text_at "$work/win" 8940 | grep -q '^C:\\users\\.*\\Backup\\Tessmira\\$' && echo yes)"
check "the default folder viewed is the pictures folder" yes \
  "$(text_at "$work/win" 2340 | grep -q '^C:\\users\\.*\\Pictures$' && echo yes)"
check "a /b= folder too long says so" "2 yes" "$(wrun "/b=$(z "$work")\\$(printf 'x%.0s' {1..600})") $(err_has "too long")"
put_root "$work/win" "$(z "$wb")\\"
check "a backup succeeds" 0 "$(wrun "/b=$(z "$tree")")"
check "and says what it copied" "4 files copied" "$(out)"
check "the copies are under F0" "b u deep" "$(cat "$wb/F0/my tree/sub/b.txt" "$wb/F0/my tree/sub/über ☺.txt" \
  "$wb/F0/${long#$work/}/deep.txt" | tr '\n' ' ' | sed 's/ $//')"
check "the catalog has the Linux size" $((17124 + 10 * 1040)) "$(stat -c %s "$work/win/TesmiCat.lbf")"
check "the same folder in other letter case is the same backup" 0 "$(wrun "/B=$(z "$work")\\MY TREE\\")"
check "nothing changed" "0 files copied" "$(out)"
# Excludes in the Windows spelling and letter case; the default exclude file.
mkdir -p "$work/ex/Temp Files" "$work/ex/AppData/Local/Temp"
echo k >"$work/ex/keep.jpg"
echo t >"$work/ex/Temp Files/a.jpg"
echo c >"$work/ex/AppData/Local/Temp/b.tmp"
check "--exclude ignores letter case, the default file leaves out AppData\\Local\\Temp" \
  "0 1 files copied, 2 left out by excludes no yes" \
  "$(wrun "/b=$(z "$work/ex")" '--exclude=\temp files') $(out) \
$([ -e "$wb/F0/ex/Temp Files" ] && echo yes || echo no) $([ -f "$work/win/TesmiExc.txt" ] && echo yes)"
check "--log holds that run" "0 yes" \
  "$(wrun --log) $(out | grep "$(printf '\t')/b=Z:.*ex$(printf '\t')1 files" | grep -q "exit 0" && echo yes)"
echo changed >"$tree/a.jpg"
wrun "/b=$(z "$tree")" >/dev/null
check "a changed file is copied again" "1 files copied" "$(out)"
check "with its new content" changed "$(cat "$wb/F0/my tree/a.jpg")"
check "/b= needs a folder" "2 yes" "$(wrun "/b=") $(err_has "needs a folder")"
check "a missing folder fails" "1 yes" "$(wrun "/b=$(z "$work/missing")") $(err_has "no such folder")"

# A link planted inside the backup root is refused, never written through.
mkdir "$work/elsewhere"
rm -r "$wb/F0/my tree/sub"
ln -s "$work/elsewhere" "$wb/F0/my tree/sub"
echo c >"$tree/sub/c.txt"
check "a link in the backup root fails the copy" "1 yes" "$(wrun "/b=$(z "$tree")") $(err_has "not followed")"
check "and is counted" "0 files copied, 1 failed" "$(out)"
check "nothing went through the link" "" "$(ls "$work/elsewhere")"
rm "$wb/F0/my tree/sub"
mkdir -p "$wb/.tessmira-temp"
echo stale >"$wb/.tessmira-temp/a.jpg.tessmira-Ab12Cd"
check "the failed copy is made next time" "0 1 files copied" "$(wrun "/b=$(z "$tree")") $(out)"
check "and a stopped run's temporary is removed" no \
  "$([ -e "$wb/.tessmira-temp/a.jpg.tessmira-Ab12Cd" ] && echo yes || echo no)"
check "a rotation succeeds" 0 "$(wrun /r)"
check "F0 moved to F1" "changed c" "$(cat "$wb/F1/my tree/a.jpg" "$wb/F1/my tree/sub/c.txt" | tr '\n' ' ' | sed 's/ $//')"
check "the generation counted on" 2 "$(generation "$work/win")"

# A dry run tells what it would copy and writes nothing.
echo dry >"$tree/dry.txt"
before=$(find "$wb" "$work/win" -printf '%p %s %T@\n' | sort)
check "/b= --dry-run tells what it would copy" "0 yes" \
  "$(wrun "/b=$(z "$tree")" --dry-run) $(out | grep -q '^1 files would be copied; nothing was written$' && echo yes)"
check "and writes nothing" "$before" "$(find "$wb" "$work/win" -printf '%p %s %T@\n' | sort)"
rm "$tree/dry.txt"

# The way back under Windows: the copies listed, F1's tree restored elsewhere,
# the newest copies verified.
check "--versions lists a file's copies" "0 F1" \
  "$(wrun "--versions=$(z "$tree")\\a.jpg") $(out | cut -f1 | tr '\n' ' ' | sed 's/ $//')"
check "--restore writes F1's tree elsewhere" "0 changed c" \
  "$(wrun "--restore=$(z "$tree")" --from=F1 "--to=$(z "$work/back")") $(cat "$work/back/a.jpg" "$work/back/sub/c.txt" |
    tr -d '\r' | tr '\n' ' ' | sed 's/ $//')"
check "with the write time" "$(stat -c %Y "$tree/a.jpg")" "$(stat -c %Y "$work/back/a.jpg")"
# The link test above took sub's first copies away.
check "--verify names the copies that are gone" "1 2 yes" \
  "$(wrun "--verify=$(z "$tree")") $(grep -c '^tessmira: missing: ' "$work/err") $(out | grep -q '^5 files verified, 2 problems (2 without a copy)' && echo yes)"

# The Windows files, read by the Linux program: only the paths inside differ.
cp "$work/win/dTesmi.dat" "$work/win/TesmiCat.lbf" "$work/lin/"
put_root "$work/lin" "$work/lbackup/"
check "Linux backs up with the Windows catalog" 0 "$(lrun "/b=$tree")"
check "its own paths are new to it" "5 files copied" "$(out)"
check "the catalog was read, not set aside" no \
  "$([ -e "$work/lin/TesmiCat.lbf.damaged" ] && echo yes || echo no)"
check "Linux rotates with the Windows settings" 0 "$(lrun /r)"
check "counting on from the Windows counter" 3 "$(generation "$work/lin")"
# Apart from the counter (1720) and the root (8940..9539) the bytes are the same.
check "no other byte of the settings changed" "" "$(cmp -l "$work/win/dTesmi.dat" "$work/lin/dTesmi.dat" |
  awk '$1 != 1721 && ($1 < 8941 || $1 > 9540) {print $1}')"
# And back: the Windows program finds its own records in the Linux-written catalog.
cp "$work/lin/dTesmi.dat" "$work/lin/TesmiCat.lbf" "$work/win/"
put_root "$work/win" "$(z "$wb")\\"
check "Windows reads the Linux catalog" "0 0 files copied" "$(wrun "/b=$(z "$tree")") $(out)"
check "and the Linux settings" "0 4" "$(wrun /r) $(generation "$work/win")"

# The catalog of one tree and the answers to --find, as on Linux.
check "--catalog=FOLDER builds" "0 yes" "$(wrun "--catalog=$(z "$tree")") $(out | grep -q ' files counted, ' && echo yes)"
check "--find names the file" "0 $(z "$tree/sub/b.txt")" "$(wrun --find=SUB\\B.TXT) $(out)"
check "a glob matches the whole path" "0 $(z "$tree/a.jpg")" "$(wrun '--find=*\a.jp?') $(out)"
check "nothing found is 1" "1 " "$(wrun --find=nowhere) $(out)"

# The data folder: with "DefSet.txt" beside the program, the roaming
# application-data folder, except on a removable drive (R:, made one here).
drun() { (cd "$1" && "$wine" "$1/tessmira.exe" /r >/dev/null 2>&1); echo $?; }
roaming=$(echo "$WINEPREFIX"/drive_c/users/*/AppData/Roaming | awk '{print $1}')
mkdir -p "$work/installed"
for folder in installed removable; do
  cp "$work/win/tessmira.exe" "$work/$folder/"
  : >"$work/$folder/DefSet.txt"
done
rm -rf "$roaming/Brindlex"
check "an installed copy keeps its data in the roaming folder" "0 yes no" \
  "$(drun "$work/installed") $([ -f "$roaming/Brindlex/Tessmira/dTesmi.dat" ] && echo yes) \
$([ -e "$work/installed/dTesmi.dat" ] && echo yes || echo no)"
rm -rf "$roaming/Brindlex"
check "a copy on a removable drive keeps them beside it" "0 yes no" \
  "$(drun "$WINEPREFIX/dosdevices/r:") $([ -f "$work/removable/dTesmi.dat" ] && echo yes) \
$([ -e "$roaming/Brindlex" ] && echo yes || echo no)"

[ "$fails" -eq 0 ] && echo "windows backup end-to-end: all passed"
exit $((fails > 0))
