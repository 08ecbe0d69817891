"""The observability formats: text that the Prometheus client library writes,
OTLP documents, HdrHistogram encodings, the round trips, and histconv's heatmap
as a browser renders it."""
import os
import shutil
import subprocess
import tempfile

import numpy as np
import pytest

import varrow

ANALYZER = os.environ.get("VARROW_ANALYZER_DIR", "")
HISTCONV = os.path.join(ANALYZER, "histconv")
BOUNDS = (0.001, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1.0, 2.5)


def latencies(seed=4, n=3000):
    return np.random.default_rng(seed).lognormal(-3, 1.1, size=n)


def below(h, x):
    """The samples in the buckets below the bucket of x."""
    return h.count - h.count_above(x)


def is_edge(bound):
    """Whether a bound is a bucket edge (two significant digits)."""
    return float("%.1e" % bound) == bound


@pytest.fixture(scope="module")
def client_registry():
    prometheus_client = pytest.importorskip("prometheus_client")
    registry = prometheus_client.CollectorRegistry()
    hist = prometheus_client.Histogram("request_seconds", "Request time", ["route"], buckets=BOUNDS,
                                       registry=registry)
    values = {"/a": latencies(1), '/b"\\': latencies(2, 500)}
    for route, samples in values.items():
        for v in samples:
            hist.labels(route=route).observe(float(v))
    return registry, values


@pytest.mark.parametrize("flavour", ["text", "openmetrics"])
def test_prometheus_client_text(client_registry, flavour):
    registry, values = client_registry
    if flavour == "text":
        from prometheus_client import generate_latest
    else:
        from prometheus_client.openmetrics.exposition import generate_latest
    series = varrow.from_prometheus(generate_latest(registry).decode())
    assert list(series) == ['request_seconds{route="/a"}', 'request_seconds{route="/b\\"\\\\"}']
    for h, samples in zip(series.values(), values.values()):
        assert h.count == len(samples)
        for bound in BOUNDS:
            # The client counts samples <= bound; none falls exactly on one.
            assert below(h, bound) == np.count_nonzero(samples <= bound), bound


def test_round_trips_keep_counts_below_edges_and_total():
    h = varrow.Histogram()
    h.insert_many(latencies())
    back = varrow.from_prometheus(h.to_prometheus("lat", le=sorted(BOUNDS + (0.0333,)), labels={"job": "x"}))
    (key, through_prometheus), = back.items()
    assert key == 'lat{job="x"}'
    assert through_prometheus.count == h.count
    for bound in BOUNDS:
        assert is_edge(bound)
        assert below(through_prometheus, bound) == below(h, bound)

    document = h.to_otlp()
    point = document["resourceMetrics"][0]["scopeMetrics"][0]["metrics"][0]["exponentialHistogram"]["dataPoints"][0]
    assert point["count"] == str(h.count)
    (_, through_otlp), = varrow.from_otlp(document)
    assert through_otlp.count == h.count
    for edge in (0.25, 0.5, 1.0, 2.0):
        assert below(through_otlp, edge) == below(h, edge)
    # The apportioned quantiles stay within an exponential and a log-linear bucket.
    base = 2 ** (2 ** -point["scale"])
    for q in (0.5, 0.9, 0.99):
        assert abs(np.log(through_otlp.quantile(q) / h.quantile(q))) <= np.log(base) + np.log(1.1)


