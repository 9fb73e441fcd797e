#!/usr/bin/env bash
# End-to-end run of the real viewer under Xvfb with openbox.
#   viewer_e2e.sh TESSMIRA_BINARY SAMPLES_FOLDER (the build's bench/photo_maker
#   makes the large photos)
# Every step waits for something it can see (a title, a window, a property, a
# file, the process ending), never for a fixed time.
set -u
work=$(mktemp -d /tmp/tessmira-e2e-XXXXXX)
source "$(dirname "$0")/x_session.sh"

# The program in a folder of its own; HOME and the runtime folder are ours.
mkdir -p "$work/prog" "$work/home" "$work/run" "$work/pictures"
chmod 700 "$work/run"
cp "${1:?binary}" "$work/prog/tessmira"
cp "${2:?samples folder}"/* "$work/pictures/"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
unset XDG_DATA_HOME XDG_CONFIG_HOME QT_QPA_PLATFORM
pics="$work/pictures"

start() {  # start [ARGUMENT]: runs the viewer and waits for its window
  "$work/prog/tessmira" "$@" >"$work/viewer.log" 2>&1 &
  viewer=$!
  started+=("$viewer")
  window=$(visible_window --pid "$viewer")
  [ -n "$window" ] || { echo "FAIL no window"; cat "$work/viewer.log"; exit 1; }
}
set_mode() {  # set_mode N: select_mode in the settings file (block offset 0)
  printf "\\x$(printf %02x "$1")\\x00\\x00\\x00" |
    dd of="$work/prog/dTesmi.dat" bs=1 seek=8 conv=notrunc status=none
}
name() { echo "$pics/$1 ($2) $pics $3 Files - Tessmira 1.0"; }
# The title's path and position, without the scale (the window's size varies).
position() { title | sed 's/ (.*) .* \([0-9]* of [0-9]*\) Files.*/ \1/'; }
names() { title | grep -q "^$pics/$1 ("; }
shows() { wait_until names "$1"; }  # shows FILE: waits until the title names FILE

# First run: Deep Random (the default), one image named on the command line.
start "$pics/01-dusk.jpg"
expect_title "random-mode title" "$(name 01-dusk.jpg '1600 x 1000 @ 50%' 6)"
close_viewer

# Linear mode from the settings; the window reopens at the last image. Each
# key waits for the title of the one before, to check every title on the way.
set_mode 0
start
expect_title "linear title on reopening" "$(name 01-dusk.jpg '1600 x 1000 @ 50%' '1 of 6')"
press() { key "$1"; expect_title "$2" "$(name "$3" "$4" "$5")"; }  # press KEY CHECK FILE SCALE POSITION
press Right "Right" 02-tall.jpg '600 x 1200 @ 50%' '2 of 6'
press space "Space" 03-tiny.jpg '120 x 90 @ 666%' '3 of 6'
press Left "Left" 02-tall.jpg '600 x 1200 @ 50%' '2 of 6'
press Left "Left to the first" 01-dusk.jpg '1600 x 1000 @ 50%' '1 of 6'
press Left "Left from the first wraps to the last" 06-wide.gif '900 x 200 @ 88%' '6 of 6'

# A plain click shows the next image; a drag magnifies without stepping.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" 300 200 click 1
expect_title "click" "$(name 01-dusk.jpg '1600 x 1000 @ 50%' '1 of 6')"
magnify 01-dusk.jpg '1600 x 1000' '1 of 6'

# The picture is centred on black.
pixel() { convert "$work/shot.png" -format "%[pixel:p{$1,$2}]" info: 2>/dev/null | sed 's/^black$/srgb(0,0,0)/'; }
black="srgb(0,0,0)"
painted() {
  import -window "$window" "$work/shot.png" 2>/dev/null &&
    [ "$(pixel 2 2)" = "$black" ] && [ "$(pixel $((WIDTH - 3)) $((HEIGHT - 3)))" = "$black" ] &&
    [ "$(pixel $((WIDTH / 2)) $((HEIGHT / 2)))" != "$black" ]
}
check "the image is centred on black" "yes" "$(wait_until painted && echo yes)"

