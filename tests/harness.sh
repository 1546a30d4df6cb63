# Sourced by the end-to-end scripts. They define fail() and set $work,
# $parvel, $devserver and the pids array before calling these.

# wait_for SECONDS COMMAND…: polls every 0.1 s.
wait_for() {
    local limit=$(($1 * 10)); shift
    for _ in $(seq "$limit"); do
        if "$@" >/dev/null 2>&1; then return 0; fi
        sleep 0.1
    done
    return 1
}

# A private dev server on a free loopback port, its CA trusted and its
# connection imported. The first start makes certificates: slow under the
# sanitizers on a busy machine, hence the long wait.
start_devserver() {
    local port="" candidate
    for _ in $(seq 50); do
        candidate=$((20000 + RANDOM % 40000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then port=$candidate; break; fi
    done
    [ -n "$port" ] || fail "no free loopback port"
    "$devserver" --data "$work/server" --port "$port" >"$work/server.log" 2>&1 &
    pids+=($!)
    wait_for 30 test -s "$work/server/connection.json" || fail "the dev server did not start"
    export SSL_CERT_FILE="$work/server/ca.pem"
    "$parvel" --import-connection "$work/server/connection.json" >/dev/null || fail "import failed"
}
