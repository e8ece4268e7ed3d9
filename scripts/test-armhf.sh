#!/usr/bin/env bash
# The unit's architecture: cross-builds every deliverable of the unit for
# arm-linux-gnueabihf (armhf preset, warnings as errors), checks that each is
# an ARM EABI5 binary, that the library carries its SONAME and that the
# build-host tool and the stand-ins are not among them, runs the whole test
# suite under qemu-arm against native redis-server and socat, and prints the
# stripped size of each deliverable. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/armhf-deps.sh

echo "== armhf: configure and build"
cmake --preset armhf -DDCU_WERROR=ON >/dev/null
cmake --build --preset armhf

# The deliverables are what the install rules install: stage them, stripped
# as they are packaged, and look at every one.
stage=$(mktemp -d /tmp/dcu-armhf-stage-XXXXXX)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install build/armhf --strip >/dev/null

bindir="$stage/usr/bin"
libdir="$stage/usr/lib/arm-linux-gnueabihf"
deliverables=(
  "$bindir/cfgload" "$bindir/cfgtool" "$bindir/dcuhost"
  "$bindir/ttyblast" "$bindir/ttyblast-stream" "$bindir/ttysink" "$bindir/ifacegen"
  "$libdir/libreqhandlers.so.1.0.0" "$stage/usr/lib/dcu-web/dcuweb"
)

echo "== armhf: deliverables"
status=0
for path in "${deliverables[@]}"; do
  if [ ! -f "$path" ]; then
    echo "missing: ${path#"$stage"}" >&2
    status=1
  elif ! file -b "$path" | grep -q 'ELF 32-bit LSB .*ARM, EABI5'; then
    echo "not an ARM EABI5 binary: ${path#"$stage"}: $(file -b "$path")" >&2
    status=1
  fi
done
for unwanted in imgseal metersim; do
  if [ -e "$bindir/$unwanted" ]; then
    echo "$unwanted must not be installed on the unit" >&2
    status=1
  fi
done
if [ "$(readlink "$libdir/libreqhandlers.so.1" || true)" != libreqhandlers.so.1.0.0 ] ||
   ! arm-linux-gnueabihf-readelf -d "$libdir/libreqhandlers.so.1.0.0" | grep -q 'SONAME.*\[libreqhandlers\.so\.1\]'; then
  echo "libreqhandlers.so.1 is not the SONAME link of the library" >&2
  status=1
fi
[ "$status" -eq 0 ] || exit "$status"

printf '%-28s %10s\n' "stripped armhf deliverable" "bytes"
for path in "${deliverables[@]}"; do
  printf '%-28s %10s\n' "$(basename "$path")" "$(stat -c %s "$path")"
done

echo "== armhf: tests under qemu-arm"
ctest --preset armhf
echo "== armhf: all checks passed"
