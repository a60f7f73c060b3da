#!/usr/bin/env bash
# Side-by-side transfer timing: tollvane-cli against curl and lftp, downloading and then
# uploading the same file through one vsftpd started here on 127.0.0.1 (anonymous). Prints
# each tool's wall time, our ratio to the best peer, and our peak memory. When
# bench_queue_run is built, the engine alone (one queue run, no front end, login not
# timed) is shown too: the difference is what the command-line program adds.
#
#   bench/transfer/run.sh [BUILD_DIR]        (default: build)
#   SIZE_MB=1024 RUNS=3 CLI=/path/to/tollvane-cli bench/transfer/run.sh
#
# With RUNS above 1 every tool runs that many times, interleaved, and its best time
# counts: on a shared machine the best run is the one least disturbed by other work.
#
# Not part of the test suite. Needs vsftpd, curl, lftp and GNU time (package "time").
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build_dir=${1:-$source_dir/build}
cli=${CLI:-$build_dir/app/tollvane-cli}
engine=${BENCH:-$build_dir/bench/bench_queue_run}
size_mb=${SIZE_MB:-1024}
runs=${RUNS:-1}

for tool in /usr/sbin/vsftpd curl lftp /usr/bin/time python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x "$cli" ] || { echo "not built: $cli" >&2; exit 1; }

work=$(mktemp -d /tmp/tv-bench-XXXXXX)
server_pid=
cleanup() {
    stop_vsftpd
    rm -rf "$work"
}
trap cleanup EXIT

source "$here/vsftpd.sh"
write_vsftpd_config
mkdir -p "$work/dl" "$work/data" "$work/config"

echo "Preparing a ${size_mb} MiB file..."
head -c "$((size_mb * 1024 * 1024))" /dev/urandom > "$root/big.bin"
chmod 644 "$root/big.bin"
cp "$root/big.bin" "$work/up.bin"

start_vsftpd
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
    local key=$name.$direction
    if [ -z "${seconds[$key]:-}" ] || python3 -c "import sys; sys.exit(0 if $s < ${seconds[$key]} else 1)"; then
        seconds[$key]=$s
        memory[$key]=$m
    fi
}

for run in $(seq "$runs"); do
    # Downloads.
    run_case ours get "$cli" -q --binary --overwrite overwrite get "$url/big.bin" "$work/dl"
    check_same "$work/dl/big.bin"
    if [ -x "$engine" ]; then
        run_case engine get "$engine" get 127.0.0.1 "$port" /big.bin "$work/dl"
        check_same "$work/dl/big.bin"
    fi
    run_case curl get curl -s -o "$work/dl/curl.bin" "$url/big.bin"
    check_same "$work/dl/curl.bin"
    run_case lftp get lftp -c "set ftp:passive-mode on; set xfer:clobber on; open $url; get big.bin -o $work/dl/lftp.bin"
    check_same "$work/dl/lftp.bin"

    # Uploads.
    run_case ours put "$cli" -q --binary --overwrite overwrite put "$work/up.bin" "$url/incoming"
    check_same "$root/incoming/up.bin"
    if [ -x "$engine" ]; then
        run_case engine put "$engine" put 127.0.0.1 "$port" "$work/up.bin" /incoming
        check_same "$root/incoming/up.bin"
    fi
    run_case curl put curl -s -T "$work/up.bin" "$url/incoming/curl.bin"
    check_same "$root/incoming/curl.bin"
    run_case lftp put lftp -c "set ftp:passive-mode on; open $url; put $work/up.bin -o incoming/lftp.bin"
    check_same "$root/incoming/lftp.bin"
done

echo
printf "%-10s %10s %10s %10s %10s %12s %12s %16s\n" direction ours engine curl lftp "ours/best" \
    "engine/best" "ours peak (KiB)"
for direction in get put; do
    best=$(python3 -c "print(min(${seconds[curl.$direction]}, ${seconds[lftp.$direction]}))")
    ratio=$(python3 -c "print('%.2f' % (${seconds[ours.$direction]} / max($best, 0.001)))")
    engine_time=${seconds[engine.$direction]:--}
    engine_ratio=-
    if [ "$engine_time" != - ]; then
        engine_ratio=$(python3 -c "print('%.2f' % ($engine_time / max($best, 0.001)))")
        engine_time=${engine_time}s
    fi
    printf "%-10s %9ss %10s %9ss %9ss %12s %12s %16s\n" "$direction" "${seconds[ours.$direction]}" \
        "$engine_time" "${seconds[curl.$direction]}" "${seconds[lftp.$direction]}" "$ratio" \
        "$engine_ratio" "${memory[ours.$direction]}"
done
echo "(${size_mb} MiB over 127.0.0.1, passive mode, binary, best of $runs)"
