#!/usr/bin/python3
"""Builds docs/PERFORMANCE.md, docs/ACCURACY.md and their plots from the raw
results of bench/run_all.sh.

Usage: /usr/bin/python3 tools/make_reports.py bench/results docs

Reads machine.txt, the Google Benchmark JSON files bench_*.json (run with
repetitions; the median of the repetitions is quoted), distfn_accuracy.csv
(errors and time per point of every cumulative function and front-end
quantile, against Boost.Math and GSL), density_accuracy.csv (the same for
the densities and the noncentral tails) and histstat.txt.  Needs matplotlib.
"""

import csv
import json
import math
import re
import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

LIBRARIES = ["distfn", "Boost.Math", "GSL"]
COLOURS = {"distfn": "#1f77b4", "Boost.Math": "#ff7f0e", "GSL": "#2ca02c"}
REGIONS = ["centre", "tail", "far_tail"]

# Targets of the histogram side: (label, benchmark, kind, limit).
INSERT_PLAIN_LIMIT_NS = 10.0
INSERT_FAST_LIMIT_NS = 6.0
CONVERSION_SPEEDUP = 3.0
BASE64_LIMIT_MB_S = 500.0
HISTSTAT_LIMIT_RATIO = 4.0
# The PostgreSQL extension's: on a Citus cluster no slower than the tdigest
# extension's percentile; on one node within this factor of avg(v).
CITUS_LIMIT_RATIO = 1.0
ONE_NODE_LIMIT_RATIO = 1.3

# The cumulative function behind each front end's search.
SEARCHED_FUNCTION = {"cdfbet": "cumbet", "cdfbin": "cumbin", "cdfchi": "cumchi", "cdfchn": "cumchn", "cdff": "cumf",
                     "cdffnc": "cumfnc", "cdfgam": "cumgam", "cdfnbn": "cumnbn", "cdfnor": "cumnor",
                     "cdfpoi": "cumpoi", "cdft": "cumt"}

# The tuning that the first runs of this report called for, with the effect
# measured side by side (old and new binaries alternating, same machine).
TUNING_DONE = [
    "`spmpar` formed b^k with `std::pow` on every call, and the cumulative functions and their inverses ask "
    "for the machine limits on every call or iteration (937,337 calls in one profiled run of the distfn "
    "benchmark, 241 instructions each). On binary machines it now forms 2^k from the exponent field (same "
    "limits, bit for bit; 58 instructions a call, most of them the two calls of `ipmpar`). `cumnor` went from 37 to 24 ns, `cumchi` from 49 "
    "to 35 ns, `cumgam` from 68 to 60 ns and `cdfgam` from 232 to 190 ns, which brought `cdfgam` under "
    "Boost.Math's `gamma_p_inv`.",
    "`double_to_hist_bucket` reads a table instead of computing `log10` and a division: every binade is cut "
    "into 128 cells by its top 7 mantissa bits (a cell is at most 0.79 per cent of its magnitudes, a bucket at "
    "least 1.01 per cent, so at most one bucket edge falls into a cell), and each cell holds the buckets on "
    "either side of that edge and the exact double where it lies, found from the `log10` conversion the "
    "first time a binade is met. The buckets are the same, bit for bit: the tests compare both conversions "
    "three doubles either side of every table edge and every decimal edge, and on 10 million random bit "
    "patterns. Scaled integers below 2^32 take the same table. In the side-by-side run with HdrHistogram_c "
    "the fast insertion went from 10.7 to 4.05 ns (5.0 to 1.8 times `hdr_record_value`) and the plain one "
    "from 52.8 to 41.1 ns.",
    "Recording paths, measured alternately against the previous build (best of 60 passes over the 2^20 "
    "log-normal latencies, same run as `hdr_record_value` at 1.9-2.1 ns): the plain lookup first tries the "
    "one probe that the key distance names and is inlined into the insertion, 13.9 to 8.5 ns (7.2 to 4.2 "
    "times the peer); the saturating addition branches to its rare overflow instead of selecting it, so the "
    "stored count waits only for the addition, fast insertion 3.5 to 2.9 ns (1.85 to 1.42 times the peer); "
    "scaled integers check once that their scale keeps every tabulated exponent in range instead of "
    "clamping each result, fast 5.0 to 3.6 ns, plain 15.5 to 9.4 ns.",
]

# What the profiles (valgrind --tool=callgrind, with --branch-sim=yes where
# branches mattered) showed for each target that can miss; quoted under the
# targets table when that target is missed in the run at hand.
PROFILE_NOTES = {
    "double_to_hist_bucket against log10": (
        "The conversion is a range check, a check that the binade's cells are filled, one 16-byte cell load "
        "and one comparison (about 25 instructions); the ratio depends mostly on the C library's `log10`, "
        "which the baseline calls."),
    "hist_insert, existing bucket, plain": (
        "A plain histogram has no index: its lookup works on the packed 10-byte entries alone. Order keys are "
        "dense (90 per exponent), so the keys of the first and last entries bracket the position, and one "
        "probe at the lower end of the bracket names it wherever the buckets in between are contiguous (the "
        "body of a distribution); otherwise both bracket ends are probed and the bracket narrowed, and only a "
        "bracket still wider than 32 entries falls back to the branch-free halving. The search is inlined "
        "into the insertion, so the position never goes through memory. What remains is the dependent chain "
        "of the conversion, the two end entries and the probe (three loads, each followed by the order key's "
        "table load); the fast variant, whose index finds the entry in two loads, is the answer for hot "
        "insertion paths."),
    "hist_insert, existing bucket, fast": (
        "The fast path has no call: the table conversion, two loads through the fast index, and the "
        "addition, which branches to its rare saturation instead of selecting it. The stages in the section "
        "against HdrHistogram_c show what each piece costs: the conversion with a flat counter runs at the "
        "peer's speed; the two-level index and the packed 10-byte entries, both the histogram's defined "
        "layout, add the rest."),
    "quantile": (
        "The front ends find a quantile by the bracketing search of the reverse-communication solvers "
        "(start 5, steps of 0.5 growing fivefold, relative tolerance 1e-8), which evaluates the cumulative "
        "function 9 to 18 times per solve; Boost.Math's quantiles take a few Newton or Halley steps with the "
        "density from a close first approximation. The profile of the quantile runs puts 79 to 95 per cent "
        "of the instructions of a solve inside the cumulative function (`cdfchi`: 23,100 `cumchi` calls for "
        "1,440 solves, 79 per cent; `cdfbet`: 11.2 `cumbet` calls per solve, 87 per cent; `cdfchn`: 92; "
        "`cdffnc`: 95) and the rest in `dinvr`/`dzror`. The table below divides each solve's measured time "
        "by its evaluations: what one evaluation costs inside the search, and how many of them Boost.Math's "
        "whole quantile would pay for. Where the target is missed, Boost.Math's time affords fewer "
        "evaluations than the search makes, although each cumulative function on its own is faster than "
        "Boost.Math's. Meeting the target needs a different search (Newton steps with the density), which "
        "changes the results; the search is kept as it stands, bit-for-bit, and the quantile functions `inv*` "
        "beside it are that different search (see the section on them below)."),
    "cdfnor": (
        "`cdfnor` inverts with `dinvnr`: a rational first approximation (`stvaln`, with a logarithm and a "
        "square root), then Newton steps, each a full `cumnor` and an `exp`, until the step is below 1e-13 "
        "relative; three or four steps are usual. Boost.Math and GSL evaluate a rational approximation of "
        "the inverse directly. Three evaluations of `cumnor` (about 24 ns each on a quiet run) already exceed "
        "Boost.Math's whole quantile; the iteration is the algorithm and is kept."),
    "cdfgam": (
        "`cdfgam` solves through `gaminv` (its own Newton-type iteration on the incomplete gamma ratio), not "
        "through the search; it runs level with Boost.Math's `gamma_p_inv` within the noise of this machine."),
}


