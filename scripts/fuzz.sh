#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time (FUZZ_SECONDS,
# default 60) from the committed seeds, under ASan and UBSan. Any crash,
# sanitizer report or leak fails the run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-60}
"$top/scripts/build.sh" fuzz list_fuzz
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp "$top"/fuzz/list_seeds/* "$corpus"/
"$top/build/fuzz/list_fuzz" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
  "$corpus" 2>&1 | tail -n 20
echo "fuzz: list_fuzz ran ${seconds}s without a finding"
