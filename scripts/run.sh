#!/usr/bin/env bash
# Sets up the machine, builds Tessmira and starts the viewer: on the image
# given, or on the first of the project's own sample images.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" release >/dev/null
image=${1:-$top/samples/01-dusk.jpg}
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display to show the viewer on." >&2
  echo "  On a desktop, run this from a terminal of the desktop session." >&2
  echo "  Without one, a virtual display works: xvfb-run -a bash scripts/run.sh" >&2
  exit 1
fi
exec "$top/build/release/src/tessmira" "$image"
