#!/usr/bin/env bash
# Installs the built extension into the directories that pg_config names and
# runs the pg_regress scripts in sql/ against a throw-away cluster started by
# pg_virtualenv (as root it runs the server as the postgres user).
# Arguments: build directory, source directory, pg_config.
set -euo pipefail
# One PostgreSQL installation serves every build on the machine: installing
# the extension and testing it is serialized across concurrent runs.
exec 9>"${TMPDIR:-/tmp}/varrow-postgres-install.lock"
flock 9
build_dir=$(realpath "$1")
source_dir=$(realpath "$2")
pg_config=$3
test_dir=$source_dir/postgres/test
work=$build_dir/postgres/regress
rm -rf "$work"
mkdir -p "$work"
cd "$work"

if ! cmake --install "$build_dir" --component postgres >install.log 2>&1; then
  cat install.log
  echo "could not install the extension into $("$pg_config" --pkglibdir) (needs write access there, as root in CI)"
  exit 1
fi

# The round trip: per-minute histograms written by histmake, and their merge
# by hist_accumulate, which varrow_merge must reproduce byte for byte.
awk -f "$test_dir/per_minute_samples.awk" >per_minute.txt
"$build_dir/analyzer/histmake" -l per_minute.txt >per_minute.b64
"$build_dir/postgres/varrow_accumulate" <per_minute.b64 >per_minute_merged.b64
# The project's version, as the programs report it, for varrow_version().
"$build_dir/analyzer/histstat" --version | awk '{ print $NF }' >version.txt

pg_regress=$(dirname "$("$pg_config" --pgxs)")/../test/regress/pg_regress
# setup creates the extension; the other scripts follow in name order.
tests="setup $(cd "$test_dir/sql" && ls -- *.sql | sed 's/[.]sql$//' | grep -vx setup | sort)"
# shellcheck disable=SC2086 # one argument per test name
if ! pg_virtualenv "$pg_regress" --inputdir="$test_dir" --outputdir="$work" \
  --bindir="$("$pg_config" --bindir)" --dbname=varrow_regression $tests; then
  cat "$work/regression.diffs" 2>/dev/null || true
  exit 1
fi
