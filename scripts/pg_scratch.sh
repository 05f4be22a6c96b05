#!/usr/bin/env bash
# A throwaway PostgreSQL server for tests, on 127.0.0.1 only.
#
#   pg_scratch.sh start PORT   prints the folder that holds data, socket and log
#   pg_scratch.sh stop DIR     stops that server and removes the folder
#
# The server trusts every local connection as user "postgres" and runs with
# fsync off. initdb and postgres refuse root, so as root they run as the
# "postgres" user. Nothing reads stdin.
set -euo pipefail
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [[ -z "$bin" ]]; then
  echo "pg_scratch.sh: no PostgreSQL server binaries under /usr/lib/postgresql" >&2
  exit 2
fi
as_owner() {
  if [[ $(id -u) -eq 0 ]]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

case "${1:-}" in
  start)
    port=${2:?port}
    # A short path: the socket path must stay under about 107 bytes.
    dir=$(mktemp -d /tmp/vzpg.XXXXXX)
    chmod 755 "$dir"
    if [[ $(id -u) -eq 0 ]]; then chown postgres "$dir"; fi
    cd "$dir"  # a folder the server user can read
    as_owner "$bin/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C --no-sync \
      >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; rm -rf "$dir"; exit 1; }
    if ! as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off -c full_page_writes=off" \
      start >/dev/null 2>&1; then
      cat "$dir/server.log" >&2 || true
      rm -rf "$dir"
      exit 1
    fi
    echo "$dir"
    ;;
  stop)
    dir=${2:?folder}
    [[ "$dir" == /tmp/vzpg.* ]] || { echo "pg_scratch.sh: not a scratch folder: $dir" >&2; exit 2; }
    if [[ -f "$dir/data/postmaster.pid" ]]; then
      (cd "$dir" && as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null 2>&1) || true
    fi
    rm -rf "$dir"
    ;;
  *)
    echo "usage: pg_scratch.sh start PORT | stop DIR" >&2
    exit 2
    ;;
esac
