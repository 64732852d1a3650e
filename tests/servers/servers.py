#!/usr/bin/env python3
"""Starts and stops the local HTTP and FTP test servers.

Usage:
  servers.py start --dir DIR [--large-size BYTES]... [--data-size BYTES]
                   [--ftp] [--no-http] [--many-files N]
  servers.py stop --dir DIR

`start` makes the scratch CA (pki.py) and the docroot under DIR, starts
nginx (plain HTTP, HTTPS with the valid certificate, and one HTTPS port each
for the expired, wrong-name, wrong-usage and untrusted certificates),
httpd.py twice (plain and TLS) and tinyproxy twice (an open forward proxy
and one that asks for Basic credentials), all on 127.0.0.1 with free ports,
waits until every port answers, and writes DIR/servers.json and
DIR/servers.env. With --ftp it also starts pyftpdlib (ftpd.py, on 127.0.0.1
and ::1), vsftpd and the scripted FTP server (ftpscript.py) on trees made
afresh under DIR/ftp; --no-http leaves the HTTP servers out. It first stops whatever an earlier run left in DIR. When a
server does not come up, its log is printed, everything already started is
stopped and the exit status is 1.

`stop` ends every process group a `start` in DIR recorded (SIGTERM, then
SIGKILL after a grace period), removes servers.json and servers.env, and
always exits 0.

The layout of servers.json and servers.env is described in README.md.
"""

import argparse
import hashlib
import http.client
import json
import os
import re
import shlex
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import ftpscript  # noqa: E402  (for the text file all FTP servers share)
import httpd  # noqa: E402  (for the credentials and the pattern bytes)
import pki  # noqa: E402

DEFAULT_LARGE_SIZE = 8 << 20
DEFAULT_DATA_SIZE = 4 << 20
DATA_SEED = 1
SMALL_SIZE = 100
START_TIMEOUT = 20.0
STOP_GRACE = 5.0
DEFAULT_MANY_FILES = 100
NGINX_PORTS = ["http", "https", "https_expired", "https_wrongname", "https_badusage", "https_untrusted"]
PROXY_USER = "corvane-proxy"
PROXY_PASSWORD = "pr0xy-s3cret"
PROXY_NAME = "corvane-test-proxy"  # in the Via header of what the proxies forward
CERT_FOR_PORT = {"https": "valid", "https_expired": "expired", "https_wrongname": "wrongname",
                 "https_badusage": "badusage", "https_untrusted": "untrusted"}


class StartError(Exception):
    """A server that did not come up; carries the name whose log to show."""

    def __init__(self, message, name=None):
        super().__init__(message)
        self.name = name


class Layout:
    """The paths of one run directory."""

    def __init__(self, directory):
        self.dir = os.path.abspath(directory)
        self.run = os.path.join(self.dir, "run")
        self.logs = os.path.join(self.dir, "logs")
        self.pki = os.path.join(self.dir, "pki")
        self.docroot = os.path.join(self.dir, "docroot")
        self.davroot = os.path.join(self.dir, "davroot")
        self.nginx = os.path.join(self.dir, "nginx")
        self.ftp = os.path.join(self.dir, "ftp")
        self.vsftpd = os.path.join(self.dir, "vsftpd")
        self.json = os.path.join(self.dir, "servers.json")
        self.env = os.path.join(self.dir, "servers.env")

    def pidfile(self, name):
        return os.path.join(self.run, name + ".pid")

    def log(self, name):
        return os.path.join(self.logs, name + ".log")


# ---------------------------------------------------------------------------
# Processes

