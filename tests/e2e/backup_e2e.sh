#!/usr/bin/env bash
# The backup switches run as a user would, checking that no file of the tree
# goes without a copy while the run says it succeeded, and that nothing
# outside the backup root is ever written.
#   backup_e2e.sh TESSMIRA_BINARY
set -u
work=$(mktemp -d /tmp/tessmira-backup-XXXXXX)
cleanup() {
  [ -n "${runner:-}" ] && kill -9 "$runner" 2>/dev/null
  chmod -R u+rwx "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fails=0
check() { # check NAME EXPECTED ACTUAL
  [ "$2" = "$3" ] && return
  fails=$((fails + 1))
  printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
}
mkdir -p "$work/prog" "$work/home" "$work/run" "$work/tree/sub" "$work/elsewhere"
cp "${1:?binary}" "$work/prog/tessmira"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
unset XDG_DATA_HOME XDG_CONFIG_HOME DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
run() { "$work/prog/tessmira" "$@" >"$work/out" 2>"$work/err"; echo $?; }
out() { cat "$work/out"; }
err_has() { grep -q -- "$1" "$work/err" && echo yes; }
backups="$work/home/Backup/Tessmira"
tree="$work/tree"
catalog="$work/prog/TesmiCat.lbf"
settings="$work/prog/dTesmi.dat"
fresh() { rm -rf "$backups" "$catalog"; }
# put_u32 FILE OFFSET VALUE: a little-endian word written in place.
put_u32() {
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($3 & 255)) $(($3 >> 8 & 255)) \
    $(($3 >> 16 & 255)) $(($3 >> 24 & 255)))" |
    dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
echo a >"$tree/a.txt"
echo b >"$tree/sub/b.txt"

# A folder named "low" is the viewer's rule, never the backup's.
mkdir -p "$tree/Low" "$tree/sub/LOW"
echo l >"$tree/Low/l.txt"
echo d >"$tree/sub/LOW/d.txt"
whole=0
for attempt in 1 2 3 4 5 6 7 8 9 10; do
  fresh
  [ "$(run "/b=$tree")" = 0 ] && [ "$(out)" = "4 files copied" ] &&
    [ -f "$backups/F0/tree/Low/l.txt" ] && [ -f "$backups/F0/tree/sub/LOW/d.txt" ] &&
    whole=$((whole + 1))
done
check "low folders backed up on every run" 10 "$whole"

# Linear mode takes the folder's own files and says why the rest stayed out.
run /r >/dev/null # writes the settings file
put_u32 "$settings" 8 0
fresh
check "Linear: own files only" "0 1 yes" \
  "$(run "/b=$tree") $(out | cut -d' ' -f1) $(err_has "subfolders not entered: the selection mode is Linear")"
put_u32 "$settings" 8 3

# The first backup of a home holding the default root, not made yet: the
# backup never goes into itself, and the catalog names only the home's files.
fresh
rm -rf "$work/home/Backup"
mkdir -p "$work/home/Backup" "$work/home/Documents"
for n in $(seq 1 30); do echo "$n" >"$work/home/Documents/d$n.txt"; done
check "a home with the root inside is backed up once" "0 30 files copied 0" \
  "$(run "/b=$work/home") $(out) $(find "$backups/F0/home/Backup" 2>/dev/null | wc -l)"
check "and again copies nothing" "0 files copied" "$(run "/b=$work/home" >/dev/null; out)"

# A catalog whose header says it holds no slot is no catalog: set aside and
# started anew, so the next backups work again.
fresh
run "/b=$tree" >/dev/null
put_u32 "$catalog" 1360 0
echo new >"$tree/new.txt"
check "a catalog of no slots is set aside" "0 5 files copied yes" \
  "$(run "/b=$tree") $(out) $(err_has "the catalog was no catalog")"
check "and the new one takes records" "0 files copied" "$(run "/b=$tree" >/dev/null; out)"
rm "$tree/new.txt" "$catalog.damaged"

# Changed means changed: an older file put back, or another size at the same time.
fresh
run "/b=$tree" >/dev/null
echo "restored" >"$tree/a.txt"
touch -d 2001-01-01 "$tree/a.txt"
check "an older file put back is copied" "0 1 files copied restored" \
  "$(run "/b=$tree") $(out) $(cat "$backups/F0/tree/a.txt")"
