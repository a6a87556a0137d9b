#!/usr/bin/env python3
"""Turns the JSON of the benchmark executables into the one table of
scripts/bench.sh: each figure, its baseline from the same run, the ratio and
the target. Medians are taken over the repetitions (which Google Benchmark
ran interleaved in random order), never over a single run."""

import argparse
import json
import re
import statistics
import sys

# (label, figure, baseline, how the ratio is read, target)
#   lat    : time per operation; ratio figure/baseline; met when ratio <= target
#   rate   : items per second; ratio figure/baseline; met when ratio >= target
#   each   : time per item (time / the benchmark's argument); ratio to the
#            baseline's time per item; met when ratio <= target
#   ns     : absolute time per operation, no baseline; met when <= target ns
#   persec : absolute items per second, no baseline; met when >= target
#   info   : reported only
ROWS = [
    ("int get (getIntProperty), remote publisher", "BM_Zumi_GetInt", "BM_Baseline_SdBusGetInt", "lat", 1.15),
    ("int get vs 2-hop Unix relay, 64 B (floor)", "BM_Zumi_GetInt", "BM_Baseline_UnixRelay64", "info", None),
    ("int get vs plain GDBus call", "BM_Zumi_GetInt", "BM_Baseline_GdbusGetInt", "info", None),
    ("string get (getStringProperty)", "BM_Zumi_GetString", "BM_Baseline_SdBusGetString", "lat", 1.2),
    ("string set (setStringProperty)", "BM_Zumi_SetString", "BM_Baseline_SdBusSetString", "lat", 1.2),
    ("int set (setIntProperty)", "BM_Zumi_SetInt", "BM_Baseline_SdBusSetInt", "lat", 1.2),
    ("publishSynchronously, 100 hashes, per hash", "BM_Zumi_PublishSynchronously/100", "BM_Zumi_PublishSynchronously/1", "each", 1.0),
    ("publishSynchronously, 10,000 hashes, per hash", "BM_Zumi_PublishSynchronously/10000", "BM_Zumi_PublishSynchronously/1", "each", 1.0),
    ("  same, 10,000 vs 100 hashes, per hash", "BM_Zumi_PublishSynchronously/10000", "BM_Zumi_PublishSynchronously/100", "each", 1.5),
    # Where a hash's time goes: the wire format alone, no daemon (the peer's
    # and the daemon's processor time are counter rows below).
    ("  hash array appended to a message, per hash", "BM_Wire_AppendHashArray/10000", None, "each", None),
    ("  hash array read from a message, per hash", "BM_Wire_ReadHashArray/10000", None, "each", None),
    ("100,000 events to onEvent on a main loop", "BM_Zumi_EventThroughput", "BM_Baseline_SdBusSignalsViaIdle", "rate", 0.9),
    ("  same, vs plain sd-bus signals (no main loop)", "BM_Zumi_EventThroughput", "BM_Baseline_SdBusSignals", "info", None),
    ("one event, 10 listeners, per listener", "BM_Zumi_EventFanOut/10", "BM_Zumi_EventFanOut/1", "each", 1.0),
    ("one event, 100 listeners, per listener", "BM_Zumi_EventFanOut/100", "BM_Zumi_EventFanOut/1", "each", 1.0),
    ("int get p99, 16 threads of one process", "BM_Zumi_ManyThreadsP99", "BM_Baseline_ManyProcessesP99", "lat", 2.0),
    ("recovery: old handler's first get after restart", "BM_Zumi_RecoveryToGet", None, "ns", 200e6),
    ("recovery: peer's name owned again after restart", "BM_Zumi_RecoveryToName", None, "ns", 200e6),
    ("int get, 64 in flight from one thread, per get", "BM_Zumi_AsyncGetIntInFlight/1024", "BM_Zumi_GetInt", "each", 0.333),
    ("main loop's worst 10 ms timer gap, get answered in 2 s", "BM_Zumi_AsyncSlowGetLoopGap", None, "ns", 20e6),
    ("  same vs the loop with nothing pending", "BM_Zumi_AsyncSlowGetLoopGap", "BM_Baseline_IdleLoopGap", "info", None),
    ("remote set reaching a UI object via bridge", "BM_Zumi_BridgeRemoteSet", "BM_Zumi_SetInt", "lat", 1.3),
    ("getZumiHandler cached, 1 identifier", "BM_Double_GetHandlerCached/1/0", None, "ns", 100),
    ("getZumiHandler cached, 1,000 identifiers", "BM_Double_GetHandlerCached/1000/0", None, "ns", 100),
    ("getZumiHandler cached, 100,000 identifiers", "BM_Double_GetHandlerCached/100000/0", None, "ns", 100),
    ("  same, 100,000 vs 1 identifier", "BM_Double_GetHandlerCached/100000/0", "BM_Double_GetHandlerCached/1/0", "lat", 1.5),
    ("  100,000, asked in random order", "BM_Double_GetHandlerCached/100000/1", "BM_Double_GetHandlerCached/1/0", "info", None),
    ("property callback reaching its publisher", "BM_Double_CallbackToPublisher", None, "ns", 150),
    # The bus thread's cost of one call is judged as events and remote sets
    # arrive in practice, one at a time to a loop asleep in poll; back to back
    # (a flood) it measures memory crossing between the threads that the
    # copy's contract requires, and is reported only.
    ("bridge setValue, one at a time to a sleeping loop", "BM_Double_BridgeSetValueToSleepingLoop", "BM_Baseline_RawIdleAddToSleepingLoop", "lat", 1.3),
    ("  same, back to back to a running loop", "BM_Double_BridgeSetValue/1", "BM_Baseline_RawIdleAdd", "info", None),
    ("  same, main loop not running meanwhile", "BM_Double_BridgeSetValue/0", None, "ns", 2000),
    ("deferred sets delivered on the main loop", "BM_Double_DeferredSetDelivery", None, "persec", 200000),
    ("event read, copied, queued, to a sleeping loop", "BM_Double_EventReadCopyQueueToSleepingLoop", "BM_Baseline_RawIdleAddToSleepingLoop", "lat", 1.3),
    ("  same (2, \"a\", \"b\"), back to back to a running loop", "BM_Double_EventReadCopyQueue/1", "BM_Baseline_RawIdleAdd", "info", None),
    ("  same, main loop not running meanwhile", "BM_Double_EventReadCopyQueue/0", None, "ns", 2000),
    ("publish 10,000 properties, per property", "BM_Double_Publish/10000", "BM_Double_Publish/100", "each", 1.5),
    ("  the double alone, 10,000 vs 100, per property", "BM_Double_RegisterOnly/10000", "BM_Double_RegisterOnly/100", "each", None),
    ("zumi chart, 100,000 operations to the HTML page", "BM_Tool_Chart/Html/100000", None, "ns", 30e9),
    ("zumi chart, 100,000 operations to the SVG", "BM_Tool_Chart/Svg/100000", None, "ns", 30e9),
]

