#!/usr/bin/env bash
# End-to-end run of the real viewer under Xvfb with openbox: keys, clicks, the
# magnifier, closing and reopening where it was, and a screenshot.
#   viewer_e2e.sh TESSMIRA_BINARY SAMPLES_FOLDER
set -u
binary=${1:?binary}
samples=${2:?samples folder}
work=$(mktemp -d /tmp/tessmira-e2e-XXXXXX)
fails=0
passes=0
cleanup() {
  [ -n "${viewer:-}" ] && kill -9 "$viewer" 2>/dev/null
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then
    passes=$((passes + 1))
  else
    fails=$((fails + 1))
    printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
  fi
}

# A display of our own, its number chosen by the server.
exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
openbox >/dev/null 2>&1 &
wm=$!
sleep 0.5

# The program in a folder of its own; HOME and the runtime folder are ours.
mkdir -p "$work/prog" "$work/home" "$work/run" "$work/pictures"
chmod 700 "$work/run"
cp "$binary" "$work/prog/tessmira"
cp "$samples"/* "$work/pictures/"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
unset XDG_DATA_HOME XDG_CONFIG_HOME QT_QPA_PLATFORM
pics="$work/pictures"

visible_window() {  # visible_window SEARCH...: waits up to 10 s for a visible window
  local found=""
  for _ in $(seq 100); do
    found=$(xdotool search --onlyvisible "$@" 2>/dev/null | head -n1)
    [ -n "$found" ] && break
    sleep 0.1
  done
  echo "$found"
}
start() {  # start [ARGUMENT]: runs the viewer and waits for its window
  "$work/prog/tessmira" "$@" >"$work/viewer.log" 2>&1 &
  viewer=$!
  window=$(visible_window --pid "$viewer")
  [ -n "$window" ] || { echo "FAIL no window"; cat "$work/viewer.log"; exit 1; }
}
title() { xdotool getwindowname "$window" 2>/dev/null; }
wait_title() {  # wait_title EXPECTED: waits up to 10 s for the title
  for _ in $(seq 100); do [ "$(title)" = "$1" ] && break; sleep 0.1; done
  title
}
key() { xdotool key --window "$window" "$@"; }
set_mode() {  # set_mode N: select_mode in the settings file (block offset 0)
  printf "\\x$(printf %02x "$1")\\x00\\x00\\x00" |
    dd of="$work/prog/dTesmi.dat" bs=1 seek=8 conv=notrunc status=none
}
close_viewer() {
  key Escape
  # The window may be gone before the release arrives; never leave the key down.
  xdotool keyup Escape 2>/dev/null
  for _ in $(seq 100); do kill -0 "$viewer" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$viewer" 2>/dev/null; then check "Esc ends the viewer" "ended" "running"; fi
  viewer=""
}
name() { echo "$pics/$1 ($2) $pics $3 Files - Tessmira 1.0"; }
# The title's path and position, without the scale (the window's size varies).
position() { title | sed 's/ (.*) .* \([0-9]* of [0-9]*\) Files.*/ \1/'; }

# First run: Deep Random (the default), one image named on the command line.
start "$pics/01-dusk.jpg"
check "random-mode title" "$(name 01-dusk.jpg '1600 x 1000 @ 50%' 6)" \
  "$(wait_title "$(name 01-dusk.jpg '1600 x 1000 @ 50%' 6)")"
close_viewer
check "settings file written" "10008" "$(stat -c %s "$work/prog/dTesmi.dat" 2>/dev/null)"

# Linear mode from the settings; the window reopens at the last image.
set_mode 0
start
t1="$(name 01-dusk.jpg '1600 x 1000 @ 50%' '1 of 6')"
check "linear title on reopening" "$t1" "$(wait_title "$t1")"
key Right
check "Right" "$(name 02-tall.jpg '600 x 1200 @ 50%' '2 of 6')" \
  "$(wait_title "$(name 02-tall.jpg '600 x 1200 @ 50%' '2 of 6')")"
key space
check "Space" "$(name 03-tiny.jpg '120 x 90 @ 666%' '3 of 6')" \
  "$(wait_title "$(name 03-tiny.jpg '120 x 90 @ 666%' '3 of 6')")"
key Left
check "Left" "$(name 02-tall.jpg '600 x 1200 @ 50%' '2 of 6')" \
  "$(wait_title "$(name 02-tall.jpg '600 x 1200 @ 50%' '2 of 6')")"
key Left Left
sleep 1
key Left
check "Left from the first wraps to the last" "$(name 06-wide.gif '900 x 200 @ 88%' '6 of 6')" \
  "$(wait_title "$(name 06-wide.gif '900 x 200 @ 88%' '6 of 6')")"
