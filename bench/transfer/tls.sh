#!/usr/bin/env bash
# A 1 GiB FTPS download from vsftpd on 127.0.0.1 (explicit TLS, forced for logins and
# data, data connections resuming the control connection's TLS session): tollvane-cli
# against curl --ssl-reqd on the same server and file. Prints the wall times (best and
# median of RUNS, interleaved), the ratio, and our peak memory. The certificate is made
# here and trusted by its fingerprint (ours) or not checked (curl -k).
#
# Our download is on the disk before it takes its final name (fdatasync); curl leaves it
# in the page cache. "curl+flush" is curl followed by the same flush of its file (sync
# -d), so the share of the gap that is the disk shows apart from the transfer's own.
#
#   bench/transfer/tls.sh [BUILD_DIR]        (default: build)
#   SIZE_MB=1024 RUNS=3 bench/transfer/tls.sh
#
# Not part of the test suite. Needs vsftpd, curl, openssl and GNU time.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build_dir=${1:-$source_dir/build}
cli=${CLI:-$build_dir/app/tollvane-cli}
size_mb=${SIZE_MB:-1024}
runs=${RUNS:-3}

for tool in /usr/sbin/vsftpd curl openssl /usr/bin/time python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x "$cli" ] || { echo "not built: $cli" >&2; exit 1; }

work=$(mktemp -d /tmp/tv-bench-tls-XXXXXX)
server_pid=
cleanup() {
    stop_vsftpd
    rm -rf "$work"
}
trap cleanup EXIT

source "$here/vsftpd.sh"
write_vsftpd_config
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
    -days 2 -subj /CN=127.0.0.1 >/dev/null 2>&1
fingerprint=SHA256:$(openssl x509 -in "$work/cert.pem" -noout -fingerprint -sha256 | cut -d= -f2)
cat >> "$conf" <<CONF
ssl_enable=YES
rsa_cert_file=$work/cert.pem
rsa_private_key_file=$work/key.pem
allow_anon_ssl=YES
force_anon_logins_ssl=YES
force_anon_data_ssl=YES
require_ssl_reuse=YES
ssl_ciphers=HIGH
CONF
mkdir -p "$work/dl" "$work/data" "$work/config"

echo "Preparing a ${size_mb} MiB file..."
head -c "$((size_mb * 1024 * 1024))" /dev/urandom > "$root/big.bin"
chmod 644 "$root/big.bin"
# Written back now, not during the first timed run.
sync "$root/big.bin"

# start_vsftpd probes with plain curl, which a TLS-only server refuses: wait for the port.
/usr/sbin/vsftpd "$conf" > "$work/vsftpd.out" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
    python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null && break
    sleep 0.1
done
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config

timed() {
    /usr/bin/time -f "%e %M" -o "$work/t" "$@" >/dev/null 2>"$work/err" || {
        echo "failed: $*" >&2; cat "$work/err" >&2; exit 1; }
}
check_same() {
    cmp -s "$root/big.bin" "$1" || { echo "transferred file differs: $1" >&2; exit 1; }
    rm -f "$1"
}
declare -A seconds memory
run_case() { # name command...
    local name=$1; shift
    timed "$@"
    read -r s m < "$work/t"
    seconds[$name]="${seconds[$name]:-} $s"
    if [ "${memory[$name]:-0}" -lt "$m" ]; then memory[$name]=$m; fi
}

for run in $(seq "$runs"); do
    run_case ours "$cli" -q --binary --overwrite overwrite --trust-certificate "$fingerprint" \
        get "ftpes://127.0.0.1:$port/big.bin" "$work/dl"
    check_same "$work/dl/big.bin"
    run_case curl curl -s -k --ssl-reqd -o "$work/dl/curl.bin" "ftp://127.0.0.1:$port/big.bin"
    check_same "$work/dl/curl.bin"
    run_case curl+flush sh -c 'curl -s -k --ssl-reqd -o "$1" "$2" && sync -d "$1"' sh \
        "$work/dl/curl.bin" "ftp://127.0.0.1:$port/big.bin"
    check_same "$work/dl/curl.bin"
done

echo
python3 - "${seconds[ours]}" "${seconds[curl]}" "${seconds[curl+flush]}" "${memory[ours]}" "$runs" "$size_mb" <<'PY'
import statistics, sys
ours, curl, flushed = ([float(x) for x in arg.split()] for arg in sys.argv[1:4])
memory, runs, size = sys.argv[4:7]
print("%-11s %8s %8s   %s" % ("", "best", "median", "all runs (s)"))
for name, times in (("ours", ours), ("curl", curl), ("curl+flush", flushed)):
    print("%-11s %7.2fs %7.2fs   %s" % (name, min(times), statistics.median(times), " ".join("%.2f" % t for t in times)))
for name, times in (("curl", curl), ("curl+flush", flushed)):
    print("ours/%-10s best %.2f   median %.2f" % (name, min(ours) / max(min(times), 0.001),
                                                  statistics.median(ours) / max(statistics.median(times), 0.001)))
print("ours peak memory: %s KiB" % memory)
print("(%s MiB get over 127.0.0.1 with explicit FTPS, passive mode, binary, %s runs interleaved)" % (size, runs))
PY
