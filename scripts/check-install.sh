#!/usr/bin/env bash
# Installs the packages on a clean Debian and uses them as an integrator
# would. Needs root (debootstrap, chroot) and Debian's package mirror.
#
#   scripts/check-install.sh [amd64|armhf]...     (both when none is named)
#
# Makes the packages (scripts/package.sh), bootstraps a minimal Debian root
# (amd64) into a scratch folder, and inside it:
# amd64: installs every package with apt-get from the .deb files
#   (dependencies and Recommends from the mirror), builds the example C host
#   with `pkg-config --cflags --libs reqhandlers` and has it answer a request
#   from a store it started, loads the sample unit with cfgload, asks dcuhost,
#   runs the field tools and imgseal, and checks that cfgload.service and
#   dcuhost.service are enabled, gone on purge and back on a new
#   installation (dcuhost.service with its example settings file and no live one);
# armhf: adds the armhf architecture and installs the unit's packages with
#   their armhf dependencies in place of the amd64 ones, and checks that the
#   library sits under its SONAME in the armhf multiarch directory, that
#   pkg-config finds it for armhf and that cfgload.service and dcuhost.service are enabled. (The ARM programs themselves are run by
#   scripts/test-armhf.sh, under qemu-arm.)
#
# Environment: DCU_DEBIAN_SUITE (bookworm), DCU_DEBIAN_MIRROR
# (http://deb.debian.org/debian). Downloaded packages are kept in
# build/debootstrap-cache for the next run; the root is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

if [ "$(id -u)" -ne 0 ]; then
  echo "check-install.sh needs root (debootstrap, chroot)" >&2
  exit 1
fi
suite=${DCU_DEBIAN_SUITE:-bookworm}
mirror=${DCU_DEBIAN_MIRROR:-http://deb.debian.org/debian}

arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(amd64 armhf)
for arch in "${arches[@]}"; do
  case $arch in
    amd64 | armhf) ;;
    *)
      echo "usage: scripts/check-install.sh [amd64|armhf]..." >&2
      exit 2
      ;;
  esac
done

DCU_EXTRA_PACKAGES="debootstrap file" scripts/install-deps.sh
scripts/package.sh "${arches[@]}" >/dev/null

