#!/usr/bin/env python3
"""Checks the running FTP test servers from outside, with curl and ftplib:
each server's files, users, rights and transfer modes, and every scripted
fault. Reads $CORVANE_FTP_SERVERS_DIR/servers.json (the ftp_servers
fixture sets it)."""

import ftplib
import hashlib
import io
import json
import os
import socket
import subprocess
import sys
import unittest
import urllib.parse

DIR = os.environ.get("CORVANE_FTP_SERVERS_DIR", "")
try:
    with open(os.path.join(DIR, "servers.json")) as f:
        S = json.load(f)["ftp"]
except (OSError, KeyError) as e:
    sys.exit("ftp_selftest: no FTP part in servers.json of CORVANE_FTP_SERVERS_DIR=%r: %s" % (DIR, e))
PY, VS, SCRIPT = S["pyftpdlib"], S["vsftpd"], S["ftpscript"]
FILES = {f["name"]: f for f in S["files"]}
SMALL_LF = b"Corvane FTP test file.\nIts lines end in LF alone on disk;\nTYPE A sends them as CR LF.\n"


def pattern(seed, size):
    """The documented pattern stream, written out again here."""
    x = seed & 0xFFFFFFFF or 0x9E3779B9
    out = bytearray()
    while len(out) < size:
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        out += x.to_bytes(4, "little")
    return bytes(out[:size])


