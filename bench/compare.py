#!/usr/bin/env python3
"""Times the HTTP and FTP benchmark cases side by side with curl and checks targets.

Called by bench/run.sh once the test servers run; reads their servers.env.
Each repetition runs every program of every case once, interleaved (ours,
curl, ours, curl, ...), so the load of a shared machine falls on both alike.
Wall time is measured around each process (start-up included for both);
peak memory is the process's maximum resident set as GNU time reports it
(rusage read by a parent this small does not count the forked
interpreter's own pages, as wait4 here would).
Prints a table of medians and ratios, writes it with every sample as JSON,
and exits 1 when a target is missed.
"""

import argparse
import datetime
import json
import os
import platform
import shlex
import statistics
import subprocess
import sys
import time

MIB = 1024 * 1024


def read_env(path):
    """The NAME=VALUE pairs of servers.env (export lines, shell-quoted)."""
    values = {}
    with open(path, encoding="utf-8") as env:
        for line in env:
            line = line.strip()
            if not line.startswith("export "):
                continue
            name, _, value = line[len("export "):].partition("=")
            parts = shlex.split(value)
            values[name] = parts[0] if parts else ""
    return values


class Program:
    """One command of a case, with the file it writes (removed before and
    after each run, outside the timing) and the size that file must have."""

    # Where GNU time writes the peak resident set (set by main).
    rss_file = None

    def __init__(self, label, argv, output=None, output_size=None):
        self.label = label
        self.argv = argv
        self.output = output
        self.output_size = output_size
        self.seconds = []
        self.peak_kib = []

    def remove_output(self):
        if self.output:
            try:
                os.unlink(self.output)
            except FileNotFoundError:
                pass

    def run(self, record=True):
        self.remove_output()
        argv = ["/usr/bin/time", "-f", "%M", "-o", Program.rss_file, "--"] + self.argv
        start = time.perf_counter()
        process = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        elapsed = time.perf_counter() - start
        errors = process.stderr.decode(errors="replace").strip()
        code = process.returncode
        if code != 0:
            raise RuntimeError(f"{self.label} failed (exit {code}): {shlex.join(self.argv)}\n{errors}")
        if self.output and self.output_size is not None:
            size = os.path.getsize(self.output)
            if size != self.output_size:
                raise RuntimeError(f"{self.label} wrote {size} bytes, expected {self.output_size}")
        self.remove_output()
        if record:
            with open(Program.rss_file, encoding="utf-8") as f:
                peak_kib = int(f.read().split()[-1])
            self.seconds.append(elapsed)
            self.peak_kib.append(peak_kib)

    def median(self):
        return statistics.median(self.seconds)

    def peak_mib(self):
        return max(self.peak_kib) / 1024


class Case:
    """Our program against curl, with the limits that make it pass.

    kind "time": ours/curl wall time must stay at or below max_ratio.
    kind "rate": curl/ours wall time (our request rate over curl's) must
    reach min_ratio. max_peak_mib bounds our peak resident memory. A case
    that is not enforced is measured and shown against the same limits but
    does not fail the run."""

    def __init__(self, key, title, ours, curl, kind, limit, max_peak_mib, peak_text, enforced=True):
        self.key = key
        self.title = title
        self.ours = ours
        self.curl = curl
        self.kind = kind
        self.limit = limit
        self.max_peak_mib = max_peak_mib
        self.peak_text = peak_text
        self.enforced = enforced

    def ratio(self):
        if self.kind == "time":
            return self.ours.median() / self.curl.median()
        return self.curl.median() / self.ours.median()

    def time_met(self):
        return self.ratio() <= self.limit if self.kind == "time" else self.ratio() >= self.limit

    def memory_met(self):
        return self.ours.peak_mib() <= self.max_peak_mib

    def target_text(self):
        if self.kind == "time":
            return f"time <= {self.limit:.2f}x curl"
        return f"rate >= {self.limit:.2f}x curl"


