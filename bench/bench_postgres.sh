#!/usr/bin/env bash
# The PostgreSQL extension against the server's own aggregates, in a
# throw-away cluster (pg_virtualenv): 10,000,000 log-normal values in a
# table; varrow_agg + varrow_quantile(..., 0.99) against
# percentile_cont(0.99) WITHIN GROUP (ORDER BY v), without and with 2
# parallel workers; and varrow_merge of 100,000 stored histograms (100 values
# each) against varrow_agg over their 10,000,000 raw values.  Best of three
# runs of each query, after one warm-up run.  Prints a Markdown table.
#
# Usage: bash bench/bench_postgres.sh [build-dir]   (default: build/bench)
# Installs the extension into the server's directories (needs root there).
# POSTGRES_BENCH_ROWS sets the number of values (a multiple of 100).
set -euo pipefail
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${1:-$source_dir/build/bench}
rows=${POSTGRES_BENCH_ROWS:-10000000}
cmake --install "$build_dir" --component postgres >/dev/null

export BENCH_ROWS=$rows
# shellcheck disable=SC2016 # expanded inside the cluster's shell
pg_virtualenv -o shared_buffers=512MB -o work_mem=256MB -o max_parallel_workers_per_gather=2 bash -c '
set -euo pipefail
sql() { psql -X -q -v ON_ERROR_STOP=1 -At "$@"; }
sql <<SQL
CREATE EXTENSION varrow;
-- Log-normal values by the Box-Muller transform; 1 - random() lies in (0, 1].
CREATE TABLE samples AS
  SELECT i / 100 AS minute, exp(-3 + 0.8 * sqrt(-2 * ln(1 - random())) * cos(2 * pi() * random())) AS v
  FROM generate_series(0, $BENCH_ROWS - 1) AS i;
CREATE TABLE minutes AS SELECT minute, varrow_agg(v) AS h FROM samples GROUP BY minute;
VACUUM ANALYZE samples;
VACUUM ANALYZE minutes;
SQL
minutes=$(sql -c "SELECT count(*) FROM minutes")

# best_ms WORKERS QUERY: the least elapsed milliseconds of three runs, after a warm-up.
best_ms() {
  local workers=$1 query=$2 best= t
  for run in 0 1 2 3; do
    t=$(printf "SET max_parallel_workers_per_gather = %s;\n\\\\timing on\n%s;\n" "$workers" "$query" |
      sql | sed -n "s/^Time: \([0-9.]*\) ms.*/\1/p" | tail -1)
    if [ "$run" -gt 0 ] && { [ -z "$best" ] || awk -v a="$t" -v b="$best" "BEGIN { exit !(a < b) }"; }; then best=$t; fi
  done
  echo "$best"
}
workers_of() {
  sql -c "SET max_parallel_workers_per_gather = $1; EXPLAIN $2" | sed -n "s/.*Workers Planned: \([0-9]*\).*/\1/p" | head -1
}

varrow_q="SELECT varrow_quantile(varrow_agg(v), 0.99) FROM samples"
percentile_q="SELECT percentile_cont(0.99) WITHIN GROUP (ORDER BY v) FROM samples"
merge_q="SELECT varrow_quantile(varrow_merge(h), 0.99) FROM minutes"
echo "values: $BENCH_ROWS log-normal (median 0.05); stored histograms: $minutes of 100 values each"
echo "p99: varrow $(sql -c "$varrow_q"), percentile_cont $(sql -c "$percentile_q"), merged $(sql -c "$merge_q")"
echo
echo "| query | workers allowed / planned | rows | best ms | rows/s | reference | speedup over the reference | scaling over 0 workers |"
echo "|---|---|---|---|---|---|---|---|"
declare -A ms_of
for case in "percentile_cont(0.99)|$percentile_q|$BENCH_ROWS|percentile" \
            "varrow_agg + varrow_quantile(0.99)|$varrow_q|$BENCH_ROWS|percentile" \
            "varrow_merge + varrow_quantile(0.99)|$merge_q|$minutes|raw"; do
  IFS="|" read -r name query count reference <<<"$case"
  for workers in 0 2; do
    ms=$(best_ms "$workers" "$query")
    ms_of[$query/$workers]=$ms
    planned=$(workers_of "$workers" "$query")
    # The reference: percentile_cont without workers, or aggregating the raw
    # values that the stored histograms were made from, with as many workers.
    if [ "$reference" = percentile ]; then
      reference_name="percentile_cont, 0 workers"; reference_ms=${ms_of[$percentile_q/0]}
    else
      reference_name="varrow_agg of the raw values, $workers workers"; reference_ms=${ms_of[$varrow_q/$workers]}
    fi
    awk -v name="$name" -v allowed="$workers" -v w="${planned:-0}" -v n="$count" -v ms="$ms" -v ref="$reference_name" -v r="$reference_ms" \
      -v s="${ms_of[$query/0]}" \
      "BEGIN { printf \"| %s | %s / %s | %d | %.0f | %.3g M | %s | %.1fx | %.2fx |\n\", name, allowed, w, n, ms, n / ms / 1000, ref, r / ms, s / ms }"
  done
done
'