# ---- reading the results --------------------------------------------------------------

def read_machine(results):
    info = {}
    path = results / "machine.txt"
    if path.exists():
        for line in path.read_text().splitlines():
            key, _, value = line.partition("=")
            info[key] = value
    return info


def machine_line(info):
    return (f"{info.get('cpu', '?')}, {info.get('cores', '?')} cores; {info.get('compiler', '?')}, "
            f"{info.get('flags', '')}; load average {info.get('load_before', '?')} before and "
            f"{info.get('load_after', '?')} after the run; {info.get('started', '')}, commit {info.get('commit', '?')}")


def figure_caption(info):
    return f"{info.get('cpu', '?')} ({info.get('cores', '?')} cores), {info.get('compiler', '?')}"


def read_benchmarks(results):
    """name -> the median aggregate (or the only run) of every benchmark."""
    runs = {}
    for path in sorted(results.glob("bench_*.json")):
        data = json.loads(path.read_text())
        for b in data.get("benchmarks", []):
            name = b.get("run_name", b["name"])
            if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
                continue
            b["program"] = path.stem
            runs[name] = b
    return runs


def ns(bench):
    """CPU time per iteration in ns: on a shared machine the wall time also counts the other processes."""
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[bench.get("time_unit", "ns")]
    return bench["cpu_time"] * scale


def read_accuracy(results):
    path = results / "distfn_accuracy.csv"
    if not path.exists():
        return []
    rows = []
    with path.open() as f:
        for r in csv.DictReader(f):
            for key in ("points", "failures"):
                r[key] = int(r[key])
            for key in ("err_median", "err_max", "ns_median", "ns_max", "evals_per_call"):
                r[key] = float(r[key])
            rows.append(r)
    return rows


def read_density_accuracy(results):
    """density_accuracy.csv of bench_densities: errors, their share of the
    bound and time per point of every density and noncentral tail."""
    path = results / "density_accuracy.csv"
    if not path.exists():
        return []
    rows = []
    with path.open() as f:
        for r in csv.DictReader(f):
            for key in ("points", "failures"):
                r[key] = int(r[key])
            for key in ("err_median", "err_max", "share_max", "ns_median", "ns_max"):
                r[key] = float(r[key])
            rows.append(r)
    return rows


def read_histstat(results):
    path = results / "histstat.txt"
    out = {"text": ""}
    if not path.exists():
        return out
    text = path.read_text()
    out["text"] = text
    for line in text.splitlines():
        m = re.match(r"(.+?)\s+([\d.]+) s\s+(\d+) lines/s", line)
        if m:
            out[m.group(1).strip()] = float(m.group(2))
    return out


POSTGRES_INTRO = (
    "The extension (`postgres/`) in a throw-away PostgreSQL 15 cluster (`bash bench/bench_postgres.sh`; "
    "shared_buffers 512MB, work_mem 256MB): log-normal values in a table, best elapsed time of three runs of "
    "each query after a warm-up, as psql's `\\timing` reports it. percentile_cont is an ordered-set "
    "aggregate without a combine function, so PostgreSQL runs it without workers whatever the setting; "
    "each stored histogram of the merge rows holds 100 of the values.")


CITUS_INTRO = (
    "The extension on a Citus 13 cluster of a coordinator and two workers on this machine, 8 shards "
    "(`bash bench/bench_citus.sh`), against the tdigest extension (compression 100) and avg(v), the cost of "
    "reading the values; one node is the coordinator's local copy of the same tables, with up to 2 parallel "
    "workers. Best elapsed time of three runs of each query after a warm-up. On the cluster every aggregate "
    "runs on the workers: Citus's worker_partial_agg and coord_combine_agg for varrow's, its own rewriting for "
    "tdigest's and avg's. The stored rows are per-minute histograms and digests of 100 values each.")


def read_citus(results):
    """The output of bench_citus.sh, or None when Citus was not installed."""
    path = results / "citus.md"
    return path.read_text().rstrip() if path.exists() else None


def citus_targets(citus):
    """The targets of the extension measured by bench_citus.sh: its query table
    gives each query's best milliseconds on one node and on the cluster."""
    if not citus:
        return []
    ms = {}
    for line in citus.splitlines():
        cells = [c.strip() for c in line.strip("|").split("|")]
        if len(cells) == 7 and cells[2].replace(".", "").isdigit():
            ms[cells[0]] = (float(cells[2]), float(cells[4]))
    rows = []
    for label, ours, peer, where, limit in [
            ("Citus: varrow_agg + varrow_quantile against tdigest_percentile",
             "varrow_agg + varrow_quantile(0.99)", "tdigest_percentile(v, 100, 0.99)", 1, CITUS_LIMIT_RATIO),
            ("Citus, per minute: varrow_agg + varrow_quantile against tdigest_percentile",
             "per minute: varrow_agg + varrow_quantile(0.99)", "per minute: tdigest_percentile(v, 100, 0.99)", 1,
             CITUS_LIMIT_RATIO),
            ("one node: varrow_agg + varrow_quantile against avg(v)",
             "varrow_agg + varrow_quantile(0.99)", "avg(v)", 0, ONE_NODE_LIMIT_RATIO)]:
        if ours in ms and peer in ms:
            a, b = ms[ours][where], ms[peer][where]
            rows.append((label, f"<= {limit:g}x", f"{a:.0f} ms vs {b:.0f} ms", f"{a / b:.2f}x", verdict(a <= limit * b)))
    return rows


def read_postgres(results):
    """The Markdown table of bench_postgres.sh, or None when the extension was not built."""
    path = results / "postgres.md"
    return path.read_text().rstrip() if path.exists() else None


# ---- formatting -------------------------------------------------------------------------

def fmt(x, digits=3):
    if x is None or (isinstance(x, float) and math.isnan(x)):
        return "–"
    if x == 0:
        return "0"
    if abs(x) >= 1e5 or abs(x) < 1e-2:
        return f"{x:.2e}"
    return f"{x:.{digits}g}"


def fmt_time(t_ns):
    """A time in the unit that keeps it between 1 and 1000."""
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if t_ns >= scale:
            return f"{t_ns / scale:.3g} {unit}"
    return f"{t_ns:.3g} ns"


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    lines += ["| " + " | ".join(str(c) for c in row) + " |" for row in rows]
    return "\n".join(lines)


def verdict(ok):
    return "met" if ok else "**missed**"


# ---- targets ------------------------------------------------------------------------------

