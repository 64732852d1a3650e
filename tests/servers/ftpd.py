#!/usr/bin/env python3
"""A pyftpdlib FTP server for the tests, on 127.0.0.1 and (when the host has
it) ::1, both on free ports in one process.

Usage:
  ftpd.py --root DIR --anon-root DIR [--locked SUBDIR]... --port-file FILE

The user `corvane` (password `s3cret`) has every right on --root except in
each --locked directory (relative to --root), where it may only list and
read; `anonymous` (any password) may list and read --anon-root. Passive data
ports come from the ephemeral range; MLSD, MLST, SIZE, MDTM, REST, EPSV and
EPRT are pyftpdlib's own; names are UTF-8. Once listening, the ports go to
--port-file as JSON: {"ipv4": PORT, "ipv6": PORT or null}.

Run it with an interpreter that has pyftpdlib (the Debian package's is
/usr/bin/python3; servers.py finds one).
"""

import argparse
import json
import logging
import os
import socket
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

USER = "corvane"
PASSWORD = "s3cret"
FULL_RIGHTS = "elradfmwMT"
READ_ONLY = "elr"


def ipv6_loopback_works():
    try:
        with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


class SafeDTPHandler(DTPHandler):
    """pyftpdlib 1.5.7 asks a data channel's file for its descriptor when it
    describes a session for its log; once the transfer has closed that file,
    the ValueError escapes from the error handler itself, the control channel
    never closes, and the server spins writing tracebacks (a client that
    resets its control connection right after a download sets it off)."""

    def use_sendfile(self):
        if getattr(self.file_obj, "closed", False):
            return False
        return super().use_sendfile()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--anon-root", required=True)
    parser.add_argument("--locked", action="append", default=[])
    parser.add_argument("--port-file", required=True)
    args = parser.parse_args()

    logging.basicConfig(level=logging.INFO, stream=sys.stderr, format="%(asctime)s %(message)s")
    authorizer = DummyAuthorizer()
    authorizer.add_user(USER, PASSWORD, os.path.abspath(args.root), perm=FULL_RIGHTS)
    for sub in args.locked:
        authorizer.override_perm(USER, os.path.join(os.path.abspath(args.root), sub), READ_ONLY,
                                 recursive=True)
    authorizer.add_anonymous(os.path.abspath(args.anon_root), perm=READ_ONLY)

    handler = FTPHandler
    handler.authorizer = authorizer
    handler.dtp_handler = SafeDTPHandler
    handler.banner = "corvane test server (pyftpdlib) ready."
    handler.permit_foreign_addresses = False  # PORT/EPRT only back to the client's own address
    handler.use_gmt_times = True
    handler.timeout = 300

    servers = [FTPServer(("127.0.0.1", 0), handler)]
    if ipv6_loopback_works():
        servers.append(FTPServer(("::1", 0), handler))
    ports = {"ipv4": servers[0].address[1], "ipv6": servers[1].address[1] if len(servers) > 1 else None}
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        json.dump(ports, f)
    os.replace(tmp, args.port_file)
    try:
        # Every server shares the one I/O loop, which the first one runs.
        servers[0].serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        for server in servers:
            server.close_all()
    return 0


if __name__ == "__main__":
    sys.exit(main())
