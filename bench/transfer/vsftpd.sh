# Sourced by the transfer benchmarks: an anonymous vsftpd on 127.0.0.1 serving $work/srv,
# with uploads allowed into $work/srv/incoming. Needs $work (a scratch folder the caller
# removes). Sets $port, $root, $url and $server_pid; stop_vsftpd ends the server.

write_vsftpd_config() {
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    root=$work/srv
    mkdir -p "$root/incoming" "$work/empty"
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
anon_mkdir_write_enable=YES
anon_other_write_enable=YES
anon_world_readable_only=NO
anon_umask=022
local_enable=NO
max_per_ip=0
max_clients=0
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
}

start_vsftpd() {
    /usr/sbin/vsftpd "$conf" > "$work/vsftpd.out" 2>&1 &
    server_pid=$!
    url=ftp://127.0.0.1:$port
    for _ in $(seq 50); do
        if curl -s --max-time 1 "$url/" >/dev/null 2>&1; then return 0; fi
        sleep 0.1
    done
    echo "vsftpd did not start:" >&2
    cat "$work/vsftpd.out" >&2
    return 1
}

stop_vsftpd() {
    if [ -n "${server_pid:-}" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
        server_pid=
    fi
}