# The context menu: right click, then the keyboard (items counted without
# separators: 12 Auto Advance, 13 Select Mode, 14 Transparent, 16 Full Screen,
# 20 Catalog).
find_window() {  # the window again: changing stay-on-top may recreate it
  local w
  for w in $(windows_of_viewer); do override_redirect "$w" || { window=$w; return; }; done
}
# The menu key opens the same menu through the key table.
key Menu
check "the Menu key opens the menu" "yes" "$(wait_until eval '[ -n "$(popup)" ]' && echo yes)"
xdotool key --window "$(popup)" Escape 2>/dev/null
wait_until eval '[ -z "$(popup)" ]' || check "the menu closes" "closed" "open"
# So does Shift+F10, at the pointer wherever it is: the menu has a corner there.
xdotool mousemove 640 512
key shift+F10
open_popup=""
wait_until eval 'open_popup=$(popup); [ -n "$open_popup" ]'
check "Shift+F10 opens the menu" "yes" "$([ -n "$open_popup" ] && echo yes)"
at_pointer() {
  eval "$(xdotool getwindowgeometry --shell "$open_popup")"
  { [ "$X" -eq 640 ] || [ $((X + WIDTH)) -eq 640 ]; } && { [ "$Y" -eq 512 ] || [ $((Y + HEIGHT)) -eq 512 ]; }
}
[ -n "$open_popup" ] && check "the menu opens at the pointer" "yes" "$(at_pointer && echo yes)"
xdotool key --window "$open_popup" Escape 2>/dev/null
wait_until eval '[ -z "$(popup)" ]' || check "the menu closes" "closed" "open"
menu 13 Right Down Down Return
expect_title "Select Mode Random drops the position" "$(name 01-dusk.jpg '1600 x 1000 @ 50%' 6)"
menu 13 Right Return
shows 01-dusk.jpg
opacity_set() { xprop -id "$window" _NET_WM_WINDOW_OPACITY 2>/dev/null | grep -q '= '; }
menu 14 Return
check "Transparent sets the opacity" "yes" "$(wait_until opacity_set && echo yes)"
menu 14 Return
window_state() { xprop -id "$window" _NET_WM_STATE 2>/dev/null; }
full_on_top() { find_window && window_state | grep FULLSCREEN | grep -q ABOVE; }
neither() {
  find_window && window_state | grep -q '_NET_WM_STATE' && ! window_state | grep -q -E 'FULLSCREEN|ABOVE'
}
# Outside a subshell: the waits find the window again.
menu 16 Return
wait_until full_on_top
check "Full Screen stays on top" "yes" "$(full_on_top && echo yes)"
menu 16 Return
wait_until neither
check "leaving Full Screen returns to On Top off" "yes" "$(neither && echo yes)"
# The window's own geometry survives full screen and On Top, whichever way.
frame() {
  xwininfo -id "$window" 2>/dev/null |
    awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
         /Width:/ {w=$NF} /Height:/ {h=$NF} END {print x "," y " " w "x" h}'
}
frame_is() { find_window && [ "$(frame)" = "$1" ]; }
put_at() {  # put_at X Y W H: moves and sizes the window, waiting until it is there
  xdotool windowsize "$window" "$3" "$4"
  xdotool windowmove "$window" "$1" "$2"
  wait_until frame_is "$1,$2 $3x$4"
}
put_at 100 80 900 700
above_only() { find_window && window_state | grep -q ABOVE && ! window_state | grep -q FULLSCREEN; }
menu 16 Return
wait_until full_on_top
menu 16 Return
wait_until neither
check "leaving Full Screen brings the geometry back" "100,80 900x700" \
  "$(wait_until frame_is "100,80 900x700"; frame)"
for toggle in 1 2 3; do
  menu 15 Return
  if [ $((toggle % 2)) = 1 ]; then wait_until above_only; else wait_until neither; fi
done
check "On Top toggled three times leaves the window in place" "100,80 900x700 yes" \
  "$(wait_until frame_is "100,80 900x700"; frame) $(above_only && echo yes)"
menu 16 Return
wait_until full_on_top
menu 16 Return
wait_until above_only
check "with On Top, leaving Full Screen brings the geometry back" "100,80 900x700" \
  "$(wait_until frame_is "100,80 900x700"; frame)"
menu 15 Return
wait_until neither

# Delete: our own question; No keeps the file, Yes puts it in the trash.
key Right
shows 02-tall.jpg
key Delete
answer n
# No changes nothing: the title stays, and Right goes to the very next file.
check "No leaves the title as it was" "$pics/02-tall.jpg 2 of 6" "$(position)"
check "No keeps the file" "yes" "$([ -f "$pics/02-tall.jpg" ] && echo yes)"
key Right
shows 03-tiny.jpg
check "after No, Right shows the next file" "$pics/03-tiny.jpg 3 of 6" "$(position)"
key Left
shows 02-tall.jpg
key Delete
answer y
in_trash() { [ -f "$HOME/.local/share/Trash/files/02-tall.jpg" ] && [ ! -f "$pics/02-tall.jpg" ]; }
check "Yes moves the file to the trash" "yes" "$(wait_until in_trash && echo yes)"
shows 03-tiny.jpg
check "the next image is shown" "$pics/03-tiny.jpg 2 of 5" "$(position)"

# Catalog (every file of the fixed drives): the report opens while the build
# runs; its OK is disabled until the build has ended.
menu 20 Return
report=$(visible_window --name "^Results Report$")
check "the catalog report opens" "yes" "$([ -n "$report" ] && echo yes)"
report_closed() {
  [ -z "$(first_visible --name '^Results Report$')" ] && return 0
  xdotool key --window "$report" Return 2>/dev/null
  return 1
}
[ -n "$report" ] && check "OK closes the report once the build has ended" "yes" \
  "$(wait_until report_closed && echo yes)"