def proc_stat(pid):
    """(state, parent, process group, start time) of pid from /proc, or None."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            text = f.read()
    except OSError:
        return None
    # The command name is in parentheses and may itself hold spaces.
    fields = text[text.rindex(")") + 2:].split()
    return fields[0], int(fields[1]), int(fields[2]), int(fields[19])


def family(leader):
    """Live (not zombie) processes of leader's process group and every
    descendant of leader, as pid -> start time. The descendants count
    because some servers (vsftpd) move each session into a session of its
    own, out of the group."""
    live = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            stat = proc_stat(int(entry))
            if stat and stat[0] != "Z":
                live[int(entry)] = stat
    found = {pid for pid, stat in live.items() if stat[2] == leader}
    pending = [leader]
    while pending:
        parent = pending.pop()
        for pid, stat in live.items():
            if stat[1] == parent and pid not in found:
                found.add(pid)
                pending.append(pid)
    return {pid: live[pid][3] for pid in found if pid in live}


def still_running(pid, start_time):
    stat = proc_stat(pid)
    return stat is not None and stat[0] != "Z" and stat[3] == start_time


def spawn(layout, name, argv):
    """Starts argv as the leader of a new process group, output to its log,
    and records pid and start time so that `stop` ends exactly this group."""
    log = open(layout.log(name), "ab")
    try:
        proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                close_fds=True, start_new_session=True, cwd=layout.dir)
    finally:
        log.close()
    stat = proc_stat(proc.pid)
    record = {"name": name, "pid": proc.pid, "start_time": stat[3] if stat else None, "argv": argv}
    write_atomic(layout.pidfile(name), json.dumps(record) + "\n")
    return proc


def end_group(record):
    """Ends the process group a record names, with the leader's descendants,
    if it is still ours: SIGTERM, then SIGKILL after STOP_GRACE seconds for
    whatever remains."""
    pid = record["pid"]
    stat = proc_stat(pid)
    if stat is not None and stat[3] != record.get("start_time"):
        return  # the pid now belongs to another process, so our group is gone
    known = {}
    for sig, wait in ((signal.SIGTERM, STOP_GRACE), (signal.SIGKILL, 2.0)):
        # Those seen before keep being ended after the leader is gone and
        # they have passed to another parent.
        known.update(family(pid))
        members = [p for p, started in known.items() if still_running(p, started)]
        if not members:
            return
        try:
            os.killpg(pid, sig)
        except (ProcessLookupError, PermissionError):
            pass
        for member in members:
            try:
                os.kill(member, sig)
            except (ProcessLookupError, PermissionError):
                pass
        deadline = time.monotonic() + wait
        while time.monotonic() < deadline and any(still_running(p, t) for p, t in known.items()):
            time.sleep(0.05)


def stop(layout):
    """Ends everything recorded in the run directory; never fails."""
    if os.path.isdir(layout.run):
        for entry in sorted(os.listdir(layout.run)):
            path = os.path.join(layout.run, entry)
            if entry.endswith(".pid"):
                try:
                    with open(path) as f:
                        end_group(json.load(f))
                except (OSError, ValueError, KeyError) as e:
                    print("servers: ignoring %s: %s" % (path, e), file=sys.stderr)
            if entry.endswith((".pid", ".port")):
                try:
                    os.remove(path)
                except OSError:
                    pass
    for path in (layout.json, layout.env):
        try:
            os.remove(path)
        except OSError:
            pass


# ---------------------------------------------------------------------------
# Files

def write_atomic(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


def sha256_file(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def make_docroot(layout, data_size, large_sizes):
    """Writes the static files nginx serves. The large files are sparse
    (all zero bytes, no disk blocks) and kept between runs, so even 1 GiB
    costs nothing to make; the data file holds pattern bytes and is made
    again only when its size or contents changed."""
    os.makedirs(os.path.join(layout.docroot, "sub"), exist_ok=True)
    os.makedirs(os.path.join(layout.davroot, "dav"), exist_ok=True)
    files = []

    def text_file(name, content):
        path = os.path.join(layout.docroot, name)
        data = content.encode("utf-8")
        with open(path, "wb") as f:
            f.write(data)
        files.append({"name": name, "path": "/" + name, "size": len(data),
                      "sha256": hashlib.sha256(data).hexdigest()})

    text_file("index.html", "<!DOCTYPE html>\n<html><head><title>Corvane test server</title></head>"
                            "<body><p>Corvane test server</p></body></html>\n")
    text_file("sub/index.html", "<!DOCTYPE html>\n<html><body><p>sub</p></body></html>\n")
    text_file("empty.txt", "")
    line = "Corvane small file, one hundred bytes long, for request-rate measurements.     "
    text_file("small.txt", (line + "." * SMALL_SIZE)[:SMALL_SIZE - 1] + "\n")

    data_path = os.path.join(layout.docroot, "data.bin")
    expected = hashlib.sha256()
    for piece in httpd.Pattern.chunks(DATA_SEED, data_size):
        expected.update(piece)
    expected = expected.hexdigest()
    if not (os.path.isfile(data_path) and os.path.getsize(data_path) == data_size
            and sha256_file(data_path) == expected):
        with open(data_path + ".tmp", "wb") as f:
            for piece in httpd.Pattern.chunks(DATA_SEED, data_size):
                f.write(piece)
        os.replace(data_path + ".tmp", data_path)
    files.append({"name": "data.bin", "path": "/data.bin", "size": data_size, "sha256": expected,
                  "content": "pattern", "seed": DATA_SEED})

    large = []
    for size in large_sizes:
        name = "large-%d.bin" % size
        path = os.path.join(layout.docroot, name)
        if not (os.path.isfile(path) and os.path.getsize(path) == size):
            with open(path, "wb") as f:
                f.truncate(size)
        large.append({"name": name, "path": "/" + name, "size": size, "content": "zeros"})
    return files, large


# ---------------------------------------------------------------------------
# Starting

def free_port():
    """A port the kernel just handed out for 127.0.0.1 and took back."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def answers(port, tls):
    """True when a GET / on the port gets any HTTP response."""
    try:
        if tls:
            context = ssl.create_default_context()
            context.check_hostname = False
            context.verify_mode = ssl.CERT_NONE
            conn = http.client.HTTPSConnection("127.0.0.1", port, timeout=2, context=context)
        else:
            conn = http.client.HTTPConnection("127.0.0.1", port, timeout=2)
        try:
            conn.request("GET", "/", headers={"Connection": "close"})
            conn.getresponse().read()
            return True
        finally:
            conn.close()
    except (OSError, http.client.HTTPException):
        return False


