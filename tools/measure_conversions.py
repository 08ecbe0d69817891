#!/usr/bin/env python3
"""Measures the error of the format conversions on lognormal latencies: an
exponential histogram made exactly from the samples, converted to log-linear
buckets, against the samples themselves; and a log-linear histogram through
OTLP and Prometheus and back.  Prints one table row per case.

Usage: PYTHONPATH=build/<preset>/python python3 tools/measure_conversions.py"""
import math

import numpy as np

import varrow

QUANTILES = (0.01, 0.1, 0.5, 0.9, 0.99, 0.999)


def exponential_document(samples, scale):
    """The OTLP document of the samples' exact exponential histogram."""
    index = np.ceil(np.log2(samples) * 2.0 ** scale).astype(np.int64) - 1
    offset = int(index.min())
    counts = np.bincount(index - offset)
    point = {"scale": scale, "zeroCount": "0", "count": str(len(samples)),
             "positive": {"offset": offset, "bucketCounts": [str(c) for c in counts]}}
    return {"resourceMetrics": [{"scopeMetrics": [{"metrics": [
        {"name": "m", "exponentialHistogram": {"dataPoints": [point]}}]}]}]}


def quantile_error(h, samples):
    """The largest relative difference from the samples' own quantiles (rank ceil(qN))."""
    ordered = np.sort(samples)
    worst = 0.0
    for q in QUANTILES:
        exact = ordered[max(0, math.ceil(q * len(samples)) - 1)]
        worst = max(worst, abs(h.quantile(q) / exact - 1))
    return worst


def edge_count_error(h, samples):
    """The largest error of the count below a bucket edge, over the edges of
    the buckets in use, relative to the total."""
    values, _ = h.buckets()
    worst = 0
    for edge in values[values > 0]:
        truth = np.count_nonzero(samples < edge)
        worst = max(worst, abs((h.count - h.count_above(edge)) - truth))
    return worst / len(samples)


def main():
    rng = np.random.default_rng(20261210)
    print("| conversion | scale | quantile error (max, p1..p99.9) | count below an edge (max error / total) |")
    print("|---|---|---|---|")
    for sigma in (0.5, 1.5):
        samples = rng.lognormal(-3, sigma, size=200_000)
        for scale in (0, 2, 4, 8):
            (_, h), = varrow.from_otlp(exponential_document(samples, scale))
            assert h.count == len(samples)
            print(f"| exponential -> log-linear, sigma {sigma} | {scale} | {quantile_error(h, samples):.2%} |"
                  f" {edge_count_error(h, samples):.3%} |")
        direct = varrow.Histogram()
        direct.insert_many(samples)
        print(f"| samples -> log-linear (reference), sigma {sigma} | - | {quantile_error(direct, samples):.2%} |"
              f" {edge_count_error(direct, samples):.3%} |")
        for scale in (0, 3, 6):
            (_, back), = varrow.from_otlp(direct.to_otlp(scale=scale))
            assert back.count == direct.count
            print(f"| log-linear -> OTLP -> log-linear, sigma {sigma} | {scale} | {quantile_error(back, samples):.2%} |"
                  f" {edge_count_error(back, samples):.3%} |")
        (_, back), = varrow.from_prometheus(direct.to_prometheus("m")).items()
        print(f"| log-linear -> Prometheus (default bounds) -> log-linear, sigma {sigma} | - |"
              f" {quantile_error(back, samples):.2%} | - |")


if __name__ == "__main__":
    main()
