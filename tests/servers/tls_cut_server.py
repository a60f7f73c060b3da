#!/usr/bin/python3
"""A minimal explicit-FTPS server for one client test: it serves one file, but cuts the
data connection of RETR after --cut bytes without ending TLS (no close_notify) and still
answers 226, as a truncation attack on the network would look to the client.

Listens on 127.0.0.1 at a free port, which it writes to --port-file once it listens;
serves one client and exits after its QUIT (or after 30 s of silence).
"""
import argparse
import os
import socket
import ssl
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--certificate", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--size", type=int, required=True)
    parser.add_argument("--cut", type=int, required=True)
    arguments = parser.parse_args()

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(arguments.certificate, arguments.key)
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    with open(arguments.port_file + ".tmp", "w") as port_file:
        port_file.write(str(listener.getsockname()[1]))
    os.rename(arguments.port_file + ".tmp", arguments.port_file)
    listener.settimeout(30)
    content = bytes(i % 251 for i in range(arguments.size))

    control, _ = listener.accept()
    control.settimeout(30)
    stream = control

    def reply(text):
        stream.sendall((text + "\r\n").encode())

    def lines():
        pending = b""
        while True:
            while b"\r\n" not in pending:
                chunk = stream.recv(4096)
                if not chunk:
                    return
                pending += chunk
            line, pending = pending.split(b"\r\n", 1)
            yield line.decode(errors="replace")

    reply("220 cut server ready")
    passive = None
    reader = lines()
    while True:
        try:
            line = next(reader)
        except StopIteration:
            return 0
        verb = line.split(" ", 1)[0].upper()
        if verb == "AUTH":
            reply("234 go ahead")
            stream = context.wrap_socket(control, server_side=True)
            reader = lines()
        elif verb == "USER":
            reply("331 password")
        elif verb == "PASS":
            reply("230 logged in")
        elif verb in ("PBSZ", "PROT", "TYPE"):
            reply("200 ok")
        elif verb == "PWD":
            reply('257 "/" is the current directory')
        elif verb == "CWD":
            reply("250 ok")
        elif verb == "SIZE":
            reply("213 %d" % arguments.size)
        elif verb == "PASV":
            passive = socket.socket()
            passive.bind(("127.0.0.1", 0))
            passive.listen(1)
            passive.settimeout(30)
            port = passive.getsockname()[1]
            reply("227 Entering Passive Mode (127,0,0,1,%d,%d)" % (port // 256, port % 256))
        elif verb in ("LIST", "RETR"):
            reply("150 opening data connection")
            data, _ = passive.accept()
            secure = context.wrap_socket(data, server_side=True)
            if verb == "LIST":
                secure.sendall(b"-rw-r--r-- 1 u g %d Jan 01 2026 cut.bin\r\n" % arguments.size)
                secure.unwrap().close()
            else:
                secure.sendall(content[:arguments.cut])
                # The raw socket goes away under TLS: no close_notify.
                os.close(secure.detach())
            passive.close()
            reply("226 transfer complete")
        elif verb == "QUIT":
            reply("221 bye")
            return 0
        else:
            reply("502 not implemented")


if __name__ == "__main__":
    sys.exit(main())
