#!/usr/bin/env bash
# Side-by-side timing of whole-tree transfers: tollvane-cli against lftp and wget,
# downloading and then uploading the same tree of many small files through one vsftpd
# started here on 127.0.0.1 (anonymous). Every copy is checked with diff -r. Prints each
# tool's wall time, our ratio to the best peer per direction, and our peak memory.
#
#   bench/tree/run.sh [BUILD_DIR]        (default: build)
#   FILES=2000 FOLDERS=50 CLI=/path/to/tollvane-cli bench/tree/run.sh
#
# Not part of the test suite. Needs vsftpd, lftp, wget, GNU time (package "time") and
# Debian's /usr/bin/python3; the server set-up is bench/transfer/vsftpd.sh.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build_dir=${1:-$source_dir/build}
cli=${CLI:-$build_dir/app/tollvane-cli}
files=${FILES:-2000}
folders=${FOLDERS:-50}
python=/usr/bin/python3

for tool in /usr/sbin/vsftpd lftp wget curl /usr/bin/time "$python" diff; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x "$cli" ] || { echo "not built: $cli" >&2; exit 1; }

work=$(mktemp -d /tmp/tv-bench-tree-XXXXXX)
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

source "$source_dir/bench/transfer/vsftpd.sh"
write_vsftpd_config
mkdir -p "$work/data" "$work/config"

echo "Preparing a tree of $files files in $folders folders..."
"$source_dir/scripts/sample-tree" --plain --files "$files" --folders "$folders" --depth 3 \
    --min-kib 1 --max-kib 64 --seed 7 "$work/tree"
cp -r "$work/tree" "$root/tree"

start_vsftpd
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config

# Runs a command under GNU time; prints nothing, leaves "seconds kilobytes" in $work/t.
timed() {
    /usr/bin/time -f "%e %M" -o "$work/t" "$@" >/dev/null 2>"$work/err" || {
        echo "failed: $*" >&2; cat "$work/err" >&2; exit 1; }
}

check_same() { # original copy
    diff -r "$1" "$2" >/dev/null || { echo "copy differs from $1: $2" >&2; exit 1; }
    rm -rf "$2"
}

# A fresh empty folder for each tool's download; a fresh empty remote folder (owned by
# the serving account) for each tool's upload.
local_target() { rm -rf "$work/dl"; mkdir -p "$work/dl"; echo "$work/dl"; }
remote_target() {
    mkdir -p "$root/incoming/$1"
    [ "$(id -u)" != 0 ] || chown ftp "$root/incoming/$1"
    echo "incoming/$1"
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
target=$(local_target)
run_case ours get "$cli" -q --binary get -r "$url/tree" "$target"
check_same "$root/tree" "$target/tree"
target=$(local_target)
run_case lftp get lftp -c "set ftp:passive-mode on; open $url; mirror tree $target/tree"
check_same "$root/tree" "$target/tree"
target=$(local_target)
run_case wget get wget -q -r -l inf -nH -P "$target" "$url/tree/"
check_same "$root/tree" "$target/tree"

# Uploads.
target=$(remote_target ours)
run_case ours put "$cli" -q --binary put -r "$work/tree" "$url/$target/"
check_same "$work/tree" "$root/$target/tree"
target=$(remote_target lftp)
run_case lftp put lftp -c "set ftp:passive-mode on; open $url; mirror -R $work/tree $target/tree"
check_same "$work/tree" "$root/$target/tree"

ratio() { # ours best
    "$python" -c "import sys; print('%.2f' % (float(sys.argv[1]) / max(float(sys.argv[2]), 0.001)))" "$1" "$2"
}
best_get=$("$python" -c "print(min(${seconds[lftp.get]}, ${seconds[wget.get]}))")

echo
printf "%-10s %10s %10s %10s %12s %16s\n" direction ours lftp wget "ours/best" "ours peak (KiB)"
printf "%-10s %9ss %9ss %9ss %12s %16s\n" get "${seconds[ours.get]}" "${seconds[lftp.get]}" \
    "${seconds[wget.get]}" "$(ratio "${seconds[ours.get]}" "$best_get")" "${memory[ours.get]}"
printf "%-10s %9ss %9ss %10s %12s %16s\n" put "${seconds[ours.put]}" "${seconds[lftp.put]}" \
    "-" "$(ratio "${seconds[ours.put]}" "${seconds[lftp.put]}")" "${memory[ours.put]}"
echo "($files files of 1-64 KiB in $folders folders over 127.0.0.1, passive mode, binary)"