def histogram_targets(runs, histstat):
    rows = []

    def get(name):
        return runs.get(name)

    fast, base = get("double_to_hist_bucket/fast"), get("double_to_hist_bucket/log10_baseline")
    if fast and base:
        speedup = ns(base) / ns(fast)
        rows.append(("double_to_hist_bucket against log10", f">= {CONVERSION_SPEEDUP:g}x faster",
                     f"{ns(fast):.2f} ns vs {ns(base):.2f} ns", f"{speedup:.2f}x", verdict(speedup >= CONVERSION_SPEEDUP)))
    for arg, label, limit in [(0, "plain", INSERT_PLAIN_LIMIT_NS), (1, "fast", INSERT_FAST_LIMIT_NS)]:
        b = get(f"BM_InsertExisting/fast:{arg}")
        if b:
            t = ns(b)
            rows.append((f"hist_insert, existing bucket, {label}", f"<= {limit:g} ns", f"{t:.2f} ns",
                         f"{t / limit:.2f} of the limit", verdict(t <= limit)))
    for name, label in [("hist_deserialize_b64/1000_buckets", "base64 deserialize"),
                        ("hist_serialize_b64/1000_buckets", "base64 serialize")]:
        b = get(name)
        if b and "bytes_per_second" in b:
            mbs = b["bytes_per_second"] / 1e6
            rows.append((label, f">= {BASE64_LIMIT_MB_S:g} MB/s", f"{mbs:.0f} MB/s",
                         f"{mbs / BASE64_LIMIT_MB_S:.2f}x the target", verdict(mbs >= BASE64_LIMIT_MB_S)))
    base64 = histstat.get("base64 -d")
    for key, label in [("histstat -p 50 -p 90 -p 99 -p 99.9", "histstat percentiles"),
                       ("histstat (bucket map)", "histstat bucket map")]:
        if base64 and key in histstat:
            ratio = histstat[key] / base64
            rows.append((label, f"<= {HISTSTAT_LIMIT_RATIO:g}x base64 -d", f"{histstat[key]:.2f} s vs {base64:.2f} s",
                         f"{ratio:.2f}x", verdict(ratio <= HISTSTAT_LIMIT_RATIO)))
    return rows


def overall(accuracy, kind, function, library):
    for r in accuracy:
        if r["kind"] == kind and r["function"] == function and r["library"] == library and r["region"] == "all":
            return r
    return None


def functions_of(accuracy, kind):
    return sorted({r["function"] for r in accuracy if r["kind"] == kind})


def distfn_targets(accuracy):
    rows = []
    for kind in ("cumulative", "quantile"):
        for f in functions_of(accuracy, kind):
            ours, boost = overall(accuracy, kind, f, "distfn"), overall(accuracy, kind, f, "Boost.Math")
            if not ours or not boost:
                continue
            ratio = ours["ns_median"] / boost["ns_median"]
            label = f"`{f}`" + (" (quantile)" if kind == "quantile" else "")
            rows.append((label, "median ns <= Boost.Math's", f"{ours['ns_median']:.0f} ns vs {boost['ns_median']:.0f} ns",
                         f"{ratio:.2f}x", verdict(ratio <= 1.0)))
    return rows


# ---- plots ----------------------------------------------------------------------------------

def grouped_bars(ax, functions, values_by_library, log=True):
    width = 0.8 / len(LIBRARIES)
    for i, lib in enumerate(LIBRARIES):
        xs = [j + (i - 1) * width for j in range(len(functions))]
        vals = [values_by_library[lib].get(f, float("nan")) for f in functions]
        ax.bar(xs, [v if v == v else 0 for v in vals], width, label=lib, color=COLOURS[lib])
    ax.set_xticks(range(len(functions)))
    ax.set_xticklabels(functions, rotation=30, ha="right")
    if log:
        ax.set_yscale("log")
    ax.grid(axis="y", alpha=0.3)


def speed_plot(accuracy, info, path):
    fig, axes = plt.subplots(1, 2, figsize=(13, 4.8))
    for ax, kind, title in zip(axes, ("cumulative", "quantile"),
                               ("cumulative functions", "quantiles (front ends, case 2)")):
        funcs = functions_of(accuracy, kind)
        values = {lib: {} for lib in LIBRARIES}
        for f in funcs:
            for lib in LIBRARIES:
                r = overall(accuracy, kind, f, lib)
                if r:
                    values[lib][f] = r["ns_median"]
        grouped_bars(ax, funcs, values)
        ax.set_ylabel("median ns per call (log scale)")
        ax.set_title(title)
    axes[0].legend()
    fig.suptitle(f"distfn against Boost.Math and GSL: time per call\n{figure_caption(info)}", fontsize=10)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)


def accuracy_plot(accuracy, info, path):
    fig, axes = plt.subplots(2, 2, figsize=(13, 8.5))
    for col, kind in enumerate(("cumulative", "quantile")):
        funcs = functions_of(accuracy, kind)
        for row, (stat, label) in enumerate((("err_max", "maximum"), ("err_median", "median"))):
            values = {lib: {} for lib in LIBRARIES}
            for f in funcs:
                for lib in LIBRARIES:
                    r = overall(accuracy, kind, f, lib)
                    if r and r[stat] == r[stat]:
                        # Exact results plot at the floor of the log scale.
                        values[lib][f] = max(r[stat], 0.1)
            ax = axes[row][col]
            grouped_bars(ax, funcs, values)
            ax.set_ylabel(f"{label} error, units of 2^-52")
            ax.set_title(f"{kind}: {label} relative error")
    axes[0][0].legend()
    fig.suptitle(f"distfn against Boost.Math and GSL: error against mpmath references\n{figure_caption(info)}",
                 fontsize=10)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)


def histogram_plot(runs, info, path):
    names = [("double_to_hist_bucket/fast", "to bucket"), ("double_to_hist_bucket/log10_baseline", "log10 baseline"),
             ("BM_InsertExisting/fast:0", "insert existing"), ("BM_InsertExisting/fast:1", "insert existing, fast"),
             ("BM_InsertNew/fast:0", "insert new"), ("BM_InsertNew/fast:1", "insert new, fast"),
             ("BM_InsertIntScale/fast:0", "insert intscale"), ("BM_InsertIntScale/fast:1", "insert intscale, fast")]
    present = [(n, label) for n, label in names if n in runs]
    if not present:
        return False
    lines = [(INSERT_PLAIN_LIMIT_NS, "--", "10 ns (plain insert target)"),
             (INSERT_FAST_LIMIT_NS, ":", "6 ns (fast insert target)")]
    bar_plot([label for _, label in present], [ns(runs[n]) for n, _ in present], lines, 4.2, False,
             "CPU ns per call (median of repetitions)", f"Bucket conversion and insertion\n{figure_caption(info)}",
             path)
    return True


def bar_plot(labels, values, lines, height, log, xlabel, title, path):
    """Horizontal bars, the first label on top, with vertical reference lines (value, style, label)."""
    fig, ax = plt.subplots(figsize=(9, height))
    ax.barh(labels, values, color=COLOURS["distfn"])
    for value, style, label in lines:
        ax.axvline(value, color="grey", ls=style, lw=1, label=label)
    if log:
        ax.set_xscale("log")
        ax.set_xlim(min(values) / 2, max(values) * 2)
    ax.set_xlabel(xlabel)
    ax.invert_yaxis()
    ax.legend(fontsize=8)
    ax.set_title(title, fontsize=10)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)