def wait_until_ready(proc, name, targets, deadline, ready, port_of, verb):
    """Waits until ready(target) holds for each target; raises if proc exits
    first or the deadline passes (naming the port that did not `verb`)."""
    pending = list(targets)
    while pending:
        if proc.poll() is not None:
            raise StartError("%s exited with status %d during start" % (name, proc.returncode), name)
        if time.monotonic() > deadline:
            raise StartError("%s did not %s on port %d in time" % (name, verb, port_of(pending[0])), name)
        if ready(pending[0]):
            pending.pop(0)
        else:
            time.sleep(0.05)


def wait_until_answering(proc, name, ports, deadline):
    """Waits until each (port, tls) answers; raises if proc exits first."""
    wait_until_ready(proc, name, ports, deadline, lambda p: answers(*p), lambda p: p[0], "answer")


def start_httpd(layout, name, tls_files, deadline):
    """Starts httpd.py, which binds port 0 itself and reports the port in a
    file (so there is no window for another program to take it)."""
    port_file = os.path.join(layout.run, name + ".port")
    if os.path.exists(port_file):
        os.remove(port_file)
    argv = [sys.executable, os.path.join(HERE, "httpd.py"), "--port", "0", "--port-file", port_file]
    if tls_files:
        argv += ["--tls-cert", tls_files["valid"], "--tls-key", tls_files["key"]]
    proc = spawn(layout, name, argv)
    while not os.path.exists(port_file):
        if proc.poll() is not None:
            raise StartError("%s exited with status %d during start" % (name, proc.returncode), name)
        if time.monotonic() > deadline:
            raise StartError("%s did not report its port in time" % name, name)
        time.sleep(0.05)
    with open(port_file) as f:
        port = int(f.read())
    wait_until_answering(proc, name, [(port, bool(tls_files))], deadline)
    return port


def find_nginx(explicit):
    if explicit:
        return explicit
    found = shutil.which("nginx") or shutil.which("nginx", path="/usr/sbin:/usr/local/sbin:/sbin")
    if not found:
        raise StartError("nginx not found (install the Debian package nginx)")
    return found


def find_tinyproxy():
    found = shutil.which("tinyproxy") or shutil.which("tinyproxy", path="/usr/sbin:/usr/local/sbin:/sbin")
    if not found:
        raise StartError("tinyproxy not found (install the Debian package tinyproxy-bin)")
    return found


def start_tinyproxy(layout, tinyproxy, name, auth, deadline, attempts=5):
    """Starts a forward proxy (plain requests and CONNECT to any port, from
    127.0.0.1 only) on a freshly picked port, with Basic authentication when
    `auth`. A port taken before tinyproxy binds it is picked again."""
    os.makedirs(os.path.join(layout.dir, "proxy"), exist_ok=True)
    config = os.path.join(layout.dir, "proxy", name + ".conf")
    for attempt in range(attempts):
        port = free_port()
        lines = ["Port %d" % port, "Listen 127.0.0.1", "Allow 127.0.0.1", "Timeout 60", "MaxClients 64",
                 'LogFile "%s"' % os.path.join(layout.logs, name + ".proxy.log"), "LogLevel Info",
                 'ViaProxyName "%s"' % PROXY_NAME]
        if auth:
            lines.append("BasicAuth %s %s" % (PROXY_USER, PROXY_PASSWORD))
        write_atomic(config, "\n".join(lines) + "\n")
        proc = spawn(layout, name, [tinyproxy, "-d", "-c", config])
        try:
            wait_until_answering(proc, name, [(port, False)], deadline)
            return port
        except StartError:
            if proc.poll() is None or attempt == attempts - 1:
                raise
            os.remove(layout.pidfile(name))
            print("servers: %s could not bind port %d; trying another" % (name, port), file=sys.stderr)
    raise StartError("%s could not bind a port" % name, name)


def nginx_config(layout, ports, pki_files):
    """The nginx.conf text for the given ports, from nginx.conf.in."""
    with open(os.path.join(HERE, "nginx.conf.in")) as f:
        text = f.read()
    user = ""
    if os.geteuid() == 0:
        # Workers of a master started as root would otherwise switch to
        # `nobody`; keep them as the user who started the tests.
        import grp
        import pwd
        user = "user %s %s;" % (pwd.getpwuid(os.geteuid()).pw_name, grp.getgrgid(os.getegid()).gr_name)
    values = {"USER_DIRECTIVE": user, "PREFIX": layout.nginx, "DOCROOT": layout.docroot,
              "DAVROOT": layout.davroot, "KEY": pki_files["key"]}
    for key, port in ports.items():
        values[key.upper() + "_PORT"] = str(port)
    for cert in CERT_FOR_PORT.values():
        values["CERT_" + cert.upper()] = pki_files[cert]
    for key, value in values.items():
        text = text.replace("@%s@" % key, value)
    leftover = re.search(r"@[A-Z0-9_]+@", text)
    if leftover:
        raise StartError("nginx.conf.in has an unfilled field: %s" % leftover.group(0))
    return text


