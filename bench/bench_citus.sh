#!/usr/bin/env bash
# varrow's aggregates on a Citus cluster (a coordinator and two workers on
# 127.0.0.1, 8 shards) and on one node (the coordinator's local tables, up to
# 2 parallel workers), on the same log-normal values: varrow_agg +
# varrow_quantile(0.99), in all and per minute, and the rollup of stored
# per-minute histograms with varrow_merge, against the tdigest extension's
# percentile (compression 100) and rollup of stored digests, and avg(v), the
# cost of reading the values.  Best of three runs of each query after a
# warm-up, as psql's \timing reports it.  Prints Markdown tables.
#
# Usage: bash bench/bench_citus.sh [build-dir]   (default: build/bench)
# Needs Citus (postgres/test/citus/build_citus.sh) and the tdigest extension
# (postgresql-15-tdigest) in the server that pg_config names (PG_CONFIG, else
# the one on the path); installs varrow there.  CITUS_BENCH_ROWS sets the
# number of values (a multiple of 100; default 2,000,000).
set -euo pipefail
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${1:-$source_dir/build/bench}
pg_config=${PG_CONFIG:-pg_config}
rows=${CITUS_BENCH_ROWS:-2000000}
# shellcheck source-path=SCRIPTDIR source=../postgres/test/citus/cluster.sh
source "$source_dir/postgres/test/citus/cluster.sh"
citus_installed "$pg_config" || { echo "bench_citus: Citus is not installed into $("$pg_config" --pkglibdir)" >&2; exit 1; }
[ -f "$("$pg_config" --sharedir)/extension/tdigest.control" ] ||
  { echo "bench_citus: the tdigest extension is not installed (postgresql-15-tdigest)" >&2; exit 1; }
cmake --install "$build_dir" --component postgres >/dev/null

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
citus_cluster_start "$pg_config"
sql() { citus_psql 0 -At "$@"; }
# The local tables are filled first; the distributed ones get the same rows.
# No NaN: the tdigest extension does not return on it.
sql -o /dev/null <<SQL
CREATE EXTENSION varrow;
CREATE EXTENSION tdigest;
SET citus.shard_count = 8;
CREATE TABLE samples_local AS
  SELECT i AS id, i / 100 AS minute,
         exp(-3 + 0.8 * sqrt(-2 * ln(1 - random())) * cos(2 * pi() * random())) AS v
  FROM generate_series(0, $rows - 1) AS i;
CREATE TABLE samples (LIKE samples_local);
SELECT create_distributed_table('samples', 'id');
INSERT INTO samples SELECT * FROM samples_local;
CREATE TABLE histograms_local AS SELECT minute, varrow_agg(v) AS h FROM samples_local GROUP BY minute;
CREATE TABLE digests_local AS SELECT minute, tdigest(v, 100) AS d FROM samples_local GROUP BY minute;
CREATE TABLE histograms (LIKE histograms_local);
CREATE TABLE digests (LIKE digests_local);
SELECT create_distributed_table('histograms', 'minute');
SELECT create_distributed_table('digests', 'minute');
INSERT INTO histograms SELECT * FROM histograms_local;
INSERT INTO digests SELECT * FROM digests_local;
VACUUM ANALYZE samples_local, histograms_local, digests_local, samples, histograms, digests;
SQL
minutes=$(sql -c "SELECT count(*) FROM histograms_local")