# ---- against HdrHistogram_c (bench_peer_hdr) --------------------------------------------------

# (operation, the peer's benchmark, this library's benchmark); times are CPU ns per call, except the
# two-thread rows, whose items_per_second (wall clock, both threads) give the time per value.
PEER_ROWS = [
    ("record, fast histogram", "BM_Record_hdr_record_value", "BM_Record_hist_insert/fast:1"),
    ("record intscale, fast histogram", "BM_Record_hdr_record_value", "BM_Record_hist_insert_intscale/fast:1"),
    ("record, plain histogram", "BM_Record_hdr_record_value", "BM_Record_hist_insert/fast:0"),
    ("record intscale, plain histogram", "BM_Record_hdr_record_value", "BM_Record_hist_insert_intscale/fast:0"),
    ("recorder, 1 thread, vs atomic record", "BM_Threads_hdr_record_value_atomic/real_time/threads:1",
     "BM_Threads_hist_recorder_insert/real_time/threads:1"),
    ("recorder, 2 threads, vs atomic record", "BM_Threads_hdr_record_value_atomic/real_time/threads:2",
     "BM_Threads_hist_recorder_insert/real_time/threads:2"),
    ("recorder, 1 thread, vs interval recorder", "BM_Threads_hdr_interval_recorder/real_time/threads:1",
     "BM_Threads_hist_recorder_insert/real_time/threads:1"),
    ("recorder, 2 threads, vs interval recorder", "BM_Threads_hdr_interval_recorder/real_time/threads:2",
     "BM_Threads_hist_recorder_insert/real_time/threads:2"),
    ("4 quantiles", "BM_Quantiles_hdr", "BM_Quantiles_hist"),
    ("merge one histogram", "BM_Merge_hdr", "BM_Merge_hist"),
    ("write base64 text", "BM_TextWrite_hdr", "BM_TextWrite_hist"),
    ("read base64 text", "BM_TextRead_hdr", "BM_TextRead_hist"),
]


def per_value_ns(bench):
    """Time per value: the wall-clock throughput of all threads for the threaded rows, else CPU time."""
    if "/threads:" in bench.get("run_name", bench["name"]):
        return 1e9 / bench["items_per_second"]
    return ns(bench)


def peer_rows(runs):
    rows = []
    for label, peer, ours in PEER_ROWS:
        if peer in runs and ours in runs:
            p, o = per_value_ns(runs[peer]), per_value_ns(runs[ours])
            rows.append((label, fmt_time(p), fmt_time(o), f"{o / p:.3g}x"))
    memory = runs.get("BM_Memory/iterations:1")
    if memory:
        for kind in ("plain", "fast"):
            rows.append((f"memory, {kind} histogram ({memory['buckets']:.0f} buckets)",
                         f"{memory['hdr_bytes']:.0f} B", f"{memory[kind + '_bytes']:.0f} B",
                         f"{memory[kind + '_bytes'] / memory['hdr_bytes']:.3g}x"))
    text = [runs.get(n) for n in ("BM_TextWrite_hdr", "BM_TextWrite_hist")]
    if all(text):
        rows.append(("base64 text length", f"{text[0]['chars']:.0f} chars", f"{text[1]['chars']:.0f} chars",
                     f"{text[1]['chars'] / text[0]['chars']:.3g}x"))
    return rows


# The recording targets against the peer: (target, limit, measured ratio's numerator and denominator
# benchmarks, the bound, whether the ratio must stay at or below it).
RECORDING_TARGETS = [
    ("fast `hist_insert` vs `hdr_record_value`", "BM_Record_hist_insert/fast:1", "BM_Record_hdr_record_value",
     1.25, True),
    ("fast `hist_insert_intscale` vs `hdr_record_value`", "BM_Record_hist_insert_intscale/fast:1",
     "BM_Record_hdr_record_value", 1.25, True),
    ("plain `hist_insert` vs `hdr_record_value`", "BM_Record_hist_insert/fast:0", "BM_Record_hdr_record_value",
     5.0, True),
    ("recorder, 1 thread, vs fast `hist_insert`", "BM_Threads_hist_recorder_insert/real_time/threads:1",
     "BM_Record_hist_insert/fast:1", 1.5, True),
    ("recorder, throughput of 2 threads over 1", "BM_Threads_hist_recorder_insert/real_time/threads:1",
     "BM_Threads_hist_recorder_insert/real_time/threads:2", 1.7, False),
]

# The fast insertion rebuilt one piece at a time (bench_peer_hdr's BM_Stage), against the peer.
RECORDING_STAGES = [
    ("conversion, then a flat array of counts indexed by the bucket", "BM_Stage/conversion_flat_counter"),
    ("conversion, fast index, aligned counts", "BM_Stage/fast_index_aligned_counts"),
    ("conversion, fast index, the packed 10-byte entries (no saturation)", "BM_Stage/fast_index_packed_entries"),
    ("`hist_insert` (fast): the same with saturation and the checks", "BM_Record_hist_insert/fast:1"),
]

RECORDING_NOTE = (
    "The stages show where the fast insertion's time goes. The conversion itself keeps pace with the peer: "
    "with a flat array of counts it runs at the peer's speed. The two-level fast index adds two dependent "
    "loads, and the packed 10-byte entries (whose counts sit at offset 2, so some straddle a cache line) add "
    "most of the rest; the saturating addition and the checks for a missing page or slot add the last part. "
    "The index of pages and the packed entries are the histogram's defined layout, which its readers, "
    "writers and callers rely on, so the fast insertion stays above the peer by about what these two cost. "
    "The plain insertion has no index: the keys of the first and last entries bracket the position, and one "
    "probe at the bracket's lower end names it where the buckets in between are contiguous (the body of a "
    "distribution); the search is inlined into the insertion. The two-thread figure depends on the machine: "
    "the recorder's threads write only their own shards, and on this 2-core virtual machine the benchmark's "
    "threads share both cores with the system.")


def recording_targets(runs):
    rows = []
    for label, top, bottom, bound, at_most in RECORDING_TARGETS:
        if top in runs and bottom in runs:
            ratio = per_value_ns(runs[top]) / per_value_ns(runs[bottom])
            rows.append((label, f"{'<=' if at_most else '>='} {bound:g}x", f"{ratio:.2f}x",
                         verdict(ratio <= bound if at_most else ratio >= bound)))
    return rows


def machine_scaling(runs):
    """Two threads' throughput over one's for work that shares nothing, or None."""
    one, two = (runs.get(f"BM_Threads_private_counters/real_time/threads:{n}") for n in (1, 2))
    return per_value_ns(one) / per_value_ns(two) if one and two else None


def recording_stages(runs):
    peer = runs.get("BM_Record_hdr_record_value")
    if not peer:
        return []
    return [(label, fmt_time(ns(runs[name])), f"{ns(runs[name]) / ns(peer):.2f}x")
            for label, name in RECORDING_STAGES if name in runs]


