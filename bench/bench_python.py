"""Benchmarks of the Python module, printed as a Markdown section.

- insert_many of ten million log-normal float64 values against the C
  library's own insertion of the same kind of values, one call per value
  (bench_insert_lognormal, Google Benchmark): into a histogram, with the
  coordinated-omission correction, and into a Recorder;
- the 99th percentile of those values from the histogram against
  numpy.percentile of the array;
- Histogram.from_base64 and varrow.merge of 100,000 per-minute histograms.

Usage: python3 bench/bench_python.py BUILD_DIR   (a build with the module and
the benchmarks; BENCH_REPETITIONS sets the runs per figure, default 5, the
best of which is quoted).
"""
import json
import os
import subprocess
import sys
import tempfile
import time

import numpy as np

build_dir = sys.argv[1]
sys.path.insert(0, os.path.join(build_dir, "python"))
import varrow  # noqa: E402

REPETITIONS = int(os.environ.get("BENCH_REPETITIONS", "5"))
VALUE_COUNT = 10_000_000
LOG_MEAN, LOG_SIGMA = -3.0, 1.0  # as bench_insert_lognormal
MINUTES = 100_000
SAMPLES_PER_MINUTE = 500
INSERT_LIMIT_RATIO = 1.5
EXPECTED_INTERVAL = 0.01  # as bench_insert_lognormal's corrected insertion


def best_seconds(action, repetitions=REPETITIONS):
    """The least CPU time of the process over the runs: comparable with
    Google Benchmark's CPU time, and less disturbed on a shared machine."""
    times = []
    for _ in range(repetitions):
        start = time.process_time()
        action()
        times.append(time.process_time() - start)
    return min(times)


def c_baseline_ns_per_value():
    program = os.path.join(build_dir, "bench", "bench_insert_lognormal")
    out = subprocess.run([program, "--benchmark_format=json", f"--benchmark_repetitions={REPETITIONS}",
                          "--benchmark_report_aggregates_only=true"], capture_output=True, text=True, check=True)
    # One repetition reports the run itself, without aggregates.
    medians = {b["run_name"]: b for b in json.loads(out.stdout)["benchmarks"] if b.get("aggregate_name", "median") == "median"}
    return {name: 1e9 / medians[name]["items_per_second"] for name in medians}


def insertion_rows(values):
    baseline = c_baseline_ns_per_value()
    recorder = varrow.Recorder()

    def histogram_fill(fast, **corrected):
        h = varrow.Histogram(fast=fast)

        def fill():
            h.clear()
            h.insert_many(values, **corrected)
        return fill

    def recorder_fill():
        recorder.insert_many(values)
        recorder.snapshot(reset=True)

    cases = [("insert_many, plain histogram", histogram_fill(False), "BM_InsertLogNormal/fast:0"),
             ("insert_many, fast histogram", histogram_fill(True), "BM_InsertLogNormal/fast:1"),
             (f"insert_many(expected_interval={EXPECTED_INTERVAL:g}), fast histogram",
              histogram_fill(True, expected_interval=EXPECTED_INTERVAL), "BM_InsertCorrectedLogNormal"),
             ("Recorder.insert_many (and a snapshot with reset)", recorder_fill, "BM_RecorderInsertLogNormal")]
    rows = []
    for label, fill, c_name in cases:
        python_ns = best_seconds(fill) * 1e9 / len(values)
        ratio = python_ns / baseline[c_name]
        rows.append((label, f"{python_ns:.1f} ns", f"{baseline[c_name]:.1f} ns", f"{ratio:.2f}x",
                     "met" if ratio <= INSERT_LIMIT_RATIO else "missed"))
    return rows