# best_ms QUERY: the least elapsed milliseconds of three runs, after a warm-up.
best_ms() {
  local best='' t
  for run in 0 1 2 3; do
    t=$(printf '\\timing on\n%s;\n' "$1" | sql -o /dev/null | sed -n 's/^Time: \([0-9.]*\) ms.*/\1/p' | tail -1)
    if [ "$run" -gt 0 ] && { [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; }; then best=$t; fi
  done
  echo "$best"
}

# name|query over the raw values (samples) or the stored rows (histograms, digests)|rows read
cases=(
  "avg(v)|SELECT avg(v) FROM samples|$rows"
  "varrow_agg + varrow_quantile(0.99)|SELECT varrow_quantile(varrow_agg(v), 0.99) FROM samples|$rows"
  "tdigest_percentile(v, 100, 0.99)|SELECT tdigest_percentile(v, 100, 0.99) FROM samples|$rows"
  "per minute: varrow_agg + varrow_quantile(0.99)|SELECT minute, varrow_quantile(varrow_agg(v), 0.99) FROM samples GROUP BY minute|$rows"
  "per minute: tdigest_percentile(v, 100, 0.99)|SELECT minute, tdigest_percentile(v, 100, 0.99) FROM samples GROUP BY minute|$rows"
  "rollup: varrow_merge + varrow_quantile(0.99)|SELECT varrow_quantile(varrow_merge(h), 0.99) FROM histograms|$minutes"
  "rollup: tdigest_percentile(d, 0.99)|SELECT tdigest_percentile(d, 0.99) FROM digests|$minutes"
)
local_form() { sed 's/\bsamples\b/samples_local/; s/\bhistograms\b/histograms_local/; s/\bdigests\b/digests_local/' <<<"$1"; }

echo "values: $rows log-normal (median 0.05), $minutes minutes of 100 values; stored: $minutes histograms and $minutes digests (compression 100)"
echo
echo "p99: exact $(sql -c "SELECT percentile_cont(0.99) WITHIN GROUP (ORDER BY v) FROM samples_local");" \
  "varrow $(sql -c "SELECT varrow_quantile(varrow_agg(v), 0.99) FROM samples"), its rollup $(sql -c "SELECT varrow_quantile(varrow_merge(h), 0.99) FROM histograms");" \
  "tdigest $(sql -c "SELECT tdigest_percentile(v, 100, 0.99) FROM samples"), its rollup $(sql -c "SELECT tdigest_percentile(d, 0.99) FROM digests")"
echo
echo "| query | rows | one node ms | one node rows/s | cluster ms | cluster rows/s | cluster speedup |"
echo "|---|---|---|---|---|---|---|"
declare -A node_ms cluster_ms
for case in "${cases[@]}"; do
  IFS="|" read -r name query count <<<"$case"
  node_ms[$name]=$(best_ms "$(local_form "$query")")
  cluster_ms[$name]=$(best_ms "$query")
  awk -v name="$name" -v n="$count" -v a="${node_ms[$name]}" -v b="${cluster_ms[$name]}" \
    'BEGIN { printf "| %s | %d | %.0f | %.3g M | %.0f | %.3g M | %.2fx |\n", name, n, a, n / a / 1000, b, n / b / 1000, a / b }'
done

# ratio LABEL MS MS-OF-REFERENCE
ratio() { awk -v label="$1" -v a="$2" -v b="$3" 'BEGIN { printf "| %s | %.2f |\n", label, a / b }'; }
echo
echo "| ratio (time over time) | value |"
echo "|---|---|"
ratio "one node: varrow_agg + quantile over avg(v)" "${node_ms[varrow_agg + varrow_quantile(0.99)]}" "${node_ms[avg(v)]}"
ratio "one node: varrow_agg + quantile over tdigest_percentile" "${node_ms[varrow_agg + varrow_quantile(0.99)]}" "${node_ms[tdigest_percentile(v, 100, 0.99)]}"
ratio "cluster: varrow_agg + quantile over tdigest_percentile" "${cluster_ms[varrow_agg + varrow_quantile(0.99)]}" "${cluster_ms[tdigest_percentile(v, 100, 0.99)]}"
ratio "cluster, per minute: varrow over tdigest" "${cluster_ms[per minute: varrow_agg + varrow_quantile(0.99)]}" "${cluster_ms[per minute: tdigest_percentile(v, 100, 0.99)]}"
ratio "cluster, rollup: varrow_merge over tdigest" "${cluster_ms[rollup: varrow_merge + varrow_quantile(0.99)]}" "${cluster_ms[rollup: tdigest_percentile(d, 0.99)]}"
ratio "cluster: varrow_agg + quantile over avg(v)" "${cluster_ms[varrow_agg + varrow_quantile(0.99)]}" "${cluster_ms[avg(v)]}"
echo
echo "load average $load_before before the run, $(cut -d' ' -f1-3 /proc/loadavg) after"
