#!/usr/bin/env python3
"""Regenerates the example data: ten minutes of web request latencies, and a
day of them as a service ships them, one histogram a minute.

    python3 examples/make_examples.py [path/to/histmake]

Writes, next to this script:
  latencies.txt          the raw latencies in seconds, one line per minute
  latencies.b64          one histogram of all of them
  latencies_per_minute.b64
                         one histogram per minute
  cumulative.b64         what a server's cumulative latency histogram showed at
                         the end of each minute; the server restarted during
                         minute 7, so its counts start again from zero there
  day_per_minute.b64     a day of the same service, 1440 lines, one histogram
                         per minute from 00:00 on: the load follows the time of
                         day (some 40 requests a minute at night, 240 in the
                         afternoon), and the slowdown hits 14:00 to 14:59

Latencies are log-normal (median 45 ms) with a slow tail (2 % of requests
around 0.8 s), and minute 5 suffers a slowdown.  The seed is fixed, so the
files are the same on every run.
"""
import math
import random
import subprocess
import sys
import tempfile
from pathlib import Path

SEED = 20261209
MINUTES = 10
REQUESTS_PER_MINUTE = (420, 580)
MEDIAN_SECONDS = 0.045
SIGMA = 0.6
SLOW_SHARE = 0.02
SLOW_MEDIAN_SECONDS = 0.8
SLOWDOWN_MINUTE = 5
SLOWDOWN_FACTOR = 2.5
RESTART_MINUTE = 7

# The day: its own random stream, so that the ten minutes above stay as they are.
DAY_SEED = 20261210
MINUTES_PER_DAY = 1440
NIGHT_REQUESTS_PER_MINUTE = 40
PEAK_REQUESTS_PER_MINUTE = 240
PEAK_MINUTE = 15 * 60
SLOW_HOUR = 14

HERE = Path(__file__).resolve().parent


def latencies(rng, requests, scale):
    values = []
    for _ in range(requests):
        median = SLOW_MEDIAN_SECONDS if rng.random() < SLOW_SHARE else MEDIAN_SECONDS
        values.append(scale * rng.lognormvariate(math.log(median), SIGMA))
    return ['%.6g' % v for v in values]


def minute_of_latencies(rng, minute):
    scale = SLOWDOWN_FACTOR if minute == SLOWDOWN_MINUTE else 1.0
    return latencies(rng, rng.randint(*REQUESTS_PER_MINUTE), scale)


def day_of_minutes(rng):
    """One line of latencies per minute of a day; the load rises and falls
    with the time of day, as a cosine around its afternoon peak."""
    lines = []
    for minute in range(MINUTES_PER_DAY):
        phase = math.cos(2 * math.pi * (minute - PEAK_MINUTE) / MINUTES_PER_DAY)
        mean = NIGHT_REQUESTS_PER_MINUTE + (PEAK_REQUESTS_PER_MINUTE - NIGHT_REQUESTS_PER_MINUTE) * (1 + phase) / 2
        requests = max(1, round(rng.gauss(mean, math.sqrt(mean))))
        scale = SLOWDOWN_FACTOR if minute // 60 == SLOW_HOUR else 1.0
        lines.append(' '.join(latencies(rng, requests, scale)))
    return lines


def histmake(program, lines, per_line):
    """Runs histmake over the given text lines and returns its output."""
    with tempfile.NamedTemporaryFile('w', suffix='.txt') as raw:
        raw.write(''.join(line + '\n' for line in lines))
        raw.flush()
        args = [program, '-l', raw.name] if per_line else [program, raw.name]
        return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def main():
    program = sys.argv[1] if len(sys.argv) > 1 else str(
        HERE.parent / 'build' / 'release' / 'analyzer' / 'histmake')
    rng = random.Random(SEED)
    minutes = [' '.join(minute_of_latencies(rng, m)) for m in range(1, MINUTES + 1)]

    # A cumulative histogram counts everything since the server started.
    snapshots = []
    since_start = []
    for number, minute in enumerate(minutes, start=1):
        if number == RESTART_MINUTE:
            since_start = []
        since_start.append(minute)
        snapshots.append(' '.join(since_start))

    (HERE / 'latencies.txt').write_text(''.join(m + '\n' for m in minutes))
    (HERE / 'latencies.b64').write_text(histmake(program, minutes, per_line=False))
    (HERE / 'latencies_per_minute.b64').write_text(histmake(program, minutes, per_line=True))
    (HERE / 'cumulative.b64').write_text(histmake(program, snapshots, per_line=True))
    day = day_of_minutes(random.Random(DAY_SEED))
    (HERE / 'day_per_minute.b64').write_text(histmake(program, day, per_line=True))


if __name__ == '__main__':
    main()