def percentile_rows(values):
    h = varrow.Histogram(fast=True)
    h.insert_many(values)
    ours = h.quantile(0.99)
    exact = np.percentile(values, 99)
    quantile_s = best_seconds(lambda: h.quantile(0.99))
    numpy_s = best_seconds(lambda: np.percentile(values, 99))
    fill_s = best_seconds(lambda: varrow.Histogram(fast=True).insert_many(values))
    return [("Histogram.quantile(0.99) of the filled histogram", f"{quantile_s * 1e6:.1f} µs", f"{ours:.6g}"),
             ("insert_many + quantile(0.99)", f"{(fill_s + quantile_s) * 1e3:.1f} ms", f"{ours:.6g}"),
             ("numpy.percentile(values, 99)", f"{numpy_s * 1e3:.1f} ms", f"{exact:.6g}"),
             ("relative difference", "", f"{abs(ours - exact) / exact:.1e}")]


def per_minute_lines(rng):
    lines = []
    h = varrow.Histogram(fast=True)
    for _ in range(MINUTES):
        h.clear()
        h.insert_many(rng.lognormal(LOG_MEAN, LOG_SIGMA, SAMPLES_PER_MINUTE))
        lines.append(h.to_base64())
    return lines


def merge_rows(lines):
    histograms = []

    def parse():
        histograms[:] = [varrow.Histogram.from_base64(line) for line in lines]

    parse_s = best_seconds(parse)
    with tempfile.NamedTemporaryFile("w", suffix=".b64") as file:
        file.write("".join(line + "\n" for line in lines))
        file.flush()
        read_s = best_seconds(lambda: list(varrow.read_lines(file.name)))
    merge_s = best_seconds(lambda: varrow.merge(histograms))
    pairwise_s = best_seconds(lambda: sum(histograms[1:], histograms[0].copy()), repetitions=1)
    total = varrow.merge(histograms)
    assert total.count == MINUTES * SAMPLES_PER_MINUTE
    per = 1e9 / MINUTES
    return [("Histogram.from_base64 of each line", f"{parse_s:.2f} s", f"{parse_s * per:.0f} ns"),
            ("varrow.read_lines of the file", f"{read_s:.2f} s", f"{read_s * per:.0f} ns"),
            ("varrow.merge of all", f"{merge_s * 1e3:.0f} ms", f"{merge_s * per:.0f} ns"),
            ("sum() of all (one + per histogram, for comparison)", f"{pairwise_s:.2f} s",
             f"{pairwise_s * per:.0f} ns"),
            ("from_base64 + varrow.merge", f"{parse_s + merge_s:.2f} s", f"{(parse_s + merge_s) * per:.0f} ns")]


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    return "\n".join(lines + ["| " + " | ".join(row) + " |" for row in rows])


def main():
    rng = np.random.default_rng(18)
    values = rng.lognormal(LOG_MEAN, LOG_SIGMA, VALUE_COUNT)
    lines = per_minute_lines(rng)
    mean_length = sum(map(len, lines)) / len(lines)
    print("\n".join([
        f"Ten million log-normal float64 values (ln mean {LOG_MEAN:g}, sd {LOG_SIGMA:g}) from numpy; "
        f"least CPU time of {REPETITIONS} runs. The C baseline is `bench_insert_lognormal`: `hist_insert` (or "
        f"`hist_insert_corrected`, `hist_recorder_insert`) once per value of the same distribution, median CPU "
        f"time of {REPETITIONS} repetitions. numpy {np.__version__}, "
        f"Python {sys.version.split()[0]}.",
        "",
        "### insert_many against the C library, per value",
        "",
        table(["operation", "Python", "C, one call per value", "ratio", f"target <= {INSERT_LIMIT_RATIO:g}x"],
              insertion_rows(values)),
        "",
        "### 99th percentile against numpy.percentile",
        "",
        table(["operation", "time", "p99"], percentile_rows(values)),
        "",
        f"### {MINUTES:,} per-minute histograms",
        "",
        f"{SAMPLES_PER_MINUTE} log-normal samples a minute, {mean_length:.0f} "
        "base64 characters a line on average.",
        "",
        table(["operation", "time", "per histogram"], merge_rows(lines)),
    ]))


if __name__ == "__main__":
    main()
