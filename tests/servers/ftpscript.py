#!/usr/bin/env python3
"""A scripted FTP server for what real servers will not do on request.

Usage:
  ftpscript.py [--port N] [--port-file FILE]

Listens on 127.0.0.1 (port 0 picks a free one, written to --port-file once
listening). Any user name and password log in; the user name picks the
session's behaviour, the path a transfer's:

  user `multiline`   the 230 reply runs over several lines, inner ones
                     starting with digits (" 123 ...", "200 ...", "230-...")
  user `drop421`     the first command after login gets 421 and the control
                     connection is closed
  user `silentfeat` FEAT is read and never answered
  user `noepsv`      EPSV gets 500, so the client must fall back to PASV
  user `badpasv`     EPSV gets 500 and PASV names 10.255.255.1, though the
                     data port listens on 127.0.0.1 (the client must use the
                     control connection's address)

  /small.txt         text with LF line ends, sent with CR LF in TYPE A
  /data.bin          1 MiB of pattern bytes, seed 1 (as httpd.py's /bytes)
  /empty.txt         0 bytes
  /dos/              LIST in the MS-DOS style ("01-02-24  03:04PM  <DIR>  name")
  /odd/              LIST with a "total" line, a symlink, names with spaces,
                     a UTF-8 name and a line of garbage
  /fault/drop-426.bin    SIZE 1048576; RETR sends 65536 bytes, closes the data
                         connection and answers 426
  /fault/drop-close.bin  the same, then closes the control connection with
                         no reply at all
  /fault/reset-226.bin   RETR sends 65536 bytes, answers 226, then resets the
                         data connection: the data is short whatever the reply
  /fault/stall.bin       RETR answers 150, accepts the data connection and
                         sends nothing until ABOR or the client goes away

Every file in the listings can be retrieved (pattern bytes, seed 1, of the
listed size unless named above). SIZE and MDTM answer for files, 550 for
anything else. STOR reads the upload and answers
"226 Received N bytes, SHA-256 HEX." without keeping it. PORT and EPRT
(active mode, to 127.0.0.1 only) work as well as PASV and EPSV. TYPE A
converts LF to CR LF on the way out.
"""

import argparse
import hashlib
import os
import posixpath
import socket
import socketserver
import struct
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from httpd import Pattern  # noqa: E402

SMALL_TEXT = b"Corvane FTP test file.\nIts lines end in LF alone on disk;\nTYPE A sends them as CR LF.\n"
DROP_SIZE = 1 << 20
DROP_AFTER = 65536
FOREIGN_ADDRESS = "10.255.255.1"
MDTM = "20240102150400"

DOS_LIST = ("01-02-24  03:04PM       <DIR>          name\r\n"
            "12-31-23  11:59AM                 1234 report.txt\r\n"
            "07-04-99  12:00AM                    0 file with spaces.txt\r\n")
ODD_LIST = ("total 3\r\n"
            "lrwxrwxrwx   1 owner    group          10 Jan 02  2024 link -> report.txt\r\n"
            "-rw-r--r--   1 owner    group        1234 Jan 02 15:04 report.txt\r\n"
            "-rw-r--r--   1 owner    group          42 Mar 03  2023 name with  two spaces.txt\r\n"
            "drwxr-xr-x   2 owner    group        4096 Mar 03  2023 sub dir\r\n"
            "-rw-r--r--   1 owner    group           7 Feb 29  2024 caf\u00e9 \u00fcn\u00ef.txt\r\n"
            "this line is garbage\r\n")

# path -> size (files) or None (directories); LIST text of a directory comes
# from LISTINGS when it is there, otherwise it is made from the entries.
TREE = {
    "/": None, "/small.txt": len(SMALL_TEXT), "/data.bin": 1 << 20, "/empty.txt": 0,
    "/dos": None, "/dos/name": None, "/dos/report.txt": 1234, "/dos/file with spaces.txt": 0,
    "/odd": None, "/odd/report.txt": 1234, "/odd/name with  two spaces.txt": 42, "/odd/sub dir": None,
    "/odd/caf\u00e9 \u00fcn\u00ef.txt": 7,
    "/fault": None, "/fault/drop-426.bin": DROP_SIZE, "/fault/drop-close.bin": DROP_SIZE,
    "/fault/reset-226.bin": DROP_SIZE,
    "/fault/stall.bin": DROP_SIZE,
}
LISTINGS = {"/dos": DOS_LIST, "/odd": ODD_LIST}
MULTILINE_230 = ("230-Welcome to the scripted server.\r\n"
                 " 123 this inner line starts with a digit after a space\r\n"
                 "200 this one looks like a final reply of another code\r\n"
                 "230-and this one like a continuation of the same code\r\n"
                 "230 Logged in.\r\n")


class Closed(Exception):
    """The session ends here (the client left, or a fault closes it)."""


