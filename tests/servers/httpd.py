#!/usr/bin/env python3
"""Scriptable HTTP/1.1 server for the behaviours a static server cannot show.

Usage: httpd.py [--port N] [--port-file FILE] [--tls-cert PEM --tls-key KEY]

Listens on 127.0.0.1 only (port 0 picks a free port, written to --port-file
once listening). With --tls-cert/--tls-key it speaks HTTPS. Every method
reaches every endpoint; HEAD answers with the headers GET would send and no
body. Connections are kept alive (HTTP/1.1) unless the client asks otherwise.
Every response carries X-Connection-Id (a number unique to the TCP
connection in this process) and X-Connection-Requests (requests served on it
so far, this one included), so tests can see whether a connection was reused.

Endpoints (documented in full in README.md next to this file):
  /echo[/...]                 the request as received (message/http; ?format=json for JSON)
  /set-cookie?n=v&...         one Set-Cookie per pair, value passed through (attributes after ';')
  /cookies                    the Cookie header(s) received, one per line
  /redirect/<n>               302 chain of n hops ending at /echo
  /redirect-to?url=U&status=S a redirect to U
  /basic[/...], /digest[/...] Basic / Digest (MD5, qop=auth) challenge; user corvane, password s3cret
  /chunked?size=N             chunked body of pattern bytes
  /close-delimited?size=N     body delimited by closing the connection
  /stall?seconds=S            waits before the headers or before the body
  /drop?after=N               claims a longer body, sends N bytes, drops the connection
  /hangup                     drops the connection without answering
  /status?code=N&text=T       custom status code and text
  /response-headers?n=v&...   the given response headers (_raw=LINE: a line as it stands)
  /bytes?size=N&seed=S        deterministic pattern bytes
  /slow-read?rate=B           reads the request body at B bytes a second
"""

import argparse
import base64
import hashlib
import hmac
import io
import itertools
import json
import os
import re
import secrets
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

USER = "corvane"
PASSWORD = "s3cret"
REALM = "corvane-test"
MAX_SIZE = 1 << 31          # largest generated body
MAX_STALL = 600.0           # longest stall, seconds
NONCE_LIFETIME = 600        # seconds a Digest nonce stays fresh
TOKEN_RE = re.compile(r"^[!#$%&'*+.^_`|~0-9A-Za-z-]+$")


class BadRequest(Exception):
    """A request whose parameters make no sense; answered with 400."""


# ---------------------------------------------------------------------------
# Pattern bytes

