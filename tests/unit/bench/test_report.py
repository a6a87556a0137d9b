#!/usr/bin/env python3
"""The arithmetic of bench/report.py: which samples make a median, which way
a ratio is read, when a figure counts as met, and what a missing or broken
figure looks like in the table."""

import io
import json
import os
import sys
import tempfile
import unittest
from contextlib import redirect_stderr, redirect_stdout

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # leave no cache beside bench/report.py
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "bench"))
import report  # noqa: E402  (bench/ is not a package)


def run(name, real, unit="ns", cpu=None, **extra):
    b = {"name": name, "run_name": name, "run_type": "iteration", "real_time": real,
         "cpu_time": real if cpu is None else cpu, "time_unit": unit}
    b.update(extra)
    return b


class Results:
    """Google Benchmark JSON files written to a temporary directory."""

    def __init__(self):
        self.dir = tempfile.TemporaryDirectory()
        self.paths = []

    def add(self, *benchmarks):
        path = os.path.join(self.dir.name, "r%d.json" % len(self.paths))
        with open(path, "w") as f:
            json.dump({"context": {"host_name": "h", "num_cpus": 2}, "benchmarks": list(benchmarks)}, f)
        self.paths.append(path)
        return self

    def rows(self):
        medians, counters, _ = report.collect(self.paths)
        return {r["benchmark"] + " / " + str(r["baseline"]): r for r in report.evaluate(medians, counters)}


def row(rows, figure, baseline):
    return rows[figure + " / " + str(baseline)]


class TheMedians(unittest.TestCase):
    def test_take_every_repetition_and_ignore_aggregates_and_failed_runs(self):
        r = Results().add(
            run("BM_Zumi_GetInt/real_time", 10), run("BM_Zumi_GetInt/real_time", 30),
            run("BM_Zumi_GetInt/real_time", 20),
            dict(run("BM_Zumi_GetInt/real_time", 1000), run_type="aggregate", aggregate_name="mean"),
            dict(run("BM_Zumi_GetInt/real_time", 1), error_occurred=True))
        medians, _, _ = report.collect(r.paths)
        self.assertEqual(20, medians["BM_Zumi_GetInt"]["ns"])
        self.assertEqual(3, medians["BM_Zumi_GetInt"]["samples"])

    def test_gather_repetitions_from_several_files_and_convert_units(self):
        r = Results().add(run("BM_X/iterations:1/real_time", 2, unit="ms")).add(
            run("BM_X/iterations:1/real_time", 4000, unit="us"))
        medians, _, _ = report.collect(r.paths)
        self.assertEqual(3e6, medians["BM_X"]["ns"])

    def test_keep_the_benchmark_arguments_in_the_name(self):
        self.assertEqual("BM_Double_GetHandlerCached/100000/0",
                         report.base_name("BM_Double_GetHandlerCached/100000/0/real_time"))
        self.assertEqual("BM_Zumi_EventFanOut/10",
                         report.base_name("BM_Zumi_EventFanOut/10/iterations:3/manual_time"))


class ALatencyFigure(unittest.TestCase):
    def test_is_met_at_or_below_its_ratio_to_the_baseline(self):
        rows = Results().add(run("BM_Zumi_GetInt", 115), run("BM_Baseline_SdBusGetInt", 100)).rows()
        r = row(rows, "BM_Zumi_GetInt", "BM_Baseline_SdBusGetInt")
        self.assertAlmostEqual(1.15, r["ratio"])
        self.assertEqual("met", r["result"])

    def test_is_missed_above_its_ratio(self):
        rows = Results().add(run("BM_Zumi_GetInt", 116), run("BM_Baseline_SdBusGetInt", 100)).rows()
        self.assertEqual("MISSED", row(rows, "BM_Zumi_GetInt", "BM_Baseline_SdBusGetInt")["result"])

    def test_against_an_absolute_target_ignores_the_cpu_time(self):
        rows = Results().add(run("BM_Double_CallbackToPublisher", 140, cpu=500)).rows()
        self.assertEqual("met", row(rows, "BM_Double_CallbackToPublisher", None)["result"])