def start_nginx(layout, nginx, pki_files, deadline, attempts=5):
    """Starts nginx on freshly picked ports. Another program may take a
    picked port before nginx binds it; that attempt is then repeated with
    new ports."""
    for sub in ("logs", "tmp"):
        os.makedirs(os.path.join(layout.nginx, sub), exist_ok=True)
    error_log = os.path.join(layout.nginx, "logs", "error.log")
    for name in ("error.log", "access.log"):
        with open(os.path.join(layout.nginx, "logs", name), "wb"):
            pass
    for attempt in range(attempts):
        ports = {}
        while len(set(ports.values())) != len(NGINX_PORTS):
            ports = {key: free_port() for key in NGINX_PORTS}
        write_atomic(os.path.join(layout.nginx, "nginx.conf"), nginx_config(layout, ports, pki_files))
        log_size = os.path.getsize(error_log) if os.path.exists(error_log) else 0
        proc = spawn(layout, "nginx", [nginx, "-p", layout.nginx + "/",
                                       "-c", os.path.join(layout.nginx, "nginx.conf"), "-e", error_log])
        try:
            wait_until_answering(proc, "nginx", [(ports[k], k != "http") for k in NGINX_PORTS], deadline)
            return ports, proc.pid
        except StartError:
            if proc.poll() is None:
                raise
            with open(error_log, "rb") as f:
                f.seek(log_size)
                fresh = f.read().decode("utf-8", "replace")
            if "Address already in use" not in fresh or attempt == attempts - 1:
                raise
            os.remove(layout.pidfile("nginx"))
            print("servers: a port was taken before nginx bound it; trying new ports", file=sys.stderr)
    raise StartError("nginx could not bind its ports", "nginx")


def describe(layout, pki_files, files, large, nginx_ports, httpd_ports, proxy_ports):
    """The HTTP part of servers.json and of servers.env (a dict)."""
    host = "127.0.0.1"
    ng = {key + "_port": port for key, port in nginx_ports.items()}
    for key, port in nginx_ports.items():
        ng[key + "_url"] = "%s://%s:%d" % ("http" if key == "http" else "https", host, port)
    ng["dav_url"] = ng["http_url"] + "/dav/"
    hd = {"http_port": httpd_ports["http"], "https_port": httpd_ports["https"],
          "http_url": "http://%s:%d" % (host, httpd_ports["http"]),
          "https_url": "https://%s:%d" % (host, httpd_ports["https"])}
    doc = {
        "dir": layout.dir, "host": host, "ca_file": pki_files["ca"], "pki": pki_files,
        "credentials": {"user": httpd.USER, "password": httpd.PASSWORD, "realm": httpd.REALM},
        "nginx": ng, "httpd": hd, "docroot": layout.docroot,
        "proxy": {"open_port": proxy_ports["open"], "auth_port": proxy_ports["auth"],
                  "user": PROXY_USER, "password": PROXY_PASSWORD, "name": PROXY_NAME},
        "files": files, "large_files": large,
        "logs": layout.logs, "nginx_logs": os.path.join(layout.nginx, "logs"),
    }
    data = next(f for f in files if f["name"] == "data.bin")
    env = {
        "CORVANE_SERVERS_DIR": layout.dir,
        "CORVANE_TEST_CA_FILE": pki_files["ca"],
        "CORVANE_TEST_HOST": host,
        "CORVANE_HTTP_URL": ng["http_url"], "CORVANE_HTTP_PORT": ng["http_port"],
        "CORVANE_HTTPS_URL": ng["https_url"], "CORVANE_HTTPS_PORT": ng["https_port"],
        "CORVANE_HTTPS_EXPIRED_URL": ng["https_expired_url"],
        "CORVANE_HTTPS_WRONGNAME_URL": ng["https_wrongname_url"],
        "CORVANE_HTTPS_BADUSAGE_URL": ng["https_badusage_url"],
        "CORVANE_HTTPS_UNTRUSTED_URL": ng["https_untrusted_url"],
        "CORVANE_DAV_URL": ng["dav_url"],
        "CORVANE_ECHO_URL": hd["http_url"], "CORVANE_ECHO_PORT": hd["http_port"],
        "CORVANE_ECHO_TLS_URL": hd["https_url"], "CORVANE_ECHO_TLS_PORT": hd["https_port"],
        "CORVANE_TEST_USER": httpd.USER, "CORVANE_TEST_PASSWORD": httpd.PASSWORD,
        "CORVANE_PROXY": "%s:%d" % (host, proxy_ports["open"]),
        "CORVANE_AUTH_PROXY": "%s:%d" % (host, proxy_ports["auth"]),
        "CORVANE_PROXY_USER": PROXY_USER, "CORVANE_PROXY_PASSWORD": PROXY_PASSWORD,
        "CORVANE_PROXY_NAME": PROXY_NAME,
        "CORVANE_DOCROOT": layout.docroot,
        "CORVANE_SMALL_PATH": "/small.txt",
        "CORVANE_DATA_PATH": data["path"], "CORVANE_DATA_SIZE": data["size"],
        "CORVANE_DATA_SHA256": data["sha256"],
        "CORVANE_LARGE_PATH": large[0]["path"] if large else "",
        "CORVANE_LARGE_SIZE": large[0]["size"] if large else 0,
        "CORVANE_LARGE_PATHS": " ".join(f["path"] for f in large),
    }
    return doc, env


