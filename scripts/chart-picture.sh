#!/usr/bin/env bash
# The picture of zumi chart in docs/: records the demo session's traffic
# (scripts/demo.sh), charts it, and has headless chromium take a screenshot
# of the page. Keeps the recording and the page beside the picture's build.
#
#   scripts/chart-picture.sh [OUTPUT.png] [BUILD]   (default docs/chart.png, build/normal)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/chart.png}")
build=$(realpath -m "${2:-build/normal}")
work=$build/chart-picture
mkdir -p "$work"

if [ ! -x "$build/tools/zumi" ] || [ ! -x "$build/examples/panel/zumi-panel" ]; then
  cmake -S . -B "$build" -G Ninja >/dev/null
  cmake --build "$build" -j2 --target zumi_command zumi_panel >/dev/null
fi
rm -f "$work/demo.jsonl"
ZUMI_DEMO_RECORDING=$work/demo.jsonl DISPLAY= scripts/demo.sh --no-setup "$build" >"$work/demo.log"
"$build/tools/zumi" chart "$work/demo.jsonl" -o "$work/demo.html"
"$build/tools/zumi" chart "$work/demo.jsonl" -o "$work/demo.svg"
# Root (as in CI) needs --no-sandbox; a profile of its own leaves the user's alone.
timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-dev-shm-usage --user-data-dir="$work/profile" \
  --window-size="${ZUMI_CHART_WINDOW:-1800,1000}" --screenshot="$out" "file://$work/demo.html" 2>"$work/chromium.log"
echo "saved $out (recording, page and SVG in $work)"
