#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the default (g++) and
# asan (clang, AddressSanitizer + UndefinedBehaviorSanitizer) presets with
# warnings as errors, and runs CTest for both. Each suite that needs a store
# starts its own redis-server; nothing needs to be running beforehand.
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
echo "== all tests passed"