def peer_section(runs):
    rows = peer_rows(runs)
    if not rows:
        return ""
    targets, stages = recording_targets(runs), recording_stages(runs)
    recording = ""
    if targets:
        recording += "\n\nRecording targets in this run:\n\n" + table(["target", "bound", "measured", "verdict"], targets)
    scaling = machine_scaling(runs)
    if scaling:
        recording += (f"\n\nFor comparison, the machine's own scaling in the same run: two threads that share "
                      f"nothing (each converting into an array of counts of its own) gave {scaling:.2f}x the "
                      f"throughput of one.")
    if stages:
        recording += ("\n\nThe fast insertion rebuilt one piece at a time, in the same run (each stage a call, "
                      "as the library's):\n\n" + table(["stage", "time per value", "vs `hdr_record_value`"], stages)
                      + "\n\n" + RECORDING_NOTE)
    return ("The same 2^20 log-normal latencies (median 200 us, four decades) in both libraries, in one run of "
            "`bench_peer_hdr`: the peer records them as whole nanoseconds (`hdr_init(1, 3.6e12, 3)`), this library "
            "as doubles in seconds or as `hist_insert_intscale(ns, -9)`. The ratio is this library's time (or size) "
            "over the peer's: below 1 is better. The two-thread rows share one recorder or one histogram between "
            "both threads and quote the time per value of both threads together, from the wall clock.\n\n"
            + table(["operation", "HdrHistogram_c", "varrow", "ratio"], rows) + recording)


def peer_plot(runs, info, path):
    rows = [(label, float(ratio.rstrip("x"))) for label, _, _, ratio in peer_rows(runs)]
    if not rows:
        return False
    bar_plot([label for label, _ in rows], [r for _, r in rows], [(1.0, "--", "as the peer")], 5, True,
             "varrow / HdrHistogram_c (time or size; below 1 is better)",
             f"Against HdrHistogram_c, same values, same run\n{figure_caption(info)}", path)
    return True


# ---- documents -------------------------------------------------------------------------------

def histogram_section(runs):
    out = []
    programs = [("bench_buckets", "Bucket conversion and insertion"), ("bench_serialize", "Serialized form"),
                ("bench_merge", "Merging"), ("bench_quantiles", "Counts, moments and quantile batches"),
                ("bench_downsample", "Thinning (downsample)")]
    for program, title in programs:
        rows = []
        for name, b in runs.items():
            if b["program"] != program:
                continue
            extra = []
            if "bytes_per_second" in b:
                extra.append(f"{b['bytes_per_second'] / 1e6:.0f} MB/s")
            if "items_per_second" in b:
                extra.append(f"{1e9 / b['items_per_second']:.2f} ns per item")
            for counter in ("distinct", "chars", "cumbin_calls", "log2_n"):
                if counter in b:
                    extra.append(f"{counter} {b[counter]:.4g}")
            rows.append((f"`{name}`", fmt_time(ns(b)), ", ".join(extra)))
        if rows:
            out.append(f"### {title}\n\n" + table(["benchmark", "CPU time per iteration", "throughput"], rows))
    return "\n\n".join(out)


def special_section(runs):
    rows = [(f"`{n}`", f"{b['ns_per_call']:.1f}") for n, b in runs.items()
            if b["program"] == "bench_special_functions" and "ns_per_call" in b]
    return table(["function (on its reference points)", "ns per call, mean"], rows) if rows else ""


def counter_section(runs, program, counters):
    rows = []
    for n, b in runs.items():
        if b["program"] != program:
            continue
        cells = [f"`{n}`", fmt_time(ns(b))]
        cells += [fmt(b[c]) if c in b else "–" for c in counters]
        rows.append(cells)
    return table(["benchmark", "CPU time per iteration"] + counters, rows) if rows else ""


def distfn_speed_table(accuracy, runs, kind):
    """Median ns per call of each library, their ratios, and the ratio of the
    mean times that Google Benchmark measured over all points at once."""
    rows = []
    for f in functions_of(accuracy, kind):
        cells = [f"`{f}`"]
        ours = overall(accuracy, kind, f, "distfn")
        for lib in LIBRARIES:
            r = overall(accuracy, kind, f, lib)
            cells.append(f"{r['ns_median']:.0f}" if r else "–")
        for lib in LIBRARIES[1:]:
            r = overall(accuracy, kind, f, lib)
            cells.append(f"{ours['ns_median'] / r['ns_median']:.2f}" if r and ours else "–")
        ours_mean, boost_mean = runs.get(f"{kind}/{f}/distfn"), runs.get(f"{kind}/{f}/Boost.Math")
        cells.append(f"{ns(ours_mean) / ns(boost_mean):.2f}" if ours_mean and boost_mean else "–")
        cells.append(str(ours["points"]) if ours else "–")
        rows.append(cells)
    return table(["function", "distfn ns", "Boost.Math ns", "GSL ns", "distfn / Boost", "distfn / GSL",
                  "distfn / Boost, means", "points"], rows)


def region_table(accuracy, kind, stat_columns):
    rows = []
    for f in functions_of(accuracy, kind):
        regions = sorted({r["region"] for r in accuracy if r["kind"] == kind and r["function"] == f},
                         key=lambda g: (g == "all", g))
        for region in regions:
            cells = [f"`{f}`", region]
            points = "–"
            for lib in LIBRARIES:
                r = next((r for r in accuracy if r["kind"] == kind and r["function"] == f and r["region"] == region
                          and r["library"] == lib), None)
                for stat in stat_columns:
                    cells.append(fmt(r[stat]) if r else "–")
                if r and lib == "distfn":
                    points = str(r["points"])
            cells.append(points)
            rows.append(cells)
    header = ["function", "region"]
    for lib in LIBRARIES:
        header += [f"{lib} {s.replace('err_', 'err ').replace('ns_', 'ns ')}" for s in stat_columns]
    header.append("points")
    return table(header, rows)


DENSITY_LIBRARIES = ["distfn", "Boost.Math", "GSL"]
TAIL_LIBRARIES = ["distfn", "distfn cumchn/cumfnc", "Boost.Math"]

DENSITY_INTRO = (
    "`pdfbet` ... `pdft` (the probability masses for the binomial, negative binomial and Poisson laws) on "
    "the points of `tests/data/densities.csv` (`tools/gen_density_reference.py`, mpmath at 40 digits), beside "
    "Boost.Math's `pdf` (double precision without promotion) and GSL's `gsl_ran_*_pdf` on the same points "
    "(GSL has no noncentral laws, and takes only whole counts). Error: the largest relative error in units "
    "of 2^-52; bound: its largest share of max(8 units, 16 kappa 2^-53), kappa the density's condition "
    "number in all its arguments, the bound the test suite holds distfn to (`tests/test_densities.cpp`). "
    "Regions: centre (within 5 standard deviations of the mean), tail (beyond, or below a thousandth of a "
    "positive mean), large (a parameter of 1e4 or more).")

TAIL_INTRO = (
    "`cumchnb` and `cumfncb` on the points of `tests/data/noncentral_tails.csv` "
    "(`tools/gen_noncentral_tails_reference.py`, mpmath at 40 digits), each tail on its own where it is at "
    "least 1e-300, beside distfn's truncated sums `cumchn` and `cumfnc` (their complement 1 - cum) and "
    "Boost.Math's `cdf` and `cdf(complement(...))`. Bound: the largest share of max(1e-13, 64 kappa 2^-53), "
    "kappa the tail's condition number, the bound of `tests/test_noncentral_tails.cpp`. Regions by the "
    "smaller tail: centre (>= 0.01), tail (>= 1e-20), far (smaller); large: noncentrality 1e4 or more.")


