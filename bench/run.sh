#!/usr/bin/env bash
# The HTTP benchmarks, side by side with curl against the same local nginx,
# the FTP ones against the same vsftpd, and the portable backend's cookie
# store on its own:
#
#   bench/run.sh BUILD_DIR
#
# BUILD_DIR holds a Release build with -DCORVANE_BUILD_BENCH=ON and the target
# `bench` built (./run bench does both). Starts the test servers with a 1 GiB
# and a 256 MiB file (and, with the FTP program built, the FTP servers with a
# directory of 10,000 files), runs every case BENCH_REPS times (default 5)
# interleaved with curl, prints medians, ratios and peak memory, and exits
# non-zero when a target is missed. The servers (run in the scratch
# directory below) are stopped and it is removed however the run ends.
#
# Environment: BENCH_REPS, BENCH_REQUESTS (default 2000), BENCH_COMPONENTS
# (default 500), BENCH_ASYNC_REQUESTS (default 1000), BENCH_PARALLEL (default
# 50), BENCH_ONLY (case keys a,a-pieces,b,c,d,e,i,j; FTP f,f-read,g,h,h-names),
# BENCH_MANY_FILES (default 10000), BENCH_SCRATCH
# (where downloads and the servers' trees go; default a fresh directory
# under /dev/shm when it exists, else under BUILD_DIR).
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: bench/run.sh BUILD_DIR" >&2
  exit 2
fi
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$(cd "$1" && pwd)"
PROGRAM="$BUILD_DIR/bench/corvane_http_bench"
if [ ! -x "$PROGRAM" ]; then
  echo "bench: $PROGRAM is missing; configure with -DCORVANE_BUILD_BENCH=ON and build the target bench" >&2
  exit 2
fi
command -v curl >/dev/null || { echo "bench: curl is not installed" >&2; exit 2; }
# The FTP program is built only once the FTP component is in the tree.
FTP_PROGRAM="$BUILD_DIR/bench/corvane_ftp_bench"
FTP_ARGS=()
if [ -x "$FTP_PROGRAM" ]; then
  FTP_ARGS=(--ftp-program "$FTP_PROGRAM")
else
  echo "bench: $FTP_PROGRAM is not built (no FTP component in the tree); FTP cases skipped" >&2
fi

if [ -n "${BENCH_SCRATCH:-}" ]; then
  mkdir -p "$BENCH_SCRATCH"
  SCRATCH="$(mktemp -d "$BENCH_SCRATCH/corvane-bench.XXXXXX")"
elif [ -d /dev/shm ] && [ -w /dev/shm ]; then
  # Downloads on tmpfs: both sides write to memory, not to a disk whose
  # write-back would add its own noise.
  SCRATCH="$(mktemp -d /dev/shm/corvane-bench.XXXXXX)"
else
  SCRATCH="$(mktemp -d "$BUILD_DIR/bench-scratch.XXXXXX")"
fi
# The servers' trees go there too: an upload is then written to memory on
# the server's side, not to a disk whose write-back (and the flush when
# the server closes the file) would add its own noise.
SERVERS_DIR="$SCRATCH/servers"

cleanup() {
  python3 "$ROOT/tests/servers/servers.py" stop --dir "$SERVERS_DIR" >/dev/null 2>&1 || true
  rm -rf "$SCRATCH"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

SERVER_ARGS=(--large-size 1G --large-size 256M)
if [ ${#FTP_ARGS[@]} -gt 0 ]; then
  SERVER_ARGS+=(--ftp --many-files "${BENCH_MANY_FILES:-10000}")
fi
python3 "$ROOT/tests/servers/servers.py" start --dir "$SERVERS_DIR" "${SERVER_ARGS[@]}"

RESULTS="$BUILD_DIR/bench-results.json"
rm -f "$RESULTS"
status=0
python3 "$ROOT/bench/compare.py" \
  --program "$PROGRAM" \
  --env "$SERVERS_DIR/servers.env" \
  --scratch "$SCRATCH" \
  --reps "${BENCH_REPS:-5}" \
  --requests "${BENCH_REQUESTS:-2000}" \
  --components "${BENCH_COMPONENTS:-500}" \
  --async-requests "${BENCH_ASYNC_REQUESTS:-1000}" \
  --parallel "${BENCH_PARALLEL:-50}" \
  ${BENCH_ONLY:+--only "$BENCH_ONLY"} \
  "${FTP_ARGS[@]}" \
  --json "$RESULTS" || status=$?
[ -f "$RESULTS" ] && echo "bench: results in $RESULTS"

# The cookie store's file goes under BUILD_DIR, on disk like the user's own
# store, not in the tmpfs scratch directory.
COOKIE_PROGRAM="$BUILD_DIR/bench/corvane_cookie_bench"
if [ -x "$COOKIE_PROGRAM" ]; then
  echo "bench: cookie store"
  COOKIE_DIR="$(mktemp -d "$BUILD_DIR/cookie-bench.XXXXXX")"
  "$COOKIE_PROGRAM" "$COOKIE_DIR" || status=1
  rm -rf "$COOKIE_DIR"
fi
exit "$status"
