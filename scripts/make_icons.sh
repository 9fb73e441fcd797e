#!/usr/bin/env bash
# Draws the icon's bitmaps from resources/tessmira.svg: the hicolor PNGs the
# install puts in share/icons, the window's 64-pixel one and the Windows .ico.
# The results are committed; run this after changing the drawing.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
command -v rsvg-convert >/dev/null || {
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends librsvg2-bin imagemagick
}
cd "$top/resources"
for size in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" tessmira.svg -o "icons/tessmira-$size.png"
done
cp icons/tessmira-64.png tessmira.png
convert icons/tessmira-16.png icons/tessmira-32.png icons/tessmira-48.png icons/tessmira-256.png \
  tessmira.ico
