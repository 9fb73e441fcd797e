#!/usr/bin/env bash
# The real program's switches, run without a display from a folder of its own.
#   command_line_e2e.sh TESSMIRA_BINARY
set -u
work=$(mktemp -d /tmp/tessmira-cli-XXXXXX)
trap 'rm -rf "$work"' EXIT
fails=0
check() {  # check NAME EXPECTED ACTUAL
  [ "$2" = "$3" ] && return
  fails=$((fails + 1))
  printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
}
mkdir -p "$work/prog" "$work/home" "$work/run" "$work/tree/sub"
cp "${1:?binary}" "$work/prog/tessmira"
echo a >"$work/tree/a.jpg"
echo b >"$work/tree/sub/b.txt"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
unset XDG_DATA_HOME XDG_CONFIG_HOME DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
run() { "$work/prog/tessmira" "$@" >"$work/out" 2>"$work/err"; echo $?; }
out() { cat "$work/out"; }
err_has() { grep -q "$1" "$work/err" && echo yes; }
backups="$work/home/Backup/Tessmira"
generation() { od -An -tu4 -j1720 -N4 "$work/prog/dTesmi.dat" 2>/dev/null | tr -d ' '; }

check "a backup succeeds" 0 "$(run "/b=$work/tree")"
check "and says what it copied" "2 files copied" "$(out)"
check "the copies are under F0" b "$(cat "$backups/F0/tree/sub/b.txt")"
# A new catalog (17,124 bytes) whose second record grew it by ten slots.
check "the catalog is made" $((17124 + 10 * 1040)) "$(stat -c %s "$work/prog/TesmiCat.lbf")"
check "a backup saves no settings" no "$([ -e "$work/prog/dTesmi.dat" ] && echo yes || echo no)"
(cd "$work" && run "/B=tree/./" >/dev/null)
check "any spelling of the folder is the same backup" "0 files copied" "$(out)"
check "--backup= is the same switch" 0 "$(run "--backup=$work/tree")"
check "/b= needs a folder" "2 yes" "$(run "/b=") $(err_has "/b= needs a folder")"
check "a missing folder fails" "1 yes" "$(run "/b=$work/missing") $(err_has "no such folder")"
rm -r "$backups/F0/tree/sub"
echo "in the way" >"$backups/F0/tree/sub"
echo c >"$work/tree/sub/c.txt"
check "a failed copy fails the run" 1 "$(run "/b=$work/tree")"
check "and is counted" "0 files copied, 1 failed" "$(out)"

check "/r rotates" 0 "$(run /r)"
check "F0 moved to F1" a "$(cat "$backups/F1/tree/a.jpg")"
check "the run is counted" 1 "$(generation)"
run --rotate >/dev/null
check "--rotate is the same switch" 2 "$(generation)"
# Paths under /run and /root are images, "/R" is no switch: the viewer starts
# instead and says there is no display.
for word in /run/x.jpg /root/x.jpg /R /rotate; do
  check "$word starts the viewer" "1 yes 2" "$(run "$word") $(err_has "no display") $(generation)"
done

# A display that cannot be opened gets the same plain message as none at all.
check "an unreachable display says so" "1 yes no" \
  "$(DISPLAY=:199 run "$work/tree/a.jpg") $(err_has "no display") $(err_has "Reinstalling" || echo no)"

# Another instance blocks the switches: they fail and say so, opening no
# window. The lock lies beside the data files, so that another login of the
# same user (another runtime folder) sees it too.
exec 9>"$work/prog/Tessmira.exe.lock"
flock 9
check "/r waits for no one" "1 yes 2" "$(run /r) $(err_has "the generations were not rotated") $(generation)"
check "a backup waits for no one" "1 yes" \
  "$(XDG_RUNTIME_DIR="$work/home" run "/b=$work/tree") $(err_has "another Tessmira is running")"
exec 9>&-

# Switches it does not know, and words after a backup switch, are mistakes.
for word in --bogus -x -; do
  check "$word is an unknown switch" "2 yes" "$(run "$word") $(err_has "unknown switch $word")"
done
check "-- ends the switches" "1 yes no" \
  "$(run -- --help) $(err_has "no display") $(grep -q Usage "$work/out" && echo yes || echo no)"
echo d >"$work/tree/d.jpg"
check "nothing may follow /b=FOLDER" "2 yes 0" \
  "$(run "/b=$work/tree" extra) $(err_has "unexpected argument after /b=FOLDER: extra") \
$(find "$backups" -name d.jpg | wc -l)"
check "nothing may follow /r" "2 yes 2" "$(run /r -x) $(err_has "unexpected argument after /r: -x") $(generation)"

# A settings file cut short is set aside and the defaults used, told once.
head -c 84 "$work/prog/dTesmi.dat" >"$work/short" && mv "$work/short" "$work/prog/dTesmi.dat"
check "a cut settings file is set aside, told once" "0 yes 84 1" \
  "$(run /r) $(err_has "the settings file was damaged") $(stat -c %s "$work/prog/dTesmi.dat.damaged") $(generation)"
