#!/usr/bin/env python3
"""Writes the seed corpus of the format readers' fuzz targets: Prometheus and
OpenMetrics text as the client libraries write it, OTLP/JSON as the SDKs and
the Collector write it, HdrHistogram V2 encodings and an interval log made
here the way HdrHistogram encodes them, and ad-hoc bins."""
import base64
import json
import pathlib
import random
import struct
import zlib

HERE = pathlib.Path(__file__).resolve().parent
V2_ENCODING, V2_COMPRESSED, WORD_SIZE_ZIGZAG = 0x1C849303, 0x1C849304, 0x10


def zigzag_leb128(n):
    z = (n << 1) ^ (n >> 63)
    out = bytearray()
    for _ in range(8):
        if z < 0x80:
            return bytes(out + bytes([z]))
        out.append((z & 0x7F) | 0x80)
        z >>= 7
    return bytes(out + bytes([z & 0xFF]))


def hdr_v2(counts, digits=3, lowest=1, highest=3_600_000_000_000):
    """counts: index -> count; zero runs written as negative lengths."""
    payload, index = bytearray(), 0
    for i in sorted(counts):
        if i > index:
            payload += zigzag_leb128(-(i - index))
        payload += zigzag_leb128(counts[i])
        index = i + 1
    header = struct.pack(">IiiiqqQ", V2_ENCODING | WORD_SIZE_ZIGZAG, len(payload), 0, digits, lowest, highest,
                         struct.unpack(">Q", struct.pack(">d", 1.0))[0])
    deflated = zlib.compress(header + bytes(payload))
    return base64.b64encode(struct.pack(">Ii", V2_COMPRESSED | WORD_SIZE_ZIGZAG, len(deflated)) + deflated).decode()


def prometheus_seeds(rng):
    bounds = [0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1.0, 2.5, 5.0, 10.0]
    lines = ["# HELP request_seconds Time spent", "# TYPE request_seconds histogram"]
    for route in ("/", '/q"\\'):
        total = 0
        for b in bounds + ["+Inf"]:
            total += rng.randrange(0, 50)
            lines.append(f'request_seconds_bucket{{le="{b}",route="{route.replace(chr(92), chr(92) * 2).replace(chr(34), chr(92) + chr(34))}"}} {float(total)}')
        lines += [f'request_seconds_count{{route="x"}} {float(total)}', 'request_seconds_sum{route="x"} 12.5',
                  'request_seconds_created{route="x"} 1.7e+09']
    lines += ["# TYPE up gauge", "up 1 1700000000000"]
    yield "client_text", "\n".join(lines) + "\n"
    yield "openmetrics", ('# TYPE rpc histogram\n# UNIT rpc seconds\nrpc_bucket{le="0.1"} 3 # {trace_id="ab"} 0.07 1.6e9\n'
                          'rpc_bucket{le="1.0"} 8\nrpc_bucket{le="+Inf"} 9\nrpc_count 9\nrpc_sum 3.5\nrpc_created 1.6e9\n# EOF\n')


def otlp_seeds(rng):
    exponential = {"attributes": [{"key": "http.route", "value": {"stringValue": "/users"}}],
                   "startTimeUnixNano": "1700000000000000000", "timeUnixNano": "1700000060000000000",
                   "scale": 3, "zeroCount": "2", "positive": {"offset": -20, "bucketCounts": [str(rng.randrange(9)) for _ in range(30)]},
                   "negative": {"offset": 4, "bucketCounts": ["1", "0", 3]}}
    exponential["count"] = str(2 + sum(int(c) for c in exponential["positive"]["bucketCounts"]) + 4)
    explicit = {"timeUnixNano": 1700000060000000000, "count": "6", "sum": 1.25, "bucketCounts": ["1", "2", "3"],
                "explicitBounds": [0.1, 0.5]}
    document = {"resourceMetrics": [{"resource": {"attributes": [{"key": "service.name", "value": {"stringValue": "api"}}]},
                                     "scopeMetrics": [{"scope": {"name": "sdk"}, "metrics": [
                                         {"name": "latency", "exponentialHistogram": {"aggregationTemporality": 2, "dataPoints": [exponential]}},
                                         {"name": "db", "histogram": {"aggregationTemporality": 1, "dataPoints": [explicit]}},
                                         {"name": "depth", "gauge": {"dataPoints": [{"asInt": "4"}]}}]}]}]}
    yield "collector", json.dumps(document, indent=1) + "\n"


def hdr_seeds(rng):
    intervals = [hdr_v2({rng.randrange(0, 30000): rng.randrange(1, 1000) for _ in range(40)}) for _ in range(3)]
    yield "encoded", intervals[0] + "\n"
    yield "interval_log", ("#[Histogram log format version 1.3]\n#[StartTime: 1441812279.474 (seconds since epoch)]\n"
                           '"StartTimestamp","Interval_Length","Interval_Max","Interval_Compressed_Histogram"\n'
                           f"0.127,1.007,2.769,{intervals[0]}\nTag=a,1.134,0.999,0.442,{intervals[1]}\n"
                           f"2.133,1.001,0.426,{intervals[2]}\n")


def bins_seeds(rng):
    yield "latency_bins", "lower,upper,count\n# open at both ends\n-inf,0.005,3\n0.005,0.01,5\n0.01,0.025,7\n0.025,inf,2\n"
    yield "signed", "".join(f"{-x},{-x + 0.5},{rng.randrange(100)}\n" for x in range(-5, 5))


def main():
    rng = random.Random(20261210)
    for target, seeds in (("prometheus", prometheus_seeds), ("otlp", otlp_seeds), ("hdr", hdr_seeds), ("bins", bins_seeds)):
        folder = HERE / "corpus" / target
        folder.mkdir(parents=True, exist_ok=True)
        for name, text in seeds(rng):
            (folder / name).write_text(text)


if __name__ == "__main__":
    main()