# ---------------------------------------------------------------------------
# FTP

FTP_USER = "corvane"  # pyftpdlib's user, as in ftpd.py
FTP_PASSWORD = "s3cret"
VSFTPD_USER = "anonymous"  # vsftpd logs in only anonymously (see vsftpd_config)
VSFTPD_PASSWORD = "s3cret"  # the one password its anonymous login accepts
UTF8_NAME = "caf\u00e9 \u00fcn\u00ef.txt"
SPACES_NAME = "name with spaces.txt"


def make_ftp_tree(root, data, large_sizes, many_files, locked):
    """Writes afresh the files every real FTP server offers (names relative
    to the login directory), so each start begins from the same state. The
    large files are sparse, so even 1 GiB costs nothing to make. Returns the
    file descriptions."""
    shutil.rmtree(root, ignore_errors=True)
    files = []

    def put(name, content, mode=0o644):
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), mode=0o755, exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
        os.chmod(path, mode)
        files.append({"name": name, "size": len(content), "sha256": hashlib.sha256(content).hexdigest()})

    os.makedirs(root, mode=0o755)
    put("small.txt", ftpscript.SMALL_TEXT)
    put("data.bin", data)
    files[-1].update(content="pattern", seed=DATA_SEED)
    put("empty.txt", b"")
    put(UTF8_NAME, "caf\u00e9\n".encode("utf-8"))
    put(SPACES_NAME, b"spaces\n")
    put("tree/one.txt", b"one\n")
    put("tree/sub/two.txt", b"two\n")
    put("tree/sub/deeper/three.txt", b"three\n")
    if locked:
        put("locked/keep.txt", b"the user may read this but not change it\n")
    os.makedirs(os.path.join(root, "upload"))
    os.chmod(os.path.join(root, "upload"), 0o777)  # vsftpd's anonymous user writes here
    many = os.path.join(root, "many")
    os.makedirs(many)
    for i in range(many_files):
        open(os.path.join(many, "file-%05d.txt" % i), "wb").close()
    large = []
    for size in large_sizes:
        name = "large-%d.bin" % size
        with open(os.path.join(root, name), "wb") as f:
            f.truncate(size)
        os.chmod(os.path.join(root, name), 0o644)
        large.append({"name": name, "size": size, "content": "zeros"})
    return files, large


def ftp_answers(host, port):
    """True when the port greets with a 220 reply."""
    try:
        with socket.create_connection((host, port), timeout=2) as s:
            return s.recv(512).startswith(b"220")
    except OSError:
        return False


def wait_until_greeting(proc, name, addresses, deadline):
    """Waits until each (host, port) greets with 220; raises if proc exits first."""
    wait_until_ready(proc, name, addresses, deadline, lambda a: ftp_answers(*a), lambda a: a[1], "greet")


def wait_for_port_file(proc, name, port_file, deadline):
    while not os.path.exists(port_file):
        if proc.poll() is not None:
            raise StartError("%s exited with status %d during start" % (name, proc.returncode), name)
        if time.monotonic() > deadline:
            raise StartError("%s did not report its port in time" % name, name)
        time.sleep(0.05)
    with open(port_file) as f:
        return f.read()


def find_pyftpdlib_python():
    """An interpreter that can load pyftpdlib: this one, or the system's,
    for which the Debian package is made (an interpreter of its own, such as
    pyenv's, does not see it)."""
    for candidate in dict.fromkeys([sys.executable, "/usr/bin/python3"]):
        if os.path.exists(candidate) and subprocess.run(
                [candidate, "-c", "import pyftpdlib.handlers"], stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL).returncode == 0:
            return candidate
    raise StartError("pyftpdlib not found (install the Debian package python3-pyftpdlib)")


def start_pyftpdlib(layout, roots, deadline):
    port_file = os.path.join(layout.run, "ftpd.port")
    if os.path.exists(port_file):
        os.remove(port_file)
    proc = spawn(layout, "ftpd", [find_pyftpdlib_python(), os.path.join(HERE, "ftpd.py"),
                                  "--root", roots["pyftpdlib"], "--anon-root", roots["anon"],
                                  "--locked", "locked", "--port-file", port_file])
    ports = json.loads(wait_for_port_file(proc, "ftpd", port_file, deadline))
    addresses = [("127.0.0.1", ports["ipv4"])] + ([("::1", ports["ipv6"])] if ports["ipv6"] else [])
    wait_until_greeting(proc, "ftpd", addresses, deadline)
    return ports


