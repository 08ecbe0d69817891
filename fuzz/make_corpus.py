#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: real histograms (latencies,
sizes, signed deltas, a large one whose text passes the readers' fixed
scratch buffers) as serialized records and as base64 text, for the readers,
the adding readers and the SQL input path; fixed random bytes for the
decoders of operation sequences, of distfn arguments and of exponential and
explicit-bound histograms."""
import base64
import math
import pathlib
import random

HERE = pathlib.Path(__file__).resolve().parent
NAN_BUCKET = (-1, 0)
WIDTH_LIMITS = [(1 << (8 * (k + 1))) - 1 for k in range(7)]


def bucket(x):
    """The two leading decimal digits of x with its sign, and the power of ten."""
    if x != x or math.isinf(x) or abs(x) >= 1e128:
        return NAN_BUCKET
    if x == 0 or abs(x) < 1e-128:
        return (0, 0)
    e = math.floor(math.log10(abs(x)))
    digits = min(99, max(10, int(abs(x) / 10.0 ** e * 10 + 1e-13)))
    return (digits if x > 0 else -digits, e)


def order_key(b):
    val, exp = b
    if b == NAN_BUCKET:
        return (0, 0)
    if val == 0:
        return (2, 0)
    return (3, exp, val) if val > 0 else (1, -exp, val)


def record(counts):
    body = bytearray()
    for b in sorted(counts, key=order_key):
        count = counts[b]
        width = next((k for k, limit in enumerate(WIDTH_LIMITS) if count <= limit), 7)
        body += bytes([b[0] & 0xFF, b[1] & 0xFF, width]) + count.to_bytes(width + 1, "little")
    return len(counts).to_bytes(2, "big") + bytes(body)


def histogram(values, weight=lambda: 1):
    counts = {}
    for x in values:
        b = bucket(x)
        counts[b] = counts.get(b, 0) + weight()
    return counts


def seeds():
    rng = random.Random(20261209)
    yield "empty", {}
    yield "worked_example", {(10, 0): 1, (25, 0): 300}
    yield "latency_us", histogram(rng.lognormvariate(6, 1.2) for _ in range(20000))
    yield "request_bytes", histogram(rng.paretovariate(1.1) * 512 for _ in range(5000))
    yield "signed_deltas", histogram([rng.gauss(0, 3) for _ in range(3000)] + [0.0, float("nan"), 1e300, -1e-200])
    yield "wide_counts", histogram((rng.uniform(1, 1000) for _ in range(200)), lambda: rng.getrandbits(rng.randrange(1, 65)) | 1)
    yield "many_buckets", {(v, e): rng.randrange(1, 1 << 40) for e in range(-60, 60) for v in range(10, 100, 5)}


def write(directory, name, data):
    directory.mkdir(parents=True, exist_ok=True)
    (directory / name).write_bytes(data)


def main():
    corpus = HERE / "corpus"
    all_seeds = list(seeds())
    held = record(dict(all_seeds[1][1]))  # the worked example
    for name, counts in all_seeds:
        data = record(counts)
        text = base64.b64encode(data) + b"\n"
        write(corpus / "deserialize", name, data)
        write(corpus / "deserialize_b64", name, text)
        # The adding readers: the held histogram's record after its length byte.
        write(corpus / "deserialize_add", name, bytes([len(held)]) + held + data)
        write(corpus / "deserialize_add", name + "_text", bytes([len(held)]) + held + text)
        write(corpus / "sql_input", name, data)
        write(corpus / "sql_input", name + "_text", text)
    # The decoders of operations and of distfn arguments take any bytes:
    # fixed pseudo-random seeds of a few lengths start them off.
    rng = random.Random(20261210)
    for length in (16, 64, 256, 1024, 4096):
        write(corpus / "operations", "random_%d" % length, bytes(rng.getrandbits(8) for _ in range(length)))
    for length in (8, 32, 64, 128, 256):
        write(corpus / "distfn", "random_%d" % length, bytes(rng.getrandbits(8) for _ in range(length)))
    for length in (16, 64, 256, 1024):
        write(corpus / "conversions", "random_%d" % length, bytes(rng.getrandbits(8) for _ in range(length)))


if __name__ == "__main__":
    main()
