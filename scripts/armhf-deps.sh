#!/usr/bin/env bash
# Installs what the armhf cross build, its tests and its packages need, when
# any is missing: the armhf architecture in dpkg (multiarch), Debian's cross
# toolchain, the board's libraries and runtime as armhf packages, qemu-user
# for running ARM programs on the build host, and the project's usual
# packages (scripts/install-deps.sh). Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

if ! dpkg --print-foreign-architectures | grep -qx armhf; then
  echo "adding the armhf architecture to dpkg"
  $sudo dpkg --add-architecture armhf
  $sudo apt-get update -qq
fi

# libc6 and libstdc++6 for armhf are the runtime the ARM programs run with
# under qemu-arm; file, the check of every binary's architecture.
packages=(
  gcc-arm-linux-gnueabihf g++-arm-linux-gnueabihf
  libc6:armhf libstdc++6:armhf libhiredis-dev:armhf libcjson-dev:armhf libmosquitto-dev:armhf libssl-dev:armhf
  libgtest-dev:armhf libgmock-dev:armhf
  qemu-user file
)
# install-deps.sh reads one line of blank-separated names.
DCU_EXTRA_PACKAGES="${packages[*]} ${DCU_EXTRA_PACKAGES:-}" exec scripts/install-deps.sh