QUANTILES_NEAR_ONE = ("Quantiles close to 1: `invchn` and `invfnc` solve `cumchnb` and `cumfncb` from the smaller tail. The exact upper tail (mpmath, `tools/gen_noncentral_tails_reference.py`'s sums at 40 digits) at the quantile returned, against the q asked for, beside the front ends' case 2 on their truncated sums (which read p alone):\n\n" + """| q = 1 - p | `invchn(p, q, 4, 22.282032)` | exact upper tail there / q - 1 | `cdfchn` case 2 | `invfnc(p, q, 5, 12, 30)` | exact upper tail there / q - 1 | `cdffnc` case 2 |
|---|---|---|---|---|---|---|
| 1e-3 | 64.8329 | -7.1e-15 | 64.8492 | 45.0278 | -1.3e-15 | 45.451 |
| 3.6e-7 | 97.8400 | -1.4e-14 | status 2, 1e300 | 196.846 | 9.4e-16 | status 2, 1e300 |
| 1e-10 | 127.268 | -4.2e-15 | status 2, 1e300 | 798.832 | 1.4e-15 | status 2, 1e300 |
| 1e-15 | 165.041 | 1.8e-15 | status 2, 1e300 | 5497.95 | 6.4e-15 | status 2, 1e300 |
| 1e-50 | 391.900 | 2.6e-14 | status -2 (p = 1) | 3.7522e9 | -1.5e-14 | status -2 (p = 1) |
| 1e-200 | 1226.77 | -2.6e-14 | status -2 (p = 1) | 3.7522e34 | 1.1e-16 | status -2 (p = 1) |""")


def density_accuracy_table(rows, kind, libraries):
    """Per function and region: each library's largest error and its share of the bound."""
    out = []
    functions = sorted({r["function"] for r in rows if r["kind"] == kind})
    for f in functions:
        regions = sorted({r["region"] for r in rows if r["kind"] == kind and r["function"] == f},
                         key=lambda g: (g.startswith("all"), g))
        for region in regions:
            cells = [f"`{f}`", region]
            points = "–"
            for lib in libraries:
                r = next((r for r in rows if r["kind"] == kind and r["function"] == f and r["region"] == region
                          and r["library"] == lib), None)
                cells += [fmt(r["err_max"]), fmt(r["share_max"])] if r else ["–", "–"]
                if r and lib == "distfn":
                    points = str(r["points"])
            cells.append(points)
            out.append(cells)
    header = ["function", "region"]
    for lib in libraries:
        header += [f"{lib} max error", f"{lib} / bound"]
    header.append("points")
    return table(header, out)


def density_speed_table(rows, runs, kind, libraries):
    """Mean CPU ns per call over all points of a function (Google Benchmark's
    items per second, median of the repetitions) of each library, and
    distfn's ratio to Boost.Math."""
    out = []
    for f in sorted({r["function"] for r in rows if r["kind"] == kind}):
        means = {lib: runs.get(f"{kind}/{f}/{lib}") for lib in libraries}
        per_call = {lib: 1e9 / b["items_per_second"] for lib, b in means.items() if b and "items_per_second" in b}
        cells = [f"`{f}`"] + [f"{per_call[lib]:.0f}" if lib in per_call else "–" for lib in libraries]
        ours, boost = per_call.get("distfn"), per_call.get("Boost.Math")
        cells.append(f"{ours / boost:.2f}" if ours and boost else "–")
        out.append(cells)
    return table(["function"] + [f"{lib} ns" for lib in libraries] + ["distfn / Boost.Math"], out)


def density_accuracy_sections(density):
    if not density:
        return []
    return ["## Densities against Boost.Math and GSL (bench_densities)", "", DENSITY_INTRO, "",
            density_accuracy_table(density, "density", DENSITY_LIBRARIES), "",
            "## Noncentral tails, each summed on its own (bench_densities)", "", TAIL_INTRO, "",
            density_accuracy_table(density, "noncentral", TAIL_LIBRARIES), "", QUANTILES_NEAR_ONE, ""]


DENSITY_TIME_NOTES = (
    "Where the time goes: the beta-family densities (`pdfbet`, `pdfbin`, `pdfnbn`, `pdff`) are the incomplete beta ratio's prefactor `brcomp`, x^a y^b / B(a, b), which forms ln B(a, b) from `betaln` (two or three logarithms of gamma functions, or the expansion about the mode with `bcorr` for parameters of 8 and more) and takes one more exponential; Boost.Math's Lanczos form takes one power and one exponential. `pdfnor` pays its argument checks (those of `cdfnor`, a few comparisons) and the exact split of z^2, which keeps its error from growing with z^2. The gamma-family densities, through the Stirling form of the Poisson weight, and the noncentral mixtures, summed from their largest term outwards, are faster than Boost.Math. The noncentral tails sum two series, each from its own start (an incomplete ratio at each), and walk the Poisson weights to bounds of 2^-60 of the largest: about twice Boost.Math's time, five times that of the truncated `cumchn` and `cumfnc`.")


def density_speed_sections(density, runs):
    if not density:
        return []
    return ["## Densities and noncentral tails against Boost.Math and GSL (bench_densities)", "",
            "Mean CPU time per call over all points of `tests/data/densities.csv` and "
            "`tests/data/noncentral_tails.csv` (see ACCURACY.md for the errors on the same points).", "",
            "### Densities", "", density_speed_table(density, runs, "density", DENSITY_LIBRARIES), "",
            "### Noncentral tails (both from one call)", "",
            density_speed_table(density, runs, "noncentral", TAIL_LIBRARIES), "", DENSITY_TIME_NOTES, ""]


def note_keys(label):
    """The profile notes that explain a missed target."""
    if "(quantile)" in label:
        function = label.split("`")[1]
        return ["quantile"] + ([function] if function in PROFILE_NOTES else [])
    return [label] if label in PROFILE_NOTES else []


def missed_notes(targets):
    """The keys of the profile notes of every missed target, each once."""
    keys = []
    for label, *_, result in targets:
        if result != "met":
            keys += [k for k in note_keys(label) if k not in keys]
    return keys


def evaluation_table(accuracy):
    """Per front end: the evaluations of its cumulative function per solve, the
    cost of one inside the search, and how many Boost.Math's time affords."""
    rows = []
    for f in functions_of(accuracy, "quantile"):
        ours, boost = overall(accuracy, "quantile", f, "distfn"), overall(accuracy, "quantile", f, "Boost.Math")
        cum = overall(accuracy, "cumulative", SEARCHED_FUNCTION.get(f, ""), "distfn")
        if not ours or not boost or not cum or not ours.get("evals_per_call"):
            continue
        per_evaluation = ours["ns_median"] / ours["evals_per_call"]
        rows.append((f"`{f}`", f"{ours['evals_per_call']:.1f}", f"{ours['ns_median']:.0f}", f"{per_evaluation:.0f}",
                     f"`{cum['function']}` {cum['ns_median']:.0f}", f"{boost['ns_median']:.0f}",
                     f"{boost['ns_median'] / per_evaluation:.1f}"))
    return table(["front end", "evaluations per solve", "ns per solve", "ns per evaluation",
                  "cumulative function alone, median ns", "Boost.Math ns", "evaluations Boost's time affords"],
                 rows)


