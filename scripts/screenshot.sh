#!/usr/bin/env bash
# Runs the panel under Xvfb on a private bus, changes its properties and
# sends it events with zumi, and saves a PNG of the window.
#
#   scripts/screenshot.sh [OUTPUT.png] [BUILD]   (default build/panel.png, build/normal)
set -euo pipefail
cd "$(dirname "$0")/.."
ZUMI_ROOT=$(pwd)
out=$(realpath -m "${1:-build/panel.png}")
ZUMI_BUILD=$(realpath -m "${2:-build/normal}")
export ZUMI_ROOT ZUMI_BUILD

if [ ! -x "$ZUMI_BUILD/examples/panel/zumi-snapshot" ]; then
  cmake -S . -B "$ZUMI_BUILD" -G Ninja >/dev/null
  cmake --build "$ZUMI_BUILD" -j2 --target zumi_command zumi_panel zumi_snapshot >/dev/null
fi
# shellcheck source=lib/session.sh
source scripts/lib/session.sh
PATH=$ZUMI_BUILD/tools:$PATH
PANEL=com.example.panel
TITLE="Kitchen display"

session_start
start_private_bus
start_display xvfb
start_panel "$PANEL"

zumi set "$PANEL" title "$TITLE"
zumi set "$PANEL" brightness 72
zumi send --as com.tessal.memwatchd systemMemoryVeryLow
zumi send --as com.tessal.paramd dynamicConfigUpdated --int 3 --string volume --string locale --string theme
zumi set --hash "$PANEL" playlist '[{"name": "Morning news"}, {"name": "Weather"}]' >/dev/null
# Every change is applied on the panel's main loop; the last one sets this status.
wait_for 10 sh -c "[ \"\$(zumi get $PANEL status)\" = '\"playlist received\"' ]"
wait_for 10 sh -c "[ \"\$(zumi get $PANEL brightness)\" = 72 ]"

# Give GTK a frame to paint the last change.
sleep 0.5
mkdir -p "$(dirname "$out")"
wait_for 10 "$ZUMI_BUILD/examples/panel/zumi-snapshot" "$out" "$TITLE"
echo "saved $out"
zumi set "$PANEL" kill 1