class AThroughputFigure(unittest.TestCase):
    def test_is_read_as_a_rate_where_higher_is_better(self):
        rows = Results().add(
            run("BM_Zumi_EventThroughput", 5, unit="ms", items_per_second=90000.0, lost=0, reordered=0),
            run("BM_Baseline_SdBusSignals", 9, unit="ms", items_per_second=100000.0, lost=0, reordered=0)).rows()
        r = row(rows, "BM_Zumi_EventThroughput", "BM_Baseline_SdBusSignals")
        self.assertAlmostEqual(0.9, r["ratio"])
        self.assertEqual("met", r["result"])

    def test_that_lost_events_is_missed_however_fast_it_was(self):
        rows = Results().add(
            run("BM_Zumi_EventThroughput", 5, unit="ms", items_per_second=200000.0, lost=3, reordered=0),
            run("BM_Baseline_SdBusSignals", 9, unit="ms", items_per_second=100000.0, lost=0, reordered=0)).rows()
        r = row(rows, "BM_Zumi_EventThroughput", "BM_Baseline_SdBusSignals")
        self.assertTrue(r["result"].startswith("MISSED"))
        self.assertIn("lost=3", r["result"])

    def test_with_an_absolute_floor_is_missed_below_it(self):
        rows = Results().add(run("BM_Double_DeferredSetDelivery", 60, unit="ms", items_per_second=150000.0)).rows()
        self.assertEqual("MISSED", row(rows, "BM_Double_DeferredSetDelivery", None)["result"])


class APerItemFigure(unittest.TestCase):
    def test_divides_each_side_by_its_own_count(self):
        # 10,000 hashes in 5 ms is 500 ns a hash; 100 in 60 us is 600 ns a hash.
        rows = Results().add(run("BM_Zumi_PublishSynchronously/10000", 5, unit="ms"),
                             run("BM_Zumi_PublishSynchronously/100", 60, unit="us")).rows()
        r = row(rows, "BM_Zumi_PublishSynchronously/10000", "BM_Zumi_PublishSynchronously/100")
        self.assertAlmostEqual(500 / 600, r["ratio"])
        self.assertEqual("met", r["result"])

    def test_with_more_bus_subscriptions_than_one_listener_needs_is_missed(self):
        rows = Results().add(run("BM_Zumi_EventFanOut/10", 100, subscriptions=20),
                             run("BM_Zumi_EventFanOut/1", 50, subscriptions=2)).rows()
        r = row(rows, "BM_Zumi_EventFanOut/10", "BM_Zumi_EventFanOut/1")
        self.assertIn("subscriptions=20", r["result"])

    def test_with_as_many_bus_subscriptions_as_one_listener_is_judged_on_its_cost(self):
        rows = Results().add(run("BM_Zumi_EventFanOut/10", 100, subscriptions=2),
                             run("BM_Zumi_EventFanOut/1", 50, subscriptions=2)).rows()
        r = row(rows, "BM_Zumi_EventFanOut/10", "BM_Zumi_EventFanOut/1")
        self.assertAlmostEqual(0.2, r["ratio"])
        self.assertEqual("met", r["result"])


class TheTable(unittest.TestCase):
    def test_skips_a_results_file_that_holds_no_json(self):
        r = Results().add(run("BM_Zumi_GetInt", 28000), run("BM_Baseline_SdBusGetInt", 25000))
        empty = os.path.join(r.dir.name, "empty.json")
        open(empty, "w").close()
        r.paths.insert(0, empty)
        with redirect_stderr(io.StringIO()):
            rows = r.rows()
        self.assertEqual("met", row(rows, "BM_Zumi_GetInt", "BM_Baseline_SdBusGetInt")["result"])

    def test_marks_a_figure_not_built_as_missing_but_still_shows_its_baseline(self):
        rows = Results().add(run("BM_Baseline_SdBusGetInt", 25000)).rows()
        r = row(rows, "BM_Zumi_GetInt", "BM_Baseline_SdBusGetInt")
        self.assertTrue(r["result"].startswith("missing"))
        self.assertEqual("25.00 us", r["base_value"])

    def test_prints_one_line_per_row_of_the_same_width(self):
        r = Results().add(run("BM_Zumi_GetInt", 30000), run("BM_Baseline_SdBusGetInt", 25000))
        medians, counters, context = report.collect(r.paths)
        out = io.StringIO()
        with redirect_stdout(out):
            report.print_table(report.evaluate(medians, counters), context)
        table = [l for l in out.getvalue().splitlines() if l.startswith("|")]
        self.assertEqual(len(report.ROWS) + 2, len(table))
        self.assertEqual(1, len({len(l) for l in table}))
        self.assertIn("1.20x", out.getvalue())


if __name__ == "__main__":
    unittest.main()