key shift+Right
check "Shift+Right past the end stays on the last" \
  "$(name 06-wide.gif '900 x 200 @ 88%' '6 of 6')" \
  "$(wait_title "$(name 06-wide.gif '900 x 200 @ 88%' '6 of 6')")"

# A plain click shows the next image; a drag magnifies without stepping.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" 300 200 click 1
check "click" "$(name 01-dusk.jpg '1600 x 1000 @ 50%' '1 of 6')" \
  "$(wait_title "$(name 01-dusk.jpg '1600 x 1000 @ 50%' '1 of 6')")"
xdotool mousemove --window "$window" 300 200 mousedown 1
xdotool mousemove --window "$window" 320 220
check "drag doubles the scale" "$(name 01-dusk.jpg '1600 x 1000 @ 100%' '1 of 6')" \
  "$(wait_title "$(name 01-dusk.jpg '1600 x 1000 @ 100%' '1 of 6')")"
xdotool click 4 click 4
check "wheel zooms in" "$(name 01-dusk.jpg '1600 x 1000 @ 400%' '1 of 6')" \
  "$(wait_title "$(name 01-dusk.jpg '1600 x 1000 @ 400%' '1 of 6')")"
xdotool mouseup 1
check "release ends the drag, no step" "$(name 01-dusk.jpg '1600 x 1000 @ 50%' '1 of 6')" \
  "$(wait_title "$(name 01-dusk.jpg '1600 x 1000 @ 50%' '1 of 6')")"
xdotool click 4
sleep 0.5
check "wheel without a drag does nothing" "$(name 01-dusk.jpg '1600 x 1000 @ 50%' '1 of 6')" "$(title)"

# The picture is centred on black.
sleep 0.5
import -window "$window" "$work/shot.png" 2>/dev/null
pixel() { convert "$work/shot.png" -format "%[pixel:p{$1,$2}]" info: 2>/dev/null; }
black="srgb(0,0,0)"
check "top left corner black" "$black" "$(pixel 2 2 | sed 's/^black$/srgb(0,0,0)/')"
check "bottom right corner black" "$black" \
  "$(pixel $((WIDTH - 3)) $((HEIGHT - 3)) | sed 's/^black$/srgb(0,0,0)/')"
check "centre shows the image" "yes" \
  "$([ "$(pixel $((WIDTH / 2)) $((HEIGHT / 2)) | sed 's/^black$/srgb(0,0,0)/')" != "$black" ] && echo yes)"

# The context menu: right click, then the keyboard. Items in order: About,
# Help, Delete File, Execute, Select File..., Select Folder..., Recent
# Folders, Change to current directory, Change to lower directory, Open
# Current Dir, Resync List, Auto Advance, Select Mode, Transparent, On Top,
# Full Screen, Settings, Catalog, Exit.
menu() {  # menu N [KEYS...]: opens the menu and goes down to item N
  xdotool mousemove --window "$window" 200 150 click 3
  sleep 0.4
  local downs=()
  for _ in $(seq "$1"); do downs+=(Down); done
  shift
  xdotool key --delay 30 "${downs[@]}" "$@"
}
find_window() {  # the window again: changing stay-on-top may recreate it
  window=$(xdotool search --onlyvisible --pid "$viewer" 2>/dev/null | head -n1)
}
menu 13 Right Down Down Return
check "Random drops the position" "$(name 01-dusk.jpg '1600 x 1000 @ 50%' 6)" \
  "$(wait_title "$(name 01-dusk.jpg '1600 x 1000 @ 50%' 6)")"
menu 13 Right Return
check "Linear brings it back" "$(name 01-dusk.jpg '1600 x 1000 @ 50%' '1 of 6')" \
  "$(wait_title "$(name 01-dusk.jpg '1600 x 1000 @ 50%' '1 of 6')")"
menu 12 Right Down Return
check "Auto Advance 5 Seconds steps by itself" "$(name 02-tall.jpg '600 x 1200 @ 50%' '2 of 6')" \
  "$(wait_title "$(name 02-tall.jpg '600 x 1200 @ 50%' '2 of 6')")"
menu 12 Right Return
menu 14 Return
sleep 0.5
check "Transparent sets the opacity" "yes" \
  "$(xprop -id "$window" _NET_WM_WINDOW_OPACITY | grep -q '= ' && echo yes)"
