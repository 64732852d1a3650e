#!/usr/bin/env python3
"""Start and stop of the test servers in a run directory of their own:
stop leaves no process behind (nor FTP session processes), a failed start cleans up after itself, a
new start replaces what an earlier one left, and large files are sparse and
kept between runs.

Usage: lifecycle.py --script servers.py --dir DIR"""

import argparse
import importlib.util
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import time
import unittest
import warnings

ARGS = None
SMALL = ["--large-size", "1M", "--data-size", "64K"]


def run(command, *extra):
    proc = subprocess.run([sys.executable, ARGS.script, command, "--dir", ARGS.dir] + list(extra),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=120)
    return proc.returncode, proc.stdout + proc.stderr


def processes_of(directory):
    """Live processes that belong to a run directory: those whose command
    line names it, and every member of their process groups."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        fields = stat[stat.rindex(")") + 2:].split()
        found[int(entry)] = (cmdline, fields[0], int(fields[2]))
    # This test's own process group (which names the directory too) is not
    # a server.
    mine = os.getpgrp()
    groups = {pgid for cmd, state, pgid in found.values()
              if directory in cmd and state != "Z" and pgid != mine}
    return sorted(pid for pid, (cmd, state, pgid) in found.items()
                  if state != "Z" and pgid != mine and (directory in cmd or pgid in groups))


def recorded_pids():
    run_dir = os.path.join(ARGS.dir, "run")
    pids = {}
    for entry in os.listdir(run_dir):
        if entry.endswith(".pid"):
            with open(os.path.join(run_dir, entry)) as f:
                record = json.load(f)
            pids[record["name"]] = record["pid"]
    return pids


class Lifecycle(unittest.TestCase):

    def tearDown(self):
        run("stop")
        self.assertEqual(processes_of(ARGS.dir), [])

    def test_stop_ends_every_process_and_removes_the_description(self):
        rc, out = run("start", *SMALL)
        self.assertEqual(rc, 0, out)
        with open(os.path.join(ARGS.dir, "servers.json")) as f:
            doc = json.load(f)
        self.assertEqual(doc["dir"], os.path.abspath(ARGS.dir))
        self.assertEqual(sorted(recorded_pids()), ["httpd", "httpd-tls", "nginx", "proxy", "proxy-auth"])
        running = processes_of(ARGS.dir)
        self.assertGreaterEqual(len(running), 6)  # two httpd, nginx master and worker, two proxies
        rc, out = run("stop")
        self.assertEqual(rc, 0, out)
        self.assertEqual(processes_of(ARGS.dir), [])
        for name in ("servers.json", "servers.env"):
            self.assertFalse(os.path.exists(os.path.join(ARGS.dir, name)))
        self.assertEqual(recorded_pids(), {})
        self.assertEqual(run("stop")[0], 0)

    def test_stop_copes_with_a_server_that_already_died(self):
        self.assertEqual(run("start", *SMALL)[0], 0)
        os.kill(recorded_pids()["httpd"], signal.SIGKILL)
        rc, out = run("stop")
        self.assertEqual(rc, 0, out)
        self.assertEqual(processes_of(ARGS.dir), [])

    def test_a_new_start_replaces_the_servers_of_an_earlier_one(self):
        self.assertEqual(run("start", *SMALL)[0], 0)
        first = set(recorded_pids().values())
        rc, out = run("start", *SMALL)
        self.assertEqual(rc, 0, out)
        second = set(recorded_pids().values())
        self.assertFalse(first & second)
        self.assertFalse(first & set(processes_of(ARGS.dir)))

    def test_a_failed_start_shows_the_log_and_leaves_nothing_running(self):
        rc, out = run("start", "--nginx", "/bin/false", *SMALL)
        self.assertEqual(rc, 1, out)
        self.assertIn("nginx exited", out)
        self.assertIn("nginx", out)
        self.assertEqual(processes_of(ARGS.dir), [])
        self.assertFalse(os.path.exists(os.path.join(ARGS.dir, "servers.json")))

    def test_a_port_taken_before_nginx_binds_it_is_picked_again(self):
        spec = importlib.util.spec_from_file_location("servers_under_test", ARGS.script)
        servers = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(servers)
        with socket.socket() as blocker:
            blocker.bind(("127.0.0.1", 0))
            blocker.listen()
            taken = blocker.getsockname()[1]
            picks = []

            def rigged():
                # The first pick is a port another program already listens on.
                picks.append(taken if not picks else real())
                return picks[-1]

            real, servers.free_port = servers.free_port, rigged
            with warnings.catch_warnings():
                # The servers outlive start's handles to them, by design.
                warnings.simplefilter("ignore", ResourceWarning)
                rc = servers.start(servers.Layout(ARGS.dir), [1 << 20], 64 << 10, None)
        self.assertEqual(rc, 0)
        self.assertGreater(len(picks), len(servers.NGINX_PORTS))
        with open(os.path.join(ARGS.dir, "servers.json")) as f:
            nginx = json.load(f)["nginx"]
        self.assertNotIn(taken, [nginx[k + "_port"] for k in servers.NGINX_PORTS])
        self.assertIn("nginx", recorded_pids())

    def test_ftp_servers_stop_with_their_open_sessions(self):
        rc, out = run("start", "--ftp", "--no-http", "--data-size", "64K", "--many-files", "3")
        self.assertEqual(rc, 0, out)
        self.assertEqual(sorted(recorded_pids()), ["ftpd", "ftpscript", "vsftpd"])
        with open(os.path.join(ARGS.dir, "servers.json")) as f:
            ftp = json.load(f)["ftp"]
        sessions = []
        for server in ("pyftpdlib", "vsftpd", "ftpscript"):
            s = socket.create_connection(("127.0.0.1", ftp[server]["port"]), timeout=10)
            sessions.append(s)
            self.assertTrue(s.recv(512).startswith(b"220"), server)
        s = sessions[1]
        s.sendall(b"USER %s\r\nPASS %s\r\n" % (ftp["vsftpd"]["user"].encode(), ftp["vsftpd"]["password"].encode()))
        time.sleep(0.3)  # vsftpd now runs the session in a process outside its group
        self.assertEqual(run("stop")[0], 0)
        self.assertEqual(processes_of(ARGS.dir), [])
        for s in sessions:
            s.close()

    def test_large_files_are_sparse_and_kept(self):
        gib = 1 << 30
        started = time.monotonic()
        rc, out = run("start", "--large-size", "1G", "--large-size", "256M", "--data-size", "64K")
        self.assertEqual(rc, 0, out)
        self.assertLess(time.monotonic() - started, 30)
        with open(os.path.join(ARGS.dir, "servers.json")) as f:
            large = json.load(f)["large_files"]
        self.assertEqual([(f["path"], f["size"]) for f in large],
                         [("/large-%d.bin" % gib, gib), ("/large-%d.bin" % (256 << 20), 256 << 20)])
        path = os.path.join(ARGS.dir, "docroot", "large-%d.bin" % gib)
        info = os.stat(path)
        self.assertEqual(info.st_size, gib)
        self.assertLess(info.st_blocks * 512, 1 << 20)
        with open(os.path.join(ARGS.dir, "servers.env")) as f:
            env = f.read()
        self.assertIn("export CORVANE_LARGE_PATH=/large-%d.bin\n" % gib, env)
        self.assertEqual(run("start", "--large-size", "1G", "--data-size", "64K")[0], 0)
        self.assertEqual(os.stat(path).st_mtime_ns, info.st_mtime_ns)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--script", required=True)
    parser.add_argument("--dir", required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.dir = os.path.abspath(ARGS.dir)
    shutil.rmtree(os.path.join(ARGS.dir, "docroot"), ignore_errors=True)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