def start_ftpscript(layout, deadline):
    port_file = os.path.join(layout.run, "ftpscript.port")
    if os.path.exists(port_file):
        os.remove(port_file)
    proc = spawn(layout, "ftpscript", [sys.executable, os.path.join(HERE, "ftpscript.py"),
                                       "--port", "0", "--port-file", port_file])
    port = int(wait_for_port_file(proc, "ftpscript", port_file, deadline))
    wait_until_greeting(proc, "ftpscript", [("127.0.0.1", port)], deadline)
    return port


def vsftpd_config(layout, port, root, chroot):
    """vsftpd.conf for a standalone vsftpd on 127.0.0.1 that stays in the
    foreground. Run by root, sessions are chrooted into the root as the
    system's `ftp` user; otherwise (run_as_launching_user) there is neither
    chroot nor a login other than the anonymous one, so the anonymous login
    is what both modes use, with one accepted password
    (secure_email_list_enable). Active and passive mode, any passive port,
    ASCII transfers honoured, uploads and directories in upload/."""
    lines = [
        "listen=YES", "listen_ipv6=NO", "listen_address=127.0.0.1", "listen_port=%d" % port,
        "background=NO", "seccomp_sandbox=NO", "isolate=NO", "isolate_network=NO",
        "anonymous_enable=YES", "local_enable=NO", "anon_root=" + root,
        "write_enable=YES", "anon_upload_enable=YES", "anon_mkdir_write_enable=YES",
        "anon_other_write_enable=YES", "anon_world_readable_only=NO", "anon_umask=022",
        "secure_email_list_enable=YES", "email_password_file=" + os.path.join(layout.vsftpd, "passwords"),
        "secure_chroot_dir=" + os.path.join(layout.vsftpd, "empty"),
        "pasv_enable=YES", "port_enable=YES", "connect_from_port_20=NO",
        "ascii_download_enable=YES", "ascii_upload_enable=YES",
        "xferlog_enable=YES", "xferlog_std_format=NO", "log_ftp_protocol=YES",
        "vsftpd_log_file=" + os.path.join(layout.logs, "vsftpd-protocol.log"),
        "use_localtime=NO", "hide_ids=YES", "max_clients=200", "max_per_ip=200",
    ]
    lines += ["ftp_username=ftp"] if chroot else ["run_as_launching_user=YES"]
    return "\n".join(lines) + "\n"


def start_vsftpd(layout, root, deadline, attempts=5):
    """Starts vsftpd on a freshly picked port (picked again when another
    program takes it first). Returns the port and the directory that PWD
    reports after login."""
    found = shutil.which("vsftpd") or shutil.which("vsftpd", path="/usr/sbin:/usr/local/sbin:/sbin")
    if not found:
        raise StartError("vsftpd not found (install the Debian package vsftpd)")
    chroot = False
    if os.geteuid() == 0:
        import pwd
        try:
            chroot = pwd.getpwnam("ftp") is not None
        except KeyError:
            pass
    os.makedirs(os.path.join(layout.vsftpd, "empty"), mode=0o755, exist_ok=True)
    write_atomic(os.path.join(layout.vsftpd, "passwords"), VSFTPD_PASSWORD + "\n")
    config = os.path.join(layout.vsftpd, "vsftpd.conf")
    for attempt in range(attempts):
        port = free_port()
        write_atomic(config, vsftpd_config(layout, port, root, chroot))
        proc = spawn(layout, "vsftpd", [found, config])
        try:
            wait_until_greeting(proc, "vsftpd", [("127.0.0.1", port)], deadline)
            return port, "/" if chroot else root
        except StartError:
            if proc.poll() is None or attempt == attempts - 1:
                raise
            os.remove(layout.pidfile("vsftpd"))
            print("servers: vsftpd could not bind port %d; trying another" % port, file=sys.stderr)
    raise StartError("vsftpd could not bind a port", "vsftpd")