# Move and resize, close, and reopen at the same place on the same image.
put_at 120 90 700 500
geometry() { xdotool getwindowgeometry "$window" 2>/dev/null | tail -n2; }
before=$(geometry)
close_viewer
start
expect_title "reopens on the last image" "$(name 03-tiny.jpg '120 x 90 @ 555%' '2 of 5')"
check "reopens at the saved placement" "$before" \
  "$(wait_until eval '[ "$(geometry)" = "$before" ]'; geometry)"
close_viewer

# A folder named on the command line is viewed from its first file.
start "$pics"
shows 01-dusk.jpg
check "a folder argument shows its first file" "$pics/01-dusk.jpg 1 of 5" "$(position)"
# Closed while full screen, it saves the geometry it will come back to.
put_at 160 120 640 480
menu 16 Return
wait_until full_on_top
close_viewer
start
shows 01-dusk.jpg
wait_until eval 'find_window && window_state | grep -q FULLSCREEN'
menu 16 Return
wait_until neither
check "full screen saved the window's own geometry" "160,120 640x480" \
  "$(wait_until frame_is "160,120 640x480"; frame)"
close_viewer

# A saved placement is used only when it is sane: else the default 800 x 600.
put_placement() {  # the normal rectangle: left top right bottom (file offsets 44..56)
  local offset=44 value
  for value in "$@"; do
    printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((value & 255)) $((value >> 8 & 255)) \
      $((value >> 16 & 255)) $((value >> 24 & 255)))" |
      dd of="$work/prog/dTesmi.dat" bs=1 seek=$offset conv=notrunc status=none
    offset=$((offset + 4))
  done
}
for rect in "-2147483648 -2147483648 2147483647 2147483647" "500 400 100 100" \
  "5000 5000 5600 5400" "0 0 2000000000 2000000000"; do
  put_placement $rect
  start
  check "placement $rect gives the default size" "800x600" \
    "$(wait_until eval '[ "$(frame | cut -d" " -f2)" = 800x600 ]'; frame | cut -d' ' -f2)"
  close_viewer
done

# A missing path on a first start says so in the title; nothing is saved from it.
mkdir -p "$work/first"
cp "$work/prog/tessmira" "$work/first/tessmira"
"$work/first/tessmira" "$work/nothing/here.jpg" >"$work/viewer.log" 2>&1 &
viewer=$!
started+=("$viewer")
window=$(visible_window --pid "$viewer")
expect_title "a missing path's title" \
  "Cannot open $work/nothing/here.jpg: No such file or directory - Tessmira 1.0"
close_viewer

# A settings file cut short is set aside and the user told once, in a box
# over the window; the defaults are used.
head -c 84 /dev/zero >"$work/first/dTesmi.dat"
"$work/first/tessmira" >"$work/viewer.log" 2>&1 &
viewer=$!
started+=("$viewer")
box=$(visible_window --all --pid "$viewer" --name '^Tessmira$')
check "a damaged settings file is told in a box" "yes yes" \
  "$([ -n "$box" ] && echo yes) $([ -f "$work/first/dTesmi.dat.damaged" ] && echo yes)"
# Return on the box, again until it goes: the box may take keys only a while
# after it is shown and active.
box_up() { [ -n "$(first_visible --all --pid "$viewer" --name '^Tessmira$')" ]; }
box_answered() {
  box_up || return 0
  xdotool windowactivate "$box" 2>/dev/null
  if [ "$(xdotool getactivewindow 2>/dev/null)" = "$box" ]; then
    xdotool key Return
  else
    xdotool key --window "$box" Return
  fi
  ! box_up
}
[ -n "$box" ] && { wait_until box_answered ||
  check "the box closes" "closed" "open (active: $(xdotool getactivewindow getwindowname 2>&1))"; }
window=$(visible_window --pid "$viewer")
close_viewer

# No press is lost and no held key runs on (Linear, from the settings), also
# over ten 24-megapixel photos.
set_mode 0
step_checks
mkdir -p "$work/photos"
"$(dirname "$1")/../bench/photo_maker" "$work/photos" 10
hold_checks "$work/photos/photo1.jpg" 10

# Last, as nothing after it may depend on the timer: Auto Advance, then a
# burst of close requests (the last may force the end) that ends cleanly.
start "$pics/01-dusk.jpg"
shows 01-dusk.jpg
menu 12 Right Down Return
shows 03-tiny.jpg
check "Auto Advance 5 Seconds steps by itself" "$pics/03-tiny.jpg 2 of 5" "$(position)"
key --delay 0 Escape Escape Escape Escape Escape Escape
if wait_until eval '! running'; then
  wait "$viewer"
  check "a burst of close requests ends cleanly" "0" "$?"
else
  check "a burst of close requests ends the program" "ended" "running"
fi
viewer=""

echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
