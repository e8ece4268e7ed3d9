#!/usr/bin/env bash
# Runs every test: installs what is missing, then
#   1. builds the default (g++) and asan (clang, AddressSanitizer +
#      UndefinedBehaviorSanitizer) presets with warnings as errors and runs
#      CTest for both; then a fleet of 20 units on one broker (bench/fleet
#      --units 20): every request answered, every unit back after a broker
#      restart; then the instruction gate (release build, callgrind): no
#      scenario of bench/e2e_bench above bench/instructions.txt by 5%;
#   2. cross-builds for the unit's board (armhf) and runs the tests under
#      qemu-arm;
#   3. builds the Debian packages for amd64 and armhf and checks them (with
#      lintian and man -l), and validates the contract's AsyncAPI document;
#   4. runs the suites again under valgrind memcheck (leaks, invalid access);
#   5. runs each fuzz target for a short smoke time (DCU_FUZZ_SECONDS, 30);
#      the committed seeds, crash inputs found earlier among them, run first.
# Each suite that needs a store or a broker (mosquitto, RabbitMQ) starts its
# own; nothing needs to be running beforehand.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

for preset in default asan; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" -DDCU_WERROR=ON >/dev/null
  cmake --build --preset "$preset"
  echo "== $preset: tests"
  ctest --preset "$preset"
done

# Outside valgrind and qemu: a fleet's timing is its point. The exit status
# says whether every request was answered and every unit came back.
echo "== fleet smoke run: 20 units, a broker restart"
DCU_FLEET_BUILD_DIR=build/default bench/fleet --units 20 --rounds 3

echo "== instruction gate: release build, callgrind counts against bench/instructions.txt"
scripts/check-instructions.sh

echo "== armhf: cross build and tests under qemu-arm"
scripts/test-armhf.sh

echo "== packages"
scripts/package.sh

echo "== valgrind memcheck"
scripts/test-valgrind.sh

echo "== fuzz targets, ${DCU_FUZZ_SECONDS:-30} s each"
scripts/fuzz.sh "${DCU_FUZZ_SECONDS:-30}"

echo "== all tests passed"
