"""The module against the histmake and histstat programs on the same data."""
import io
import json
import os
import subprocess

import numpy as np
import pytest

import varrow

ANALYZER = os.environ.get("VARROW_ANALYZER_DIR", "")
EXAMPLES = os.path.join(os.environ.get("VARROW_SOURCE_DIR", ""), "examples")
PERCENTS = [0, 1, 25, 50, 90, 99, 99.9, 100]
THRESHOLDS = [0.001, 0.05, 0.3, 2.0]

pytestmark = pytest.mark.skipif(not os.path.exists(os.path.join(ANALYZER, "histstat")),
                                reason="VARROW_ANALYZER_DIR does not hold the programs")


def run(program, *args, text):
    return subprocess.run([os.path.join(ANALYZER, program), *args], input=text, capture_output=True,
                          text=True, check=True).stdout


def histstat_report(b64_lines):
    options = [arg for p in PERCENTS for arg in ("-p", str(p))]
    options += [arg for x in THRESHOLDS for arg in ("-a", str(x), "-b", str(x), "-i", str(x))]
    return [json.loads(line) for line in run("histstat", *options, text=b64_lines).splitlines()]


def g(value):
    """A number as histstat prints it (printf's %g)."""
    return float("%g" % value)


@pytest.fixture(scope="module")
def samples():
    rng = np.random.default_rng(18)
    rows = [rng.lognormal(-3, 1.2, size=n) for n in (1, 10, 1000, 5000)]
    rows.append(np.concatenate([rng.normal(0, 5, 500), [0.0, np.nan, np.inf, 1e-130, -1e130]]))
    return rows


def test_histmake_text_is_identical(samples):
    text = "\n".join(" ".join(repr(float(v)) for v in row) for row in samples) + "\n"
    made = run("histmake", "-l", text=text).splitlines()
    for row, line in zip(samples, made, strict=True):
        h = varrow.Histogram()
        h.insert_many(row)
        assert h.to_base64() == line
        assert varrow.Histogram.from_base64(line) == h


def test_histstat_reports_equal_the_module(samples):
    histograms = []
    for row in samples:
        h = varrow.Histogram(fast=True)
        h.insert_many(row)
        histograms.append(h)
    reports = histstat_report("".join(h.to_base64() + "\n" for h in histograms))
    for h, report in zip(histograms, reports, strict=True):
        assert report["count"] == h.count
        for p, value in zip(PERCENTS, h.quantiles([p / 100 for p in PERCENTS])):
            assert report["p(%f%%)" % p] == g(value)
        shares = h.inverse_quantile(THRESHOLDS)
        for x, share in zip(THRESHOLDS, shares):
            assert report["above(%g)" % x] == h.count_above(x)
            assert report["below(%g)" % x] == h.count_below(x)
            assert report["invq(%f)" % x] == g(share)


def test_histstat_bucket_map_equals_buckets(samples):
    h = varrow.Histogram()
    h.insert_many(samples[2])
    (bucket_map,) = [json.loads(line) for line in run("histstat", h.to_base64(), text="").splitlines()]
    values, counts = h.buckets()
    assert bucket_map == {"%g" % v: int(c) for v, c in zip(values, counts)}


def test_read_lines_of_the_example_files(tmp_path):
    path = os.path.join(EXAMPLES, "latencies.b64")
    (h,) = list(varrow.read_lines(path))
    assert h.count == 5150
    report = histstat_report(open(path).read())[0]
    assert report["p(99.900000%)"] == g(h.quantile(0.999))
    per_minute = list(varrow.read_lines(open(os.path.join(EXAMPLES, "cumulative.b64"))))
    assert len(per_minute) > 1
    with open(os.path.join(EXAMPLES, "cumulative.b64"), "rb") as binary:
        assert list(varrow.read_lines(binary, fast=True)) == per_minute


def test_read_lines_skips_blank_lines_and_names_the_bad_line(tmp_path):
    path = tmp_path / "bad.b64"
    path.write_text("AAA=\n\n  \t\nAAQM/gABD/4AAx/+AAEU/wAB\r\nnot a histogram\n")
    lines = varrow.read_lines(path)
    assert next(lines).count == 0 and next(lines).count == 6
    with pytest.raises(ValueError, match=r"bad\.b64:5: not a base64 histogram"):
        next(lines)
    assert list(varrow.read_lines(io.StringIO("AAA=\n\n"))) == [varrow.Histogram()]  # a file ending in a blank line
    assert list(varrow.read_lines(io.BytesIO(b"\n"))) == []
    with pytest.raises(ValueError, match="<file>:2"):
        list(varrow.read_lines(io.StringIO("\nAAA=x\n")))


def histogram_of(values):
    h = varrow.Histogram()
    h.insert_many(np.asarray(values, dtype=float))
    return h


# Histograms whose statistics leave the finite numbers: nothing in them, only
# NaN samples, infinities, the ends of the bucket range, and ordinary ones.
EDGE_HISTOGRAMS = [
    [],
    [np.nan],
    [np.nan] * 5,
    [np.inf, -np.inf],
    [0.0],
    [-0.0, 0.0, 1e-130],
    [9.9e127, -9.9e127],
    [1e-128, 1.5e-128],
    [-1.0, -2.5, np.nan],
    [0.012, 0.015, 0.031, 0.2, np.nan],
]
EDGE_OPTIONS = ["-p", "0", "-p", "50", "-p", "100", "-p", "nan", "-i", "0", "-i", "1e300", "-i", "-inf",
                "-i", "nan", "-a", "nan", "-b", "inf"]


@pytest.mark.parametrize("mode", [[], ["-C"], ["-n"], ["-C", "-n"]], ids=["plain", "C", "n", "C-n"])
@pytest.mark.parametrize("statistics", [True, False], ids=["statistics", "bucket-map"])
def test_every_histstat_line_is_json(mode, statistics):
    # Repeated snapshots give -C intervals without new samples; "bad" lines
    # and blank lines are invalid inputs.
    lines = []
    for values in EDGE_HISTOGRAMS:
        text = histogram_of(values).to_base64()
        lines += [text, text, "bad", ""]
    options = mode + (EDGE_OPTIONS if statistics else [])
    result = subprocess.run([os.path.join(ANALYZER, "histstat"), *options], input="\n".join(lines) + "\n",
                            capture_output=True, text=True, check=True)
    printed = result.stdout.splitlines()
    reports = [json.loads(line) for line in printed]
    assert reports, "histstat printed nothing"
    if "-n" in mode:
        assert len(printed) == len(lines)  # line n answers input line n
        assert all(reports[i] is None for i in range(2, len(lines), 4))
    if statistics:
        figures = [r for r in reports if r is not None]
        assert any(r["p(50.000000%)"] is None for r in figures)  # an empty interval or histogram


def test_versions_agree():
    version = os.environ.get("VARROW_VERSION")
    assert varrow.__version__ == version
    for program in ("histstat", "histmake"):
        assert run(program, "--version", text="") == f"{program} (varrow) {version}\n"