class Session(socketserver.StreamRequestHandler):
    timeout = 300

    def setup(self):
        super().setup()
        self.user = None
        self.logged_in = False
        self.cwd = "/"
        self.ascii = False
        self.passive = None  # listening socket after PASV/EPSV
        self.active = None  # (host, port) after PORT/EPRT
        self.stalled = None  # data connection kept open by a stall

    def reply(self, text):
        if not text.endswith("\r\n"):
            text += "\r\n"
        self.wfile.write(text.encode("utf-8"))
        self.wfile.flush()

    def handle(self):
        try:
            self.reply("220 Corvane scripted FTP server ready.")
            while True:
                line = self.rfile.readline(4096)
                if not line:
                    return
                text = line.decode("utf-8", "replace").rstrip("\r\n")
                verb, _, arg = text.partition(" ")
                verb = verb.upper()
                sys.stderr.write("%s:%d %s> %s\n" % (self.client_address[0], self.client_address[1],
                                                     self.user or "-", text if verb != "PASS" else "PASS ***"))
                if self.logged_in and self.user == "drop421" and verb != "QUIT":
                    self.reply("421 Service not available, closing control connection.")
                    return
                handler = getattr(self, "do_" + verb, None)
                if handler is None:
                    self.reply("502 Command not implemented.")
                elif not self.logged_in and verb not in ("USER", "PASS", "QUIT", "FEAT", "SYST", "OPTS"):
                    self.reply("530 Please log in with USER and PASS.")
                else:
                    handler(arg)
        except (Closed, OSError):
            pass
        finally:
            self.close_data()

    def finish(self):
        try:
            super().finish()
        except OSError:
            pass

    # -- helpers --------------------------------------------------------------

    def resolve(self, arg):
        path = posixpath.normpath(posixpath.join(self.cwd, arg or "."))
        return "/" + path.lstrip("/")

    def close_data(self):
        for sock in (self.passive, self.stalled):
            if sock is not None:
                try:
                    sock.close()
                except OSError:
                    pass
        self.passive = self.active = self.stalled = None

    def open_data(self):
        """The data connection of the pending transfer, or None (after a
        425 reply) when there is no way to make one."""
        try:
            if self.passive is not None:
                self.passive.settimeout(30)
                conn, _ = self.passive.accept()
                self.passive.close()
                self.passive = None
                return conn
            if self.active is not None:
                conn = socket.create_connection(self.active, timeout=30)
                self.active = None
                return conn
        except OSError:
            self.close_data()
        self.reply("425 Can't open data connection.")
        return None

    def listen_data(self):
        self.close_data()
        self.passive = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.passive.bind(("127.0.0.1", 0))
        self.passive.listen(1)
        return self.passive.getsockname()[1]

    def send_data(self, data, opening):
        conn = self.open_data()
        if conn is None:
            return
        self.reply(opening)
        with conn:
            conn.sendall(data)
        self.reply("226 Transfer complete.")

    def content(self, path):
        if path == "/small.txt":
            return SMALL_TEXT
        return Pattern.get(1, TREE[path])

    # -- commands -------------------------------------------------------------

    def do_USER(self, arg):
        self.user, self.logged_in = arg, False
        self.reply("331 Password required for %s." % arg)

    def do_PASS(self, arg):
        if self.user is None:
            self.reply("503 Login with USER first.")
            return
        self.logged_in = True
        self.reply(MULTILINE_230 if self.user == "multiline" else "230 Logged in.")

    def do_QUIT(self, arg):
        self.reply("221 Goodbye.")
        raise Closed()

    def do_SYST(self, arg):
        self.reply("215 UNIX Type: L8")

    def do_FEAT(self, arg):
        if self.user == "silentfeat":
            return
        self.reply("211-Features:\r\n SIZE\r\n MDTM\r\n EPSV\r\n UTF8\r\n211 End")

    def do_OPTS(self, arg):
        self.reply("200 OK." if arg.upper().startswith("UTF8") else "501 Unknown option.")

    def do_NOOP(self, arg):
        self.reply("200 NOOP ok.")

    def do_TYPE(self, arg):
        kind = arg.upper().split(" ")[0]
        if kind not in ("A", "I", "L"):
            self.reply("504 Unsupported type.")
            return
        self.ascii = kind == "A"
        self.reply("200 Type set to %s." % kind)

    def do_MODE(self, arg):
        self.reply("200 Mode S." if arg.upper() == "S" else "504 Only mode S.")

    def do_STRU(self, arg):
        self.reply("200 Structure F." if arg.upper() == "F" else "504 Only structure F.")

    def do_PWD(self, arg):
        self.reply('257 "%s" is the current directory.' % self.cwd.replace('"', '""'))

    def do_CWD(self, arg):
        path = self.resolve(arg)
        if TREE.get(path, 0) is None and path in TREE:
            self.cwd = path
            self.reply("250 Directory changed to %s." % path)
        else:
            self.reply("550 %s: No such directory." % arg)

    def do_CDUP(self, arg):
        self.do_CWD("..")

    def do_SIZE(self, arg):
        path = self.resolve(arg)
        if TREE.get(path) is None:
            self.reply("550 %s: not a plain file." % arg)
        else:
            self.reply("213 %d" % TREE[path])

    def do_MDTM(self, arg):
        path = self.resolve(arg)
        self.reply("550 %s: not a plain file." % arg if TREE.get(path) is None else "213 " + MDTM)

    def do_EPSV(self, arg):
        if self.user in ("noepsv", "badpasv"):
            self.reply("500 EPSV not understood.")
            return
        self.reply("229 Entering Extended Passive Mode (|||%d|)" % self.listen_data())

    def do_PASV(self, arg):
        port = self.listen_data()
        host = FOREIGN_ADDRESS if self.user == "badpasv" else "127.0.0.1"
        self.reply("227 Entering Passive Mode (%s,%d,%d)." % (host.replace(".", ","), port >> 8, port & 255))

    def do_PORT(self, arg):
        try:
            parts = [int(p) for p in arg.split(",")]
            host, port = ".".join(str(p) for p in parts[:4]), parts[4] << 8 | parts[5]
        except (ValueError, IndexError):
            self.reply("501 Bad PORT argument.")
            return
        self.set_active(host, port)

    def do_EPRT(self, arg):
        fields = arg[1:].split(arg[:1]) if arg else []
        if len(fields) < 3 or fields[0] != "1" or not fields[2].isdigit():
            self.reply("522 Only IPv4 (1) is supported.")
            return
        self.set_active(fields[1], int(fields[2]))

    def set_active(self, host, port):
        if host != "127.0.0.1":
            self.reply("500 Only 127.0.0.1 is allowed.")
            return
        self.close_data()
        self.active = (host, port)
        self.reply("200 Active mode to %s:%d." % (host, port))

    def do_LIST(self, arg):
        self.list_dir(arg, names_only=False)

    def do_NLST(self, arg):
        self.list_dir(arg, names_only=True)

    def list_dir(self, arg, names_only):
        args = [a for a in arg.split(" ") if a and not a.startswith("-")]  # "LIST -la" flags
        path = self.resolve(" ".join(args))
        if path not in TREE or TREE[path] is not None:
            self.reply("550 %s: No such directory." % arg)
            return
        children = sorted(p for p in TREE if p != path and posixpath.dirname(p) == path)
        if names_only:
            text = "".join(posixpath.basename(p) + "\r\n" for p in children)
        elif path in LISTINGS:
            text = LISTINGS[path]
        else:
            text = ""
            for p in children:
                mode, size = ("drwxr-xr-x", 4096) if TREE[p] is None else ("-rw-r--r--", TREE[p])
                text += "%s   1 owner    group    %10d Jan 02  2024 %s\r\n" % (mode, size, posixpath.basename(p))
        self.send_data(text.encode("utf-8"), "150 Here comes the listing.")

    def do_RETR(self, arg):
        path = self.resolve(arg)
        if TREE.get(path) is None:
            self.reply("550 %s: No such file." % arg)
            return
        if path.startswith("/fault/"):
            self.fault(path)
            return
        data = self.content(path)
        if self.ascii:
            data = data.replace(b"\n", b"\r\n")
        self.send_data(data, "150 Opening data connection for %s (%d bytes)." % (arg, len(data)))

    def fault(self, path):
        conn = self.open_data()
        if conn is None:
            return
        self.reply("150 Opening data connection (%d bytes)." % DROP_SIZE)
        if path == "/fault/stall.bin":
            self.stalled = conn  # closed on ABOR or when the session ends
            return
        if path == "/fault/reset-226.bin":
            conn.sendall(Pattern.get(1, DROP_AFTER))
            self.reply("226 Transfer complete.")
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            conn.close()
            return
        with conn:
            conn.sendall(Pattern.get(1, DROP_AFTER))
        if path == "/fault/drop-close.bin":
            raise Closed()
        self.reply("426 Connection closed; transfer aborted.")

    def do_ABOR(self, arg):
        if self.stalled is not None:
            self.close_data()
            self.reply("426 Transfer aborted.")
        self.reply("226 ABOR command successful.")

    def do_STOR(self, arg):
        conn = self.open_data()
        if conn is None:
            return
        self.reply("150 Ready to receive %s." % arg)
        digest, size = hashlib.sha256(), 0
        with conn:
            for block in iter(lambda: conn.recv(1 << 16), b""):
                digest.update(block)
                size += len(block)
        self.reply("226 Received %d bytes, SHA-256 %s." % (size, digest.hexdigest()))


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True

    def handle_error(self, request, client_address):
        exc = sys.exc_info()[1]
        sys.stderr.write("client %s:%d: %s: %s\n" % (client_address[0], client_address[1],
                                                    type(exc).__name__, exc))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file", help="written with the port once listening")
    args = parser.parse_args()
    server = Server(("127.0.0.1", args.port), Session)
    port = server.server_address[1]
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % port)
        os.replace(tmp, args.port_file)
    sys.stderr.write("listening on 127.0.0.1:%d\n" % port)
    sys.stderr.flush()
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
