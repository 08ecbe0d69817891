#!/usr/bin/env bash
# Builds Citus from its source and installs it into the PostgreSQL that
# pg_config names (on the path, or PG_CONFIG), for the cluster test and the
# cluster benchmark.  The source is CITUS_SOURCE, a directory or a .tar.gz;
# by default ../shared/peers/citus-13.0.5.tar.gz beside the checkout, else
# the workplace's /work/shared/peers/citus-13.0.5.tar.gz.  Its build needs
# libzstd-dev liblz4-dev libcurl4-openssl-dev libkrb5-dev libssl-dev
# libselinux1-dev libxslt1-dev libpam0g-dev libreadline-dev.
set -euo pipefail
checkout=$(cd "$(dirname "$0")/../../.." && pwd)
source=${CITUS_SOURCE:-}
for candidate in "$checkout/../shared/peers/citus-13.0.5.tar.gz" /work/shared/peers/citus-13.0.5.tar.gz; do
  [ -n "$source" ] || { [ -e "$candidate" ] && source=$candidate; }
done
[ -e "$source" ] || { echo "build_citus: no Citus source (set CITUS_SOURCE to its directory or .tar.gz)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/varrow-citus-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
if [ -d "$source" ]; then
  cp -a "$source/." "$work/"
else
  tar -xzf "$source" -C "$work" --strip-components=1
fi
cd "$work"
./configure ${PG_CONFIG:+PG_CONFIG="$PG_CONFIG"} >configure.log 2>&1 || { tail -n 40 configure.log; exit 1; }
make -j2 >make.log 2>&1 || { tail -n 40 make.log; exit 1; }
make install >install.log 2>&1 || { tail -n 40 install.log; exit 1; }
echo "Citus installed into $(${PG_CONFIG:-pg_config} --pkglibdir)"
