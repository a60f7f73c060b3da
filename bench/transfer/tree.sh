#!/usr/bin/env bash
# Many small files: one queue run of tollvane (bench_queue_run) against `lftp -c mirror`,
# downloading and then uploading the same tree (FILES files of 1-64 KiB spread over
# FOLDERS folders) through one vsftpd started here on 127.0.0.1 (anonymous, passive).
# Prints each tool's wall time, our ratio to lftp, and our peak memory.
#
#   bench/transfer/tree.sh [BUILD_DIR]            (default: build)
#   FILES=2000 FOLDERS=50 RUNS=3 bench/transfer/tree.sh build-speed
#
# Not part of the test suite. Needs vsftpd, curl, lftp and GNU time (package "time").
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build_dir=${1:-$source_dir/build}
bench=${BENCH:-$build_dir/bench/bench_queue_run}
files=${FILES:-2000}
folders=${FOLDERS:-50}
runs=${RUNS:-1}

for tool in /usr/sbin/vsftpd curl lftp /usr/bin/time python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x "$bench" ] || { echo "not built: $bench" >&2; exit 1; }

work=$(mktemp -d /tmp/tv-tree-XXXXXX)
server_pid=
cleanup() {
    stop_vsftpd
    rm -rf "$work"
}
trap cleanup EXIT

source "$here/vsftpd.sh"
write_vsftpd_config

echo "Preparing $files files in $folders folders..."
python3 - "$root/tree" "$files" "$folders" <<'PY'
import os, random, sys
base, files, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(7)
for i in range(files):
    folder = os.path.join(base, "d%02d" % (i % folders))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%04d.bin" % i), "wb") as f:
        f.write(rng.randbytes(rng.randint(1024, 64 * 1024)))
PY
chmod -R a+rX "$root/tree"
mkdir -p "$work/up"
cp -r "$root/tree" "$work/up/tree"

start_vsftpd
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config

# Runs a command under GNU time; leaves "seconds kilobytes" in $work/t.
timed() {
    /usr/bin/time -f "%e %M" -o "$work/t" "$@" >"$work/out" 2>"$work/err" || {
        echo "failed: $*" >&2; cat "$work/out" "$work/err" >&2; exit 1; }
}

same_tree() {
    diff -rq "$1" "$2" >/dev/null || { echo "trees differ: $1 $2" >&2; exit 1; }
}

declare -A seconds memory
record() { # key
    read -r s m < "$work/t"
    if [ -z "${seconds[$1]:-}" ] || python3 -c "import sys; sys.exit(0 if $s < ${seconds[$1]} else 1)"; then
        seconds[$1]=$s
        memory[$1]=$m
    fi
}

for run in $(seq "$runs"); do
    rm -rf "$work/dl"
    mkdir -p "$work/dl/ours" "$work/dl/lftp"
    timed "$bench" getdir 127.0.0.1 "$port" /tree "$work/dl/ours"
    record ours.get
    same_tree "$root/tree" "$work/dl/ours/tree"
    timed lftp -c "set ftp:passive-mode on; open $url; mirror tree $work/dl/lftp/tree"
    record lftp.get
    same_tree "$root/tree" "$work/dl/lftp/tree"

    rm -rf "$root/incoming/ours" "$root/incoming/lftp"
    mkdir -p "$root/incoming/ours"
    [ "$(id -u)" = 0 ] && chown ftp "$root/incoming/ours"
    timed "$bench" putdir 127.0.0.1 "$port" "$work/up/tree" /incoming/ours
    record ours.put
    same_tree "$work/up/tree" "$root/incoming/ours/tree"
    timed lftp -c "set ftp:passive-mode on; open $url; mirror -R $work/up/tree incoming/lftp/tree"
    record lftp.put
    same_tree "$work/up/tree" "$root/incoming/lftp/tree"
done

echo
printf "%-10s %10s %10s %12s %16s\n" direction ours lftp "ours/lftp" "ours peak (KiB)"
for direction in get put; do
    ratio=$(python3 -c "print('%.2f' % (${seconds[ours.$direction]} / max(${seconds[lftp.$direction]}, 0.001)))")
    printf "%-10s %9ss %9ss %12s %16s\n" "$direction" "${seconds[ours.$direction]}" \
        "${seconds[lftp.$direction]}" "$ratio" "${memory[ours.$direction]}"
done
echo "($files files of 1-64 KiB in $folders folders over 127.0.0.1, passive mode, best of $runs)"
