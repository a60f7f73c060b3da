# Sourced by scripts/demo, scripts/demo-window and scripts/screenshots: the demo's FTP
# server (Debian's pyftpdlib on 127.0.0.1 at a free port, anonymous with uploads allowed)
# serving a sample tree. Expects $python; sets $port and $server_pid.

python=${python:-/usr/bin/python3}
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

# start_server SERVED_FOLDER LOG_FILE: another program may take the chosen port before the
# server binds it, so a few ports are tried.
start_server() {
    local served=$1 log=$2 attempt
    for attempt in 1 2 3; do
        port=$(free_port)
        "$python" -m pyftpdlib -i 127.0.0.1 -p "$port" -w -d "$served" >"$log" 2>&1 &
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