def curl(url, *args, user=None, data=None):
    """(exit code, stdout bytes) of curl on url (a path is quoted here)."""
    argv = ["curl", "-sS", "--max-time", "20"] + (["-u", user] if user else []) + list(args)
    proc = subprocess.run(argv + [url], input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return proc.returncode, proc.stdout


def url(base, path):
    return base + "/" + urllib.parse.quote(path)


def login(server, user, password, host="127.0.0.1", port=None):
    ftp = ftplib.FTP(encoding="utf-8", timeout=20)
    ftp.connect(host, port or server["port"])
    try:
        ftp.login(user, password)
    except ftplib.Error:
        ftp.close()
        raise
    return ftp


def retr(ftp, command, ascii_mode=False):
    """The bytes a RETR sends, in TYPE A when ascii_mode."""
    ftp.voidcmd("TYPE A" if ascii_mode else "TYPE I")
    out = io.BytesIO()
    with ftp.transfercmd(command) as conn:
        for block in iter(lambda: conn.recv(1 << 16), b""):
            out.write(block)
    ftp.voidresp()
    return out.getvalue()


class RealServers(unittest.TestCase):

    def test_the_trees_hold_the_described_files(self):
        data = pattern(FILES["data.bin"]["seed"], FILES["data.bin"]["size"])
        self.assertEqual(hashlib.sha256(data).hexdigest(), FILES["data.bin"]["sha256"])
        for server, user in ((PY, "%s:%s" % (PY["user"], PY["password"])),
                             (VS, "%s:%s" % (VS["user"], VS["password"]))):
            with self.subTest(server=server["url"]):
                for name in ("data.bin", "small.txt", "empty.txt", "caf\u00e9 \u00fcn\u00ef.txt",
                             "name with spaces.txt", "tree/sub/deeper/three.txt"):
                    rc, body = curl(url(server["url"], name), user=user)
                    self.assertEqual((rc, hashlib.sha256(body).hexdigest()), (0, FILES[name]["sha256"]), name)
                rc, names = curl(url(server["url"], "many") + "/", "-l", user=user)
                self.assertEqual(len(names.splitlines()), S["many_files"])
                # Active mode as well as passive.
                self.assertEqual(curl(url(server["url"], "small.txt"), "-P", "-", user=user), (0, SMALL_LF))
                rc, _ = curl(url(server["url"], "upload/put.bin"), "-T", "-", user=user, data=data[:100000])
                self.assertEqual(rc, 0)
                self.assertEqual(curl(url(server["url"], "upload/put.bin"), user=user), (0, data[:100000]))
                for name in [f["name"] for f in S["large_files"]]:
                    ftp = login(server, server["user"], server["password"])
                    ftp.voidcmd("TYPE I")
                    self.assertEqual(ftp.size(name), next(f["size"] for f in S["large_files"] if f["name"] == name))
                    # TYPE A turns the LF line ends into CR LF on the wire.
                    self.assertEqual(retr(ftp, "RETR small.txt", ascii_mode=True), SMALL_LF.replace(b"\n", b"\r\n"))
                    ftp.quit()

    def test_pyftpdlib_users_rights_mlsd_and_ipv6(self):
        ftp = login(PY, PY["user"], PY["password"])
        facts = dict(ftp.mlsd())
        self.assertEqual(facts["caf\u00e9 \u00fcn\u00ef.txt"]["type"], "file")
        self.assertEqual(facts["locked"]["type"], "dir")
        with self.assertRaisesRegex(ftplib.error_perm, "^550"):
            ftp.storbinary("STOR locked/new.txt", io.BytesIO(b"x"))
        with self.assertRaisesRegex(ftplib.error_perm, "^550"):
            ftp.delete("locked/keep.txt")
        ftp.quit()
        anon = login(PY, "anonymous", "guest@")
        self.assertEqual(sorted(anon.nlst()), ["pub", "small.txt"])
        with self.assertRaisesRegex(ftplib.error_perm, "^550"):
            anon.storbinary("STOR x.txt", io.BytesIO(b"x"))
        anon.quit()
        with self.assertRaisesRegex(ftplib.error_perm, "^530"):
            login(PY, PY["user"], "wrong")
        if PY["url6"]:
            user = "%s:%s" % (PY["user"], PY["password"])
            for mode in ([], ["-P", "-"]):  # EPSV, then EPRT
                self.assertEqual(curl(PY["url6"] + "/small.txt", *mode, user=user), (0, SMALL_LF))

    def test_vsftpd_has_no_mlsd_and_checks_the_password(self):
        ftp = login(VS, VS["user"], VS["password"])
        self.assertEqual(ftp.pwd(), VS["home"])
        with self.assertRaisesRegex(ftplib.error_perm, "^500"):
            list(ftp.mlsd())
        ftp.quit()
        with self.assertRaisesRegex(ftplib.error_perm, "^530"):
            login(VS, VS["user"], "wrong")


class ScriptedServer(unittest.TestCase):

    def test_listings_and_files(self):
        ftp = login(SCRIPT, "someone", "any")
        for directory, line in (("dos", b"01-02-24  03:04PM       <DIR>          name\r\n"),
                                ("odd", b"this line is garbage\r\n"),
                                ("odd", "caf\u00e9 \u00fcn\u00ef.txt\r\n".encode("utf-8"))):
            self.assertIn(line, retr(ftp, "LIST " + directory, ascii_mode=True))
        self.assertEqual(curl(url(SCRIPT["url"], "data.bin")), (0, pattern(1, 1 << 20)))
        self.assertEqual(ftp.sendcmd("SIZE fault/drop-426.bin"), "213 1048576")
        self.assertEqual(retr(ftp, "RETR small.txt", ascii_mode=True), SMALL_LF.replace(b"\n", b"\r\n"))
        ftp.voidcmd("TYPE I")
        self.assertRegex(ftp.storbinary("STOR up.bin", io.BytesIO(b"abc")),
                         "^226 Received 3 bytes, SHA-256 %s" % hashlib.sha256(b"abc").hexdigest())
        ftp.quit()

    def test_faults(self):
        # (url, user, curl exit code, bytes received)
        rows = [("fault/drop-426.bin", None, 18, 65536),
                ("fault/drop-close.bin", None, 18, 65536),
                ("fault/stall.bin", None, 28, 0),
                ("small.txt", "drop421", 28, 0),  # curl reports a 421 as a timeout
                ("small.txt", "noepsv", 0, len(SMALL_LF))]
        for path, user, code, size in rows:
            with self.subTest(path=path, user=user):
                rc, body = curl(url(SCRIPT["url"], path), "--max-time", "3", user=user and user + ":x")
                self.assertEqual((rc, len(body)), (code, size))

    def test_multiline_login_and_foreign_pasv_address(self):
        ftp = ftplib.FTP(timeout=20)
        ftp.connect("127.0.0.1", SCRIPT["port"])
        reply = ftp.login("multiline", "x")
        self.assertTrue(reply.startswith("230-") and reply.endswith("\n230 Logged in."), reply)
        self.assertIn("\n200 this one looks like", reply)
        ftp.quit()
        ftp = login(SCRIPT, "badpasv", "x")
        with self.assertRaisesRegex(ftplib.error_perm, "^500"):
            ftp.sendcmd("EPSV")
        self.assertIn("(10,255,255,1,", ftp.sendcmd("PASV"))
        # ftplib, like a correct client, connects to the control address.
        self.assertEqual(retr(ftp, "RETR small.txt"), SMALL_LF)
        ftp.quit()


if __name__ == "__main__":
    socket.setdefaulttimeout(30)
    unittest.main(verbosity=2)