def start_ftp(layout, large_sizes, data_size, many_files, deadline):
    """Makes the FTP trees and starts pyftpdlib, vsftpd and the scripted
    server; returns their servers.json and servers.env parts and a summary."""
    roots = {"pyftpdlib": os.path.join(layout.ftp, "pyftpdlib"), "anon": os.path.join(layout.ftp, "anon"),
             "vsftpd": os.path.join(layout.ftp, "vsftpd")}
    data = httpd.Pattern.get(DATA_SEED, data_size)
    files, large = make_ftp_tree(roots["pyftpdlib"], data, large_sizes, many_files, locked=True)
    make_ftp_tree(roots["vsftpd"], data, large_sizes, many_files, locked=False)
    shutil.rmtree(roots["anon"], ignore_errors=True)
    os.makedirs(os.path.join(roots["anon"], "pub"))
    with open(os.path.join(roots["anon"], "small.txt"), "wb") as f:
        f.write(ftpscript.SMALL_TEXT)
    with open(os.path.join(roots["anon"], "pub", "readme.txt"), "wb") as f:
        f.write(b"anonymous, read only\n")

    ftpd_ports = start_pyftpdlib(layout, roots, deadline)
    vsftpd_port, vsftpd_home = start_vsftpd(layout, roots["vsftpd"], deadline)
    script_port = start_ftpscript(layout, deadline)

    url6 = "ftp://[::1]:%d" % ftpd_ports["ipv6"] if ftpd_ports["ipv6"] else ""
    doc = {
        "pyftpdlib": {"port": ftpd_ports["ipv4"], "url": "ftp://127.0.0.1:%d" % ftpd_ports["ipv4"],
                      "port6": ftpd_ports["ipv6"], "url6": url6, "user": FTP_USER, "password": FTP_PASSWORD,
                      "root": roots["pyftpdlib"], "anon_root": roots["anon"], "locked": "locked"},
        "vsftpd": {"port": vsftpd_port, "url": "ftp://127.0.0.1:%d" % vsftpd_port, "user": VSFTPD_USER,
                   "password": VSFTPD_PASSWORD, "root": roots["vsftpd"], "home": vsftpd_home,
                   "log": os.path.join(layout.logs, "vsftpd-protocol.log")},
        "ftpscript": {"port": script_port, "url": "ftp://127.0.0.1:%d" % script_port},
        "files": files, "large_files": large, "many_dir": "many", "many_files": many_files,
    }
    data_file = next(f for f in files if f["name"] == "data.bin")
    small = next(f for f in files if f["name"] == "small.txt")
    env = {
        "CORVANE_FTP_URL": doc["pyftpdlib"]["url"], "CORVANE_FTP_PORT": ftpd_ports["ipv4"],
        "CORVANE_FTP6_URL": url6, "CORVANE_FTP6_PORT": ftpd_ports["ipv6"] or "",
        "CORVANE_FTP_USER": FTP_USER, "CORVANE_FTP_PASSWORD": FTP_PASSWORD,
        "CORVANE_FTP_ROOT": roots["pyftpdlib"], "CORVANE_FTP_ANON_ROOT": roots["anon"],
        "CORVANE_FTP_LOCKED_DIR": "locked",
        "CORVANE_VSFTPD_URL": doc["vsftpd"]["url"], "CORVANE_VSFTPD_PORT": vsftpd_port,
        "CORVANE_VSFTPD_USER": VSFTPD_USER, "CORVANE_VSFTPD_PASSWORD": VSFTPD_PASSWORD,
        "CORVANE_VSFTPD_ROOT": roots["vsftpd"], "CORVANE_VSFTPD_HOME": vsftpd_home,
        "CORVANE_FTPSCRIPT_URL": doc["ftpscript"]["url"], "CORVANE_FTPSCRIPT_PORT": script_port,
        "CORVANE_FTP_SMALL_FILE": "small.txt", "CORVANE_FTP_SMALL_SIZE": small["size"],
        "CORVANE_FTP_SMALL_LINES": ftpscript.SMALL_TEXT.count(b"\n"),
        "CORVANE_FTP_DATA_FILE": "data.bin", "CORVANE_FTP_DATA_SIZE": data_file["size"],
        "CORVANE_FTP_DATA_SHA256": data_file["sha256"],
        "CORVANE_FTP_UTF8_FILE": UTF8_NAME, "CORVANE_FTP_SPACES_FILE": SPACES_NAME,
        "CORVANE_FTP_UPLOAD_DIR": "upload", "CORVANE_FTP_TREE_DIR": "tree",
        "CORVANE_FTP_MANY_DIR": "many", "CORVANE_FTP_MANY_COUNT": many_files,
        "CORVANE_FTP_LARGE_FILE": large[0]["name"] if large else "",
        "CORVANE_FTP_LARGE_SIZE": large[0]["size"] if large else 0,
        "CORVANE_FTP_LARGE_FILES": " ".join(f["name"] for f in large),
    }
    summary = "pyftpdlib %d%s, vsftpd %d, ftpscript %d" % (
        ftpd_ports["ipv4"], " and [::1]:%d" % ftpd_ports["ipv6"] if ftpd_ports["ipv6"] else "",
        vsftpd_port, script_port)
    return doc, env, summary


def print_logs(layout, names):
    """Shows the tail of each named server's logs on stderr."""
    paths = [layout.log(n) for n in names]
    if "nginx" in names:
        paths.append(os.path.join(layout.nginx, "logs", "error.log"))
    paths += [os.path.join(layout.logs, n + ".proxy.log") for n in names if n.startswith("proxy")]
    if "vsftpd" in names:
        paths.append(os.path.join(layout.logs, "vsftpd-protocol.log"))
    for path in paths:
        if os.path.exists(path):
            with open(path, "rb") as f:
                lines = f.read().decode("utf-8", "replace").splitlines()[-60:]
            print("----- %s -----" % path, file=sys.stderr)
            for line in lines:
                print(line, file=sys.stderr)