touch -r "$tree/a.txt" "$work/when"
echo "longer than before" >"$tree/a.txt"
touch -r "$work/when" "$tree/a.txt"
check "another size at the same time is copied" "1 files copied" "$(run "/b=$tree" >/dev/null; out)"
check "nothing changed, nothing copied" "0 files copied" "$(run "/b=$tree" >/dev/null; out)"

# A user's file named like a temporary copy is a file like any other: copied,
# rotated, and its copy kept once it is deleted. What a stopped run left in
# the root's own folder of temporaries goes with the next run.
echo mine >"$tree/sub/b.txt.tessmira-Qw34Er"
mkdir -p "$backups/.tessmira-temp"
echo partial >"$backups/.tessmira-temp/a.txt.tessmira-Xy12Ab"
check "a file named like a temporary is backed up" "0 mine no" \
  "$(run "/b=$tree") $(cat "$backups/F0/tree/sub/b.txt.tessmira-Qw34Er") \
$([ -e "$backups/.tessmira-temp/a.txt.tessmira-Xy12Ab" ] && echo yes || echo no)"
rm "$tree/sub/b.txt.tessmira-Qw34Er"
run /r >/dev/null
run "/b=$tree" >/dev/null
check "rotated, and kept once deleted" "no mine" \
  "$([ -e "$backups/F0/tree/sub/b.txt.tessmira-Qw34Er" ] && echo yes || echo no) \
$(cat "$backups/F1/tree/sub/b.txt.tessmira-Qw34Er")"

# A run killed during a large copy leaves no part of it anywhere.
fresh
rm -rf "$work/home/Backup"
mkdir -p "$work/big"
copying=no
for size in 512M 2G 6G; do
  truncate -s "$size" "$work/big/large.bin"
  "$work/prog/tessmira" "/b=$work/big" >/dev/null 2>&1 &
  runner=$!
  while kill -0 "$runner" 2>/dev/null; do
    if ls -l "/proc/$runner/fd" 2>/dev/null | grep -q "$backups/F0"; then
      copying=yes
      kill -9 "$runner"
      break
    fi
  done
  wait "$runner" 2>/dev/null
  runner=
  [ "$copying" = yes ] && break
  fresh
done
check "the run was killed while copying" yes "$copying"
check "no partial file after the kill" "" "$(find "$backups" -type f -name '*tessmira-*' 2>/dev/null)"
truncate -s 1M "$work/big/large.bin"
check "the next run copies it whole" "0 1048576" "$(run "/b=$work/big") $(stat -c %s "$backups/F0/big/large.bin")"
run /r >/dev/null
check "nothing partial in F1" "" "$(find "$backups" -type f -name '*tessmira-*')"
rm -rf "$work/big"

# A catalog with damaged slots: its good records keep their times.
fresh
run "/b=$tree" >/dev/null
# Records fill slots 0 to 3; slot 2's tag becomes one no list holds.
put_u32 "$catalog" $((1524 + 2 * 1040)) 0x7fffffff
check "damaged records are dropped and the run goes on" "0 1 files copied yes" \
  "$(run "/b=$tree") $(out) $(err_has "1 damaged records")"
check "and the catalog is sound again" "0 0 files copied" "$(run "/b=$tree") $(out)"
printf 'XXXX' | dd of="$catalog" bs=1 seek=0 conv=notrunc status=none
check "a catalog beyond repair is set aside" "0 4 files copied yes XXXX" \
  "$(run "/b=$tree") $(out) $(err_has "TesmiCat.lbf.damaged") $(head -c4 "$work/prog/TesmiCat.lbf.damaged")"
echo "precious" >"$work/precious.txt"
rm "$catalog"
ln -s "$work/precious.txt" "$catalog"
run "/b=$tree" >/dev/null
check "a catalog link to another file: that file is untouched" "precious link file" \
  "$(cat "$work/precious.txt") $([ -L "$catalog.damaged" ] && echo link) $([ -f "$catalog" ] && [ ! -L "$catalog" ] && echo file)"

