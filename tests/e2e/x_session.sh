# What the end-to-end runs of a viewer window share: checks, waits on what
# can be seen, a display of their own with openbox, and the window's title
# and keys. Sourced after work (a scratch folder) is set.
#   TESSMIRA_E2E_TIMEOUT: seconds any one step may take (60)
limit=${TESSMIRA_E2E_TIMEOUT:-60}
fails=0
passes=0
started=()
cleanup() {  # keys pressed through XTEST stay down if their release got lost
  [ -n "${DISPLAY:-}" ] && xdotool keyup Escape Delete Right Left space shift y n 2>/dev/null
  for pid in "${started[@]}"; do kill -9 "$pid" 2>/dev/null; done
  for pid in "${started[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

check() {  # check NAME EXPECTED ACTUAL
  [ "$2" = "$3" ] && { passes=$((passes + 1)); return; }
  fails=$((fails + 1))
  printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
  stacks
}
stacks() {  # where the running viewer's threads are, for a failure that is rare
  [ -n "${viewer:-}" ] && kill -0 "$viewer" 2>/dev/null && command -v gdb >/dev/null || return 0
  [ "${stacks_shown:-0}" = 1 ] && return 0
  stacks_shown=1
  echo "  the viewer's threads:"
  timeout 60 gdb -p "$viewer" -batch -ex "thread apply all bt 12" 2>/dev/null |
    grep -E '^(Thread|#)' | sed 's/^/    /'
}
wait_until() {  # wait_until COMMAND...: polls until it succeeds; 1 after the limit
  local deadline=$((SECONDS + limit))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

# No session bus: libdbus would otherwise fork to autolaunch one when Qt's
# accessibility bridge first asks for it, and a fork of a sanitized,
# threaded process can hang in the child, leaving the viewer waiting on it.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus"

# A display of our own, its number chosen by the server.
exec 3<>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
started+=($!)
wait_until test -s "$work/display" || { echo "FAIL Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
openbox >/dev/null 2>&1 &
started+=($!)
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
wait_until wm_ready || { echo "FAIL openbox did not start"; exit 1; }

first_visible() { xdotool search --onlyvisible "$@" 2>/dev/null | head -n1; }
found=""
window_found() { found=$(first_visible "$@") && [ -n "$found" ]; }
visible_window() {  # visible_window SEARCH...: the first visible match, waiting for it
  wait_until window_found "$@"
  echo "$found"
}
title() { xdotool getwindowname "$window" 2>/dev/null; }
title_is() { [ "$(title)" = "$1" ]; }
expect_title() {  # expect_title NAME EXPECTED: waits for the title, then checks it
  wait_until title_is "$2"
  check "$1" "$2" "$(title)"
}
# Keys go where a user's would: to the active window, once it is ours.
active() {
  [ "$(xdotool getactivewindow 2>/dev/null)" = "$window" ] && return 0
  xdotool windowactivate "$window" 2>/dev/null
  return 1
}
key() { wait_until active; xdotool key "$@"; }
# The viewer started last ($viewer) ends on Esc.
running() { kill -0 "$viewer" 2>/dev/null; }
close_viewer() {
  key Escape
  if wait_until eval '! running'; then
    wait "$viewer" 2>/dev/null
  else
    check "Esc ends the viewer" "ended" "running"
  fi
  viewer=""
}
# The magnifier on FILE (SIZE, POSITION, fitted at 50%): a drag doubles the
# scale, two wheel notches zoom in, the release ends the drag without a step.
# name FILE SCALE POSITION is the script's own title.
magnify() {
  xdotool mousemove --window "$window" 300 200 mousedown 1
  xdotool mousemove --window "$window" 320 220
  expect_title "drag doubles the scale" "$(name "$1" "$2 @ 100%" "$3")"
  xdotool click 4 click 4
  expect_title "wheel zooms in" "$(name "$1" "$2 @ 400%" "$3")"
  xdotool mouseup 1
  expect_title "release ends the drag, no step" "$(name "$1" "$2 @ 50%" "$3")"
}
# Our own Yes/No question, titled as the program.
question() { first_visible --name '^Tessmira 1.0$'; }
answer() {  # answer KEY: waits for the question to be up and active, answers it
  local box=""
  wait_until eval 'box=$(question); [ -n "$box" ] && [ "$(xdotool getactivewindow 2>/dev/null)" = "$box" ]' ||
    { check "the question is asked" "asked" "not asked"; return; }
  xdotool key "$1"
  wait_until eval '[ -z "$(question)" ]' || check "the answer closes the question" "closed" "open"
}
# Steps as a user presses them, in Linear mode: the viewer's own start
# (start) with its remembered picture, titles ending "N of M Files - ...".
position_of() { title | sed -n 's/.* \([0-9]*\) of \([0-9]*\) Files - Tessmira 1.0$/\1 \2/p'; }
numbered() { [ -n "$(position_of)" ]; }
on_from() {  # on_from "N M" K: the position K files on from N of M
  local n=${1% *} m=${1#* }
  echo "$(((n - 1 + $2) % m + 1)) $m"
}
at_position() { [ "$(position_of)" = "$1" ]; }
steps_between() { echo $(((${2% *} - ${1% *} + ${1#* }) % ${1#* })); }  # "N M" "N' M"
# Nothing more is served once the title reads the same at 20 polls in a row.
same_title="" same_looks=0
title_still() {
  local now
  now=$(title)
  if [ "$now" = "$same_title" ]; then same_looks=$((same_looks + 1)); else same_title=$now same_looks=0; fi
  [ "$same_looks" -ge 20 ]
}
settled() { same_title="" same_looks=0; wait_until title_still; }
step_checks() {
  local acted=0 from released after
  # Right at once after the first title: acted on in every start.
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    start
    wait_until numbered
    from=$(position_of)
    key Right
    wait_until at_position "$(on_from "$from" 1)" && acted=$((acted + 1))
    close_viewer
  done
  check "Right at once after the first title acts in every start" "10" "$acted"
  start
  wait_until numbered
  wait_until active
  from=$(position_of)
  xdotool key --delay 15 Right Right Right
  expect_position "three quick Rights land three files on" "$(on_from "$from" 3)"
  # A held Right: its repeats never run on after the key is let go (a step
  # under way at the release counts as before it).
  from=$(position_of)
  wait_until active
  xdotool keydown Right
  limit=5 wait_until eval '[ "$(position_of)" = "$(on_from "$from" 3)" ]'
  xdotool keyup Right
  wait_until numbered
  released=$(position_of)
  [ "$(steps_between "$from" "$released")" -le 1 ] &&
    echo "note: no key repeats seen while Right was held; the single step is checked"
  check "a held Right steps" yes "$([ "$(steps_between "$from" "$released")" -ge 1 ] && echo yes)"
  settled
  after=$(position_of)
  echo "held Right: $(steps_between "$from" "$released") steps while held," \
    "$(steps_between "$released" "$after") after release"
  check "a held Right stops within one picture of its release" yes \
    "$([ "$(steps_between "$released" "$after")" -le 1 ] && echo yes)"
  close_viewer
}
# TRIES holds of Right, each of two seconds (the input, as a user gives it)
# over the pictures of FIRST_PICTURE's folder, slow to decode (each step takes
# longer than the key's repeat interval), then the key let go while a step is
# under way: no other step may follow it, in every try; in the second half
# both cores are kept busy by loops of the test's own. Every title the window
# takes is recorded (xprop -spy), so that none is missed between two looks.
now_ms() { echo $(($(date +%s%N) / 1000000)); }
positions_in() {  # positions_in FILE: the numbered positions its titles show, in turn
  sed -n 's/.* \([0-9]*\) of \([0-9]*\) Files - Tessmira 1.0"$/\1 \2/p' "$1" | uniq
}
hold_checks() {  # hold_checks FIRST_PICTURE TRIES
  local good=0 end spy try released after held busy=()
  start "$1"
  wait_until numbered
  for try in $(seq "$2"); do
    if [ "$try" -gt $(($2 / 2)) ] && [ ${#busy[@]} -eq 0 ]; then
      for _ in 1 2; do
        (while :; do :; done) &
        busy+=($!)
        started+=($!)
      done
    fi
    settled
    stdbuf -oL xprop -id "$window" -spy _NET_WM_NAME >"$work/titles" 2>/dev/null &
    spy=$!
    started+=("$spy")
    wait_until eval '[ -s "$work/titles" ]'
    wait_until active
    xdotool keydown Right
    end=$(($(now_ms) + 2000))
    wait_until eval '[ "$(now_ms)" -ge "$end" ] && ! numbered'
    xdotool keyup Right
    released=$(($(wc -l <"$work/titles") + 1))
    settled
    kill "$spy" 2>/dev/null
    wait "$spy" 2>/dev/null
    head -n "$((released - 1))" "$work/titles" >"$work/before"
    tail -n "+$released" "$work/titles" >"$work/after"
    held=$(($(positions_in "$work/before" | wc -l) - 1))
    after=$(positions_in "$work/after" | wc -l)
    echo "hold $try of $2$([ ${#busy[@]} -gt 0 ] && echo ', both cores busy'):" \
      "$held steps while held, $after after the release"
    [ "$after" -le 1 ] && good=$((good + 1))
  done
  kill "${busy[@]}" 2>/dev/null
  wait "${busy[@]}" 2>/dev/null
  close_viewer
  check "a held Right stops within one step of its release, $2 tries in a row" "$2" "$good"
}
expect_position() {  # expect_position NAME "N M"
  wait_until at_position "$2"
  check "$1" "$2" "$(position_of)"
}

# The viewer's context menu: opened by a right click, walked by its keys
# (items counted without separators).
windows_of_viewer() { xdotool search --onlyvisible --pid "$viewer" 2>/dev/null; }
override_redirect() { xwininfo -id "$1" 2>/dev/null | grep -q 'Override Redirect State: yes'; }
popup() {  # the open menu's window, if any
  local w
  for w in $(windows_of_viewer); do override_redirect "$w" && { echo "$w"; return; }; done
}
menu() {  # menu N [KEYS...]: opens the menu, goes down to item N, then KEYS
  local open="" downs=()
  xdotool mousemove --window "$window" 200 150 click 3
  wait_until eval 'open=$(popup); [ -n "$open" ]' || { check "the menu opens" "open" "closed"; return; }
  for _ in $(seq "$1"); do downs+=(Down); done
  shift
  # A submenu takes the keys sent to its parent. The last key closes the
  # menu before its release is sent, which xdotool reports.
  xdotool key --window "$open" --delay 20 "${downs[@]}" "$@" 2>/dev/null
  wait_until eval '[ -z "$(popup)" ]' || check "the menu closes" "closed" "open"
}
