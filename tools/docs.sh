#!/bin/sh
# The API reference: runs Doxygen with docs/Doxyfile over the public headers
# and the examples into OUTDIR/html (default build/docs/html). Fails, listing
# the warnings, when Doxygen warns: an undocumented public name, a comment
# that names a parameter or page that does not exist.
#
#   tools/docs.sh [OUTDIR]
#
# Environment: CORVANE_VERSION, the version the pages show (default: the one
# in the top CMakeLists.txt).
set -eu

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUT="${1:-$ROOT/build/docs}"
cd "$ROOT"
VERSION="${CORVANE_VERSION:-$(sed -n 's/^project(Corvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)}"

rm -rf "$OUT/html"
mkdir -p "$OUT"
rc=0
{
  cat docs/Doxyfile
  echo "OUTPUT_DIRECTORY = \"$OUT\""
  echo "WARN_LOGFILE = \"$OUT/warnings.log\""
  echo "PROJECT_NUMBER = \"$VERSION\""
} | doxygen - || rc=$?
if [ "$rc" -ne 0 ] || [ -s "$OUT/warnings.log" ]; then
  cat "$OUT/warnings.log" >&2 2>/dev/null || true
  echo "docs: FAILED: Doxygen warned (each public name needs a /// comment)" >&2
  exit 1
fi
echo "docs: $OUT/html/index.html"
