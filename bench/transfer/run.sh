#!/usr/bin/env bash
# Side-by-side transfer timing: tollvane-cli against curl and lftp, downloading and then
# uploading the same file through one vsftpd started here on 127.0.0.1 (anonymous). Prints
# each tool's wall time, our ratio to the best peer, and our peak memory.
#
#   bench/transfer/run.sh [BUILD_DIR]        (default: build)
#   SIZE_MB=1024 CLI=/path/to/tollvane-cli bench/transfer/run.sh
#
# Not part of the test suite. Needs vsftpd, curl, lftp and GNU time (package "time").
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build_dir=${1:-$source_dir/build}
cli=${CLI:-$build_dir/app/tollvane-cli}
size_mb=${SIZE_MB:-1024}

for tool in /usr/sbin/vsftpd curl lftp /usr/bin/time python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x "$cli" ] || { echo "not built: $cli" >&2; exit 1; }

work=$(mktemp -d /tmp/tv-bench-XXXXXX)
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
root=$work/srv
mkdir -p "$root/incoming" "$work/empty" "$work/dl" "$work/data" "$work/config"
chmod 555 "$work/empty"
conf=$work/vsftpd.conf
cat > "$conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
syslog_enable=NO
xferlog_enable=NO
vsftpd_log_file=$work/vsftpd.log
dirmessage_enable=NO
connect_from_port_20=NO
pasv_enable=YES
write_enable=YES
anonymous_enable=YES
no_anon_password=YES
anon_root=$root
anon_upload_enable=YES
anon_other_write_enable=YES
anon_world_readable_only=NO
anon_umask=022
local_enable=NO
CONF
if [ "$(id -u)" = 0 ]; then
    # As root vsftpd serves anonymous as the "ftp" account, from a root folder that
    # account cannot write to; uploads go into incoming/.
    chown ftp "$root/incoming"
    cat >> "$conf" <<CONF
run_as_launching_user=NO
ftp_username=ftp
nopriv_user=nobody
secure_chroot_dir=$work/empty
session_support=NO
CONF
else
    echo "run_as_launching_user=YES" >> "$conf"
fi

echo "Preparing a ${size_mb} MiB file..."
head -c "$((size_mb * 1024 * 1024))" /dev/urandom > "$root/big.bin"
chmod 644 "$root/big.bin"
cp "$root/big.bin" "$work/up.bin"

/usr/sbin/vsftpd "$conf" > "$work/vsftpd.out" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
    if curl -s --max-time 1 "ftp://127.0.0.1:$port/" >/dev/null 2>&1; then break; fi
    sleep 0.1
done

url=ftp://127.0.0.1:$port
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config

# Runs a command under GNU time; prints nothing, leaves "seconds kilobytes" in $work/t.
timed() {
    /usr/bin/time -f "%e %M" -o "$work/t" "$@" >/dev/null 2>"$work/err" || {
        echo "failed: $*" >&2; cat "$work/err" >&2; exit 1; }
}

check_same() {
    cmp -s "$root/big.bin" "$1" || { echo "transferred file differs: $1" >&2; exit 1; }
    rm -f "$1"
}

declare -A seconds memory
run_case() { # name direction command...
    local name=$1 direction=$2; shift 2
    timed "$@"
    read -r s m < "$work/t"
    seconds[$name.$direction]=$s
    memory[$name.$direction]=$m
}

# Downloads.
run_case ours get "$cli" -q --binary --overwrite overwrite get "$url/big.bin" "$work/dl"
check_same "$work/dl/big.bin"
run_case curl get curl -s -o "$work/dl/curl.bin" "$url/big.bin"
check_same "$work/dl/curl.bin"
run_case lftp get lftp -c "set ftp:passive-mode on; set xfer:clobber on; open $url; get big.bin -o $work/dl/lftp.bin"
check_same "$work/dl/lftp.bin"

# Uploads.
run_case ours put "$cli" -q --binary --overwrite overwrite put "$work/up.bin" "$url/incoming"
check_same "$root/incoming/up.bin"
run_case curl put curl -s -T "$work/up.bin" "$url/incoming/curl.bin"
check_same "$root/incoming/curl.bin"
run_case lftp put lftp -c "set ftp:passive-mode on; open $url; put $work/up.bin -o incoming/lftp.bin"
check_same "$root/incoming/lftp.bin"

echo
printf "%-10s %10s %10s %10s %12s %16s\n" direction ours curl lftp "ours/best" "ours peak (KiB)"
for direction in get put; do
    best=$(python3 -c "print(min(${seconds[curl.$direction]}, ${seconds[lftp.$direction]}))")
    ratio=$(python3 -c "print('%.2f' % (${seconds[ours.$direction]} / max($best, 0.001)))")
    printf "%-10s %9ss %9ss %9ss %12s %16s\n" "$direction" "${seconds[ours.$direction]}" \
        "${seconds[curl.$direction]}" "${seconds[lftp.$direction]}" "$ratio" "${memory[ours.$direction]}"
done
echo "(${size_mb} MiB over 127.0.0.1, passive mode, binary)"
