#!/usr/bin/env bash
# The whole benchmark suite in one command: builds the benchmarks in Release,
# runs every one of them, writes the raw results under bench/results/ (JSON
# from Google Benchmark, CSV of accuracy, text of the end-to-end runs) and
# regenerates docs/PERFORMANCE.md, docs/ACCURACY.md and the plots in docs/.
#
# Usage: bash bench/run_all.sh [build-dir]   (default: build/bench, the bench preset's)
# Environment: BENCH_MIN_TIME (seconds per benchmark and repetition, default
# 0.2), BENCH_REPETITIONS (default 3; the documents quote the median),
# HISTSTAT_BENCH_LINES (lines of the histstat run, default 1,000,000),
# BENCH_SETTLE_SECONDS (pause between the build and the first benchmark, default 30).
set -euo pipefail
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${1:-$source_dir/build/bench}
results=$source_dir/bench/results
min_time=${BENCH_MIN_TIME:-0.2}
repetitions=${BENCH_REPETITIONS:-3}

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DVARROW_BUILD_TESTS=OFF -DVARROW_BUILD_BENCH=ON >/dev/null
cmake --build "$build_dir" -j2
# Compiling on every core leaves the processor slower for a while (the first
# benchmark measured about 1.5 times its later time): let it settle first.
sleep "${BENCH_SETTLE_SECONDS:-30}"

rm -rf "$results"
mkdir -p "$results"

# The machine and compiler, named beside every figure.
load() { cut -d' ' -f1-3 /proc/loadavg; }
{
  echo "cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
  echo "cores=$(nproc)"
  echo "compiler=$("$(grep -m1 '^CMAKE_CXX_COMPILER:' "$build_dir/CMakeCache.txt" | cut -d= -f2-)" --version | head -1)"
  echo "flags=-O3 -DNDEBUG (CMake Release)"
  echo "kernel=$(uname -sr)"
  echo "commit=$(git -C "$source_dir" rev-parse --short HEAD 2>/dev/null || echo unknown)"
  echo "started=$(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "load_before=$(load)"
} >"$results/machine.txt"

run_benchmark() {
  local name=$1
  shift
  echo "== $name" >&2
  "$build_dir/bench/$name" --benchmark_min_time="$min_time" --benchmark_repetitions="$repetitions" \
    --benchmark_report_aggregates_only=true --benchmark_out="$results/$name.json" --benchmark_out_format=json \
    "$@" >"$results/$name.txt"
}

run_benchmark bench_buckets
run_benchmark bench_serialize
run_benchmark bench_merge
run_benchmark bench_quantiles
run_benchmark bench_downsample
run_benchmark bench_special_functions
run_benchmark bench_beta
run_benchmark bench_gamma_normal
run_benchmark bench_front_ends
run_benchmark bench_quantile_functions
run_benchmark bench_distributions --accuracy_out="$results/distfn_accuracy.csv"
run_benchmark bench_densities --accuracy_out="$results/density_accuracy.csv"
if [ -x "$build_dir/bench/bench_peer_hdr" ]; then
  run_benchmark bench_peer_hdr
else
  echo "== bench_peer_hdr skipped: HdrHistogram_c source not configured (HDR_HISTOGRAM_SOURCE)" >&2
fi

echo "== bench_histstat.sh" >&2
bash "$source_dir/bench/bench_histstat.sh" "$build_dir" >"$results/histstat.txt"

# The PostgreSQL extension, when it was built (PostgreSQL 15 and its server headers found).
if [ -f "$build_dir/postgres/varrow.so" ]; then
  echo "== bench_postgres.sh" >&2
  bash "$source_dir/bench/bench_postgres.sh" "$build_dir" | sed -n '/^|/p' >"$results/postgres.md"
fi
# On a Citus cluster, when Citus and the tdigest extension are installed
# (postgres/test/citus/build_citus.sh, postgresql-15-tdigest).
pg_config=${PG_CONFIG:-pg_config}
if [ -f "$build_dir/postgres/varrow.so" ] && [ -f "$("$pg_config" --pkglibdir)/citus.so" ] &&
  [ -f "$("$pg_config" --sharedir)/extension/tdigest.control" ]; then
  echo "== bench_citus.sh" >&2
  bash "$source_dir/bench/bench_citus.sh" "$build_dir" >"$results/citus.md"
else
  echo "== bench_citus.sh skipped: Citus or the tdigest extension is not installed" >&2
fi

# The Python module's figures, when the build has it (run by its own interpreter).
if [ -d "$build_dir/python/varrow" ]; then
  echo "== bench_python.py" >&2
  python=$(grep -m1 '^Python3_EXECUTABLE:' "$build_dir/CMakeCache.txt" | cut -d= -f2-)
  "$python" "$source_dir/bench/bench_python.py" "$build_dir" >"$results/python.md"
fi

echo "load_after=$(load)" >>"$results/machine.txt"
echo "finished=$(date -u '+%Y-%m-%d %H:%M UTC')" >>"$results/machine.txt"

/usr/bin/python3 "$source_dir/tools/make_reports.py" "$results" "$source_dir/docs"
