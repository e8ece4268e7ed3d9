#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# any is missing. Safe to run again: it does nothing when all are present.
# (rabbitmq-server brings Erlang and epmd; the tests run their own node on
# ports of their own and never use the system's service. lighttpd, chromium,
# chromium-driver, python3-selenium, firefox-esr and python3-websocket are the
# service page's: its tests run a private lighttpd, a headless Chromium and a
# headless Firefox over WebDriver BiDi, never the system's server.)
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  libhiredis-dev libcjson-dev libmosquitto-dev
  redis-server redis-tools
  mosquitto mosquitto-clients
  rabbitmq-server
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  socat valgrind python3 openssl libssl-dev
  ifupdown
  python3-jsonschema python3-yaml
  lighttpd chromium chromium-driver python3-selenium firefox-esr python3-websocket
)
if [ -n "${DCU_EXTRA_PACKAGES:-}" ]; then
  # Blanks or line breaks between the names.
  read -r -d '' -a extra <<<"$DCU_EXTRA_PACKAGES" || true
  packages+=("${extra[@]}")
fi

# A package may also be installed for another architecture (armhf for the
# cross build): ask for the native one first, then for an architecture-free one.
native=$(dpkg --print-architecture)
missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package:$native" 2>/dev/null ||
           dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# The package lists of a fresh image may be stale or absent.
$sudo apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null 2>&1 || {
  $sudo apt-get update -qq
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}