def make_cases(program, env, scratch, count, components, async_count, parallel):
    http = env["CORVANE_HTTP_URL"]
    https = env["CORVANE_HTTPS_URL"]
    ca = env["CORVANE_TEST_CA_FILE"]
    # Our program trusts the CA given by SSL_CERT_FILE (as OpenSSL programs
    # do), curl the one given by --cacert.
    os.environ["SSL_CERT_FILE"] = ca
    sizes = {}
    for path in env["CORVANE_LARGE_PATHS"].split():
        # /large-<bytes>.bin
        sizes[int(path.rsplit("-", 1)[1].split(".")[0])] = http + path
    gib, mib256 = 1 << 30, 256 << 20
    for size in (gib, mib256):
        if size not in sizes:
            sys.exit(f"bench: the servers have no large file of {size} bytes (start them with --large-size)")
    small = http + env["CORVANE_SMALL_PATH"]
    small_tls = https + env["CORVANE_SMALL_PATH"]
    large_tls = https + sizes[gib][len(http):]

    def out(name):
        return os.path.join(scratch, name)

    def curl_config(name, url, times):
        path = out(name)
        with open(path, "w", encoding="utf-8") as f:
            for _ in range(times):
                f.write(f'url = "{url}"\noutput = "/dev/null"\n')
        return path

    config = curl_config("curl-requests.cfg", small, count)
    config_tls = curl_config("curl-components.cfg", small_tls, components)
    config_async = curl_config("curl-parallel.cfg", small, async_count)

    curl_1g = Program("curl", ["curl", "-s", "-o", out("curl-1g"), sizes[gib]], out("curl-1g"), gib)
    cases = [
        Case("a", "(a) 1 GiB, GetBytes(Bytes) into a file",
             Program("ours", [program, "file-buffer", sizes[gib], out("ours-1g")], out("ours-1g"), gib),
             curl_1g, "time", 1.10, 32, "<= 32 MiB"),
        Case("a-pieces", "(a') 1 GiB, GetBytes() pieces into a file",
             Program("ours", [program, "file", sizes[gib], out("ours-1g-pieces")], out("ours-1g-pieces"), gib),
             curl_1g, "time", 1.10, 32, "<= 32 MiB", enforced=False),
        Case("b", "(b) 256 MiB, ReadBytes",
             Program("ours", [program, "bytes", sizes[mib256]]),
             Program("curl", ["curl", "-s", "-o", out("curl-256m"), sizes[mib256]], out("curl-256m"), mib256),
             "time", 1.30, 2.2 * 256, "<= 2.2x body"),
        Case("c", f"(c) {count} kept-alive GETs of 100 bytes",
             Program("ours", [program, "requests", small, str(count)]),
             Program("curl", ["curl", "-s", "-K", config]),
             "rate", 0.80, 32, "<= 32 MiB"),
        Case("d", "(d) 1 GiB over HTTPS, GetBytes(Bytes) into a file",
             Program("ours", [program, "file-buffer", large_tls, out("ours-1g-tls")], out("ours-1g-tls"), gib),
             Program("curl", ["curl", "-s", "--cacert", ca, "-o", out("curl-1g-tls"), large_tls],
                     out("curl-1g-tls"), gib),
             "time", 1.10, 32, "<= 32 MiB"),
        Case("e", f"(e) {components} HTTPS GETs of 100 bytes, a new component each",
             Program("ours", [program, "components", small_tls, str(components)]),
             Program("curl", ["curl", "-s", "--cacert", ca, "-K", config_tls]),
             "rate", 0.80, 32, "<= 32 MiB"),
        # Our asynchronous session may open PARALLEL connections to the
        # server (INTERNET_OPTION_MAX_CONNS_PER_SERVER), as many as curl's
        # --parallel-max lets it open.
        Case("i", f"(i) {async_count} GETs of 100 bytes, {parallel} asynchronous at a time",
             Program("ours", [program, "async-requests", small, str(async_count), str(parallel)]),
             Program("curl", ["curl", "-s", "--parallel", "--parallel-max", str(parallel), "-K", config_async]),
             "rate", 0.80, 64, "<= 64 MiB"),
        Case("j", "(j) 1 GiB on an asynchronous session, 1 MiB reads into a file",
             Program("ours", [program, "async-file", sizes[gib], out("ours-1g-async")], out("ours-1g-async"), gib),
             curl_1g, "time", 1.15, 32, "<= 32 MiB"),
    ]
    return cases


