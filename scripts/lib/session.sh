# Shell helpers for scripts that run the panel and the zumi command on a
# private bus: source it, call session_start, then start_private_bus,
# start_display and start_panel. Everything started is stopped when the
# script exits (an EXIT trap), in reverse order.
#
# Needs: ZUMI_BUILD (the build directory), ZUMI_ROOT (the source tree).

session_pids=()
session_dir=""

session_start() {
  session_dir=$(mktemp -d "${TMPDIR:-/tmp}/zumi-session.XXXXXX")
  trap session_stop EXIT
}

session_stop() {
  local status=$?
  local i
  for ((i = ${#session_pids[@]} - 1; i >= 0; i--)); do
    kill "${session_pids[i]}" 2>/dev/null || true
    wait "${session_pids[i]}" 2>/dev/null || true
  done
  session_pids=()
  [ -n "$session_dir" ] && rm -rf "$session_dir"
  return $status
}

# wait_for SECONDS COMMAND...: runs COMMAND until it succeeds, for at most
# SECONDS; fails when it never did.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}

file_has_line() { [ -s "$1" ] && [ "$(wc -l <"$1")" -ge 1 ]; }

# Starts dbus-daemon with our own configuration (ZUMI_BUS_CONFIG names
# another), listening on ADDRESS (a new socket in the session's directory by
# default), and exports
# ZUMI_BUS_ADDRESS, which the bus library connects to: the address as the
# daemon printed it. private_bus_pid is the daemon's process.
private_bus_pid=""
start_private_bus() {
  rm -f "$session_dir/bus-address"
  dbus-daemon --config-file="${ZUMI_BUS_CONFIG:-$ZUMI_ROOT/scripts/zumi-bus.conf}" --address="${1:-unix:dir=$session_dir}" \
    --nofork --nopidfile --print-address=3 3>"$session_dir/bus-address" 2>>"$session_dir/bus.log" &
  private_bus_pid=$!
  session_pids+=($!)
  wait_for 10 file_has_line "$session_dir/bus-address" ||
    { echo "dbus-daemon did not start: $(cat "$session_dir/bus.log")" >&2; return 1; }
  ZUMI_BUS_ADDRESS=$(head -1 "$session_dir/bus-address")
  export ZUMI_BUS_ADDRESS
}

# Starts Xvfb when there is no display (or when forced with "xvfb") and
# exports DISPLAY.
start_display() {
  if [ -n "${DISPLAY:-}" ] && [ "${1:-}" != xvfb ]; then return 0; fi
  Xvfb -displayfd 3 -screen 0 "${ZUMI_SCREEN:-640x360x24}" -nolisten tcp \
    3>"$session_dir/display" 2>"$session_dir/xvfb.log" &
  session_pids+=($!)
  wait_for 10 file_has_line "$session_dir/display" ||
    { echo "Xvfb did not start: $(cat "$session_dir/xvfb.log")" >&2; return 1; }
  DISPLAY=":$(head -1 "$session_dir/display")"
  export DISPLAY
}

# The panel publishes "playlist" last: once it is listed, all of them are.
panel_is_serving() { "$ZUMI_BUILD/tools/zumi" list "$1" | grep -q '^playlist '; }

# start_panel SERVICE: starts the panel and waits until its service is on
# the bus. Sets panel_pid; the panel's output goes to $session_dir/panel.log.
start_panel() {
  "$ZUMI_BUILD/examples/panel/zumi-panel" "$1" >"$session_dir/panel.log" 2>&1 &
  panel_pid=$!
  session_pids+=($panel_pid)
  wait_for 20 panel_is_serving "$1" ||
    { echo "the panel did not come up: $(cat "$session_dir/panel.log")" >&2; return 1; }
}