# bench_quantile_functions: BM_inv_<law>_<peer>, peers in this order.
INVERSE_PEERS = [("distfn", "inv*"), ("front_end", "front end"), ("boost", "Boost.Math"), ("gsl", "GSL")]
INVERSE_LAWS = ["nor", "t", "chi", "gam", "bet", "f", "bin", "nbn", "poi", "chn", "fnc"]
INVERSE_NAMES = {"nor": "invnor", "t": "invt", "chi": "invchi", "gam": "invgam", "bet": "invbet", "f": "invf",
                 "bin": "invbin", "nbn": "invnbn", "poi": "invpoi", "chn": "invchn", "fnc": "invfnc"}


def inverse_runs(runs):
    """law -> peer -> the median run of bench_quantile_functions."""
    found = {}
    for name, b in runs.items():
        m = re.match(r"BM_inv_([a-z]+)_(distfn|front_end|boost|gsl)$", name)
        if m and b["program"] == "bench_quantile_functions":
            found.setdefault(m.group(1), {})[m.group(2)] = b
    return found


def inverse_section(runs, quantity):
    """quantity "time": ns per call and ratios; "error": max and median error in units of 2^-52."""
    found = inverse_runs(runs)
    rows = []
    for law in INVERSE_LAWS:
        peers = found.get(law)
        if not peers:
            continue
        cells = [f"`{INVERSE_NAMES[law]}`"]
        for key, _ in INVERSE_PEERS:
            b = peers.get(key)
            if quantity == "time":
                cells.append(f"{b['ns_per_call']:.0f}" if b else "–")
            else:
                cells.append(f"{fmt(b['max_err'])} / {fmt(b['median_err'])}" if b else "–")
        if quantity == "time":
            ours, boost = peers.get("distfn"), peers.get("boost")
            cells.append(f"{ours['ns_per_call'] / boost['ns_per_call']:.2f}" if ours and boost else "–")
            cells.append(f"{int(ours['points'])}" if ours else "–")
        rows.append(cells)
    header = ["function"] + [label for _, label in INVERSE_PEERS]
    if quantity == "time":
        return table([h + (" ns" if i else "") for i, h in enumerate(header)] + ["inv* / Boost", "points"], rows)
    return table([h + (" max / median" if i else "") for i, h in enumerate(header)], rows)


def inverse_plot(runs, info, path):
    found = inverse_runs(runs)
    laws = [law for law in INVERSE_LAWS if law in found]
    if not laws:
        return False
    fig, axes = plt.subplots(1, 2, figsize=(13, 4.8))
    colours = ["#1f77b4", "#9467bd", "#ff7f0e", "#2ca02c"]
    width = 0.8 / len(INVERSE_PEERS)
    for ax, counter, title in zip(axes, ("ns_per_call", "max_err"),
                                  ("median ns per call (log scale)", "max error, units of 2^-52 (log scale)")):
        for i, (key, label) in enumerate(INVERSE_PEERS):
            xs = [j + (i - 1.5) * width for j in range(len(laws))]
            # A missing peer draws no bar; an infinite error is drawn at the top.
            vals = [min(max(found[law][key][counter], 0.1), 1e20) if key in found[law] else 0 for law in laws]
            ax.bar(xs, vals, width, label=label, color=colours[i])
        ax.set_xticks(range(len(laws)))
        ax.set_xticklabels([INVERSE_NAMES[law] for law in laws], rotation=30, ha="right")
        ax.set_yscale("log")
        ax.set_title(title)
        ax.grid(axis="y", alpha=0.3)
    axes[0].legend()
    fig.suptitle(f"Quantile functions against Boost.Math and GSL\n{figure_caption(info)}", fontsize=10)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)
    return True


INVERSE_INTRO = ("The quantile functions `inv*` solve the equation of their front end's case 2 to full precision "
                 "(`bench_quantile_functions`): each law on the points of `tests/data/inverse_quantiles.csv` "
                 "whose smaller tail is at least 1e-30, every peer on the same points in the same run. Boost.Math "
                 "runs with `promote_double<false>` (discrete laws with `discrete_quantile<real>`, the continuous "
                 "count the front ends solve for), GSL's `_Pinv`/`_Qinv` by the smaller tail; GSL has no "
                 "discrete or noncentral inverses. A failure (exception, NaN) counts as an infinite error.")


def performance_document(info, runs, accuracy, histstat, postgres, citus, python_section, plots, density):
    targets = histogram_targets(runs, histstat) + citus_targets(citus) + distfn_targets(accuracy)
    met = sum(1 for t in targets if t[-1] == "met")
    parts = [
        "# Performance",
        "",
        "Generated by `bash bench/run_all.sh` (raw results in `bench/results/`); do not edit by hand.",
        "",
        f"Machine and compiler: {machine_line(info)}.",
        "",
        "The machine is a shared virtual machine: single figures move by tens of per cent from run to run. "
        "Every figure below is a median (of the benchmark repetitions, or over the reference points of a "
        "function, each timed alone as the least of a few short blocks of calls), and the comparisons are ratios "
        "measured in the same run. Google Benchmark figures are the CPU time of the benchmark thread (Debian's "
        "libbenchmark warns that it is a debug build; the timed loop itself is inline code of its header, compiled here with -O3); the per-point distfn "
        "times are wall-clock times; `histstat` and `base64 -d` are the best elapsed time of three runs.",
        "",
        "## Targets",
        "",
        f"{met} of {len(targets)} targets met in this run.",
        "",
        table(["target", "limit", "measured", "ratio", "verdict"], targets),
        "",
    ]
    parts += ["## Tuning done for this report", ""] + [f"- {t}" for t in TUNING_DONE] + [""]
    notes = missed_notes(targets)
    if notes:
        parts += ["## Where targets are missed, and why", ""]
        for key in notes:
            parts += [f"**{key}.** {PROFILE_NOTES[key]}", ""]
            if key == "quantile":
                parts += [evaluation_table(accuracy), ""]
    parts += ["## Histograms", ""]
    if plots.get("histogram"):
        parts += ["![bucket conversion and insertion](perf_histogram.png)", ""]
    parts += [histogram_section(runs), "", "### histstat end to end against base64 -d", "", "```",
              histstat["text"].rstrip(), "```", ""]
    if postgres:
        parts += ["### PostgreSQL extension against percentile_cont", "", POSTGRES_INTRO, "", postgres, ""]
    if citus:
        parts += ["### PostgreSQL extension on a Citus cluster against tdigest", "", CITUS_INTRO, "", citus, ""]
    if python_section:
        parts += ["## Python module (bench_python.py)", "", python_section.rstrip(), ""]
    if peer_section(runs):
        parts += ["## Against HdrHistogram_c", ""]
        if plots.get("peer"):
            parts += ["![against HdrHistogram_c](perf_peer_hdr.png)", ""]
        parts += [peer_section(runs), ""]
    parts += ["## distfn against Boost.Math and GSL", "",
              "Median time of one call over the reference points of each function (the points of "
              "`tests/data/`), every library on the same points in the same run. Boost.Math runs with the policy "
              "`promote_double<false>`; both peers return both tails of a cumulative function through two calls "
              "(`cdf` and its complement, `_P` and `_Q`), distfn through one. GSL has no noncentral distributions "
              "and no inverse of the discrete ones, and takes whole counts only.", "",
              "![time per call](perf_distfn.png)", "",
              "### Cumulative functions", "", distfn_speed_table(accuracy, runs, "cumulative"), "",
              "### Quantiles through the front ends (case 2)", "",
              "The front ends solve with a bracketing search to a relative tolerance of 1e-8 and call the "
              "cumulative function at every step; Boost.Math's quantiles use Newton or Halley steps with the "
              "density, GSL's a closed-form start and a few corrections.", "",
              distfn_speed_table(accuracy, runs, "quantile"), "",
              "### Time per region (median ns per call)", "",
              region_table(accuracy, "cumulative", ["ns_median"]), "",
              region_table(accuracy, "quantile", ["ns_median"]), "",
              "### Special functions (mean over the reference points)", "", special_section(runs), "",
              "### Incomplete beta ratio and binomial (bench_beta, mean ns per call per method region)", "",
              counter_section(runs, "bench_beta", ["ns_per_call"]), "",
              "### Incomplete gamma ratio, normal and gaminv (bench_gamma_normal)", "",
              counter_section(runs, "bench_gamma_normal", ["items_per_second", "median_ulp", "max_ulp"]), "",
              "### Front-end quantiles with their evaluation counts (bench_front_ends)", "",
              counter_section(runs, "bench_front_ends", ["ns_per_call", "evals_per_solve", "median_err", "max_err"]),
              ""]
    if inverse_runs(runs):
        parts += ["## Quantile functions against Boost.Math and GSL", "", INVERSE_INTRO, "",
                  "![quantile functions](perf_quantile_functions.png)", "", inverse_section(runs, "time"), ""]
    parts += density_speed_sections(density, runs)
    return "\n".join(parts)