def start_http(layout, large_sizes, data_size, nginx_binary, deadline):
    """Starts the HTTP servers; returns their servers.json and servers.env parts and a summary."""
    nginx = find_nginx(nginx_binary)
    try:
        pki_files = pki.ensure(layout.pki)
    except RuntimeError as e:
        raise StartError(str(e))
    files, large = make_docroot(layout, data_size, large_sizes)
    httpd_ports = {"http": start_httpd(layout, "httpd", None, deadline),
                   "https": start_httpd(layout, "httpd-tls", pki_files, deadline)}
    tinyproxy = find_tinyproxy()
    proxy_ports = {"open": start_tinyproxy(layout, tinyproxy, "proxy", False, deadline),
                   "auth": start_tinyproxy(layout, tinyproxy, "proxy-auth", True, deadline)}
    nginx_ports, _ = start_nginx(layout, nginx, pki_files, deadline)
    doc, env = describe(layout, pki_files, files, large, nginx_ports, httpd_ports, proxy_ports)
    summary = "nginx http %d https %d, httpd http %d https %d, proxies %d and %d (auth)" % (
        nginx_ports["http"], nginx_ports["https"], httpd_ports["http"], httpd_ports["https"],
        proxy_ports["open"], proxy_ports["auth"])
    return doc, env, summary


def start(layout, large_sizes, data_size, nginx_binary, http=True, ftp=False, many_files=DEFAULT_MANY_FILES):
    stop(layout)
    shutil.rmtree(layout.logs, ignore_errors=True)  # logs of this run only
    for path in (layout.dir, layout.run, layout.logs):
        os.makedirs(path, exist_ok=True)
    deadline = time.monotonic() + START_TIMEOUT
    doc = {"dir": layout.dir, "host": "127.0.0.1", "logs": layout.logs}
    env = {"CORVANE_SERVERS_DIR": layout.dir, "CORVANE_TEST_HOST": "127.0.0.1"}
    summary = []
    try:
        if http:
            part_doc, part_env, part_summary = start_http(layout, large_sizes, data_size, nginx_binary, deadline)
            doc.update(part_doc)
            env.update(part_env)
            summary.append(part_summary)
        if ftp:
            doc["ftp"], part_env, part_summary = start_ftp(layout, large_sizes, data_size, many_files, deadline)
            env.update(part_env)
            summary.append(part_summary)
        env_text = "# Written by servers.py start; source it to reach the test servers.\n"
        env_text += "".join("export %s=%s\n" % (k, shlex.quote(str(v))) for k, v in env.items())
        write_atomic(layout.json, json.dumps(doc, indent=2) + "\n")
        write_atomic(layout.env, env_text)
    except StartError as e:
        print("servers: start failed: %s" % e, file=sys.stderr)
        print_logs(layout, [e.name] if e.name else [])
        stop(layout)
        return 1
    except BaseException:
        stop(layout)
        raise
    print("servers: %s; see %s" % ("; ".join(summary), layout.json))
    return 0


def size_arg(text):
    """A byte count, optionally with a K, M or G (binary) suffix."""
    units = {"k": 1 << 10, "m": 1 << 20, "g": 1 << 30}
    text = text.strip().lower().removesuffix("ib").removesuffix("b")
    factor = units.get(text[-1:], 1)
    value = int(text[:-1] if factor != 1 else text) * factor
    if value < 0:
        raise argparse.ArgumentTypeError("size must not be negative")
    return value


def main():
    parser = argparse.ArgumentParser(description="Start or stop the local HTTP and FTP test servers.")
    parser.add_argument("command", choices=["start", "stop"])
    parser.add_argument("--dir", required=True, help="run directory (created if missing)")
    parser.add_argument("--large-size", type=size_arg, action="append",
                        help="size of a large file to serve (repeatable; default 8M)")
    parser.add_argument("--data-size", type=size_arg, default=DEFAULT_DATA_SIZE,
                        help="size of data.bin (pattern bytes; default 4M)")
    parser.add_argument("--nginx", help="nginx binary (default: found on PATH or in /usr/sbin)")
    parser.add_argument("--ftp", action="store_true", help="start the FTP servers too")
    parser.add_argument("--no-http", action="store_true", help="leave the HTTP servers out")
    parser.add_argument("--many-files", type=int, default=DEFAULT_MANY_FILES,
                        help="empty files in the FTP trees' many/ directory (default %d)" % DEFAULT_MANY_FILES)
    args = parser.parse_args()
    layout = Layout(args.dir)
    if args.command == "stop":
        try:
            stop(layout)
        except Exception as e:  # stop reports but never fails a cleanup step
            print("servers: stop: %s" % e, file=sys.stderr)
        return 0
    # The order given, without repeats; the first is CORVANE_LARGE_PATH.
    large = list(dict.fromkeys(args.large_size or [DEFAULT_LARGE_SIZE]))
    return start(layout, large, args.data_size, args.nginx, http=not args.no_http, ftp=args.ftp,
                 many_files=args.many_files)


if __name__ == "__main__":
    sys.exit(main())