# Conditions that hold on a figure's counters whatever its speed: a number,
# or SAME_AS_BASELINE. The fan-out figures count the match rules the daemon
# gained for the receiving connection: whatever one pair costs on the bus
# with one listener, it must cost the same with a hundred.
SAME_AS_BASELINE = "same as baseline"
COUNTER_RULES = {
    "BM_Zumi_EventThroughput": {"lost": 0, "reordered": 0},
    "BM_Baseline_SdBusSignals": {"lost": 0, "reordered": 0},
    "BM_Baseline_SdBusSignalsViaIdle": {"lost": 0, "reordered": 0},
    "BM_Zumi_ManyThreadsP99": {"lost": 0},
    "BM_Baseline_ManyProcessesP99": {"lost": 0},
    "BM_Zumi_EventFanOut/10": {"subscriptions": SAME_AS_BASELINE},
    "BM_Zumi_EventFanOut/100": {"subscriptions": SAME_AS_BASELINE},
}

# Figures read off a benchmark's counters: (label, benchmark, counter, unit,
# how it is judged, target). The worst repetition counts, not the median: a
# flood that once went over its memory bound went over it.
#   max  : met when the largest value <= target
#   zero : met when every repetition's value is 0
#   info : the largest value, reported only
COUNTER_ROWS = [
    ("publishSynchronously, 10,000: peer's CPU per hash", "BM_Zumi_PublishSynchronously/10000", "peer_cpu_ns_per_hash", "ns", "info", None),
    ("publishSynchronously, 10,000: daemon's CPU per hash", "BM_Zumi_PublishSynchronously/10000", "daemon_cpu_ns_per_hash", "ns", "info", None),
    ("event flood: receiver peak resident memory", "BM_Zumi_EventFlood", "receiver_peak_mib", "MiB", "max", 64),
    ("event flood: sender peak resident memory", "BM_Zumi_EventFlood", "sender_peak_mib", "MiB", "max", 64),
    ("event flood: longest single send", "BM_Zumi_EventFlood", "worst_send_ms", "ms", "max", 1000),
    ("event flood: events dropped (told by W lines)", "BM_Zumi_EventFlood", "told", "", "info", None),
    ("event flood: sent - delivered - told", "BM_Zumi_EventFlood", "unaccounted", "", "zero", None),
    ("event flood: delivered out of order", "BM_Zumi_EventFlood", "reordered", "", "zero", None),
    ("zumi chart: HTML page of 100,000 operations", "BM_Tool_Chart/Html/100000", "page_mib", "MiB", "max", 20),
    ("zumi chart: SVG of 100,000 operations", "BM_Tool_Chart/Svg/100000", "page_mib", "MiB", "info", None),
]
COUNTER_KEYS = {"lost", "reordered", "subscriptions"} | {row[2] for row in COUNTER_ROWS}

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def base_name(run_name):
    """BM_X/100/iterations:1/real_time -> BM_X/100"""
    parts = [p for p in run_name.split("/") if not re.match(r"^(real_time|manual_time|iterations:\d+|repeats:\d+|min_time:.*)$", p)]
    return "/".join(parts)


