#!/usr/bin/env python3
"""Judges the lines of a soak run (bench/soak/ZumiSoak.cpp) for scripts/soak.sh:
prints the counts and one line per check, and exits with 1 when a check
failed. Arguments: the run's output file and its length in seconds."""
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