class Pattern:
    """The deterministic body of /bytes, /chunked, /drop and the docroot's
    data file: xorshift32 (x ^= x << 13; x ^= x >> 17; x ^= x << 5, all
    modulo 2**32) started from the seed (0 is replaced by 0x9E3779B9); each
    step appends the new x as 4 little-endian bytes, and a body of N bytes is
    the first N bytes of that stream. Prefixes up to CACHE_LIMIT are kept per
    seed, since Python makes the stream at only a few MB/s."""

    CACHE_LIMIT = 64 << 20
    _lock = threading.Lock()
    _cache = {}  # seed -> (bytes prefix, state after the prefix)

    @staticmethod
    def initial_state(seed):
        x = seed & 0xFFFFFFFF
        return x if x else 0x9E3779B9

    @staticmethod
    def extend(state, count):
        """Returns count words (4*count bytes) following state, and the new state."""
        words = [0] * count
        x = state
        for i in range(count):
            x ^= (x << 13) & 0xFFFFFFFF
            x ^= x >> 17
            x ^= (x << 5) & 0xFFFFFFFF
            words[i] = x
        return struct.pack("<%dI" % count, *words), x

    @classmethod
    def chunks(cls, seed, size, block=1 << 16):
        """Yields the first size bytes of the stream in pieces of at most block bytes."""
        with cls._lock:
            prefix, state = cls._cache.get(seed, (b"", cls.initial_state(seed)))
            if len(prefix) < min(size, cls.CACHE_LIMIT):
                missing = min(size, cls.CACHE_LIMIT) - len(prefix)
                more, state = cls.extend(state, (missing + 3) // 4)
                prefix += more
                cls._cache[seed] = (prefix, state)
        sent = 0
        view = memoryview(prefix)
        while sent < size and sent < len(prefix):
            n = min(block, size - sent, len(prefix) - sent)
            yield view[sent:sent + n]
            sent += n
        while sent < size:  # beyond the cached prefix: stream without keeping it
            data, state = cls.extend(state, block // 4)
            n = min(len(data), size - sent)
            yield data[:n]
            sent += n

    @classmethod
    def get(cls, seed, size):
        return b"".join(bytes(c) for c in cls.chunks(seed, size))


# ---------------------------------------------------------------------------
# Digest authentication (RFC 7616, MD5, qop=auth)

_NONCE_KEY = secrets.token_bytes(32)


def make_nonce(now=None):
    """A stateless nonce: issue time plus a MAC over it, so any thread can check it."""
    stamp = "%x" % int(now if now is not None else time.time())
    mac = hmac.new(_NONCE_KEY, stamp.encode(), hashlib.sha256).hexdigest()[:32]
    return stamp + "." + mac


def nonce_state(nonce):
    """'fresh', 'stale' (ours but too old) or 'bad' (not ours)."""
    stamp, _, mac = nonce.partition(".")
    want = hmac.new(_NONCE_KEY, stamp.encode(), hashlib.sha256).hexdigest()[:32]
    if not hmac.compare_digest(mac, want):
        return "bad"
    try:
        age = time.time() - int(stamp, 16)
    except ValueError:
        return "bad"
    return "fresh" if 0 <= age <= NONCE_LIFETIME else "stale"


_AUTH_PARAM_RE = re.compile(r'\s*([!#$%&\'*+.^_`|~0-9A-Za-z-]+)\s*=\s*("(?:[^"\\]|\\.)*"|[^,\s]*)\s*(?:,|$)')


def parse_auth_params(text):
    """Parses `k=v, k="quoted"` pairs of an Authorization header into a dict
    with lower-case keys; raises BadRequest on anything else."""
    params = {}
    pos = 0
    text = text.strip()
    while pos < len(text):
        m = _AUTH_PARAM_RE.match(text, pos)
        if not m or m.end() == pos:
            raise BadRequest("malformed authorization parameters")
        value = m.group(2)
        if value.startswith('"'):
            value = re.sub(r"\\(.)", r"\1", value[1:-1])
        params[m.group(1).lower()] = value
        pos = m.end()
    return params


def md5_hex(text):
    return hashlib.md5(text.encode("utf-8")).hexdigest()


def digest_response(params, method, password):
    """The request-digest a client with password must send for params."""
    ha1 = md5_hex("%s:%s:%s" % (params["username"], REALM, password))
    ha2 = md5_hex("%s:%s" % (method, params["uri"]))
    return md5_hex(":".join([ha1, params["nonce"], params["nc"], params["cnonce"], "auth", ha2])), ha1


# ---------------------------------------------------------------------------
# The request handler

class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "CorvaneTestHTTP/1.0"
    sys_version = ""

    def version_string(self):
        return self.server_version
    timeout = 120  # an idle kept-alive connection is closed after this

    _ids = itertools.count(1)
    _ids_lock = threading.Lock()

    def setup(self):
        super().setup()
        with Handler._ids_lock:
            self.connection_id = next(Handler._ids)
        self.requests_served = 0

    def __getattr__(self, name):
        # Every method, including ones the standard library does not know,
        # goes through dispatch.
        if name.startswith("do_"):
            return self.dispatch
        raise AttributeError(name)

    def log_message(self, fmt, *args):
        sys.stderr.write("%s [conn %d] %s\n" % (self.log_date_time_string(),
                                               getattr(self, "connection_id", 0), fmt % args))

    # -- request side -------------------------------------------------------

    def read_body(self):
        """Reads the request body (Content-Length or chunked) so the next
        request on the connection starts in the right place."""
        te = self.headers.get("Transfer-Encoding", "")
        if "chunked" in te.lower():
            parts = []
            while True:
                line = self.rfile.readline(65537)
                if not line:
                    raise ConnectionResetError("client closed inside a chunked body")
                try:
                    size = int(line.split(b";", 1)[0].strip(), 16)
                except ValueError:
                    raise BadRequest("bad chunk size line")
                if size == 0:
                    while self.rfile.readline(65537) not in (b"\r\n", b"\n", b""):
                        pass  # trailers are read and dropped
                    return b"".join(parts)
                parts.append(self.read_exact(size))
                self.rfile.readline(3)
        length = self.headers.get("Content-Length")
        if length is None:
            return b""
        if not length.strip().isdigit():
            raise BadRequest("bad Content-Length")
        return self.read_exact(int(length))

    def read_exact(self, n):
        data = bytearray()
        while len(data) < n:
            piece = self.rfile.read(min(n - len(data), 1 << 20))
            if not piece:
                raise ConnectionResetError("client closed inside the request body")
            data += piece
        return bytes(data)

    def query(self):
        """The query as an ordered list of (name, value), blanks kept."""
        return urllib.parse.parse_qsl(urllib.parse.urlsplit(self.path).query, keep_blank_values=True)

    def param(self, name, default=None, kind=str):
        for key, value in self.query():
            if key == name:
                try:
                    return kind(value)
                except ValueError:
                    raise BadRequest("bad value for %s: %r" % (name, value))
        return default

    def size_param(self, name, default):
        size = self.param(name, default, int)
        if size < 0 or size > MAX_SIZE:
            raise BadRequest("%s out of range" % name)
        return size

    # -- response side ------------------------------------------------------

    def start(self, status, reason=None, headers=()):
        """Sends the status line and the headers every response carries;
        the caller adds its own and calls end_headers."""
        self.send_response(status, reason)
        self.send_header("X-Connection-Id", str(self.connection_id))
        self.send_header("X-Connection-Requests", str(self.requests_served))
        for name, value in headers:
            self.send_header(name, value)

    def respond(self, status, body=b"", headers=(), reason=None,
                content_type="text/plain; charset=utf-8"):
        """A complete response with a Content-Length body (none for HEAD)."""
        if isinstance(body, str):
            body = body.encode("utf-8")
        self.start(status, reason, headers)
        if status in (204, 304) or 100 <= status < 200:
            self.end_headers()
            return
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def respond_stream(self, status, size, pieces, content_type="application/octet-stream", headers=()):
        """A Content-Length response whose body comes from an iterator of pieces."""
        self.start(status, None, headers)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        if self.command != "HEAD":
            for piece in pieces:
                self.wfile.write(piece)

    def drop_connection(self, reset):
        """Ends the TCP connection at once: a FIN, or with reset an RST
        (SO_LINGER 0). Nothing more is read or written on it."""
        self.close_connection = True
        try:
            self.wfile.flush()
        except OSError:
            pass
        sock = self.connection
        try:
            if reset:
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            else:
                sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        # The file objects hold references to the socket; closing them first
        # lets close() really close the descriptor now. Harmless stand-ins
        # take their place for the flushes the request loop still makes.
        for f in (self.wfile, self.rfile):
            try:
                f.close()
            except OSError:
                pass
        self.wfile, self.rfile = io.BytesIO(), io.BytesIO()
        try:
            sock.close()
        except OSError:
            pass

    # -- dispatch -----------------------------------------------------------

    ROUTES = []  # (compiled path regex, method name), filled below

    # Endpoints that read the request body themselves.
    SELF_READING = ("/slow-read",)

    def dispatch(self):
        self.requests_served += 1
        path = urllib.parse.urlsplit(self.path).path
        try:
            self.body = b"" if path in self.SELF_READING else self.read_body()
        except BadRequest as e:
            self.close_connection = True
            self.respond(400, "%s\n" % e, headers=[("Connection", "close")])
            return
        for regex, name in self.ROUTES:
            m = regex.match(path)
            if m:
                try:
                    getattr(self, name)(*m.groups())
                except BadRequest as e:
                    self.respond(400, "%s\n" % e)
                return
        self.respond(404, "no such endpoint: %s\n" % path)

    # -- endpoints ----------------------------------------------------------

    def ep_index(self):
        self.respond(200, __doc__)

    def ep_echo(self):
        """The request as received. Plain form (message/http): the request
        line, each header as `Name: value` in the order received, an empty
        line, then the body bytes (de-chunked), each line ending CR LF. JSON
        form (?format=json): method, target, version, headers (list of
        [name, value]), body_base64, body_length, body_sha256, tls."""
        digest = hashlib.sha256(self.body).hexdigest()
        extra = [("X-Echo-Method", self.command), ("X-Echo-Target", self.path),
                 ("X-Echo-Body-Length", str(len(self.body))), ("X-Echo-Body-SHA256", digest)]
        if self.param("format") == "json":
            doc = {
                "method": self.command, "target": self.path, "version": self.request_version,
                "headers": [[k, v] for k, v in self.headers.items()],
                "body_base64": base64.b64encode(self.body).decode("ascii"),
                "body_length": len(self.body), "body_sha256": digest,
                "tls": isinstance(self.connection, ssl.SSLSocket),
            }
            self.respond(200, json.dumps(doc, indent=1) + "\n", extra, content_type="application/json")
            return
        lines = [self.requestline] + ["%s: %s" % (k, v) for k, v in self.headers.items()]
        head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1", "replace")
        self.respond(200, head + self.body, extra, content_type="message/http")

    def ep_set_cookie(self):
        """One Set-Cookie per query pair `name=value`, the value passed
        through verbatim (so `a=1; Path=/; Max-Age=60` sets attributes).
        The special pair `_redirect=URL` answers 302 to URL instead of 200."""
        headers, target, lines = [], None, []
        for name, value in self.query():
            if name == "_redirect":
                target = value
                continue
            cookie = "%s=%s" % (name, value)
            if any(c in cookie for c in "\r\n\0"):
                raise BadRequest("control character in cookie")
            headers.append(("Set-Cookie", cookie))
            lines.append(cookie + "\n")
        if target is not None:
            headers.append(("Location", target))
            self.respond(302, "".join(lines), headers)
        else:
            self.respond(200, "".join(lines), headers)

    def ep_cookies(self):
        """The value of each Cookie header received, one per line."""
        values = self.headers.get_all("Cookie") or []
        self.respond(200, "".join(v + "\n" for v in values), [("X-Cookie-Headers", str(len(values)))])

    def ep_redirect(self, count):
        """/redirect/<n>: answers `status` (default 302) with Location
        /redirect/<n-1>, and /redirect/1 with Location /echo; the query is
        carried along every hop. absolute=1 makes the Location absolute."""
        count = int(count)
        status = self.param("status", 302, int)
        if not 300 <= status <= 399:
            raise BadRequest("status must be 3xx")
        if count == 0:
            self.ep_echo()
            return
        query = urllib.parse.urlsplit(self.path).query
        target = "/redirect/%d" % (count - 1) if count > 1 else "/echo"
        if query:
            target += "?" + query
        if self.param("absolute") == "1":
            scheme = "https" if isinstance(self.connection, ssl.SSLSocket) else "http"
            target = "%s://%s%s" % (scheme, self.headers.get("Host", "127.0.0.1"), target)
        self.respond(status, "redirecting to %s\n" % target, [("Location", target)])

    def ep_redirect_to(self):
        """A redirect to `url` with `status` (default 302)."""
        url = self.param("url")
        status = self.param("status", 302, int)
        if url is None or any(c in url for c in "\r\n\0"):
            raise BadRequest("url missing or invalid")
        if not 300 <= status <= 399:
            raise BadRequest("status must be 3xx")
        self.respond(status, "redirecting to %s\n" % url, [("Location", url)])

    def ep_basic(self, _rest=None):
        """Basic authentication against the fixed credentials."""
        auth = self.headers.get("Authorization", "")
        scheme, _, value = auth.partition(" ")
        if scheme.lower() == "basic":
            try:
                user, _, password = base64.b64decode(value.strip(), validate=True).decode("utf-8").partition(":")
            except (ValueError, UnicodeDecodeError):
                user, password = None, None
            if user == USER and password == PASSWORD:
                self.respond(200, "authenticated as %s (basic)\n" % user)
                return
        self.respond(401, "basic authentication required\n",
                     [("WWW-Authenticate", 'Basic realm="%s"' % REALM)])

    def digest_challenge(self, stale=False):
        value = 'Digest realm="%s", qop="auth", algorithm=MD5, nonce="%s", opaque="%s"' % (
            REALM, make_nonce(), md5_hex(REALM))
        if stale:
            value += ", stale=true"
        self.respond(401, "digest authentication required\n", [("WWW-Authenticate", value)])

    def ep_digest(self, _rest=None):
        """Digest authentication (MD5, qop=auth) against the fixed
        credentials. The uri parameter must equal the request target (400
        otherwise); an old nonce of ours is answered with stale=true."""
        auth = self.headers.get("Authorization", "")
        scheme, _, value = auth.partition(" ")
        if scheme.lower() != "digest":
            self.digest_challenge()
            return
        params = parse_auth_params(value)
        required = ("username", "realm", "nonce", "uri", "response", "qop", "nc", "cnonce")
        if any(k not in params for k in required) or params["qop"] != "auth" \
                or params.get("algorithm", "MD5").upper() != "MD5":
            self.digest_challenge()
            return
        if params["uri"] != self.path:
            raise BadRequest("digest uri does not match the request target")
        state = nonce_state(params["nonce"])
        if state == "bad" or params["realm"] != REALM or params["username"] != USER:
            self.digest_challenge()
            return
        expected, ha1 = digest_response(params, self.command, PASSWORD)
        if not hmac.compare_digest(expected, params["response"].lower()):
            self.digest_challenge()
            return
        if state == "stale":
            self.digest_challenge(stale=True)
            return
        rspauth = md5_hex(":".join([ha1, params["nonce"], params["nc"], params["cnonce"], "auth",
                                    md5_hex(":" + params["uri"])]))
        info = 'rspauth="%s", qop=auth, nc=%s, cnonce="%s"' % (rspauth, params["nc"], params["cnonce"])
        self.respond(200, "authenticated as %s (digest)\n" % USER, [("Authentication-Info", info)])

    def ep_chunked(self):
        """size pattern bytes (seed `seed`, default 1) in chunks of `chunk`
        bytes (default 1000), chunked transfer coding. To an HTTP/1.0 client
        the body is close-delimited instead, as chunked is not allowed there."""
        size = self.size_param("size", 1000)
        chunk = self.param("chunk", 1000, int)
        seed = self.param("seed", 1, int)
        if chunk <= 0:
            raise BadRequest("chunk must be positive")
        if self.request_version == "HTTP/1.0":
            self.send_close_delimited(seed, size)
            return
        self.start(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        if self.command == "HEAD":
            return
        for piece in Pattern.chunks(seed, size, chunk):
            self.wfile.write(b"%x\r\n" % len(piece) + bytes(piece) + b"\r\n")
        self.wfile.write(b"0\r\n\r\n")

    def send_close_delimited(self, seed, size):
        self.close_connection = True
        self.start(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            for piece in Pattern.chunks(seed, size):
                self.wfile.write(piece)

    def ep_close_delimited(self):
        """size pattern bytes with neither Content-Length nor chunking: the
        end of the body is the end of the connection."""
        self.send_close_delimited(self.param("seed", 1, int), self.size_param("size", 1000))

    def ep_stall(self):
        """Waits `seconds` (default 5). before=headers (default): nothing is
        sent until then. before=body: status and headers (Content-Length
        `size`, default 8) and the first `sent` body bytes (default 0) go out
        at once, the rest after the wait. The body is pattern bytes, seed 1."""
        seconds = self.param("seconds", 5.0, float)
        before = self.param("before", "headers")
        size = self.size_param("size", 8)
        sent = self.size_param("sent", 0)
        if not 0 <= seconds <= MAX_STALL or before not in ("headers", "body") or sent > size:
            raise BadRequest("seconds 0..%d, before=headers|body, sent <= size" % MAX_STALL)
        body = Pattern.get(1, size)
        if before == "headers":
            time.sleep(seconds)
            self.respond(200, body, content_type="application/octet-stream")
            return
        self.start(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        if self.command == "HEAD":
            return
        self.wfile.write(body[:sent])
        self.wfile.flush()
        time.sleep(seconds)
        self.wfile.write(body[sent:])

    def ep_drop(self):
        """Announces `size` body bytes (Content-Length; default after+1024),
        sends the first `after` (default 100) pattern bytes (seed 1) and
        drops the connection: how=close (FIN, default) or how=reset (RST).
        te=chunked sends those bytes as one chunk with no final chunk."""
        after = self.size_param("after", 100)
        size = self.size_param("size", after + 1024)
        how = self.param("how", "close")
        chunked = self.param("te") == "chunked"
        if how not in ("close", "reset") or (size <= after and not chunked):
            raise BadRequest("how=close|reset and size > after")
        self.start(200)
        self.send_header("Content-Type", "application/octet-stream")
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(size))
        self.end_headers()
        if self.command != "HEAD":
            data = Pattern.get(1, after)
            if chunked:
                data = b"%x\r\n" % len(data) + data + b"\r\n" if data else b""
            self.wfile.write(data)
        self.drop_connection(how == "reset")

    def ep_hangup(self):
        """Reads the request and drops the connection without any answer
        (how=close or how=reset, as /drop)."""
        how = self.param("how", "close")
        if how not in ("close", "reset"):
            raise BadRequest("how=close|reset")
        self.drop_connection(how == "reset")

    def ep_status(self):
        """Status `code` (200..599, default 200) with reason phrase `text`
        (default the standard one; may be empty). The body is the code and
        text and a newline, except for 204 and 304, which have none."""
        code = self.param("code", 200, int)
        text = self.param("text")
        if not 200 <= code <= 599:
            raise BadRequest("code must be 200..599")
        if text is not None and any(c in text for c in "\r\n\0"):
            raise BadRequest("control character in text")
        if text is None:
            text = self.responses[code][0] if code in self.responses else ""
        self.respond(code, "%d %s\n" % (code, text), reason=text)

    def ep_response_headers(self):
        """Each query pair becomes a response header, in order (repeats kept).
        A pair named _raw puts its value in the header block as a line as it
        stands (a line that is no header, such as a second status line)."""
        headers, raw = [], []
        for name, value in self.query():
            if any(c in value for c in "\r\n\0") or (name != "_raw" and not TOKEN_RE.match(name)):
                raise BadRequest("invalid header %r" % name)
            if name == "_raw":
                raw.append(value)
            else:
                headers.append((name, value))
        body = "".join("%s: %s\n" % h for h in headers).encode("utf-8")
        self.start(200)
        for name, value in headers[:1]:
            self.send_header(name, value)
        for line in raw:
            self._headers_buffer.append(line.encode("latin-1") + b"\r\n")
        for name, value in headers[1:]:
            self.send_header(name, value)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def ep_slow_read(self):
        """Reads the request body (Content-Length) at `rate` bytes a second
        (default 1 MiB), `piece` bytes at a time (default 16 KiB), through a
        small receive buffer, so a client sending it is held to that pace;
        then answers 200 with X-Echo-Body-Length and X-Echo-Body-SHA256 and
        the length as the body."""
        rate = self.param("rate", 1 << 20, int)
        piece = self.param("piece", 16 << 10, int)
        length = self.headers.get("Content-Length", "0").strip()
        if rate <= 0 or piece <= 0 or not length.isdigit():
            raise BadRequest("rate and piece must be positive, with a Content-Length body")
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16 << 10)
        remaining, received = int(length), 0
        digest = hashlib.sha256()
        start = time.monotonic()
        while remaining > 0:
            delay = start + received / rate - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            data = self.rfile.read(min(piece, remaining))
            if not data:
                raise ConnectionResetError("client closed inside the request body")
            digest.update(data)
            received += len(data)
            remaining -= len(data)
        self.respond(200, "%d\n" % received, [("X-Echo-Body-Length", str(received)),
                                              ("X-Echo-Body-SHA256", digest.hexdigest())])

    def ep_bytes(self):
        """`size` pattern bytes (default 1000) of seed `seed` (default 1)."""
        size = self.size_param("size", 1000)
        seed = self.param("seed", 1, int)
        self.respond_stream(200, size, Pattern.chunks(seed, size))


Handler.ROUTES = [(re.compile(p), n) for p, n in [
    (r"^/$", "ep_index"),
    (r"^/echo(?:/.*)?$", "ep_echo"),
    (r"^/set-cookie$", "ep_set_cookie"),
    (r"^/cookies$", "ep_cookies"),
    (r"^/redirect/(\d{1,4})$", "ep_redirect"),
    (r"^/redirect-to$", "ep_redirect_to"),
    (r"^/basic(/.*)?$", "ep_basic"),
    (r"^/digest(/.*)?$", "ep_digest"),
    (r"^/chunked$", "ep_chunked"),
    (r"^/close-delimited$", "ep_close_delimited"),
    (r"^/stall$", "ep_stall"),
    (r"^/drop$", "ep_drop"),
    (r"^/hangup$", "ep_hangup"),
    (r"^/status$", "ep_status"),
    (r"^/response-headers$", "ep_response_headers"),
    (r"^/bytes$", "ep_bytes"),
    (r"^/slow-read$", "ep_slow_read"),
]]


# ---------------------------------------------------------------------------
# The server

QUIET_ERRORS = (ConnectionError, TimeoutError, ssl.SSLError, socket.timeout)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 128

    def __init__(self, address, tls_context=None):
        self.tls_context = tls_context
        super().__init__(address, Handler)

    def finish_request(self, request, client_address):
        # The TLS handshake runs here, on the connection's own thread, so a
        # client that connects and says nothing cannot hold up the others.
        if self.tls_context is None:
            super().finish_request(request, client_address)
            return
        request.settimeout(Handler.timeout)
        tls = self.tls_context.wrap_socket(request, server_side=True)  # takes over the descriptor
        try:
            super().finish_request(tls, client_address)
        finally:
            self.shutdown_request(tls)

    def handle_error(self, request, client_address):
        # A client going away mid-exchange is routine here; anything else is
        # logged with its traceback. Neither stops the server.
        exc = sys.exc_info()[1]
        if isinstance(exc, QUIET_ERRORS):
            sys.stderr.write("client %s:%d: %s: %s\n" % (client_address[0], client_address[1],
                                                        type(exc).__name__, exc))
        else:
            super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file", help="written with the port once listening")
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    args = parser.parse_args()

    context = None
    if args.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert, args.tls_key)
    server = Server(("127.0.0.1", args.port), context)
    port = server.server_address[1]
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % port)
        os.replace(tmp, args.port_file)
    sys.stderr.write("listening on 127.0.0.1:%d (%s)\n" % (port, "https" if context else "http"))
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
