#!/usr/bin/env python3
"""Checks the running HTTP test servers from outside, with curl and raw
sockets: every certificate case, nginx's static files and keep-alive, and
every endpoint of the scriptable server over HTTP and HTTPS. Reads
$CORVANE_SERVERS_DIR/servers.json (the http_servers fixture sets it)."""

import base64
import hashlib
import json
import os
import re
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

DIR = os.environ.get("CORVANE_SERVERS_DIR", "")
try:
    with open(os.path.join(DIR, "servers.json")) as f:
        S = json.load(f)
except OSError as e:
    sys.exit("selftest: no servers.json in CORVANE_SERVERS_DIR=%r: %s" % (DIR, e))
CA = S["ca_file"]
NG = S["nginx"]
HD = S["httpd"]
USER, PASSWORD, REALM = S["credentials"]["user"], S["credentials"]["password"], S["credentials"]["realm"]


def pattern(seed, size):
    """The documented pattern stream, written out again here so that a
    mistake in the server's own generator shows."""
    x = seed & 0xFFFFFFFF or 0x9E3779B9
    out = bytearray()
    while len(out) < size:
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        out += x.to_bytes(4, "little")
    return bytes(out[:size])


def curl(*args, data=None):
    """Runs curl with the test CA; returns (exit code, stdout bytes, stderr text)."""
    proc = subprocess.run(["curl", "-sS", "--cacert", CA, "--max-time", "30"] + list(args),
                          input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return proc.returncode, proc.stdout, proc.stderr.decode("utf-8", "replace")


def curl_head_body(*args, data=None):
    """curl -i: (status line, {lower-case name: [values]}, body) of the last response."""
    rc, out, err = curl("-i", *args, data=data)
    if rc != 0:
        raise AssertionError("curl %s failed (%d): %s" % (" ".join(args), rc, err))
    # With -L several responses follow one another; the last head is ours.
    pos = 0
    while True:
        end = out.index(b"\r\n\r\n", pos)
        head = out[pos:end].decode("latin-1")
        body_start = end + 4
        status = head.split("\r\n")[0]
        code = int(status.split()[1])
        if (300 <= code < 400 and "-L" in args) or code == 100 or \
                (code == 401 and ("--digest" in args or "--anyauth" in args) and
                 out.find(b"HTTP/", body_start) != -1):
            nxt = out.find(b"HTTP/", body_start)
            if nxt != -1:
                pos = nxt
                continue
        break
    headers = {}
    for line in head.split("\r\n")[1:]:
        name, _, value = line.partition(":")
        headers.setdefault(name.strip().lower(), []).append(value.strip())
    return status, headers, out[body_start:]


def raw(port, request, tls=False, timeout=10.0):
    """Sends request bytes and returns everything received until the server
    closes (or timeout passes), with the time of the first byte."""
    sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    if tls:
        sock = ssl.create_default_context(cafile=CA).wrap_socket(sock, server_hostname="localhost")
    start = time.monotonic()
    first = None
    data = bytearray()
    try:
        sock.sendall(request)
        while True:
            try:
                piece = sock.recv(65536)
            except (socket.timeout, ConnectionResetError):
                break
            if not piece:
                break
            if first is None:
                first = time.monotonic() - start
            data += piece
    finally:
        sock.close()
    return bytes(data), first


def get_request(target, extra=""):
    return ("GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\n%sConnection: close\r\n\r\n" % (target, extra)).encode()


class Certificates(unittest.TestCase):
    """Each certificate case against curl's own verification."""

    def test_valid_certificate_verifies_by_address_and_by_name(self):
        for url in (NG["https_url"] + "/small.txt",
                    "https://localhost:%d/small.txt" % NG["https_port"],
                    HD["https_url"] + "/echo"):
            rc, _, err = curl("-o", "/dev/null", url)
            self.assertEqual(rc, 0, url + ": " + err)

    def test_each_faulty_certificate_is_refused_for_its_own_reason(self):
        cases = {"https_expired_url": "expired",
                 "https_wrongname_url": "no alternative certificate subject name",
                 "https_badusage_url": "unsuitable certificate purpose",
                 "https_untrusted_url": "unable to get local issuer certificate"}
        for key, reason in cases.items():
            with self.subTest(key):
                rc, _, err = curl("-o", "/dev/null", NG[key] + "/small.txt")
                self.assertEqual(rc, 60, err)
                self.assertIn(reason, err)
                # The server itself is fine: without verification it answers.
                rc, body, err = curl("-k", NG[key] + "/small.txt")
                self.assertEqual((rc, len(body)), (0, 100), err)

    def test_without_the_test_ca_the_valid_server_is_not_trusted(self):
        proc = subprocess.run(["curl", "-sS", "--cacert", S["pki"]["untrusted_ca"], "-o", "/dev/null",
                               NG["https_url"] + "/small.txt"], stderr=subprocess.PIPE)
        self.assertEqual(proc.returncode, 60)


class StaticFiles(unittest.TestCase):
    """nginx: docroot files, keep-alive, DAV uploads, HEAD."""

    def test_docroot_files_are_served_whole_over_http_and_https(self):
        for f in S["files"]:
            for base in (NG["http_url"], NG["https_url"]):
                with self.subTest(f["name"], base=base):
                    rc, body, err = curl(base + f["path"])
                    self.assertEqual(rc, 0, err)
                    self.assertEqual(len(body), f["size"])
                    self.assertEqual(hashlib.sha256(body).hexdigest(), f["sha256"])
        data = next(f for f in S["files"] if f["name"] == "data.bin")
        with open(os.path.join(S["docroot"], "data.bin"), "rb") as fh:
            self.assertEqual(fh.read(), pattern(data["seed"], data["size"]))
        small = next(f for f in S["files"] if f["name"] == "small.txt")
        self.assertEqual(small["size"], 100)

    def test_large_files_have_their_size_and_zero_content(self):
        self.assertTrue(S["large_files"])
        for f in S["large_files"]:
            status, headers, body = curl_head_body("-I", NG["http_url"] + f["path"])
            self.assertIn(" 200", status)
            self.assertEqual(int(headers["content-length"][0]), f["size"])
            self.assertEqual(body, b"")
            rc, out, err = curl("-r", "0-65535", NG["http_url"] + f["path"])
            self.assertEqual(out, bytes(min(65536, f["size"])), err)

    def test_many_requests_share_one_kept_alive_connection(self):
        urls = [NG["http_url"] + "/small.txt"] * 50
        rc, out, err = curl("-i", *urls)
        self.assertEqual(rc, 0, err)
        connections = re.findall(rb"X-Connection: (\d+)", out)
        counts = [int(n) for n in re.findall(rb"X-Connection-Requests: (\d+)", out)]
        self.assertEqual(len(set(connections)), 1)
        self.assertEqual(counts, list(range(1, 51)))

    def test_dav_upload_comes_back_identical(self):
        payload = pattern(99, 300000)
        rc, _, err = curl("-T", "-", "-o", "/dev/null", "-w", "%{http_code}",
                          NG["dav_url"] + "selftest/upload.bin", data=payload)
        self.assertEqual(rc, 0, err)
        rc, body, err = curl(NG["dav_url"] + "selftest/upload.bin")
        self.assertEqual(body, payload)
        rc, _, _ = curl("-X", "DELETE", NG["dav_url"] + "selftest/upload.bin")
        rc, out, _ = curl("-o", "/dev/null", "-w", "%{http_code}", NG["dav_url"] + "selftest/upload.bin")
        self.assertEqual(out, b"404")


class Endpoints:
    """The scriptable server's endpoints; run once over HTTP and once over HTTPS."""

    base = None
    port = None
    tls = None

    def test_echo_returns_request_line_headers_and_exact_body(self):
        payload = bytes(range(256)) * 40 + b"\r\n\r\nend"
        status, headers, body = curl_head_body("--data-binary", "@-", "-H", "X-Probe: one two",
                                               "-H", "Content-Type: application/octet-stream",
                                               self.base + "/echo/sub?q=1", data=payload)
        head, _, echoed = body.partition(b"\r\n\r\n")
        self.assertEqual(echoed, payload)
        lines = head.decode("latin-1").split("\r\n")
        self.assertEqual(lines[0], "POST /echo/sub?q=1 HTTP/1.1")
        self.assertIn("X-Probe: one two", lines)
        self.assertIn("Content-Length: %d" % len(payload), lines)
        self.assertEqual(headers["x-echo-body-sha256"], [hashlib.sha256(payload).hexdigest()])
        self.assertEqual(headers["content-type"], ["message/http"])

    def test_echo_json_and_chunked_request_body(self):
        payload = pattern(5, 70000)
        _, _, body = curl_head_body("--data-binary", "@-", "-H", "Transfer-Encoding: chunked",
                                    "-H", "X-Twice: a", "-H", "X-Twice: b",
                                    self.base + "/echo?format=json", data=payload)
        doc = json.loads(body)
        self.assertEqual(doc["method"], "POST")
        self.assertEqual(doc["target"], "/echo?format=json")
        self.assertEqual(base64.b64decode(doc["body_base64"]), payload)
        self.assertEqual(doc["tls"], self.tls)
        self.assertEqual([v for k, v in doc["headers"] if k == "X-Twice"], ["a", "b"])

    def test_head_sends_the_get_headers_without_a_body(self):
        for target in ("/echo", "/bytes?size=5000", "/chunked?size=5000", "/status?code=299&text=Odd"):
            with self.subTest(target):
                # A raw request shows whether any byte follows the head.
                request = get_request(target).replace(b"GET", b"HEAD", 1)
                data, _ = raw(self.port, request, self.tls)
                head, sep, rest = data.partition(b"\r\n\r\n")
                self.assertEqual(sep, b"\r\n\r\n")
                self.assertEqual(rest, b"")
        data, _ = raw(self.port, get_request("/bytes?size=5000").replace(b"GET", b"HEAD", 1), self.tls)
        self.assertIn(b"Content-Length: 5000", data)

    def test_cookies_are_set_with_attributes_and_echoed(self):
        with tempfile.TemporaryDirectory() as tmp:
            jar = os.path.join(tmp, "jar")
            status, headers, _ = curl_head_body("-c", jar, self.base + "/set-cookie?a=1;%20Path=/;%20HttpOnly&b=two")
            self.assertEqual(headers["set-cookie"], ["a=1; Path=/; HttpOnly", "b=two"])
            _, _, body = curl_head_body("-b", jar, self.base + "/cookies")
            self.assertEqual(sorted(body.decode().strip().split("; ")), ["a=1", "b=two"])
        _, headers, body = curl_head_body(self.base + "/cookies")
        self.assertEqual((body, headers["x-cookie-headers"]), (b"", ["0"]))
        status, headers, _ = curl_head_body(self.base + "/set-cookie?c=3&_redirect=/cookies")
        self.assertIn(" 302", status)
        self.assertEqual((headers["set-cookie"], headers["location"]), (["c=3"], ["/cookies"]))

    def test_redirect_chain_ends_at_echo_and_keeps_or_drops_the_body(self):
        rc, out, err = curl("-L", "-o", "/dev/null", "-w", "%{num_redirects} %{url_effective}",
                            self.base + "/redirect/4")
        self.assertEqual(out.decode(), "4 %s/echo" % self.base, err)
        # 307 keeps method and body; 303 turns into GET without a body.
        _, _, body = curl_head_body("-L", "--data-binary", "payload", self.base + "/redirect/2?status=307")
        self.assertTrue(body.startswith(b"POST /echo?status=307 HTTP/1.1\r\n"))
        self.assertTrue(body.endswith(b"\r\n\r\npayload"))
        _, _, body = curl_head_body("-L", "--data-binary", "payload", self.base + "/redirect/1?status=303")
        self.assertTrue(body.startswith(b"GET /echo?status=303 HTTP/1.1\r\n"))
        status, headers, _ = curl_head_body(self.base + "/redirect/2?absolute=1")
        self.assertEqual(headers["location"], [self.base + "/redirect/1?absolute=1"])

    def test_redirect_to_crosses_schemes(self):
        other = HD["http_url"] if self.tls else HD["https_url"]
        for code in (301, 302, 303, 307, 308):
            with self.subTest(code):
                status, headers, _ = curl_head_body(self.base + "/redirect-to?url=%s/echo&status=%d" % (other, code))
                self.assertTrue(status.startswith("HTTP/1.1 %d " % code))
                self.assertEqual(headers["location"], [other + "/echo"])
        rc, out, err = curl("-L", "-o", "/dev/null", "-w", "%{url_effective}",
                            self.base + "/redirect-to?url=%s/echo" % other)
        self.assertEqual((rc, out.decode()), (0, other + "/echo"), err)
        rc, out, _ = curl("-o", "/dev/null", "-w", "%{http_code}", self.base + "/redirect-to?status=200&url=/")
        self.assertEqual(out, b"400")

    def test_basic_authentication(self):
        status, headers, _ = curl_head_body(self.base + "/basic")
        self.assertIn(" 401", status)
        self.assertEqual(headers["www-authenticate"], ['Basic realm="%s"' % REALM])
        status, _, body = curl_head_body("-u", "%s:%s" % (USER, PASSWORD), self.base + "/basic")
        self.assertIn(" 200", status)
        status, _, _ = curl_head_body("-u", "%s:wrong" % USER, self.base + "/basic")
        self.assertIn(" 401", status)

    def test_digest_authentication_by_curl_and_by_hand(self):
        status, _, body = curl_head_body("--digest", "-u", "%s:%s" % (USER, PASSWORD), self.base + "/digest/x?y=1")
        self.assertIn(" 200", status)
        self.assertIn(b"digest", body)
        status, _, _ = curl_head_body("--digest", "-u", "%s:wrong" % USER, self.base + "/digest")
        self.assertIn(" 401", status)

        # By hand, with this file's own reading of RFC 7616 (MD5, qop=auth).
        status, headers, _ = curl_head_body(self.base + "/digest")
        challenge = headers["www-authenticate"][0]
        self.assertTrue(challenge.startswith("Digest "))
        params = dict(re.findall(r'(\w+)="?([^",]*)"?', challenge))
        self.assertEqual((params["realm"], params["qop"], params["algorithm"]), (REALM, "auth", "MD5"))

        def md5(s):
            return hashlib.md5(s.encode()).hexdigest()

        def authorization(uri, password, method="GET"):
            ha1, ha2 = md5("%s:%s:%s" % (USER, REALM, password)), md5("%s:%s" % (method, uri))
            response = md5("%s:%s:00000001:abcdef:auth:%s" % (ha1, params["nonce"], ha2))
            return ('Authorization: Digest username="%s", realm="%s", nonce="%s", uri="%s", qop=auth, '
                    'nc=00000001, cnonce="abcdef", response="%s", opaque="%s"\r\n'
                    % (USER, REALM, params["nonce"], uri, response, params["opaque"]), ha1)

        line, ha1 = authorization("/digest", PASSWORD)
        data, _ = raw(self.port, get_request("/digest", line), self.tls)
        self.assertTrue(data.startswith(b"HTTP/1.1 200 "), data[:200])
        rspauth = re.search(rb'rspauth="(\w+)"', data).group(1).decode()
        self.assertEqual(rspauth, md5("%s:%s:00000001:abcdef:auth:%s" % (ha1, params["nonce"], md5(":/digest"))))
        line, _ = authorization("/digest", "wrong")
        self.assertTrue(raw(self.port, get_request("/digest", line), self.tls)[0].startswith(b"HTTP/1.1 401 "))
        line, _ = authorization("/digest/other", PASSWORD)  # uri differs from the request target
        self.assertTrue(raw(self.port, get_request("/digest", line), self.tls)[0].startswith(b"HTTP/1.1 400 "))

    def test_chunked_body_is_chunked_and_matches_bytes(self):
        data, _ = raw(self.port, get_request("/chunked?size=2500&chunk=1000&seed=3"), self.tls)
        head, _, body = data.partition(b"\r\n\r\n")
        self.assertIn(b"Transfer-Encoding: chunked", head)
        self.assertNotIn(b"Content-Length", head)
        expect = pattern(3, 2500)
        self.assertEqual(body, b"3e8\r\n" + expect[:1000] + b"\r\n3e8\r\n" + expect[1000:2000] +
                         b"\r\n1f4\r\n" + expect[2000:] + b"\r\n0\r\n\r\n")
        _, _, body = curl_head_body(self.base + "/chunked?size=300000&chunk=7777&seed=3")
        self.assertEqual(body, pattern(3, 300000))
        # HTTP/1.0 has no chunked coding: the body ends with the connection.
        data, _ = raw(self.port, b"GET /chunked?size=100 HTTP/1.0\r\n\r\n", self.tls)
        head, _, body = data.partition(b"\r\n\r\n")
        self.assertNotIn(b"chunked", head)
        self.assertEqual(body, pattern(1, 100))

    def test_close_delimited_body(self):
        data, _ = raw(self.port, get_request("/close-delimited?size=12345&seed=9"), self.tls)
        head, _, body = data.partition(b"\r\n\r\n")
        self.assertNotIn(b"Content-Length", head)
        self.assertNotIn(b"Transfer-Encoding", head)
        self.assertEqual(body, pattern(9, 12345))

    def test_stall_before_headers_and_before_body(self):
        start = time.monotonic()
        rc, _, _ = curl("--max-time", "1", self.base + "/stall?seconds=3")
        self.assertEqual(rc, 28)
        self.assertLess(time.monotonic() - start, 2.5)
        data, first = raw(self.port, get_request("/stall?seconds=1.5&before=body&size=10&sent=4"), self.tls)
        self.assertLess(first, 1.0)  # the head (and 4 bytes) came at once
        self.assertTrue(data.endswith(b"\r\n\r\n" + pattern(1, 10)))
        start = time.monotonic()
        data, first = raw(self.port, get_request("/stall?seconds=1"), self.tls)
        self.assertGreaterEqual(first, 0.9)
        self.assertTrue(data.startswith(b"HTTP/1.1 200 "))

    def test_drop_cuts_the_body_short(self):
        rc, out, err = curl(self.base + "/drop?after=5000")
        self.assertEqual(rc, 18, err)  # partial file: fewer bytes than announced
        self.assertEqual(out, pattern(1, 5000))
        data, _ = raw(self.port, get_request("/drop?after=10&size=20"), self.tls)
        self.assertIn(b"Content-Length: 20\r\n", data)
        self.assertTrue(data.endswith(b"\r\n\r\n" + pattern(1, 10)))
        rc, _, err = curl(self.base + "/drop?after=100&te=chunked")
        self.assertEqual(rc, 18, err)
        rc, _, err = curl(self.base + "/drop?after=100&how=reset")
        self.assertIn(rc, (18, 35, 56), err)  # a reset, not a clean end
        self.assertNotEqual(rc, 0)
        rc, _, err = curl(self.base + "/hangup")
        self.assertIn(rc, (52, 56), err)  # nothing at all came back
        rc, _, err = curl("-o", "/dev/null", self.base + "/echo")
        self.assertEqual(rc, 0, "server stopped answering after dropped connections: " + err)

    def test_status_code_and_custom_text(self):
        data, _ = raw(self.port, get_request("/status?code=299&text=Very%20Odd%20Text"), self.tls)
        self.assertTrue(data.startswith(b"HTTP/1.1 299 Very Odd Text\r\n"))
        self.assertTrue(data.endswith(b"\r\n\r\n299 Very Odd Text\n"))
        data, _ = raw(self.port, get_request("/status?code=404"), self.tls)
        self.assertTrue(data.startswith(b"HTTP/1.1 404 Not Found\r\n"))
        data, _ = raw(self.port, get_request("/status?code=204"), self.tls)
        self.assertTrue(data.startswith(b"HTTP/1.1 204 No Content\r\n"))
        self.assertTrue(data.endswith(b"\r\n\r\n"))
        data, _ = raw(self.port, get_request("/status?code=299&text="), self.tls)
        self.assertTrue(data.startswith(b"HTTP/1.1 299 \r\n"))
        for bad in ("/status?code=99", "/status?code=abc", "/status?code=200&text=a%0d%0aX:%20y"):
            self.assertTrue(raw(self.port, get_request(bad), self.tls)[0].startswith(b"HTTP/1.1 400 "), bad)

    def test_response_headers_in_order_with_repeats(self):
        data, _ = raw(self.port, get_request(
            "/response-headers?Expires=Sun%20Nov%20%206%2008:49:37%201994&X-R=1&X-R=2"), self.tls)
        head = data.partition(b"\r\n\r\n")[0].decode()
        self.assertIn("\r\nExpires: Sun Nov  6 08:49:37 1994\r\nX-R: 1\r\nX-R: 2\r\n", head)
        bad, _ = raw(self.port, get_request("/response-headers?Bad%20Name=1"), self.tls)
        self.assertTrue(bad.startswith(b"HTTP/1.1 400 "))
        data, _ = raw(self.port, get_request("/response-headers?A=1&_raw=HTTP/1.1%20404%20X&B=2"), self.tls)
        self.assertIn("\r\nA: 1\r\nHTTP/1.1 404 X\r\nB: 2\r\n", data.partition(b"\r\n\r\n")[0].decode())

    def test_slow_read_holds_the_upload_to_its_pace(self):
        payload = pattern(5, 300000)
        start = time.monotonic()
        _, headers, _ = curl_head_body("-X", "PUT", "--data-binary", "@-", self.base + "/slow-read?rate=200000",
                                       data=payload)
        self.assertGreater(time.monotonic() - start, 1.2)
        self.assertEqual(headers["x-echo-body-length"], ["300000"])
        self.assertEqual(headers["x-echo-body-sha256"], [hashlib.sha256(payload).hexdigest()])

    def test_bytes_are_deterministic(self):
        for size, seed in ((0, 1), (1, 1), (4097, 0), (1 << 20, 42)):
            with self.subTest(size=size, seed=seed):
                rc, out, err = curl("%s/bytes?size=%d&seed=%d" % (self.base, size, seed))
                self.assertEqual(out, pattern(seed, size), err)
        self.assertNotEqual(pattern(1, 64), pattern(2, 64))

    def test_keep_alive_and_connection_reporting(self):
        urls = [self.base + "/bytes?size=10", self.base + "/echo", self.base + "/chunked?size=10"]
        rc, out, err = curl("-i", *urls)
        ids = re.findall(rb"X-Connection-Id: (\d+)", out)
        counts = re.findall(rb"X-Connection-Requests: (\d+)", out)
        self.assertEqual(len(set(ids)), 1, out)
        self.assertEqual(counts, [b"1", b"2", b"3"])
        # A new connection starts counting again.
        data, _ = raw(self.port, get_request("/echo"), self.tls)
        self.assertIn(b"X-Connection-Requests: 1\r\n", data)
        self.assertNotIn(b"X-Connection-Id: %s\r\n" % ids[0], data)

    def test_bad_requests_do_not_stop_the_server(self):
        self.assertTrue(raw(self.port, get_request("/nowhere"), self.tls)[0].startswith(b"HTTP/1.1 404 "))
        self.assertTrue(raw(self.port, get_request("/bytes?size=-1"), self.tls)[0].startswith(b"HTTP/1.1 400 "))
        data, _ = raw(self.port, b"POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: zz\r\n\r\n", self.tls)
        self.assertTrue(data.startswith(b"HTTP/1.1 400 "))
        raw(self.port, b"GARBAGE\r\n\r\n", self.tls)
        # Clients that leave in the middle of a body or of a request.
        for request in (get_request("/bytes?size=50000000"), b"POST /echo HTTP/1.1\r\nContent-Length: 100\r\n\r\nab"):
            sock = socket.create_connection(("127.0.0.1", self.port), timeout=5)
            if self.tls:
                sock = ssl.create_default_context(cafile=CA).wrap_socket(sock, server_hostname="localhost")
            sock.sendall(request)
            if request.startswith(b"GET"):
                sock.recv(1000)
            sock.close()
        # A client that connects and never speaks does not block the others.
        idle = socket.create_connection(("127.0.0.1", self.port), timeout=5)
        try:
            rc, _, err = curl("-o", "/dev/null", self.base + "/echo")
            self.assertEqual(rc, 0, err)
        finally:
            idle.close()


class PlainEndpoints(Endpoints, unittest.TestCase):
    base, port, tls = HD["http_url"], HD["http_port"], False


class TlsEndpoints(Endpoints, unittest.TestCase):
    base, port, tls = HD["https_url"], HD["https_port"], True


if __name__ == "__main__":
    unittest.main(verbosity=2)
