#!/usr/bin/env bash
# End-to-end speed of histstat against base64 -d, the least work any reader of
# these lines must do, over one input of 1,000,000 histograms of about 50
# buckets each (log-normal latencies), output to /dev/null.  Target: each
# histstat run within 4 times the time of base64 -d.  Best of three runs each.
#
# Usage: bash bench/bench_histstat.sh [build-dir]   (default: build/bench)
# HISTSTAT_BENCH_LINES sets the number of input lines.
set -euo pipefail
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${1:-$source_dir/build/bench}
histstat=$build_dir/analyzer/histstat
histmake=$build_dir/analyzer/histmake
lines=${HISTSTAT_BENCH_LINES:-1000000}
distinct=1000
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 1,000 distinct histograms of 2,000 samples, repeated to the full length.
python3 - "$distinct" >"$work/samples.txt" <<'EOF'
import math, random, sys
rng = random.Random(7)
for _ in range(int(sys.argv[1])):
    median = rng.uniform(0.02, 0.08)
    sigma = rng.uniform(0.15, 0.21)
    print(' '.join('%.6g' % rng.lognormvariate(math.log(median), sigma) for _ in range(2000)))
EOF
"$histmake" -l "$work/samples.txt" >"$work/distinct.b64"
for ((i = 0; i < lines / distinct; i++)); do cat "$work/distinct.b64"; done >"$work/input.b64"
buckets=$("$histstat" <"$work/distinct.b64" | tr -cd ':' | wc -c)
echo "input: $lines lines, $(wc -c <"$work/input.b64") bytes, $((buckets / distinct)) buckets per histogram on average"

# best_time COMMAND...: the least elapsed seconds of three runs.
best_time() {
  local best= t
  for _ in 1 2 3; do
    t=$({ TIMEFORMAT=%R; time "$@" <"$work/input.b64" >/dev/null; } 2>&1)
    if [[ -z $best ]] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
  done
  echo "$best"
}

base=$(best_time base64 -d)
percentiles=$(best_time "$histstat" -p 50 -p 90 -p 99 -p 99.9)
bucket_map=$(best_time "$histstat")

report() {
  awk -v name="$1" -v t="$2" -v base="$base" -v lines="$lines" 'BEGIN {
    printf "%-38s %7.3f s  %10.0f lines/s", name, t, lines / t
    if (name != "base64 -d") printf "  %5.2f x base64 -d", t / base
    printf "\n"
  }'
}
report "base64 -d" "$base"
report "histstat -p 50 -p 90 -p 99 -p 99.9" "$percentiles"
report "histstat (bucket map)" "$bucket_map"
