#!/usr/bin/env bash
# A throwaway PostgreSQL server for the tests and benchmarks.
#   pg-test-server.sh start DIR   initdb into DIR and start a server that
#                                 listens only on a Unix socket in DIR
#   pg-test-server.sh stop DIR    stop it and remove DIR
#   pg-test-server.sh conninfo DIR  the connection string for it
# Run as root, the server runs as the user "nobody" (PostgreSQL refuses root).
set -euo pipefail
cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop|conninfo DIR" >&2; exit 2; }
bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)
[ -x "$bindir/initdb" ] || { echo "$0: PostgreSQL server programs not found (install postgresql-15)" >&2; exit 1; }

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi
}

stop() {
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_owner "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
}

case "$cmd" in
  start)
    stop
    mkdir -p "$dir"
    chmod 700 "$dir"
    [ "$(id -u)" -eq 0 ] && chown nobody "$dir"
    as_owner "$bindir/initdb" -D "$dir/data" -U wcsrv --auth=trust -E UTF8 --locale=C \
      --no-sync >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
    # No TCP port: only the socket in DIR. Durability is not wanted here.
    as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start \
      -o "-c listen_addresses='' -c unix_socket_directories='$dir' -c fsync=off \
          -c synchronous_commit=off -c full_page_writes=off -c max_connections=200" \
      >/dev/null || { cat "$dir/server.log" >&2; exit 1; }
    # Root reaches the socket in a folder that belongs to nobody.
    chmod 711 "$dir"
    echo "host=$dir user=wcsrv dbname=postgres"
    ;;
  stop) stop ;;
  conninfo) echo "host=$dir user=wcsrv dbname=postgres" ;;
  *) echo "usage: $0 start|stop|conninfo DIR" >&2; exit 2 ;;
esac