def accuracy_document(info, runs, accuracy, results):
    parts = [
        "# Accuracy",
        "",
        "Generated by `bash bench/run_all.sh` (raw results in `bench/results/`); do not edit by hand.",
        "",
        f"Machine and compiler: {machine_line(info)}.",
        "",
        "Relative error in units of 2^-52 (about 2.2e-16) against the mpmath references in `tests/data/` "
        "(`tools/gen_*_reference.py`, `tools/front_end_quantiles.py`, `tools/gen_quantile_reference.py`), "
        "on the same points for every library. A cumulative function is judged on both tails, each where its "
        "reference is at least 1e-300; a quantile on the value returned. Failures are NaN results, "
        "exceptions or a non-zero status. The condition number of a point bounds what any double-precision "
        "code can reach there, so large errors in the far tails of ill-conditioned points are shared by all "
        "three libraries. The front ends stop their search at a relative tolerance of 1e-8 (about 4.5e7 "
        "units), by design.",
        "",
        "The accuracy each function must reach is enforced by the test suite (`tests/test_*.cpp`, on the same "
        "tables); this report sets it beside the peers.",
        "",
        "Regions: for a cumulative function, by its smaller tail: centre (>= 0.05), tail (1e-10 to 0.05), "
        "far_tail (below 1e-10); for a quantile, by p: centre (0.05 <= p <= 0.95) or tail.",
        "",
        "![accuracy](accuracy_distfn.png)",
        "",
        "## What the large errors are",
        "",
        "- `cumchn` and `cumfnc` sum their Poisson-weighted series until a term falls below 1e-5 (`cumchn`) "
        "or 1e-4 (`cumfnc`) of the sum: their results carry relative errors of that order, about 1e8 to 1e12 "
        "units, by design. Both give the upper tail as 1 - `cum`, so an upper tail far below 1e-16 comes out "
        "as rounding noise or 0 (the maxima of 1e30 and more in far_tail). Their front ends `cdfchn` and "
        "`cdffnc` inherit both.",
        "- The front ends solve to a relative tolerance of 1e-8, so their quantiles are good to about 1e-8 "
        "(up to about 4.5e7 units), against a few units for Boost.Math and GSL, which iterate to full "
        "precision. `cdfnor` and `cdfgam` invert directly and reach a few units.",
        "- The maxima of the other cumulative functions lie in the far tails, where the condition number "
        "of the point is large; the peers share them, often larger.",
        "",
        "## Cumulative functions",
        "",
        region_table(accuracy, "cumulative", ["err_median", "err_max", "failures"]),
        "",
        "## Quantiles through the front ends (case 2)",
        "",
        region_table(accuracy, "quantile", ["err_median", "err_max", "failures"]),
        "",
    ]
    beta_text = results / "bench_beta.txt"
    if beta_text.exists():
        # The side-by-side table that bench_beta prints before its benchmarks.
        side = beta_text.read_text().split("\n---", 1)[0].rstrip()
        parts += ["## Incomplete beta ratio and binomial (bench_beta)", "", "```", side, "```", ""]
    parts += ["## Incomplete gamma ratio, normal and gaminv (bench_gamma_normal)", "",
              "Units of 2^-52; for gaminv the error of P (or Q) at the returned x against p.", "",
              counter_section(runs, "bench_gamma_normal", ["median_ulp", "max_ulp"]), ""]
    parts += density_accuracy_sections(read_density_accuracy(results))
    if inverse_runs(runs):
        parts += ["## Quantile functions (inv*) against Boost.Math and GSL", "", INVERSE_INTRO, "",
                  "The test suite holds every `inv*` to max(8 max(1, kappa), 16 kappa_F kappa) units over both "
                  "tails from 1e-300 (`tests/test_quantile_functions.cpp`), kappa the quantile's condition number "
                  "and kappa_F the cumulative function's; the noncentral laws, which solve `cumchnb` and `cumfncb`, "
                  "likewise.",
                  "", inverse_section(runs, "error"), ""]
    return "\n".join(parts)


def main():
    results = Path(sys.argv[1] if len(sys.argv) > 1 else "bench/results")
    docs = Path(sys.argv[2] if len(sys.argv) > 2 else "docs")
    docs.mkdir(parents=True, exist_ok=True)
    info = read_machine(results)
    runs = read_benchmarks(results)
    accuracy = read_accuracy(results)
    histstat = read_histstat(results)
    plots = {"histogram": histogram_plot(runs, info, docs / "perf_histogram.png"),
             "peer": peer_plot(runs, info, docs / "perf_peer_hdr.png")}
    if accuracy:
        speed_plot(accuracy, info, docs / "perf_distfn.png")
        accuracy_plot(accuracy, info, docs / "accuracy_distfn.png")
    inverse_plot(runs, info, docs / "perf_quantile_functions.png")
    postgres = read_postgres(results)
    citus = read_citus(results)
    python_path = results / "python.md"
    python_section = python_path.read_text() if python_path.exists() else ""
    density = read_density_accuracy(results)
    (docs / "PERFORMANCE.md").write_text(performance_document(info, runs, accuracy, histstat, postgres, citus, python_section, plots,
                                                              density))
    (docs / "ACCURACY.md").write_text(accuracy_document(info, runs, accuracy, results))


if __name__ == "__main__":
    main()
