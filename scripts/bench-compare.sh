#!/usr/bin/env bash
# Before and after in one run: builds the benchmarks of a base commit and of
# the work tree in Release side by side, starts one private dbus-daemon, and
# runs one benchmark executable of each build in turns (before, after,
# before, after…), so that the load of a shared machine falls on both alike.
# Prints the median of every figure on each side and their ratio.
#
#   scripts/bench-compare.sh BASE [ROUNDS]
#
#   BASE                   a commit (built from `git archive` in build/compare-base)
#   ROUNDS                 turns of each side (default 3)
#   ZUMI_BENCH_EXE         the benchmark executable (zumi_bench_bus)
#   ZUMI_BENCH_REPETITIONS repetitions per turn (default 3)
#   ZUMI_BENCH_MIN_TIME    seconds per repetition (0.1)
#   ZUMI_BENCH_FILTER      a Google Benchmark filter regex (all)
#   ZUMI_BENCH_BUILD       the work tree's build directory (build/bench)
#   ZUMI_BENCH_HARNESS     files of bench/ copied from the work tree into the
#                          base's source, so that both sides are measured by the
#                          same benchmark code (for example a new counter)
# Builds and runs go through `buildslot` where the machine has it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

base=${1:?"usage: $0 BASE [ROUNDS]"}
rounds=${2:-3}
exe=${ZUMI_BENCH_EXE:-zumi_bench_bus}
repetitions=${ZUMI_BENCH_REPETITIONS:-3}
min_time=${ZUMI_BENCH_MIN_TIME:-0.1}
filter=${ZUMI_BENCH_FILTER:-.}
after=${ZUMI_BENCH_BUILD:-build/bench}
before=build/compare-base
slot=()
command -v buildslot >/dev/null && slot=(buildslot)

build() {  # SOURCE BUILD
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DZUMI_BUILD_TESTS=OFF -DZUMI_BUILD_BENCHMARKS=ON >/dev/null
  "${slot[@]}" cmake --build "$2" -j2 --target "$exe" >/dev/null
}
commit=$(git rev-parse --verify "$base^{commit}")
# Extracted anew when the commit or the list of harness files changed.
stamp="$commit ${ZUMI_BENCH_HARNESS:-}"
if [ "$(cat "$before/stamp" 2>/dev/null)" != "$stamp" ]; then
  rm -rf "$before"
  mkdir -p "$before/src"
  git archive "$commit" | tar -x -C "$before/src"
fi
for file in ${ZUMI_BENCH_HARNESS:-}; do
  case "$file" in bench/*) ;; *) echo "ZUMI_BENCH_HARNESS: $file is not under bench/" >&2; exit 1 ;; esac
  mkdir -p "$(dirname "$before/src/$file")"
  cmp -s "$file" "$before/src/$file" || cp "$file" "$before/src/$file"
done
echo "== building $commit in $before and the work tree in $after (Release)" >&2
build "$before/src" "$before/build"
echo "$stamp" >"$before/stamp"
build "$root" "$after"

# One private daemon of the benchmarks' configuration for both sides.
ZUMI_ROOT=$root
ZUMI_BUS_CONFIG=$root/bench/bench-bus.conf
# shellcheck source=lib/session.sh
. scripts/lib/session.sh
session_start
start_private_bus
# libzumi reads ZUMI_BUS_ADDRESS; the baselines and the counters the session address.
DBUS_SESSION_BUS_ADDRESS=$ZUMI_BUS_ADDRESS
export DBUS_SESSION_BUS_ADDRESS

results="$after/compare"
rm -rf "$results"
mkdir -p "$results"
echo "== load at the start: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for round in $(seq "$rounds"); do
  for side in before after; do
    dir=$after
    [ "$side" = before ] && dir=$before/build
    echo "== round $round, $side" >&2
    "${slot[@]}" "$dir/bench/$exe" --benchmark_filter="$filter" \
      --benchmark_repetitions="$repetitions" --benchmark_enable_random_interleaving=true \
      --benchmark_min_time="$min_time" \
      --benchmark_out="$results/$side-$round.json" --benchmark_out_format=json \
      >"$results/$side-$round.log" 2>&1 || { echo "$side failed, see $results/$side-$round.log" >&2; exit 1; }
  done
done
echo "== load at the end: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

python3 - "$results" <<'EOF'
# Medians of every figure (per item where it counts items), of the measuring
# thread's CPU time beside it, and of every counter both sides report.
import glob, json, os, statistics, sys
results = sys.argv[1]
skip = {"name", "run_name", "run_type", "repetitions", "repetition_index", "threads", "iterations",
        "real_time", "cpu_time", "time_unit", "items_per_second", "bytes_per_second", "family_index",
        "per_family_instance_index", "aggregate_name", "aggregate_unit", "error_occurred",
        "error_message", "label"}
rows = {"before": {}, "after": {}}
order = []
for side in rows:
    for path in sorted(glob.glob(os.path.join(results, side + "-*.json"))):
        for b in json.load(open(path))["benchmarks"]:
            if b.get("run_type") != "iteration" or b.get("error_occurred"):
                continue
            per_item = "items_per_second" in b
            # items per iteration: items/s times the seconds an iteration took
            scale = b["items_per_second"] * b["real_time"] * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]] if per_item else 1.0
            unit = b["time_unit"] + ("/item" if per_item else "")
            values = {"": (b["real_time"] / scale, unit), " [cpu]": (b["cpu_time"] / scale, unit)}
            values.update({" [" + k + "]": (v, "") for k, v in b.items()
                           if k not in skip and isinstance(v, (int, float))})
            for suffix, (value, unit) in values.items():
                key = b["run_name"] + suffix
                if key not in order:
                    order.append(key)
                rows[side].setdefault(key, (unit, []))[1].append(value)
keys = [k for k in order if k in rows["before"] and k in rows["after"]]
width = max([len(k) for k in keys] + [6])
print(f"{'Figure':<{width}}  {'n':>3}  {'Before':>11}  {'After':>11}  {'unit':<8}  After / before")
for key in keys:
    unit, b = rows["before"][key]
    a = rows["after"][key][1]
    mb, ma = statistics.median(b), statistics.median(a)
    ratio = f"{ma / mb:.2f}x" if mb else "-"
    print(f"{key:<{width}}  {min(len(a), len(b)):>3}  {mb:>11.4g}  {ma:>11.4g}  {unit:<8}  {ratio}")
EOF
