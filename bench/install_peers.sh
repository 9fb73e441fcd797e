#!/usr/bin/env bash
# The other viewers bench/press_bench.py and bench/step_bench.py time
# Tessmira against, and plocate for bench/catalog_bench.py (benchmarks only;
# no test needs them).
set -euo pipefail
missing=()
for package in feh nsxiv qimgv eog libxdamage1 libxtst6 plocate; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