# Links planted inside the backup root are refused, never written through.
plant() { # plant LINK: LINK made to point at a folder outside the root
  rm -rf "$1" "$work/elsewhere"
  mkdir -p "$(dirname "$1")" "$work/elsewhere"
  echo "inner" >"$work/elsewhere/inner.txt"
  ln -s "$work/elsewhere" "$1"
}
outside() { echo "$(ls "$work/elsewhere" | tr '\n' ' ')$(cat "$work/elsewhere/inner.txt")"; }
for link in "$backups/F0" "$backups/F0/tree" "$backups/F0/tree/sub"; do
  rm -f "$catalog"
  rm -rf "$backups"
  plant "$link"
  check "a link at ${link#"$backups/"}: refused" "1 yes inner.txt inner" \
    "$(run "/b=$tree") $(err_has "a symbolic link, not followed") $(outside)"
done
check "the rest of the tree is still copied" "$(cat "$tree/a.txt")" "$(cat "$backups/F0/tree/a.txt")"
rm -rf "$backups/F0/tree/sub" "$catalog"
mkdir -p "$backups/F0/tree/sub"
ln -s "$work/elsewhere/inner.txt" "$backups/F0/tree/sub/b.txt"
check "a link in a file's place is replaced, not written through" "0 inner.txt inner file" \
  "$(run "/b=$tree") $(outside) $([ -f "$backups/F0/tree/sub/b.txt" ] && [ ! -L "$backups/F0/tree/sub/b.txt" ] && echo file)"
plant "$backups/F1"
check "/r refuses a generation that is a link" "1 yes inner.txt inner" \
  "$(run /r) $(err_has "a symbolic link, not followed") $(outside)"
rm -rf "$backups"

# Every skip is a failure: an unreadable folder (read by a user who may not
# read it), and a copy whose path would not fit.
locked="$work/tree/locked"
mkdir -p "$locked"
echo secret >"$locked/s.txt"
chmod 000 "$locked"
fresh
if [ "$(id -u)" = 0 ]; then
  chown -R nobody "$work"
  chmod 755 "$work"
  as_user() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }
else
  as_user() { "$@"; }
fi
status=$(as_user "$work/prog/tessmira" "/b=$tree" >"$work/out" 2>"$work/err"; echo $?)
check "an unreadable folder fails the run" "1 yes 4 files copied, 1 failed" \
  "$status $(err_has "cannot read $locked: Permission denied") $(out)"
