#!/usr/bin/env bash
# The demo: installs what is missing, builds the zumi command and the panel,
# starts a private bus and the panel (under Xvfb when there is no display),
# and walks through a short session with zumi, printing each command and its
# output. Exits 0 only when every step gave the expected result.
#
#   scripts/demo.sh                      everything, from a fresh machine
#   scripts/demo.sh --no-setup BUILD     the session only, with a built tree
set -euo pipefail
cd "$(dirname "$0")/.."
ZUMI_ROOT=$(pwd)

if [ "${1:-}" = --no-setup ]; then
  ZUMI_BUILD=$(cd "${2:?--no-setup needs the build directory}" && pwd)
else
  scripts/install-deps.sh
  ZUMI_BUILD=$ZUMI_ROOT/build/normal
  echo "== building the zumi command and the panel in $ZUMI_BUILD"
  cmake -S . -B "$ZUMI_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$ZUMI_BUILD" -j"$(nproc)" --target zumi_command zumi_panel >"$ZUMI_ROOT/build/demo-build.log" 2>&1 ||
    { tail -30 "$ZUMI_ROOT/build/demo-build.log"; exit 1; }
fi
export ZUMI_ROOT ZUMI_BUILD
# shellcheck source=lib/session.sh
source scripts/lib/session.sh
PATH=$ZUMI_BUILD/tools:$PATH
PANEL=com.example.panel

session_start
start_private_bus
start_display
start_panel "$PANEL"
echo "== a private bus at $ZUMI_BUS_ADDRESS, the panel on display $DISPLAY"
# ZUMI_DEMO_RECORDING=FILE records the session's traffic into FILE (what
# scripts/chart-picture.sh draws); the recorder stops with the session.
if [ -n "${ZUMI_DEMO_RECORDING:-}" ]; then
  zumi record "$ZUMI_DEMO_RECORDING" 2>"$session_dir/record.log" &
  session_pids+=($!)
  wait_for 10 grep -q "watching the bus" "$session_dir/record.log"
fi

passed=0
failed=0
output=""
status=0

# The command as one would type it: arguments quoted where the shell needs it.
shown() {
  local arg line=""
  for arg in "$@"; do
    if [[ "$arg" =~ ^[A-Za-z0-9._/:=@+-]+$ ]]; then line+=" $arg"
    else line+=" '${arg//\'/\'\\\'\'}'"; fi
  done
  echo "\$${line}"
}

# run CMD...: prints the command and its output (indented), keeps both.
run() {
  echo
  shown "$@"
  set +e
  output=$("$@" 2>&1)
  status=$?
  set -e
  [ -z "$output" ] || sed 's/^/    /' <<<"$output"
  [ $status -eq 0 ] || echo "    (exit status $status)"
}

verdict() {
  if [ "$1" = ok ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "    UNEXPECTED: $2"
  fi
}

# expect STATUS EXPECTED-OUTPUT CMD...: the exact output and exit status.
expect() {
  local want_status=$1 want=$2
  shift 2
  run "$@"
  if [ "$status" -eq "$want_status" ] && [ "$output" = "$want" ]; then verdict ok
  else verdict bad "expected status $want_status and output: $want"; fi
}

# expect_eventually EXPECTED-OUTPUT CMD...: a write reaches the panel on its
# main loop a moment after the bus call returns, so a read-back may retry
# (quietly) for a few seconds before it is shown.
expect_eventually() {
  local want=$1
  shift
  wait_for 10 output_is "$want" "$@" || true
  expect 0 "$want" "$@"
}
output_is() { local want=$1; shift; [ "$("$@" 2>&1)" = "$want" ]; }

echo
echo "== what the panel serves"
expect 0 "$PANEL" zumi list
expect 0 "brightness  int     read-write
kill        int     write-only
playlist    hash    write-only
status      string  read-only
title       string  read-write" zumi list "$PANEL"
expect 0 "50" zumi get "$PANEL" brightness
expect 0 '"Zumi panel"' zumi get "$PANEL" title
expect 0 '"ready"' zumi get "$PANEL" status

echo
echo "== writing: the slider and the heading move on the panel's main loop"
expect 0 "" zumi set "$PANEL" brightness 80
expect_eventually "80" zumi get "$PANEL" brightness
expect 0 "" zumi set "$PANEL" title "Hello from zumi"
expect_eventually '"Hello from zumi"' zumi get --string "$PANEL" title
expect 1 "zumi: Could not set the request property. --source: $PANEL --property: status --value: broken --errorCode: 9 --error: The property does not allow this access" \
  zumi set "$PANEL" status broken

echo
echo "== events: the panel listens for memory pressure and configuration updates"
expect 0 "" zumi send --as com.tessal.memwatchd systemMemoryLow
expect_eventually '"memory event: memory low (1)"' zumi get "$PANEL" status
expect 0 "" zumi send --as com.tessal.paramd dynamicConfigUpdated --int 2 --string volume --string locale
expect_eventually '"configuration updated"' zumi get "$PANEL" status

echo
echo "== a hash array: the panel shows the playlist (write-only: no reply is printed)"
expect 0 "" zumi set --hash "$PANEL" playlist '[{"name": "Intro", "seconds": 95}, {"name": "Theme", "seconds": 184}]'
expect_eventually '"playlist received"' zumi get "$PANEL" status

echo
echo "== mistakes are told apart: 1 for a refusal, 2 for a usage error"
expect 1 "zumi: Could not retrieve the request property. --source: $PANEL --property: volume --errorCode: 8 --error: The service publishes no such property" \
  zumi get "$PANEL" volume
expect 2 "zumi set: VALUE must be an integer, not 'bright' (see zumi set --help)" zumi set --int "$PANEL" brightness bright

echo
echo "== closing the panel from the bus"
expect 0 "" zumi set "$PANEL" kill 1
if wait_for 10 sh -c "! kill -0 $panel_pid"; then
  echo "    the panel has exited: $(tail -1 "$session_dir/panel.log")"
  verdict ok
else
  verdict bad "the panel is still running"
fi

echo
echo "demo: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