menu 14 Return
menu 16 Return
sleep 1
find_window
state=$(xprop -id "$window" _NET_WM_STATE)
check "Full Screen" "yes" "$(echo "$state" | grep -q FULLSCREEN && echo yes)"
check "Full Screen stays on top" "yes" "$(echo "$state" | grep -q ABOVE && echo yes)"
menu 16 Return
sleep 1
find_window
check "leaving Full Screen returns to On Top off" "no" \
  "$(xprop -id "$window" _NET_WM_STATE | grep -q -E 'FULLSCREEN|ABOVE' && echo yes || echo no)"

# Delete: our own question; No keeps the file, Yes puts it in the trash.
shown=$(title)
key Delete
sleep 0.8
xdotool key n
sleep 0.5
check "No keeps the file" "yes" "$([ -f "$pics/02-tall.jpg" ] && echo yes)"
key Delete
sleep 0.8
xdotool key y
check "Yes moves the file to the trash" "yes" \
  "$(for _ in $(seq 50); do [ -f "$HOME/.local/share/Trash/files/02-tall.jpg" ] && break; sleep 0.1; done
     [ -f "$HOME/.local/share/Trash/files/02-tall.jpg" ] && [ ! -f "$pics/02-tall.jpg" ] && echo yes)"
# The index moved on at the No already, so the file after the next one shows.
for _ in $(seq 100); do title | grep -q "^$pics/04-dunes.bmp (" && break; sleep 0.1; done
check "the next image is shown" "$pics/04-dunes.bmp 3 of 5" "$(position)"
key Left

# Recent folders: entry 0 is the pictures folder viewed before the first
# start's image (it has no images); choosing entry 0 again comes back.
menu 7 Right Return
check "a recent folder is viewed" "No valid images in directory - $HOME/Pictures" \
  "$(wait_title "No valid images in directory - $HOME/Pictures")"
menu 7 Right Return
for _ in $(seq 100); do title | grep -q "^$pics/01-dusk.jpg (" && break; sleep 0.1; done
check "and the folder before it is entry 0 now" "$pics/01-dusk.jpg 1 of 5" "$(position)"
key Right

# Catalog: the report opens while the build runs (Linear mode: the root
# folder of each drive only) and closes with OK once it has ended.
menu 18 Return
report=$(visible_window --name "^Results Report$")
check "the catalog report opens" "yes" "$([ -n "$report" ] && echo yes)"
for _ in $(seq 300); do [ -f "$work/prog/TesmiCat.lbf" ] && break; sleep 0.1; done
sleep 2
[ -n "$report" ] && xdotool key --window "$report" Return
for _ in $(seq 100); do xdotool search --onlyvisible --name "^Results Report$" >/dev/null 2>&1 || break; sleep 0.1; done
check "OK closes the report" "closed" \
  "$(xdotool search --onlyvisible --name "^Results Report$" >/dev/null 2>&1 && echo open || echo closed)"
check "the catalog file is there" "DATA1000" "$(head -c 8 "$work/prog/TesmiCat.lbf" 2>/dev/null)"

# Move and resize, close, and reopen at the same place on the same image.
xdotool windowsize "$window" 700 500
xdotool windowmove "$window" 120 90
sleep 0.5
before=$(xdotool getwindowgeometry "$window" | tail -n2)
close_viewer
start
check "reopens on the last image" "$(name 03-tiny.jpg '120 x 90 @ 555%' '2 of 5')" \
  "$(wait_title "$(name 03-tiny.jpg '120 x 90 @ 555%' '2 of 5')")"
check "reopens at the saved placement" "$before" "$(xdotool getwindowgeometry "$window" | tail -n2)"

# A second instance still opens a window of its own.
first=$viewer
first_window=$window
start "$pics/04-dunes.bmp"
check "second instance has a window" "yes" "$([ "$window" != "$first_window" ] && echo yes)"
check "second instance shows its image" "$(name 04-dunes.bmp '320 x 200 @ 218%' '3 of 5')" \
  "$(wait_title "$(name 04-dunes.bmp '320 x 200 @ 218%' '3 of 5')")"
close_viewer
viewer=$first
window=$first_window
close_viewer

# Close requests in a burst: counted, the last one may force the end before
# the worker answers; either way the program ends cleanly.
start "$pics/01-dusk.jpg"
xdotool key --window "$window" --delay 0 Escape Escape Escape Escape Escape Escape 2>/dev/null
xdotool keyup Escape 2>/dev/null
status=timeout
for _ in $(seq 100); do
  if ! kill -0 "$viewer" 2>/dev/null; then wait "$viewer"; status=$?; break; fi
  sleep 0.1
done
check "a burst of close requests ends cleanly" "0" "$status"
viewer=""

echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
