#!/usr/bin/env bash
# PackageTest.sh DEB_DIR CONSUMER_PROJECT WORK_DIR VERSION
# Unpacks the Debian packages of ./run package (DEB_DIR/*.deb) under a
# scratch root with dpkg -x, checks their contents and declared
# dependencies, and builds and runs the consumer project against that root:
# with find_package(Corvane) (Corvane::Corvane is the shared library in the
# packages) and with pkg-config; then runs the packaged tool, which loads
# the packaged design-time package. Exits 77 (skipped) when there are no
# packages.
set -euo pipefail
debs="$1" project="$2" work="$3" version="$4"
shopt -s nullglob
packages=("$debs"/*.deb)
if [ ${#packages[@]} -eq 0 ]; then
  echo "no packages in $debs (./run package builds them)"
  exit 77
fi
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
root="$work/root"
mkdir -p "$root"
declare -A depends
for deb in "${packages[@]}"; do
  name="$(dpkg-deb -f "$deb" Package)"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version-1" ] || fail "$name: version $(dpkg-deb -f "$deb" Version)"
  depends[$name]="$(dpkg-deb -f "$deb" Depends)"
  dpkg -x "$deb" "$root"
done
for name in libcorvane0 libcorvane-dev corvane corvane-design; do
  [ -n "${depends[$name]+set}" ] || fail "no package $name"
done
# What the binaries need, found by dpkg-shlibdeps, and the packages' own order.
for dep in libcurl4 libsqlite3-0 libpsl5 'libstdc++6'; do
  [[ "${depends[libcorvane0]}" == *"$dep"* ]] || fail "libcorvane0 does not depend on $dep: ${depends[libcorvane0]}"
done
for name in libcorvane-dev corvane corvane-design; do
  [[ "${depends[$name]}" == *"libcorvane0 (= $version-1)"* ]] || fail "$name: ${depends[$name]}"
done
[[ "${depends[libcorvane-dev]}" == *libcurl4-openssl-dev* ]] || fail "libcorvane-dev: ${depends[libcorvane-dev]}"

usr="$root/usr"
libdir="$(dirname "$(find "$usr/lib" -name 'libCorvane.so.0' | head -n 1)")"
[ -d "$libdir" ] || fail "no libCorvane.so.0"
for file in "$libdir/libCorvane.so.${version%%.*}" "$libdir/libCorvane.a" "$libdir/libCorvane.so" \
            "$libdir/pkgconfig/corvane.pc" "$libdir/cmake/Corvane/CorvaneConfig.cmake" \
            "$libdir/corvane/libCorvaneP.so" "$usr/include/Corvane/Version.h" "$usr/bin/corvane"; do
  [ -e "$file" ] || fail "missing ${file#$root}"
done
# The shared library exports the public API and keeps the backend inside.
exports="$(nm -DC --defined-only "$libdir/libCorvanePlatform.so.0")"
grep -q ' T InternetOpenW$' <<<"$exports" || fail "InternetOpenW not exported"
grep -q 'Corvane::ForwardingInternetApi::InternetOpenW' <<<"$exports" || fail "the seam is not exported"
if grep -q 'Corvane::Backend::' <<<"$exports"; then
  fail "the backend's internals are exported"
fi
export LD_LIBRARY_PATH="$libdir"

cmake -S "$project" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$usr" >/dev/null
cmake --build "$work/build" >/dev/null
"$work/build/consumer"
"$work/build/consumer_shared"
"$work/build/forms_only"
"$work/build/design_host"
# Corvane::Corvane is the shared library: the program needs libCorvane.so.0.
[[ "$(ldd "$work/build/consumer")" == *"libCorvane.so.0 => $libdir/"* ]] || fail "consumer does not use libCorvane.so.0"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
c++ -std=c++20 "$project/main.cpp" $(pkg-config --cflags --libs corvane) -o "$work/consumer-pkg-config"
# shellcheck disable=SC2046
c++ -std=c++20 "$project/forms_only.cpp" $(pkg-config --cflags --libs corvane) -o "$work/forms-only-pkg-config"
"$work/forms-only-pkg-config"
"$work/consumer-pkg-config"
[ "$(pkg-config --modversion corvane)" = "$version" ] || fail "corvane.pc: $(pkg-config --modversion corvane)"

[ "$("$usr/bin/corvane" --version)" = "corvane $version" ] || fail "corvane --version: $("$usr/bin/corvane" --version)"
[[ "$("$usr/bin/corvane" design palette)" == *TINetHttp* ]] || fail "the tool did not load the design-time package"
echo "packages unpacked, built against and run"