def collect(paths):
    samples, counters, context = {}, {}, None
    for path in paths:
        try:
            with open(path) as f:
                data = json.load(f)
        except (OSError, ValueError) as e:
            # An executable whose filter matched nothing writes no results.
            print("skipping %s: %s" % (path, e), file=sys.stderr)
            continue
        context = context or data.get("context")
        for b in data.get("benchmarks", []):
            if b.get("run_type") != "iteration" or b.get("error_occurred"):
                continue
            name = base_name(b["run_name"])
            unit = UNIT_NS[b.get("time_unit", "ns")]
            samples.setdefault(name, {"ns": [], "cpu": [], "rate": []})
            samples[name]["ns"].append(b["real_time"] * unit)
            # A manually timed figure's processor time covers its untimed
            # waits too: it says nothing of the call.
            if "/manual_time" not in b["run_name"]:
                samples[name]["cpu"].append(b["cpu_time"] * unit)
            if "items_per_second" in b:
                samples[name]["rate"].append(b["items_per_second"])
            for key in sorted(COUNTER_KEYS):
                if key in b:
                    counters.setdefault(name, {}).setdefault(key, []).append(b[key])
    medians = {}
    for name, s in samples.items():
        medians[name] = {
            "ns": statistics.median(s["ns"]),
            "cpu": statistics.median(s["cpu"]) if s["cpu"] else None,
            "rate": statistics.median(s["rate"]) if s["rate"] else None,
            "samples": len(s["ns"]),
        }
    return medians, counters, context


def items(name):
    m = re.search(r"/(\d+)$", name)
    return int(m.group(1)) if m else 1


def fmt_ns(ns):
    if ns >= 1e6:
        return "%.2f ms" % (ns / 1e6)
    if ns >= 1e3:
        return "%.2f us" % (ns / 1e3)
    return "%.1f ns" % ns


def fmt_rate(r):
    return "%.1fk/s" % (r / 1e3)


def value_of(kind, name, m):
    if kind in ("rate", "persec"):
        return m["rate"], fmt_rate(m["rate"]) if m["rate"] else "-"
    if kind == "each":
        v = m["ns"] / items(name)
        return v, fmt_ns(v) + "/item"
    return m["ns"], fmt_ns(m["ns"])