cache=$PWD/build/debootstrap-cache
mkdir -p "$cache"
root=$(mktemp -d /tmp/dcu-clean-root-XXXXXX)
chmod 755 "$root"  # the root of a system: apt's own user must get in
cleanup() {
  if [ -f "$root/tmp/redis.pid" ]; then
    kill "$(cat "$root/tmp/redis.pid")" 2>/dev/null || true
  fi
  mountpoint -q "$root/proc" && umount "$root/proc"
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT

echo "== debootstrap $suite (minbase) into $root"
debootstrap --variant=minbase --cache-dir="$cache" "$suite" "$root" "$mirror" >build/debootstrap.log 2>&1 || {
  cat build/debootstrap.log >&2
  exit 1
}
mount -t proc proc "$root/proc"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# No service of a package starts inside the scratch root.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
for arch in "${arches[@]}"; do
  mkdir -p "$root/tmp/debs-$arch"
  cp "build/packages/$arch/"*.deb "$root/tmp/debs-$arch/"
done

# The store listens on the loopback interface shared with this machine.
port=$(dcu_free_port)

cat >"$root/tmp/check-amd64.sh" <<'INNER'
set -euo pipefail
port=$1
export DEBIAN_FRONTEND=noninteractive
step() { echo "-- $*"; }
fail() { echo "FAILED: $*" >&2; exit 1; }

step "apt-get install gcc and pkg-config, then the packages with what they recommend"
apt-get update -qq
apt-get install -y -qq --no-install-recommends gcc libc6-dev pkg-config >/tmp/apt.log 2>&1 || {
  cat /tmp/apt.log >&2
  fail "the compiler does not install"
}
apt-get install -y -qq /tmp/debs-amd64/*.deb >/tmp/apt.log 2>&1 || {
  cat /tmp/apt.log >&2
  fail "the packages do not install"
}
dpkg-query -W -f='   ${Package} ${Version} ${Architecture}\n' libreqhandlers1 libreqhandlers-dev \
  dcu-loader dcu-tools dcu-refhost dcu-imgseal redis-server

step "the library under its SONAME, known to the loader"
[ "$(readlink /usr/lib/x86_64-linux-gnu/libreqhandlers.so.1)" = libreqhandlers.so.1.0.0 ] || fail "SONAME link"
[ "$(readlink /usr/lib/x86_64-linux-gnu/libreqhandlers.so)" = libreqhandlers.so.1 ] || fail "development link"
ldconfig -p | grep -q 'libreqhandlers.so.1 ' || fail "ldconfig does not know libreqhandlers.so.1"

step "pkg-config --cflags --libs reqhandlers"
flags=$(pkg-config --cflags --libs reqhandlers)
echo "   $flags"
[[ " $flags " == *" -lreqhandlers "* ]] || fail "pkg-config flags"

step "a C host built against the installed header and library"
cc -std=c99 -Wall -Wextra -Werror -o /tmp/host /usr/share/doc/libreqhandlers-dev/examples/host.c $flags

step "a store on 127.0.0.1:$port"
redis-server --bind 127.0.0.1 --port "$port" --save "" --appendonly no --dir /tmp \
  --daemonize yes --pidfile /tmp/redis.pid --logfile /tmp/redis.log
for _ in $(seq 1 200); do
  redis-cli -p "$port" ping >/dev/null 2>&1 && break
  sleep 0.05
done
redis-cli -p "$port" hset Port0Met1SerNum SER_NUM SN7 >/dev/null

step "the C host answers GET_METER_SER_LIST"
/tmp/host "$port" >/tmp/answer.txt 2>/tmp/host-log.txt || fail "the host failed: $(cat /tmp/host-log.txt)"
grep -q '"TYPE":"GET_METER_SER_LIST"' /tmp/answer.txt || fail "no GET_METER_SER_LIST answer: $(cat /tmp/answer.txt)"
grep -q '"SN7"' /tmp/answer.txt || fail "SN7 not in the answer: $(cat /tmp/answer.txt)"
sed 's/^/   /' /tmp/answer.txt | head -12

step "cfgtool and cfgload publish the sample unit"
mkdir -p /tmp/unit/usr/tev/config /tmp/unit/usr/tev/log
cfgtool encode /usr/share/doc/dcu-loader/examples/sample-unit.json -o /tmp/unit/usr/tev/config/dlms_api_config.cfg
DCU_ROOT=/tmp/unit DCU_REDIS_PORT=$port cfgload >/tmp/cfgload.txt || fail "cfgload: $(cat /tmp/cfgload.txt)"
[ "$(redis-cli -p "$port" exists DCU_GEN_INFO)" = 1 ] || fail "DCU_GEN_INFO not published"

step "dcuhost answers from the same store"
dcuhost --store "127.0.0.1:$port" meters 9 2>/dev/null | grep -q '"SN7"' || fail "dcuhost"

step "the field tools and imgseal run"
mkdir -p /tmp/unit/etc/network
printf 'auto eth0\niface eth0 inet static\n    address 10.0.0.5\n' >/tmp/unit/etc/network/interfaces
DCU_ROOT=/tmp/unit ifacegen 192.168.1.10 255.255.255.0 192.168.1.1 eth0 >/dev/null
grep -q 192.168.1.10 /tmp/unit/etc/network/interfaces1 || fail "ifacegen"
for tool in ttyblast ttyblast-stream ttysink imgseal; do
  set +e
  "$tool" >/dev/null 2>&1
  code=$?
  set -e
  # Without arguments each prints its usage and exits non-zero.
  [ "$code" -ne 0 ] && [ "$code" -ne 126 ] && [ "$code" -ne 127 ] || fail "$tool exited $code"
done

step "cfgload.service: enabled on installation, gone on purge, back on a new installation"
wants=/etc/systemd/system/multi-user.target.wants/cfgload.service
[ -L "$wants" ] && [ "$(readlink -f "$wants")" = "$(readlink -f /usr/lib/systemd/system/cfgload.service)" ] ||
  fail "cfgload.service not enabled: $(ls -l "$wants" 2>&1)"
apt-get purge -y -qq dcu-loader >/dev/null 2>&1
[ ! -e "$wants" ] && [ ! -L "$wants" ] && [ ! -e /usr/bin/cfgload ] || fail "purge left cfgload behind"
dpkg -i /tmp/debs-amd64/dcu-loader_*.deb >/dev/null
[ -L "$wants" ] || fail "cfgload.service not enabled again"
step "dcuhost.service: enabled, not started, an example settings file and no live one; gone on purge"
wants=/etc/systemd/system/multi-user.target.wants/dcuhost.service
[ -L "$wants" ] && [ "$(readlink -f "$wants")" = "$(readlink -f /usr/lib/systemd/system/dcuhost.service)" ] ||
  fail "dcuhost.service not enabled: $(ls -l "$wants" 2>&1)"
[ -f /etc/dcu/dcuhost.conf.example ] || fail "no /etc/dcu/dcuhost.conf.example"
[ ! -e /etc/dcu/dcuhost.conf ] || fail "the package installed a live /etc/dcu/dcuhost.conf"
dcuhost --help | grep -q -- '--mqtt-password-file FILE' || fail "dcuhost --help"
apt-get purge -y -qq dcu-refhost >/dev/null 2>&1
[ ! -e "$wants" ] && [ ! -L "$wants" ] && [ ! -e /etc/dcu/dcuhost.conf.example ] || fail "purge left dcuhost behind"
dpkg -i /tmp/debs-amd64/dcu-refhost_*.deb >/dev/null
[ -L "$wants" ] || fail "dcuhost.service not enabled again"
step "the amd64 packages removed"
redis-cli -p "$port" shutdown nosave >/dev/null 2>&1 || true
rm -f /tmp/redis.pid
apt-get purge -y -qq libreqhandlers1 libreqhandlers-dev dcu-loader dcu-tools dcu-refhost dcu-imgseal >/dev/null 2>&1
[ ! -e /usr/lib/x86_64-linux-gnu/libreqhandlers.so.1 ] || fail "the library stayed"
echo "amd64 checks passed"
INNER

cat >"$root/tmp/check-armhf.sh" <<'INNER'
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
step() { echo "-- $*"; }
fail() { echo "FAILED: $*" >&2; exit 1; }

step "dpkg --add-architecture armhf; apt-get install the unit's packages"
dpkg --add-architecture armhf
apt-get update -qq
apt-get install -y -qq --no-install-recommends pkg-config >/tmp/apt.log 2>&1 || {
  cat /tmp/apt.log >&2
  fail "pkg-config does not install"
}
# redis-server is the store of the build host's architecture here, so the
# Recommends (which would ask for redis-server:armhf) are left out.
apt-get install -y -qq --no-install-recommends /tmp/debs-armhf/*.deb >/tmp/apt.log 2>&1 || {
  cat /tmp/apt.log >&2
  fail "the armhf packages do not install"
}
dpkg-query -W -f='   ${Package} ${Version} ${Architecture}\n' libreqhandlers1:armhf libreqhandlers-dev:armhf \
  dcu-loader:armhf dcu-tools:armhf dcu-refhost:armhf libhiredis0.14:armhf libcjson1:armhf

# /usr/lib/arm-linux-gnueabihf is a default directory of the board's loader.
step "the library under its SONAME in the armhf multiarch directory"
[ "$(readlink /usr/lib/arm-linux-gnueabihf/libreqhandlers.so.1)" = libreqhandlers.so.1.0.0 ] || fail "SONAME link"
flags=$(PKG_CONFIG_LIBDIR=/usr/lib/arm-linux-gnueabihf/pkgconfig pkg-config --cflags --libs reqhandlers)
echo "   pkg-config for armhf: $flags"
[[ " $flags " == *" -lreqhandlers "* ]] || fail "pkg-config flags"

step "cfgload.service and dcuhost.service enabled"
[ -L /etc/systemd/system/multi-user.target.wants/cfgload.service ] || fail "cfgload.service not enabled"
[ -L /etc/systemd/system/multi-user.target.wants/dcuhost.service ] || fail "dcuhost.service not enabled"
echo "armhf checks passed"
INNER

for arch in "${arches[@]}"; do
  echo "== inside the clean root: $arch packages"
  chroot "$root" /bin/bash "/tmp/check-$arch.sh" "$port"
done
echo "== the ${arches[*]} packages install and work on a clean $suite"