def test_bad_input_raises_value_error_with_the_place():
    cases = [
        (varrow.from_prometheus, 'a_bucket{le="1"} 4\na_bucket{le="+Inf"} 3\n', "line 2: falling cumulative count"),
        (varrow.from_otlp, {"resourceMetrics": [{"scopeMetrics": [{"metrics": [
            {"histogram": {"dataPoints": [{"bucketCounts": ["1", "-2"], "explicitBounds": [1]}]}}]}]}]},
         "bucketCounts[1]"),
        (varrow.from_hdr, "HISTFAAAAEV4", "HdrHistogram"),
        (varrow.from_hdr, "0.1,1,1,HISTFAAAAEV4", "read_hlog"),
    ]
    for function, text, message in cases:
        with pytest.raises(ValueError, match=message.replace("[", r"\[").replace("]", r"\]")):
            function(text)
    with pytest.raises(ValueError, match="not a metric name"):
        varrow.Histogram().to_prometheus("9")
    with pytest.raises(ValueError, match="strictly ascending"):
        varrow.Histogram().to_prometheus("a", le=[2, 1])
    with pytest.raises(ValueError, match="label name"):
        varrow.Histogram().to_prometheus("a", labels={"le": "1"})
    with pytest.raises(OSError):
        varrow.read_hlog("/nonexistent/run.hlog")


needs_histconv = pytest.mark.skipif(not os.path.exists(HISTCONV), reason="VARROW_ANALYZER_DIR lacks histconv")


@needs_histconv
def test_histconv_reads_client_text(client_registry):
    from prometheus_client import generate_latest
    registry, values = client_registry
    out = subprocess.run([HISTCONV, "--from", "prometheus", "--to", "json"], input=generate_latest(registry),
                         capture_output=True, check=True).stdout.decode().splitlines()
    assert len(out) == 2
    assert '"key":"request_seconds{route=\\"/a\\"}"' in out[0]


CHROMIUM = shutil.which("chromium")


@needs_histconv
@pytest.mark.skipif(CHROMIUM is None, reason="chromium is not installed")
def test_heatmap_renders_in_chromium():
    import matplotlib.image

    stream = []
    for minute in range(12):
        h = varrow.Histogram()
        h.insert_many(latencies(minute, 800) * (1 + minute / 4))
        stream.append(h.to_base64())
    with tempfile.TemporaryDirectory() as work:
        svg = os.path.join(work, "heatmap.svg")
        with open(svg, "wb") as out:
            subprocess.run([HISTCONV, "--to", "svg"], input="\n".join(stream).encode(), stdout=out, check=True)
        png = os.path.join(work, "heatmap.png")
        profile = os.path.join(work, "profile")
        os.mkdir(profile)
        subprocess.run([CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                        "--disable-background-networking", "--disable-component-update", "--disable-sync",
                        f"--user-data-dir={profile}", "--window-size=960,520", f"--screenshot={png}",
                        "file://" + svg], capture_output=True, timeout=120, check=True)
        image = matplotlib.image.imread(png)[:, :, :3]
    assert image.shape[:2] == (520, 960)
    # The plot area holds the palette's dark and light ends, the quantile
    # lines their white and red, the margins white.
    pixels = {tuple(p) for p in (np.round(image.reshape(-1, 3) * 255).astype(int) // 16)}
    assert len(pixels) > 20
    assert image[5, 5].tolist() == [1.0, 1.0, 1.0]
    plot = image[60:450, 100:780]
    assert (plot.sum(axis=2) < 1.0).mean() > 0.05  # the dark background of empty value ranges
    assert ((plot[:, :, 0] > 0.8) & (plot[:, :, 1] < 0.3)).any()  # the red p99.9 line


SOURCE = os.environ.get("VARROW_SOURCE_DIR", "")
HLOG = os.path.join(SOURCE, "fuzz", "corpus", "hdr", "interval_log")


@pytest.mark.skipif(not os.path.exists(HLOG), reason="VARROW_SOURCE_DIR does not hold the fuzz corpus")
def test_read_hlog_and_from_hdr():
    intervals = varrow.read_hlog(HLOG, unit=1e-9)
    # Relative timestamps: the log's StartTime is added.
    assert [round(start, 3) for start, _ in intervals] == [1441812279.601, 1441812280.608, 1441812281.607]
    with open(HLOG) as log:
        encoded = [line.rsplit(",", 1)[1] for line in log if line[0].isdigit() or line.startswith("Tag=")]
    for (_, h), text in zip(intervals, encoded):
        assert varrow.from_hdr(text, unit=1e-9) == h
        assert varrow.from_hdr(text).count == h.count