def make_ftp_cases(program, env, scratch):
    """Against vsftpd, the same server for both: a 1 GiB download (GetFile,
    and OpenFile with ReadFileBytes pieces), a 256 MiB upload (PutFile) and
    a listing of the many-files directory.

    The listing needs LIST (sizes, times, attributes; vsftpd has no MLSD),
    for which vsftpd stats every file; curl -l asks for NLST, names only,
    which vsftpd answers without a stat. (h) therefore holds ours against
    curl's own LIST of the directory, the same work on the server; (h')
    shows it against curl -l and is not enforced."""
    base, user, password = env["CORVANE_VSFTPD_URL"], env["CORVANE_VSFTPD_USER"], env["CORVANE_VSFTPD_PASSWORD"]
    credentials = f"{user}:{password}"
    # large-<bytes>.bin, relative to the login directory
    large = {int(name.rsplit("-", 1)[1].split(".")[0]): name for name in env["CORVANE_FTP_LARGE_FILES"].split()}
    gib, mib256 = 1 << 30, 256 << 20
    if gib not in large:
        sys.exit("bench: the FTP servers have no 1 GiB file (start them with --ftp --large-size 1G)")
    many, count = env["CORVANE_FTP_MANY_DIR"], int(env["CORVANE_FTP_MANY_COUNT"])
    # The server's tree is on this machine: each upload's stored file is
    # checked for its size there and removed before and after the run, so
    # no upload pays for the server truncating the one before.
    uploads = os.path.join(env["CORVANE_VSFTPD_ROOT"], "upload")

    def out(name):
        return os.path.join(scratch, name)

    # The upload's source: zeros, sparse where the file system allows.
    source = out("ftp-put-source")
    with open(source, "wb") as f:
        f.truncate(mib256)

    def ours(*args, output=None, size=None):
        return Program("ours", [program, args[0], base, user, password] + [str(a) for a in args[1:]], output, size)

    curl_1g = Program("curl", ["curl", "-s", "-u", credentials, "-o", out("curl-ftp-1g"), f"{base}/{large[gib]}"],
                      out("curl-ftp-1g"), gib)
    ours_list = ours("list", many, count)
    return [
        Case("f", "(f) FTP 1 GiB, GetFile",
             ours("get", large[gib], out("ours-ftp-1g"), gib, output=out("ours-ftp-1g"), size=gib),
             curl_1g, "time", 1.10, 32, "<= 32 MiB"),
        Case("f-read", "(f') FTP 1 GiB, ReadFileBytes pieces into a file",
             ours("read", large[gib], out("ours-ftp-1g-read"), gib, output=out("ours-ftp-1g-read"), size=gib),
             curl_1g, "time", 1.15, 32, "<= 32 MiB"),
        Case("g", "(g) FTP 256 MiB upload, PutFile",
             ours("put", source, "upload/ours-put.bin", mib256,
                  output=os.path.join(uploads, "ours-put.bin"), size=mib256),
             Program("curl", ["curl", "-s", "-u", credentials, "-T", source, f"{base}/upload/curl-put.bin"],
                     os.path.join(uploads, "curl-put.bin"), mib256),
             "time", 1.10, 32, "<= 32 MiB"),
        Case("h", f"(h) FTP listing of {count} files, FindFirstFile/FindNextFile, vs curl LIST",
             ours_list,
             Program("curl", ["curl", "-s", "-u", credentials, f"{base}/{many}/"]),
             "time", 1.50, 32, "<= 32 MiB"),
        Case("h-names", "(h') the same listing vs curl -l (NLST, names only)",
             ours_list,
             Program("curl", ["curl", "-s", "-l", "-u", credentials, f"{base}/{many}/"]),
             "time", 1.50, 32, "<= 32 MiB", enforced=False),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True, help="the corvane_http_bench executable")
    parser.add_argument("--env", required=True, help="servers.env of the running test servers")
    parser.add_argument("--scratch", required=True, help="directory for downloaded files")
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--requests", type=int, default=2000)
    parser.add_argument("--components", type=int, default=500)
    parser.add_argument("--async-requests", type=int, default=1000)
    parser.add_argument("--parallel", type=int, default=50)
    parser.add_argument("--json", help="write the results here")
    parser.add_argument("--only",
                        help="comma-separated case keys (a, a-pieces, b, c, d, e, i, j; FTP: f, f-read, g, h, h-names)")
    parser.add_argument("--ftp-program", help="the corvane_ftp_bench executable; adds the FTP cases")
    args = parser.parse_args()

    if not os.access("/usr/bin/time", os.X_OK):
        sys.exit("bench: /usr/bin/time is missing (Debian package time)")
    Program.rss_file = os.path.join(args.scratch, "peak-rss")
    env = read_env(args.env)
    cases = make_cases(args.program, env, args.scratch, args.requests, args.components, args.async_requests,
                       args.parallel)
    if args.ftp_program:
        cases += make_ftp_cases(args.ftp_program, env, args.scratch)
    if args.only:
        keys = args.only.split(",")
        cases = [c for c in cases if c.key in keys]

    # Every distinct program once, in case order; a program shared by two
    # cases (curl's 1 GiB download) runs once per repetition.
    programs = []
    for case in cases:
        for p in (case.ours, case.curl):
            if p not in programs:
                programs.append(p)

    print(f"bench: warming up (one untimed run of each of {len(programs)} programs)", flush=True)
    for p in programs:
        p.run(record=False)
    for rep in range(1, args.reps + 1):
        print(f"bench: repetition {rep}/{args.reps}", flush=True)
        for p in programs:
            p.run()

    rows = []
    failed = []
    for case in cases:
        time_ok, memory_ok = case.time_met(), case.memory_met()
        if case.enforced and not time_ok:
            failed.append(f"{case.title}: {case.target_text()} missed (ratio {case.ratio():.2f})")
        if case.enforced and not memory_ok:
            failed.append(f"{case.title}: peak memory {case.ours.peak_mib():.1f} MiB exceeds {case.peak_text}")
        rows.append({
            "case": case.key,
            "title": case.title,
            "ours_median_s": case.ours.median(),
            "curl_median_s": case.curl.median(),
            "ours_s": case.ours.seconds,
            "curl_s": case.curl.seconds,
            "ratio": case.ratio(),
            "kind": case.kind,
            "target": case.target_text(),
            "ours_peak_mib": case.ours.peak_mib(),
            "curl_peak_mib": case.curl.peak_mib(),
            "memory_target": case.peak_text,
            "met": time_ok and memory_ok,
            "enforced": case.enforced,
        })

    header = ("case", "ours", "curl", "ratio", "target", "peak memory ours / curl", "result")
    lines = []
    for r in rows:
        lines.append((
            r["title"],
            f"{r['ours_median_s']:.3f} s",
            f"{r['curl_median_s']:.3f} s",
            f"{r['ratio']:.2f}x",
            r["target"],
            f"{r['ours_peak_mib']:.1f} / {r['curl_peak_mib']:.1f} MiB ({r['memory_target']})",
            ("met" if r["met"] else "MISSED") + ("" if r["enforced"] else " (not enforced)"),
        ))
    widths = [max(len(str(x)) for x in column) for column in zip(header, *lines)]
    print()
    print(f"Medians of {args.reps} interleaved runs. Ratio: ours/curl wall time; for (c), (e) and (i) curl/ours,")
    print("our request rate over curl's. (a') is shown for comparison and not enforced: each piece")
    print("is a new zero-filled array that the bytes are copied into (docs/BENCHMARKS.md).")
    if args.ftp_program:
        print("The FTP cases (f) to (h') run against vsftpd. (h') is shown, not enforced: curl -l's NLST spares")
        print("vsftpd the stat of every file that LIST, which the listing needs, costs it (docs/BENCHMARKS.md).")
    for line in [header] + lines:
        print("  ".join(str(x).ljust(w) for x, w in zip(line, widths)).rstrip())
    print()

    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump({
                "date": datetime.datetime.now().astimezone().isoformat(timespec="seconds"),
                "machine": f"{platform.node()}, {os.cpu_count()} CPUs, {platform.machine()}",
                "reps": args.reps,
                "curl": subprocess.run(["curl", "--version"], capture_output=True, text=True).stdout.splitlines()[0],
                "results": rows,
            }, f, indent=2)

    if failed:
        print("bench: TARGETS MISSED:")
        for f in failed:
            print(f"  - {f}")
        return 1
    print("bench: every target met")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except RuntimeError as error:
        print(f"bench: {error}", file=sys.stderr)
        sys.exit(2)
