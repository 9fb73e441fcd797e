#!/usr/bin/env bash
# The Windows viewer under Wine, on Xvfb with openbox: the first picture, the
# keys, the menu, the settings on closing and the reopening.
#   windows_viewer_e2e.sh TESSMIRA_EXE SAMPLES_FOLDER PHOTO_MAKER (the Linux
#   build's, for the large photos)
# WINEPREFIX names a prepared prefix; every step waits for what it can see.
set -u
wine=${WINE:-/usr/lib/wine/wine64}
work=$(mktemp -d /tmp/tessmira-wine-e2e-XXXXXX)
source "$(dirname "$0")/x_session.sh"
export WINEDEBUG=-all XDG_DATA_HOME="$work/data"
# The catalog reads every file of the fixed drives, and Wine's Z: is the
# whole Linux file system: Z: counts as removable for this run (and fixed
# again after it), so that the build reads C: alone, whatever the machine holds.
"$wine" reg add 'HKLM\Software\Wine\Drives' /v z: /d floppy /f >/dev/null 2>&1
restore_z() {
  "$wine" reg delete 'HKLM\Software\Wine\Drives' /v z: /f >/dev/null 2>&1
  "${wine%/*}/wineserver" -k 2>/dev/null
}
trap 'restore_z; cleanup' EXIT
# Wine's desktop process belongs to the prefix's server and keeps the display
# it was started on: start both anew on ours.
"${wine%/*}/wineserver" -k 2>/dev/null
"${wine%/*}/wineserver" -w 2>/dev/null

