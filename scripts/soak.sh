#!/usr/bin/env bash
# The soak command: the library used as an application uses it, for SECONDS
# (60 by default), while its private dbus-daemon is stopped (SIGSTOP, 3 s)
# and killed and started again (twice) under it. Judges what an application
# living for days needs: no call outlasts the call timeout, everything works
# again after each fault, memory does not grow, and every asynchronous read
# is answered. The daemon's address is used as it printed it, with its guid.
#
#   scripts/soak.sh [SECONDS]     (at least 20)
#   ZUMI_SOAK_BUILD   build directory (build/soak)
set -euo pipefail
cd "$(dirname "$0")/.."
ZUMI_ROOT=$(pwd)
seconds=${1:-60}
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 20 ]; then
  echo "usage: scripts/soak.sh [SECONDS]  (at least 20)" >&2
  exit 2
fi

scripts/install-deps.sh

ZUMI_BUILD=${ZUMI_SOAK_BUILD:-build/soak}
echo "== building in $ZUMI_BUILD" >&2
cmake -S "$ZUMI_ROOT" -B "$ZUMI_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZUMI_BUILD_TESTS=OFF -DZUMI_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$ZUMI_BUILD" -j"$(nproc)" --target zumi_soak >/dev/null
soak="$ZUMI_BUILD/bench/zumi_soak"

# shellcheck source=lib/session.sh
. scripts/lib/session.sh
session_start
# A path of our own, so that the daemon started again listens where the
# first one did.
address="unix:path=$session_dir/bus"
start_private_bus "$address"
ZUMI_CALL_TIMEOUT_MS=1000
export ZUMI_CALL_TIMEOUT_MS
"$soak" serve >"$session_dir/server.log" 2>&1 &
session_pids+=($!)
sleep 0.5
"$soak" "$seconds" >"$session_dir/soak.log" 2>&1 &
client=$!
session_pids+=("$client")

# The faults, at a quarter, half and three quarters of the run.
sleep $((seconds / 4))
echo "== $((seconds / 4)) s: the daemon stopped for 3 s" >&2
kill -STOP "$private_bus_pid"
sleep 3
kill -CONT "$private_bus_pid"
sleep $((seconds / 4 - 3))
for when in half "three quarters"; do
  echo "== at $when: the daemon killed and started again" >&2
  kill -9 "$private_bus_pid"
  wait "$private_bus_pid" 2>/dev/null || true
  rm -f "$session_dir/bus"
  start_private_bus "$address"
  sleep $((seconds / 4))
done

# The run ends on its own; one that does not within 30 s more has hung.
soak_ended() { ! kill -0 "$client" 2>/dev/null; }
wait_for 30 soak_ended || {
  echo "FAILED: the soak process did not end 30 s after its time (hung); its last lines:" >&2
  tail -n 3 "$session_dir/soak.log" >&2
  exit 1
}
status=0
wait "$client" || status=$?
if [ "$status" -ne 0 ]; then
  echo "FAILED: the soak process exited with status $status:" >&2
  cat "$session_dir/soak.log" >&2
  exit 1
fi

python3 "$ZUMI_ROOT/bench/soak/judge.py" "$session_dir/soak.log" "$seconds"
