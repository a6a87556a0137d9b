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
root=$(pwd)
seconds=${1:-60}
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 20 ]; then
  echo "usage: scripts/soak.sh [SECONDS]  (at least 20)" >&2
  exit 2
fi

scripts/install-deps.sh

build=${ZUMI_SOAK_BUILD:-build/soak}
echo "== building in $build" >&2
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZUMI_BUILD_TESTS=OFF -DZUMI_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target zumi_soak >/dev/null
soak="$build/bench/zumi_soak"

work=$(mktemp -d /tmp/zumi-soak.XXXXXX)
daemon="" server="" client=""
cleanup() {
  for p in $client $server $daemon; do kill -CONT "$p" 2>/dev/null || true; kill -9 "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_daemon() {
  rm -f "$work/bus" "$work/address"
  dbus-daemon --config-file="$root/bench/bench-bus.conf" --address="unix:path=$work/bus" \
    --nofork --nopidfile --print-address=3 3>"$work/address" 2>>"$work/daemon.log" &
  daemon=$!
  for _ in $(seq 100); do [ -s "$work/address" ] && return; sleep 0.05; done
  echo "the private dbus-daemon did not start:" >&2
  cat "$work/daemon.log" >&2
  exit 1
}

start_daemon
ZUMI_BUS_ADDRESS=$(head -n1 "$work/address")  # with the guid of this daemon's run
ZUMI_CALL_TIMEOUT_MS=1000
export ZUMI_BUS_ADDRESS ZUMI_CALL_TIMEOUT_MS
"$soak" serve >"$work/server.log" 2>&1 &
server=$!
sleep 0.5
"$soak" "$seconds" >"$work/soak.log" 2>&1 &
client=$!

# The faults, at a quarter, half and three quarters of the run.
sleep $((seconds / 4))
echo "== $((seconds / 4)) s: the daemon stopped for 3 s" >&2
kill -STOP "$daemon"; sleep 3; kill -CONT "$daemon"
sleep $((seconds / 4 - 3))
for when in half "three quarters"; do
  echo "== at $when: the daemon killed and started again" >&2
  kill -9 "$daemon"; wait "$daemon" 2>/dev/null || true
  start_daemon
  sleep $((seconds / 4))
done

# The run ends on its own; one that does not within 30 s more has hung.
for _ in $(seq 300); do kill -0 "$client" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$client" 2>/dev/null; then
  echo "FAILED: the soak process did not end 30 s after its time (hung); its last lines:" >&2
  tail -n 3 "$work/soak.log" >&2
  exit 1
fi
wait "$client" || { echo "FAILED: the soak process exited with status $?" >&2; cat "$work/soak.log" >&2; exit 1; }

python3 - "$work/soak.log" "$seconds" <<'PY'
import re, sys
path, seconds = sys.argv[1], int(sys.argv[2])
rows = []
for line in open(path):
    m = re.match(r"(at|end|unanswered) (.*)", line.strip())
    if m:
        rows.append((m.group(1), {k: int(v) for k, v in re.findall(r"(\w+)=(-?\d+)", m.group(2))}))
if not rows or rows[-1][0] == "at":
    sys.exit("FAILED: the soak process printed no end line:\n" + open(path).read())
last = rows[-1][1]
# Memory after the first faults against the end: what grows with time grows here.
settled = next(r for k, r in rows if r["t"] >= seconds // 2 + 2)
tail_start = next(r for k, r in rows if r["t"] >= seconds * 7 // 8)
checks = [
    ("no call outlasted the call timeout (1 s) by more than 0.5 s", last["worst_call_ms"] <= 1500,
     "%d ms" % last["worst_call_ms"]),
    ("every asynchronous read was answered", rows[-1][0] == "end", rows[-1][0]),
    ("all rounds worked again after the last restart (last eighth)",
     last["failures"] == tail_start["failures"] and last["rounds"] > tail_start["rounds"],
     "%d rounds, %d failures" % (last["rounds"] - tail_start["rounds"], last["failures"] - tail_start["failures"])),
    ("asynchronous reads worked again (last eighth)",
     last["async_failed"] == tail_start["async_failed"] and last["async_ok"] > tail_start["async_ok"],
     "%d answered" % (last["async_ok"] - tail_start["async_ok"])),
    ("resident memory grew by at most 2 MiB over the second half", last["rss_kb"] - settled["rss_kb"] <= 2048,
     "%d -> %d kB" % (settled["rss_kb"], last["rss_kb"])),
]
print("rounds %d, failed while the bus was away %d, events lost %d, asynchronous reads %d (%d failed)"
      % (last["rounds"], last["failures"], last["lost"], last["async_ok"] + last["async_failed"], last["async_failed"]))
failed = 0
for label, ok, value in checks:
    print("%-70s %-28s %s" % (label, value, "ok" if ok else "FAILED"))
    failed += not ok
sys.exit(1 if failed else 0)
PY