check "and not told again" "0 " "$(run /r) $(cat "$work/err")"
# The catalog: one folder's tree, answered by --find, also while the viewer's
# instance lock is held; a gone file is no longer named.
mkdir -p "$work/photos/2024 Trip"
echo p >"$work/photos/2024 Trip/Beach.JPG"
echo q >"$work/photos/notes.txt"
check "--catalog=FOLDER builds" "0 2 files counted, 2 new" "$(run "--catalog=$work/photos") $(out)"
exec 9>"$work/prog/Tessmira.exe.lock"
flock 9
check "--find names what it finds" "0 $work/photos/2024 Trip/Beach.JPG" "$(run --find=trip/beach) $(out)"
exec 9>&-
check "a glob matches the whole path" "0 $work/photos/notes.txt" "$(run '--find=*/PHOTOS/*.TXT') $(out)"
check "nothing found is 1" "1 " "$(run --find=nowhere) $(out)"
check "an empty pattern is a usage error" "2 yes" "$(run --find=) $(err_has "needs a pattern")"
check "a missing folder is not catalogued" "1 yes" "$(run "--catalog=$work/none") $(err_has "no folder")"
rm "$work/photos/notes.txt"
check "a refresh" "0 1 files counted, 0 new" "$(run "--catalog=$work/photos") $(out)"
check "drops the gone file from the answers" "1 " "$(run --find=notes) $(out)"
exec 9>"$work/prog/TesmiCat.lbf"
flock 9
check "a held catalog fails the build, saying why" "1 yes" \
  "$(run "--catalog=$work/photos") $(err_has "held by another process")"
check "while --find answers from the index" "0 $work/photos/2024 Trip/Beach.JPG" "$(run --find=beach) $(out)"
exec 9>&-
# The lock: a run that writes the backups holds it alone, one that only reads
# them shares it (with the viewer too); none of them waits.
exec 9>"$work/prog/Tessmira.exe.lock"
flock 9
for words in "/b=$work/tree" /r "--restore=$work/tree --to=$work/back" "--versions=$work/tree" \
  "--verify=$work/tree"; do
  check "$words is refused while the backups are written" "1 yes" \
    "$(run $words) $(err_has "another Tessmira is")"
done
flock -s 9
for words in "--versions=$work/tree" "--verify=$work/tree"; do
  check "$words shares the backups with a reader" "no" "$(run $words >/dev/null; err_has "another" || echo no)"
done
check "a restore waits for no reader" "1 yes no" \
  "$(run "--restore=$work/tree" "--to=$work/back") $(err_has "another Tessmira is running") \
$([ -e "$work/back" ] && echo yes || echo no)"
exec 9>&-

# A dry run writes nothing anywhere (not even a lock file, nor the damaged
# settings set aside); a switch that takes no --dry-run refuses it.
snapshot() {
  (cd "$work" && find . -path ./out -o -path ./err -o -printf '%p %s %T@ %m\n' | sort | md5sum)
}
rm -f "$work/prog/Tessmira.exe.lock"
head -c 84 /dev/zero >"$work/prog/dTesmi.dat"
before=$(snapshot)
for words in "/b=$work/tree --dry-run" "--dry-run /b=$work/tree" "/r --dry-run" "--dry-run /r"; do
  check "$words writes nothing" "0 $before" "$(run $words) $(snapshot)"
done
for words in "--catalog=$work/tree" --catalog --find=a "--versions=$work/tree" \
  "--verify=$work/tree" "--restore=$work/tree" "--restore=$work/tree --overwrite" "$work/tree/a.jpg"; do
  check "$words refuses --dry-run" "2 2 $before" "$(run $words --dry-run) $(run --dry-run $words) $(snapshot)"
done
rm "$work/prog/dTesmi.dat"
check "--help lists the switches" yes "$(run --help >/dev/null; grep -q '/b=FOLDER' "$work/out" && echo yes)"
check "--help shows the exclude file" yes "$(grep -qx '\*\*/\.cache' "$work/out" && echo yes)"

# Excludes: the command line's patterns, the exclude file written on first
# use, and a folder tagged as a cache.
mkdir -p "$work/ex/skip" "$work/ex/keep/.cache" "$work/ex/tagged"
echo k >"$work/ex/keep/a.jpg"
echo s >"$work/ex/skip/b.jpg"
echo t >"$work/ex/c.tmp"
echo c >"$work/ex/keep/.cache/d.jpg"
printf 'Signature: 8a477f597d28d172789f06886806bc55\n' >"$work/ex/tagged/CACHEDIR.TAG"
check "a dry run lists what it would leave out" "0 yes" \
  "$(run "/b=$work/ex" --exclude='*.tmp' --dry-run) $(grep -qx "would leave out $work/ex/c.tmp" "$work/out" && echo yes)"
check "--exclude, the default file and cache tags leave things out" \
  "0 1 files copied, 4 left out by excludes no yes" \
  "$(run "/b=$work/ex" --exclude='*.tmp' --exclude=/skip) $(tail -n 1 "$work/out") \
$([ -e "$backups/F0/ex/skip" ] && echo yes || echo no) $([ -f "$work/prog/TesmiExc.txt" ] && echo yes)"
check "--no-cachedir-tag backs up a tagged folder" "0 1 files copied, 3 left out by excludes" \
  "$(run "/b=$work/ex" --exclude='*.tmp' --exclude=/skip --no-cachedir-tag) $(tail -n 1 "$work/out")"
check "--exclude needs a pattern" "2 yes" \
  "$(run "/b=$work/ex" --exclude=) $(err_has "unexpected argument after /b=FOLDER: --exclude=")"
check "--verify leaves out what the exclude file does" "1 yes" \
  "$(run "--verify=$work/ex") $(grep -q "2 left out by excludes" "$work/out" && echo yes)"
# The run log: a line for each run that ran, none for a dry run.
log_lines() { grep -c "$(printf '\t')$1$(printf '\t')" "$work/out"; }
check "--log holds the runs, with their status" "0 2 1 yes" \
  "$(run --log) $(log_lines "/b=$work/ex") $(log_lines "--verify=$work/ex") \
$(grep "$(printf '\t')--verify=$work/ex$(printf '\t')" "$work/out" | grep -q "$(printf '\t')exit 1$(printf '\t')" && echo yes)"

[ "$fails" -eq 0 ] && echo "command line: all passed"
[ "$fails" -eq 0 ]
