# A throwaway PostgreSQL 15 server for the test suite, sourced by test.sh.
#
# start_test_server DIR: makes a new cluster in DIR/data owned by an
# unprivileged account (the server refuses to run as root), listening only on
# a Unix socket in DIR (no TCP port), with trust authentication and the
# superuser "marvesa"; exports MARVESA_TEST_PG, the connection the tests use.
# stop_test_server: stops it (immediately; its data is thrown away).

PG_BIN=/usr/lib/postgresql/15/bin
PG_DIR=""
PG_USER=""

pg_as_owner() {
    if [ -n "$PG_USER" ]; then
        runuser -u "$PG_USER" -- "$@"
    else
        "$@"
    fi
}

start_test_server() {
    PG_DIR="$1"
    if [ ! -x "$PG_BIN/pg_ctl" ] || [ ! -x "$PG_BIN/initdb" ]; then
        echo "test server: PostgreSQL 15 is not installed ($PG_BIN/pg_ctl missing);" \
             "the tests of the server database cannot run" >&2
        return 1
    fi
    if [ "$(id -u)" -eq 0 ]; then
        # The server never runs as root: the account the package made, or nobody.
        if id postgres >/dev/null 2>&1; then PG_USER=postgres; else PG_USER=nobody; fi
        chown "$PG_USER" "$PG_DIR"
    fi
    chmod 0755 "$PG_DIR"
    pg_as_owner "$PG_BIN/initdb" -D "$PG_DIR/data" -U marvesa --auth=trust -E UTF8 \
        --locale=C.UTF-8 >"$PG_DIR/initdb.log" 2>&1 || {
        cat "$PG_DIR/initdb.log" >&2
        return 1
    }
    # No TCP at all; a fixed port number only names the socket file. The
    # cluster is thrown away after the run: nothing needs to reach the disk.
    # The settings live in the cluster's own file, so that a test may stop
    # and start the server again (a dropped connection) with pg_ctl alone.
    local port=54329
    cat >>"$PG_DIR/data/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$PG_DIR'
port = $port
fsync = off
full_page_writes = off
max_connections = 200
CONF
    pg_as_owner "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w -t 60 \
        start >/dev/null || {
        cat "$PG_DIR/server.log" >&2
        return 1
    }
    export MARVESA_TEST_PG="host=$PG_DIR port=$port user=marvesa"
    export MARVESA_TEST_PG_CTL="$PG_BIN/pg_ctl -D $PG_DIR/data -l $PG_DIR/server.log -w -t 60"
    export MARVESA_TEST_PG_OWNER="$PG_USER"
}

stop_test_server() {
    if [ -n "$PG_DIR" ] && [ -f "$PG_DIR/data/postmaster.pid" ]; then
        pg_as_owner "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
}
