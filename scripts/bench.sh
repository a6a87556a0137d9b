#!/usr/bin/env bash
# The benchmark command: builds the benchmarks in Release, starts a private
# dbus-daemon of our own configuration, runs every benchmark executable with
# its figures and baselines interleaved in random order and repeated, then
# prints one table of medians (figure, baseline, ratio, target) and writes
# the JSON results. The table ends with the footprint: stripped libraries and
# the resident memory of a minimal application, for this machine and for each
# cross build that scripts/cross.sh left in build/aarch64 or build/armhf.
#
#   ZUMI_BENCH_REPETITIONS  repetitions of every benchmark (default 9)
#   ZUMI_BENCH_MIN_TIME     seconds per repetition of a fast benchmark (0.1)
#   ZUMI_BENCH_FILTER       a Google Benchmark filter regex (all)
#   ZUMI_BENCH_BUILD        build directory (build/bench)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh

build=${ZUMI_BENCH_BUILD:-build/bench}
repetitions=${ZUMI_BENCH_REPETITIONS:-9}
min_time=${ZUMI_BENCH_MIN_TIME:-0.1}
filter=${ZUMI_BENCH_FILTER:-.}
results="$build/results"

echo "== building (Release) in $build" >&2
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DZUMI_BUILD_TESTS=OFF -DZUMI_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j2 --target zumi_benchmarks >/dev/null

work=$(mktemp -d /tmp/zumi-bench-bus.XXXXXX)
daemon=""
cleanup() {
  if [ -n "$daemon" ]; then kill "$daemon" 2>/dev/null || true; wait "$daemon" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

dbus-daemon --config-file="$root/bench/bench-bus.conf" --address="unix:path=$work/bus" \
  --nofork --nopidfile --print-address=3 3>"$work/address" 2>"$work/daemon.log" &
daemon=$!
for _ in $(seq 100); do
  [ -s "$work/address" ] && break
  sleep 0.05
done
if [ ! -s "$work/address" ]; then
  echo "the private dbus-daemon did not start:" >&2
  cat "$work/daemon.log" >&2
  exit 1
fi
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/address")
# libzumi reads ZUMI_BUS_ADDRESS; the baselines and GDBus read the session address.
ZUMI_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS
export DBUS_SESSION_BUS_ADDRESS ZUMI_BUS_ADDRESS

rm -rf "$results"
mkdir -p "$results"
for exe in "$build"/bench/zumi_bench_*; do
  [ -x "$exe" ] || continue
  name=$(basename "$exe")
  echo "== running $name ($repetitions repetitions, interleaved)" >&2
  "$exe" --benchmark_filter="$filter" \
    --benchmark_repetitions="$repetitions" \
    --benchmark_enable_random_interleaving=true \
    --benchmark_min_time="$min_time" \
    --benchmark_out="$results/$name.json" --benchmark_out_format=json \
    >"$results/$name.log" 2>&1 || { echo "$name failed, see $results/$name.log" >&2; exit 1; }
done

# The footprint of this build and of the cross builds that scripts/cross.sh
# left (their programs run under the emulator).
cmake --build "$build" -j2 --target zumi_minimal_app zumi_minimal_app_without >/dev/null
python3 "$root/bench/footprint.py" --build "$build" --arch "$(uname -m)" --out "$results/footprint-native.json"
for cross in aarch64:aarch64-linux-gnu armhf:arm-linux-gnueabihf; do
  dir=build/${cross%%:*}
  [ -x "$dir/examples/zumi_minimal_app" ] || continue
  cmake --build "$dir" -j2 --target zumi_minimal_app zumi_minimal_app_without >/dev/null
  python3 "$root/bench/footprint.py" --build "$dir" --arch "${cross%%:*}" --strip "${cross#*:}-strip" \
    --emulated --out "$results/footprint-${cross%%:*}.json"
done

python3 "$root/bench/report.py" "$results"/zumi_bench_*.json --footprint "$results"/footprint-*.json \
  --json "$results/summary.json"
echo "(JSON: $results/summary.json and $results/zumi_bench_*.json)" >&2