chmod 755 "$locked"
[ "$(id -u)" = 0 ] && chown -R root "$work"
fresh
deep="$tree/long"
# The source path fits; its copy's, 24 characters longer, does not.
while [ ${#deep} -lt 577 ]; do deep="$deep/abcdefghijklmnopqrstuvwxyz"; done
mkdir -p "$deep"
echo far >"$deep/f.txt"
check "a copy path that would not fit fails the run" "1 yes" \
  "$(run "/b=$tree") $(err_has "the path would be too long")"
rm -rf "$tree/long" "$locked"

# Smaller mends: an absolute folder from a deleted working folder; /r with an
# emptied backup root; a settings file that is a link; leftovers of a save.
mkdir "$work/gone"
check "a deleted working folder does not matter" 0 \
  "$(cd "$work/gone" && rmdir "$work/gone" && run "/b=$tree")"
mv "$settings" "$work/real.dat"
ln -s "$work/real.dat" "$settings"
echo torn >"$settings.Ab12Cd"
before=$(od -An -tu4 -j1720 -N4 "$work/real.dat" | tr -d ' ')
run /r >/dev/null
check "a linked settings file is written where it points" "link $((before + 1))" \
  "$([ -L "$settings" ] && echo link) $(od -An -tu4 -j1720 -N4 "$work/real.dat" | tr -d ' ')"
check "a torn save's temporary is removed" no "$([ -e "$settings.Ab12Cd" ] && echo yes || echo no)"
dd if=/dev/zero of="$work/real.dat" bs=1 seek=8940 count=600 conv=notrunc status=none
before=$(od -An -tu4 -j1720 -N4 "$work/real.dat" | tr -d ' ')
check "/r with an emptied backup root rotates the default one" "0 $((before + 1))" \
  "$(run /r) $(od -An -tu4 -j1720 -N4 "$work/real.dat" | tr -d ' ')"
check "a /b= folder too long to hold" "2 yes" \
  "$(run "/b=/$(printf 'x%.0s' $(seq 1 700))") $(err_has "too long")"
rm "$settings"

# The way back: a file's copies listed, the tree restored as it stood in F1,
# elsewhere and in place, and the newest copies verified.
fresh
rm -rf "$tree"
mkdir -p "$tree/sub"
echo one >"$tree/a.txt"
echo two >"$tree/sub/b.txt"
touch -d '2021-03-04 05:06:07' "$tree/a.txt"
run "/b=$tree" >/dev/null
run /r >/dev/null
echo three >"$tree/a.txt"
run "/b=$tree" >/dev/null
check "--versions lists a file's copies, newest first" "0 F0 F1 2021-03-04 05:06:07" \
  "$(TZ=UTC run "--versions=$tree/a.txt") $(cut -f1 "$work/out" | tr '\n' ' ')$(sed -n 2p "$work/out" | cut -f3)"
check "--versions of a file never backed up" "1 yes" "$(run "--versions=$tree/none") $(err_has "no copy")"
check "--versions= needs a path" 2 "$(run "--versions=")"
check "--restore writes F1's tree elsewhere, with its times" "0 one two $(date -d '2021-03-04 05:06:07' +%s)" \
  "$(run "--restore=$tree" --from=F1 "--to=$work/back") $(cat "$work/back/a.txt" "$work/back/sub/b.txt" |
    tr '\n' ' ')$(stat -c %Y "$work/back/a.txt")"
check "a file that differs is left as it is" "1 three" "$(run "--restore=$tree/a.txt" --from=F1) $(cat "$tree/a.txt")"
check "--overwrite replaces it" "0 one" "$(run "--restore=$tree/a.txt" --from=f1 --overwrite) $(cat "$tree/a.txt")"
check "an unknown generation is a usage error" 2 "$(run "--restore=$tree" --from=F11)"
check "--verify finds the newest copies sound" "0 2 files verified, no problem" "$(run "--verify=$tree") $(out)"
: >"$backups/F1/tree/sub/b.txt"
check "and a copy cut short" "1 yes" "$(run "--verify=$tree") $(err_has "tree/sub/b.txt is not the copy")"
rm -rf "$work/back"

# A dry run tells what it would do and changes no byte: of the backup root,
# the data folder or the tree.
echo four >"$tree/a.txt"
echo new >"$tree/c.txt"
state() { (cd "$work" && find prog home tree -printf '%p %s %T@ %m\n' | sort; find prog home tree -type f -exec md5sum {} + | sort); }
before=$(state)
check "/b= --dry-run tells what it would copy" \
  "0 2 files would be copied; nothing was written|would copy $tree/a.txt|would copy $tree/c.txt" \
  "$(run "/b=$tree" --dry-run) $(sort "$work/out" | tr '\n' '|' | sed 's/|$//')"
run "/b=$work/elsewhere" --dry-run >/dev/null  # a folder never backed up: no name recorded
check "/r --dry-run tells the moves" "0 yes" "$(run --dry-run /r) $(grep -q '^would move F0 into F1$' "$work/out" && echo yes)"
check "and nothing changed" "$before" "$(state)"
check "--dry-run alone is a usage error" 2 "$(run --dry-run)"

# Any number of files: 150,000, none left out.
fresh
rm -rf "$tree"
for folder in $(seq 1 150); do
  mkdir -p "$work/many/$folder"
  (cd "$work/many/$folder" && touch $(seq -f "f%g" 1 1000))
done
# Ctrl+C stops the run between two files: nothing partial, said, not 0.
"$work/prog/tessmira" "/b=$work/many" >"$work/out" 2>"$work/err" &
runner=$!
for _ in $(seq 1 6000); do
  [ "$(find "$backups/F0/many" -type f 2>/dev/null | head -n 1000 | wc -l)" -ge 1000 ] && break
  kill -0 "$runner" 2>/dev/null || break
  sleep 0.05
done
kill -INT "$runner"
wait "$runner"
status=$?
runner=""
copies=$(find "$backups/F0/many" -type f | wc -l)
check "Ctrl+C stops the backup and says so" "130 yes yes" \
  "$status $(err_has "stopped by an interrupt") $([ "$copies" -lt 150000 ] && echo yes)"
check "leaving no partial copy" "" "$(find "$backups" -type f -name '*tessmira-*')"
fresh
check "150,000 files all copied" "0 150000 files copied 150000" \
  "$(run "/b=$work/many") $(out) $(find "$backups/F0/many" -type f | wc -l)"

[ "$fails" -eq 0 ] && echo "backup: all passed"
[ "$fails" -eq 0 ]
