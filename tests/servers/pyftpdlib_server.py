#!/usr/bin/python3
"""FTP server for the integration tests, run by Debian's /usr/bin/python3.

Serves ROOT on 127.0.0.1:PORT (or --address ::1) to one named user and, unless --no-anonymous, to
anonymous, both with full permissions. Exits when its parent process goes away, so a
test that crashes leaves no server behind. Exit code 3 means the port was taken.
"""
import argparse
import errno
import logging
import os
import sys
import time
import warnings

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

FULL_PERMISSIONS = "elradfmwMT"
PORT_TAKEN = 3


def parse_arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--address", default="127.0.0.1",
                        help="loopback address to listen on: 127.0.0.1 or ::1")
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--no-anonymous", action="store_true")
    parser.add_argument("--allow-foreign", action="store_true",
                        help="accept PORT to, and PASV connections from, other addresses")
    parser.add_argument("--tls-certificate", default="",
                        help="PEM certificate: explicit TLS (AUTH TLS), required for logins and data")
    parser.add_argument("--tls-key", default="")
    parser.add_argument("--max-rate", type=int, default=0,
                        help="bytes per second per data connection, both ways (0: no limit)")
    return parser.parse_args()


def main():
    arguments = parse_arguments()
    logging.basicConfig(filename=arguments.log, level=logging.DEBUG,
                        format="%(asctime)s %(message)s")

    authorizer = DummyAuthorizer()
    authorizer.add_user(arguments.user, arguments.password, arguments.root,
                        perm=FULL_PERMISSIONS)
    if not arguments.no_anonymous:
        with warnings.catch_warnings():
            # Write access for anonymous is what the tests want.
            warnings.simplefilter("ignore")
            authorizer.add_anonymous(arguments.root, perm=FULL_PERMISSIONS)

    if arguments.tls_certificate:
        from pyftpdlib.handlers import TLS_FTPHandler

        class Handler(TLS_FTPHandler):
            certfile = arguments.tls_certificate
            keyfile = arguments.tls_key
            tls_control_required = True
            tls_data_required = True
    else:
        class Handler(FTPHandler):
            pass

    if arguments.max_rate > 0:
        class Throttled(ThrottledDTPHandler):
            """Paces evenly from the first byte on (the stock handler lets a burst of
            a second's worth through first, then sleeps)."""
            read_limit = arguments.max_rate
            write_limit = arguments.max_rate

            def _throttle_bandwidth(self, len_chunk, max_speed):
                if not hasattr(self, "_paced_since"):
                    self._paced_since = time.monotonic()
                    self._paced_bytes = 0
                self._paced_bytes += len_chunk
                ahead = self._paced_since + self._paced_bytes / max_speed - time.monotonic()
                if ahead <= 0.01:
                    return

                def resume():
                    self.add_channel(events=self.ioloop.READ if self.receive else self.ioloop.WRITE)

                self.del_channel()
                self._cancel_throttler()
                self._throttler = self.ioloop.call_later(ahead, resume, _errback=self.handle_error)

        Handler.dtp_handler = Throttled

    Handler.authorizer = authorizer
    Handler.permit_foreign_addresses = arguments.allow_foreign
    Handler.timeout = 60
    # A refused login answers at once: client tests wait 1-2 seconds at most.
    Handler.auth_failed_timeout = 0

    try:
        server = FTPServer((arguments.address, arguments.port), Handler)
    except OSError as error:
        logging.error("cannot listen on port %d: %s", arguments.port, error)
        sys.stderr.write("cannot listen on port %d: %s\n" % (arguments.port, error))
        return PORT_TAKEN if error.errno == errno.EADDRINUSE else 1

    logging.info("serving %s on %s port %d", arguments.root, arguments.address, arguments.port)
    parent = os.getppid()
    try:
        while os.getppid() == parent:
            server.ioloop.loop(0.2, blocking=False)
    finally:
        server.close_all()
    return 0


if __name__ == "__main__":
    sys.exit(main())
