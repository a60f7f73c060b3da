# Sourced by scripts/demo, scripts/demo-window and scripts/screenshots: the demo's FTP
# server (Debian's pyftpdlib on 127.0.0.1 at a free port, anonymous with uploads allowed)
# serving a sample tree. Expects $python; sets $port and $server_pid.

python=${python:-/usr/bin/python3}
demo_server_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
server_pid=
port=

stop_server() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
        server_pid=
    fi
}

free_port() {
    "$python" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# True once the server on port $1 greets with a 220 reply.
server_ready() {
    "$python" - "$1" <<'PY' 2>/dev/null
import socket, sys
with socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1) as s:
    s.settimeout(1)
    sys.exit(0 if s.recv(64).startswith(b"220") else 1)
PY
}

# start_server SERVED_FOLDER LOG_FILE [BYTES_PER_SECOND]: another program may take the
# chosen port before the server binds it, so a few ports are tried. With a rate, every data
# connection is paced to it (the test suite's server), so a transfer can be watched.
start_server() {
    local served=$1 log=$2 rate=${3:-} attempt
    for attempt in 1 2 3; do
        port=$(free_port)
        if [ -n "$rate" ]; then
            "$python" "$demo_server_dir/../tests/servers/pyftpdlib_server.py" --port "$port" --root "$served" \
                --user demo --password demo --log "$log" --max-rate "$rate" >>"$log" 2>&1 &
        else
            "$python" -m pyftpdlib -i 127.0.0.1 -p "$port" -w -d "$served" >"$log" 2>&1 &
        fi
        server_pid=$!
        for _ in $(seq 50); do
            server_ready "$port" && return 0
            kill -0 "$server_pid" 2>/dev/null || break
            sleep 0.1
        done
        stop_server
    done
    return 1
}
