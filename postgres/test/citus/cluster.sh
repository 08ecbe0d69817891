# shellcheck shell=bash
# A throw-away Citus cluster on 127.0.0.1 for the tests and benchmarks: a
# coordinator and two workers, made by initdb from the binaries of a given
# pg_config (whose installation must hold Citus) in a temporary directory.
# Source this file, then:
#   citus_installed PG_CONFIG     true when Citus's module is in that installation
#   citus_cluster_start PG_CONFIG starts the nodes and joins the workers; an
#                                 EXIT trap stops them and removes the directory
#   citus_psql NODE ARGS...       psql on node 0 (coordinator), 1 or 2
# Run as root, the servers run as the postgres user.

citus_nodes=3
citus_ports=()
citus_dir=
citus_bindir=

citus_installed() { [ -f "$("$1" --pkglibdir)/citus.so" ]; }

# Runs a command as the servers' user.
citus_as_server_user() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

citus_superuser() { if [ "$(id -u)" -eq 0 ]; then echo postgres; else id -un; fi; }

# A TCP port on 127.0.0.1 that nothing listens on, from a random start so
# that concurrent runs rarely collide.
citus_free_port() {
  local port=$((20000 + RANDOM % 30000))
  while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || [[ " ${citus_ports[*]} " == *" $port "* ]]; do
    port=$((port + 1))
  done
  echo "$port"
}

citus_psql() {
  local node=$1
  shift
  "$citus_bindir/psql" -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "${citus_ports[$node]}" \
    -U "$(citus_superuser)" -d postgres "$@"
}

citus_cluster_stop() {
  local node
  for node in "${!citus_ports[@]}"; do
    if [ -f "$citus_dir/node$node/postmaster.pid" ]; then
      citus_as_server_user "$citus_bindir/pg_ctl" -D "$citus_dir/node$node" -m immediate -w stop >/dev/null 2>&1 || true
    fi
  done
  [ -z "$citus_dir" ] || rm -rf "$citus_dir"
}

citus_node_start() {
  local node=$1 data=$citus_dir/node$1
  citus_as_server_user "$citus_bindir/initdb" --no-sync -A trust -E UTF8 --locale=C -D "$data" >"$citus_dir/initdb$node.log" 2>&1 ||
    { cat "$citus_dir/initdb$node.log"; return 1; }
  cat >>"$data/postgresql.conf" <<CONF
port = ${citus_ports[$node]}
listen_addresses = '127.0.0.1'
unix_socket_directories = '$citus_dir'
shared_preload_libraries = 'citus'
citus.enable_statistics_collection = off
fsync = off
synchronous_commit = off
full_page_writes = off
CONF
  citus_as_server_user "$citus_bindir/pg_ctl" -D "$data" -l "$citus_dir/node$node.log" -w start >/dev/null ||
    { cat "$citus_dir/node$node.log"; return 1; }
}

citus_cluster_start() {
  local node
  citus_bindir=$("$1" --bindir)
  citus_dir=$(mktemp -d "${TMPDIR:-/tmp}/varrow-citus.XXXXXX")
  trap citus_cluster_stop EXIT
  [ "$(id -u)" -ne 0 ] || chown postgres "$citus_dir"
  for ((node = 0; node < citus_nodes; ++node)); do
    citus_ports[node]=$(citus_free_port)
    citus_node_start "$node"
    citus_psql "$node" -c 'CREATE EXTENSION citus'
  done
  citus_psql 0 -c "SELECT citus_set_coordinator_host('127.0.0.1', ${citus_ports[0]})" >/dev/null
  for ((node = 1; node < citus_nodes; ++node)); do
    citus_psql 0 -c "SELECT citus_add_node('127.0.0.1', ${citus_ports[node]})" >/dev/null
  done
}
