#!/usr/bin/env bash
# End-to-end run of the real viewer over one picture of every type, and its
# colour management against the X display's profile, under Xvfb with openbox.
#   formats_e2e.sh TESSMIRA_BINARY ROOT_PROFILE_TOOL
# Every step waits for something it can see (a title, a pixel), never for a
# fixed time.
set -u
work=$(mktemp -d /tmp/tessmira-formats-XXXXXX)
source "$(dirname "$0")/x_session.sh"

mkdir -p "$work/prog" "$work/home" "$work/run" "$work/pictures"
chmod 700 "$work/run"
cp "${1:?binary}" "$work/prog/tessmira"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
unset XDG_DATA_HOME XDG_CONFIG_HOME QT_QPA_PLATFORM
pics="$work/pictures"
profiles=/usr/share/color/icc/colord

# One flat picture of each type, named in the order Linear shows them.
convert -size 64x48 xc:'rgb(200,40,90)' "PNG24:$work/flat.png"
flat=$work/flat.png
convert "$flat" "BMP3:$pics/a.bmp"
convert "$flat" "$pics/b.gif"
convert "$flat" -quality 95 "$pics/c.jpeg"
convert "$flat" -quality 95 "$pics/d.JPG"
cp "$flat" "$pics/e.png"
cwebp -quiet -lossless "$flat" -o "$pics/f.webp"
convert "$flat" -compress lzw "$pics/g.tif"
avifenc -l "$flat" "$pics/h.avif" >/dev/null
heif-enc -L "$flat" -o "$pics/i.heic" >/dev/null
cjxl -d 0 "$flat" "$pics/j.jxl" >/dev/null 2>&1
# The same numbers tagged with a profile that swaps red and green.
convert "$flat" -define png:exclude-chunks=gAMA,cHRM,sRGB -profile "$profiles/SwappedRedAndGreen.icc" \
  "$pics/k-swapped.png"
count=11

start() {
  "$work/prog/tessmira" "$@" >"$work/viewer.log" 2>&1 &
  viewer=$!
  started+=("$viewer")
  window=$(visible_window --pid "$viewer")
  [ -n "$window" ] || { echo "FAIL no window"; cat "$work/viewer.log"; exit 1; }
}
set_mode() {
  printf "\\x$(printf %02x "$1")\\x00\\x00\\x00" |
    dd of="$work/prog/dTesmi.dat" bs=1 seek=8 conv=notrunc status=none
}
position() { title | sed 's/ (.*) .* \([0-9]* of [0-9]*\) Files.*/ \1/'; }
# The colour at the window's centre, as "R G B".
centre() {
  import -window "$window" "$work/shot.png" 2>/dev/null || return 1
  eval "$(xdotool getwindowgeometry --shell "$window")"
  convert "$work/shot.png" -format "%[fx:int(255*p{$((WIDTH / 2)),$((HEIGHT / 2))}.r+.5)] \
%[fx:int(255*p{$((WIDTH / 2)),$((HEIGHT / 2))}.g+.5)] \
%[fx:int(255*p{$((WIDTH / 2)),$((HEIGHT / 2))}.b+.5)]" info: 2>/dev/null
}
near() {  # near "R G B" "R G B" TOLERANCE
  local a=($1) b=($2) i
  [ ${#a[@]} = 3 ] || return 1
  for i in 0 1 2; do
    local d=$((a[i] - b[i]))
    [ "${d#-}" -le "$3" ] || return 1
  done
}
drawn=""
draws() { drawn=$(centre) && near "$drawn" "$1" "$2"; }
expect_colour() {  # expect_colour NAME "R G B" TOLERANCE: waits for the centre to be it
  wait_until draws "$2" "$3"
  check "$1" "yes" "$(near "$drawn" "$2" "$3" && echo yes || echo "no: $drawn")"
}
transicc_of() {  # transicc_of FROM TO R G B: what Little CMS gives, rounded
  echo "$3 $4 $5" | transicc -t 0 -n -i "$1" -o "$2" 2>/dev/null | tail -1 |
    awk '{for (i = 1; i <= 3; i++) {v = int($i + 0.5); if (v < 0) v = 0; if (v > 255) v = 255;
          printf "%s%d", (i > 1 ? " " : ""), v}}'
}

# Linear from the settings, from the first file: every type in turn.
start "$pics/a.bmp"
wait_until eval 'title | grep -q "^$pics/a.bmp ("'
close_viewer
set_mode 0
start
n=1
for file in a.bmp b.gif c.jpeg d.JPG e.png f.webp g.tif h.avif i.heic j.jxl; do
  [ $n -gt 1 ] && key Right
  wait_until eval '[ "$(position)" = "$pics/$file $n of $count" ]'
  check "$file is listed and shown" "$pics/$file $n of $count" "$(position)"
  case $file in *.jpeg | *.JPG) tolerance=6 ;; *.heic) tolerance=3 ;; *) tolerance=1 ;; esac
  expect_colour "$file draws its colour" "200 40 90" "$tolerance"
  n=$((n + 1))
done

# The tagged picture: red and green change places on an sRGB display.
key Right
wait_until eval '[ "$(position)" = "$pics/k-swapped.png $count of $count" ]'
swapped_srgb=$(transicc_of "$profiles/SwappedRedAndGreen.icc" '*sRGB' 200 40 90)
expect_colour "a tagged picture is drawn in the display's colours" "$swapped_srgb" 2
# A display profile set on the root window redraws it for that display.
root_profile=${2:?root profile tool}
"$root_profile" "$profiles/AdobeRGB1998.icc"
swapped_adobe=$(transicc_of "$profiles/SwappedRedAndGreen.icc" "$profiles/AdobeRGB1998.icc" 200 40 90)
expect_colour "the root window's profile is the display's" "$swapped_adobe" 2
"$root_profile"
expect_colour "without it, sRGB again" "$swapped_srgb" 2
# Colour Management off (menu item 18, separators not counted): the raw numbers.
menu 18 Return
expect_colour "Colour Management off draws the numbers as stored" "200 40 90" 1
# More Picture Types off (item 17): BMP, JPG and GIF alone are listed.
menu 17 Return
key Right
wait_until eval 'title | grep -q " of 3 Files"'
check "More Picture Types off lists BMP, JPG and GIF alone" "3" \
  "$(title | sed -n 's/.* of \([0-9]*\) Files.*/\1/p')"
close_viewer
check "both settings are kept in their own file" "more_picture_types=0 colour_management=0" \
  "$(tr '\n' ' ' <"$work/prog/TesmiSet.txt" | sed 's/ $//')"

echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