mkdir -p "$work/prog" "$work/pictures"
cp "${1:?exe}" "$work/prog/tessmira.exe"
cp "${2:?samples folder}"/* "$work/pictures/"
z() { printf 'Z:%s' "${1//\//\\}"; }
pics=$(z "$work/pictures")
name() { echo "$pics\\$1 ($2) $pics $3 Files - Tessmira 1.0"; }

start() {  # start [ARGUMENT]: runs the viewer and waits for its window
  (cd "$work/prog" && exec "$wine" "$work/prog/tessmira.exe" "$@") >"$work/viewer.log" 2>&1 &
  viewer=$!
  started+=("$viewer")
  window=$(visible_window --name ' - Tessmira 1.0$')
  [ -n "$window" ] || { echo "FAIL no window"; cat "$work/viewer.log"; exit 1; }
}
press() { key "$1"; expect_title "$2" "$(name "$3" "$4" "$5")"; }  # press KEY CHECK FILE SCALE POSITION

start "$pics\\01-dusk.jpg"
expect_title "the first title" "$(name 01-dusk.jpg '1600 x 1000 @ 50%' 6)"

# Fitted on black: the bands above and below are black, and the middle is
# the picture's own pixel there (the JPEG decoders may differ by a little).
pixel() { convert "$1" -format "%[fx:int(255*r)] %[fx:int(255*g)] %[fx:int(255*b)]" \
  -crop "1x1+$2+$3" info: 2>/dev/null; }
near() {  # near "R G B" "R G B": each channel within 8
  local a b
  read -ra a <<<"$1"
  read -ra b <<<"$2"
  for i in 0 1 2; do [ $((a[i] - b[i])) -le 8 ] && [ $((b[i] - a[i])) -le 8 ] || return 1; done
}
painted() {
  import -window "$window" "$work/shot.png" 2>/dev/null || return 1
  eval "$(xdotool getwindowgeometry --shell "$window")"
  # 1600 x 1000 fitted into the client: half size, centred.
  local top=$(((HEIGHT - 500) / 2))
  [ "$(pixel "$work/shot.png" 2 2)" = "0 0 0" ] &&
    [ "$(pixel "$work/shot.png" 2 $((HEIGHT - 3)))" = "0 0 0" ] &&
    near "$(pixel "$work/shot.png" 600 $((top + 100)))" "$(pixel "$work/pictures/01-dusk.jpg" 1200 200)"
}
check "the picture is fitted and centred on black" yes "$(wait_until painted && echo yes)"

# Shift+F10 opens the menu at the pointer; its keys choose Select Mode, Linear
# (items counted without separators: 13 is Select Mode).
overrides() {  # the visible windows no window manager frames (Wine has some always)
  local w
  for w in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
    xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: yes' && echo "$w"
  done
}
resident=$(overrides)
popup() { comm -13 <(sort <<<"$resident") <(overrides | sort) | head -n1; }
menu() {  # menu N [KEYS...]: opens the menu by Shift+F10, goes down to item N, then KEYS
  local open="" downs=()
  key shift+F10
  wait_until eval 'open=$(popup); [ -n "$open" ]' || { check "the menu opens" open closed; return; }
  for _ in $(seq "$1"); do downs+=(Down); done
  shift
  xdotool key --delay 20 "${downs[@]}" "$@" 2>/dev/null
  wait_until eval '[ -z "$(popup)" ]' || check "the menu closes" closed open
}
menu 13 Right Return
expect_title "Linear numbers the position" "$(name 01-dusk.jpg '1600 x 1000 @ 50%' '1 of 6')"
press Right "Right" 02-tall.jpg '600 x 1200 @ 50%' '2 of 6'
press Left "Left" 01-dusk.jpg '1600 x 1000 @ 50%' '1 of 6'
# A page is ten files here: past the end, it stops at the last.
press shift+Right "Shift+Right" 06-wide.gif '900 x 200 @ 88%' '6 of 6'
press Right "Right wraps to the first" 01-dusk.jpg '1600 x 1000 @ 50%' '1 of 6'
press Right "Right again" 02-tall.jpg '600 x 1200 @ 50%' '2 of 6'
# Moved away from where it opened; Full Screen covers the screen and comes
# back to the same frame.
geometry() { xdotool getwindowgeometry "$window" 2>/dev/null | tail -n 2 | tr -s ' \n' ' '; }
opened=$(geometry)
xdotool windowmove "$window" 100 80
wait_until eval '[ "$(geometry)" != "$opened" ]' || check "the window moves" moved "$opened"
before=$(geometry)
menu 16 Return
check "Full Screen covers the screen" yes "$(wait_until eval 'geometry | grep -q "Geometry: 1280x1024"' && echo yes)"
menu 16 Return
check "and leaves it as it was" "$before" "$(wait_until eval '[ "$(geometry)" = "$before" ]'; geometry)"
close_viewer
mode=$(od -An -tu4 -j8 -N4 "$work/prog/dTesmi.dat" 2>/dev/null | tr -d ' ')
check "Esc writes the settings, Linear in them" 0 "$mode"

# A second start reopens where the first ended.
start
expect_title "reopened at the same picture" "$(name 02-tall.jpg '600 x 1200 @ 50%' '2 of 6')"
check "and where the window was" "$before" "$(wait_until eval '[ "$(geometry)" = "$before" ]'; geometry)"

# A drag magnifies without stepping; the wheel zooms while it lasts.
magnify 02-tall.jpg '600 x 1200' '2 of 6'

# Catalog (every file of the fixed drives, here C:): the report's OK closes
# it only once the build has ended (item 20).
menu 20 Return
report=$(visible_window --name '^Results Report$')
check "the catalog report opens" yes "$([ -n "$report" ] && echo yes)"
closed_by_ok() { xdotool key --window "$report" Return 2>/dev/null; [ -z "$(first_visible --name '^Results Report$')" ]; }
check "and closes after the build" yes "$(wait_until closed_by_ok && echo yes)"
check "the catalog is written" yes "$([ -s "$work/prog/TesmiCat.lbf" ] && echo yes)"

# Delete asks first: No keeps the file; Yes puts it in the recycle bin (Wine's
# is the freedesktop trash under XDG_DATA_HOME) and shows the next picture.
key Delete
answer n
check "No keeps the file" yes "$([ -f "$work/pictures/02-tall.jpg" ] && echo yes)"
check "and the picture" "$(name 02-tall.jpg '600 x 1200 @ 50%' '2 of 6')" "$(title)"
key Delete
answer y
in_trash() { [ -f "$XDG_DATA_HOME/Trash/files/02-tall.jpg" ] && [ ! -f "$work/pictures/02-tall.jpg" ]; }
check "Yes moves the file to the recycle bin" yes "$(wait_until in_trash && echo yes)"
expect_title "the next picture is shown" "$(name 03-tiny.jpg '120 x 90 @ 666%' '2 of 5')"
close_viewer

# No press is lost and no held key runs on (Linear, as chosen above), also
# over ten 24-megapixel photos.
step_checks
mkdir -p "$work/photos"
"${3:?photo_maker}" "$work/photos" 10
hold_checks "$(z "$work/photos")\\photo1.jpg" 10

# One picture of each type (Linear, as chosen above): those Windows has a
# codec for draw their colour, the others are titled as not loaded.
mkdir -p "$work/types"
convert -size 64x48 xc:'rgb(200,40,90)' "PNG24:$work/flat.png"
flat=$work/flat.png
convert "$flat" "BMP3:$work/types/a.bmp"
convert "$flat" "$work/types/b.gif"
convert "$flat" -quality 95 "$work/types/c.jpeg"
cp "$flat" "$work/types/d.png"
convert "$flat" -compress lzw "$work/types/e.tif"
convert "$flat" -compress none "$work/types/f.tiff"
cwebp -quiet -lossless "$flat" -o "$work/types/g.webp"
avifenc -l "$flat" "$work/types/h.avif" >/dev/null
heif-enc -L "$flat" -o "$work/types/i.heic" >/dev/null
cjxl -d 0 "$flat" "$work/types/j.jxl" >/dev/null 2>&1
types=$(z "$work/types")
start "$types\\a.bmp"
flat_drawn() {
  import -window "$window" "$work/shot.png" 2>/dev/null || return 1
  eval "$(xdotool getwindowgeometry --shell "$window")"
  near "$(pixel "$work/shot.png" $((WIDTH / 2)) $((HEIGHT / 2)))" "200 40 90"
}
n=1
for file in a.bmp b.gif c.jpeg d.png e.tif f.tiff; do
  [ $n -gt 1 ] && key Right
  wait_until eval 'title | grep -qF "$types\\$file (" && title | grep -qF " $n of 10 Files"'
  check "$file is listed and shown" "yes" "$(title | grep -qF "$types\\$file (" && echo yes)"
  check "$file draws its colour" "yes" "$(wait_until flat_drawn && echo yes)"
  n=$((n + 1))
done
for file in g.webp h.avif i.heic j.jxl; do
  key Right
  shown_or_refused() {
    title | grep -qF "$types\\$file (" || title_is "Image Incompatable With Tessmira - $types\\$file"
  }
  check "$file is listed, shown or titled as not loaded" "yes" \
    "$(wait_until shown_or_refused && echo yes)"
done
close_viewer

[ "$fails" -eq 0 ] && echo "windows viewer end-to-end: $passes passed"
exit $((fails > 0))
