#!/usr/bin/env bash
# varrow's aggregates on a Citus cluster (a coordinator and two workers on
# 127.0.0.1): every aggregate runs on the workers, whose tasks return partial
# states only; the results equal the same queries' on one node byte for byte;
# merging stored per-minute histograms equals aggregating the raw values; the
# cluster stops and leaves nothing behind.
# Arguments: build directory, source directory, pg_config.  Without Citus in
# pg_config's installation the test is skipped, unless VARROW_REQUIRE_CITUS
# is set (CI, after building Citus).
set -euo pipefail
build_dir=$(realpath "$1")
source_dir=$(realpath "$2")
pg_config=$3
# shellcheck source-path=SCRIPTDIR source=cluster.sh
source "$source_dir/postgres/test/citus/cluster.sh"

if ! citus_installed "$pg_config"; then
  [ -z "${VARROW_REQUIRE_CITUS:-}" ] || { echo "Citus is not installed into $("$pg_config" --pkglibdir)" >&2; exit 1; }
  echo "skipped: Citus is not installed into $("$pg_config" --pkglibdir)"
  exit 0
fi

# One PostgreSQL installation serves every build on the machine (see run_regress.sh).
exec 9>"${TMPDIR:-/tmp}/varrow-postgres-install.lock"
flock 9
cmake --install "$build_dir" --component postgres >/dev/null

citus_cluster_start "$pg_config"
citus_psql 0 -o /dev/null -f "$source_dir/postgres/test/citus/tables.sql"

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# Each query on the distributed tables (raw_values, per_minute) and on the
# coordinator's local copies (raw_local, per_minute_local).
queries=(
  'SELECT varrow_agg(v) FROM raw_values'
  'SELECT varrow_agg(v, n) FROM raw_values'
  'SELECT varrow_merge(h) FROM per_minute'
  'SELECT minute, varrow_agg(v) FROM raw_values GROUP BY minute ORDER BY minute'
  'SELECT minute, varrow_agg(v, n) FROM raw_values GROUP BY minute ORDER BY minute'
  'SELECT minute, varrow_merge(h) FROM per_minute GROUP BY minute ORDER BY minute'
)
local_form() { sed 's/raw_values/raw_local/; s/per_minute/per_minute_local/' <<<"$1"; }
results() { citus_psql 0 -At -c "$1"; }

# A task may return the group key and the partial state, nothing else: not
# the raw values, nor the stored histograms.
task_query='^ *Query: SELECT (minute, )?(pg_catalog\.)?worker_partial_agg\('"'"'[^'"'"']*'"'"'::regprocedure, (v|ROW\(v, n\)|h)\) AS varrow_(agg|merge) FROM '
for query in "${queries[@]}"; do
  plan=$(citus_psql 0 -At -c 'SET citus.explain_all_tasks = on' -c "EXPLAIN (VERBOSE, COSTS OFF) $query")
  tasks=$(grep -c ' Query: ' <<<"$plan" || true)
  partial_tasks=$(grep -cE "$task_query" <<<"$plan" || true)
  if [ "$tasks" -eq 0 ] || [ "$partial_tasks" -ne "$tasks" ] || ! grep -q 'coord_combine_agg(' <<<"$plan"; then
    fail "not computed on the workers: $query"
    printf '%s\n' "$plan" >&2
  fi
  [ "$(results "$query")" == "$(results "$(local_form "$query")")" ] || fail "cluster and one node differ: $query"
done

# The stored per-minute histograms were made by varrow_agg(v): merged, they
# are the aggregate of the raw values, in all and per minute.
[ "$(results "${queries[2]}")" == "$(results "${queries[0]}")" ] || fail "merged per-minute histograms differ from the aggregate"
[ "$(results "${queries[5]}")" == "$(results "${queries[3]}")" ] || fail "merged per-minute histograms differ per minute"

# Nothing left: no server on the cluster's ports, no directory.
ports=("${citus_ports[@]}")
dir=$citus_dir
citus_cluster_stop
for port in "${ports[@]}"; do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then fail "a server still listens on port $port"; fi
done
[ ! -e "$dir" ] || fail "the cluster's directory $dir is left"

[ "$failures" -eq 0 ] || exit 1
echo "Citus cluster: ${#queries[@]} aggregates computed on the workers, equal to one node's"