def evaluate(medians, counters):
    rows = []
    for label, fig, base, kind, target in ROWS:
        row = {"figure": label, "benchmark": fig, "baseline": base, "kind": kind, "target": target}
        fm = medians.get(fig)
        bm = medians.get(base) if base else None
        if fm is None or (base and bm is None):
            shown = value_of(kind, base, bm)[1] if bm else "-"
            row.update(value="-", base_value=shown, ratio=None, result="missing (not built or failed)")
            rows.append(row)
            continue
        fv, row["value"] = value_of(kind, fig, fm)
        # The benchmark thread's own processor time, beside the wall clock:
        # on a shared machine the gap is time spent waiting or preempted.
        row["cpu"] = fmt_ns(fm["cpu"]) if kind in ("lat", "ns", "info") and fm["cpu"] is not None else "-"
        bv, row["base_value"] = value_of(kind, base, bm) if base else (None, "-")
        row["ratio"] = fv / bv if bv else None
        if target is None:
            met = None
            row["target_text"] = "reported"
        elif kind == "lat" or kind == "each":
            met = row["ratio"] <= target
            row["target_text"] = "<= %gx" % target
        elif kind == "rate":
            met = row["ratio"] >= target
            row["target_text"] = ">= %gx" % target
        elif kind == "ns":
            met = fv <= target
            row["target_text"] = "<= %s" % fmt_ns(target)
        elif kind == "persec":
            met = fv >= target
            row["target_text"] = ">= %s" % fmt_rate(target)
        else:
            met = None
            row["target_text"] = "reported"
        broken = []
        for name in (fig, base):
            for key, want in COUNTER_RULES.get(name, {}).items():
                got = counters.get(name, {}).get(key, [])
                if want == SAME_AS_BASELINE:
                    theirs = counters.get(base, {}).get(key, [])
                    want = max(theirs) if theirs else None
                if got and want is not None and max(got) != want:
                    broken.append("%s %s=%g" % (name.split("_")[-1], key, max(got)))
                row.setdefault("counters", {})[name + ":" + key] = got
        if broken:
            met = False
        row["result"] = ("met" if met else "MISSED") if met is not None else "-"
        if broken:
            row["result"] += " (" + ", ".join(broken) + ")"
        rows.append(row)
    for label, fig, key, unit, kind, target in COUNTER_ROWS:
        row = {"figure": label, "benchmark": fig, "counter": key, "kind": kind, "target": target,
               "base_value": "-", "ratio": None}
        got = counters.get(fig, {}).get(key, [])
        if not got:
            row.update(value="-", result="missing (not built or failed)")
            rows.append(row)
            continue
        worst = max(got, key=abs)
        row["value"] = ("%.1f %s" % (worst, unit) if unit else "%d" % worst).strip()
        row["counters"] = {fig + ":" + key: got}
        if kind == "max":
            row["target_text"] = "<= %g %s" % (target, unit)
            row["result"] = "met" if worst <= target else "MISSED"
        elif kind == "zero":
            row["target_text"] = "0"
            row["result"] = "met" if all(v == 0 for v in got) else "MISSED"
        else:
            row["target_text"] = "reported"
            row["result"] = "-"
        rows.append(row)
    return rows


def fmt_kib(kib):
    return "%.1f KiB" % kib if kib < 10240 else "%.1f MiB" % (kib / 1024.0)


def footprint_rows(paths):
    """Rows of bench/footprint.py's results, one architecture each: reported
    only. Under the emulator the emulator's own memory counts in both
    programs, so the difference is the figure there."""
    rows = []
    for path in paths:
        with open(path) as f:
            fp = json.load(f)
        arch = fp["arch"] + (", emulated" if fp.get("emulated") else "")
        for lib, size in sorted(fp["stripped_bytes"].items()):
            rows.append({"figure": "footprint (%s): %s, stripped" % (arch, lib), "kind": "info",
                         "value": fmt_kib(size / 1024.0), "base_value": "-", "ratio": None,
                         "target_text": "reported", "result": "-"})
        for key, what in (("rss", "resident"), ("private", "dirty private")):
            app, without = fp["app_%s_kib" % key], fp["without_%s_kib" % key]
            rows.append({"figure": "footprint (%s): minimal app, %s" % (arch, what), "kind": "info",
                         "value": fmt_kib(app), "base_value": fmt_kib(without), "ratio": app / float(without),
                         "target_text": "reported", "result": "-"})
            rows.append({"figure": "  same, the library's share (app - without)", "kind": "info",
                         "value": fmt_kib(app - without), "base_value": "-", "ratio": None,
                         "target_text": "reported", "result": "-"})
    return rows


def print_table(rows, context):
    head = ("Figure", "Median", "CPU", "Baseline", "Ratio", "Target", "Result")
    lines = [head]
    for r in rows:
        ratio = "%.2fx" % r["ratio"] if r.get("ratio") is not None else "-"
        lines.append((r["figure"], r["value"], r.get("cpu", "-"), r["base_value"], ratio,
                      r.get("target_text", "-"), r["result"]))
    widths = [max(len(str(l[i])) for l in lines) for i in range(len(head))]
    def show(l):
        return "| " + " | ".join(str(c).ljust(w) for c, w in zip(l, widths)) + " |"
    print(show(head))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for l in lines[1:]:
        print(show(l))
    if context:
        print("\n%s, %d CPUs at %s MHz, load %s" % (
            context.get("host_name", "?"), context.get("num_cpus", 0), context.get("mhz_per_cpu", "?"),
            " ".join("%.2f" % x for x in context.get("load_avg", []))))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("results", nargs="+", help="Google Benchmark JSON files")
    parser.add_argument("--json", help="write the table with its medians here")
    parser.add_argument("--footprint", nargs="*", default=[], help="bench/footprint.py results")
    args = parser.parse_args()
    medians, counters, context = collect(args.results)
    rows = evaluate(medians, counters) + footprint_rows(args.footprint)
    print_table(rows, context)
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"context": context, "medians": medians, "rows": rows}, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
