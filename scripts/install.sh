#!/usr/bin/env bash
# Installs Tessmira for everyone on this machine: the program, its help page
# and icon, and "DefSet.txt" (so each user's settings and catalog go to their
# own data folder) in /usr/local/lib/tessmira/, with a link in /usr/local/bin.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
prefix=${PREFIX:-/usr/local}
"$top/scripts/setup.sh"
"$top/scripts/build.sh" release >/dev/null
folder="$prefix/lib/tessmira"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" install -d "$folder" "$prefix/bin"
"${sudo_cmd[@]}" install -m 755 "$top/build/release/src/tessmira" "$folder/tessmira"
"${sudo_cmd[@]}" install -m 644 "$top/resources/ReadMe.htm" "$top/resources/tessmira.png" "$folder/"
echo "Settings live in each user's data folder." | "${sudo_cmd[@]}" tee "$folder/DefSet.txt" >/dev/null
"${sudo_cmd[@]}" ln -sf "$folder/tessmira" "$prefix/bin/tessmira"
echo "installed: $prefix/bin/tessmira -> $folder/tessmira"
