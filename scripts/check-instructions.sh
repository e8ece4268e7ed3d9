#!/usr/bin/env bash
# The instruction gate: builds the release preset's end-to-end benchmark,
# counts each scenario's instructions per request with callgrind (inside
# its handler, from entry to return) and compares them with
# bench/instructions.txt. Fails when a scenario costs more than 5% above its
# count there; when the compiler, glibc, hiredis or valgrind versions differ
# from the file's, the counts are only reported.
#   scripts/check-instructions.sh            check
#   scripts/check-instructions.sh --record   write the counts to the file
# A change that moves a count on purpose records it in the same commit and
# says why in its message.
set -euo pipefail
cd "$(dirname "$0")/.."

counts=bench/instructions.txt
case "${1:-}" in
  "") mode=(--gate "$counts") ;;
  --record) mode=(--record "$counts") ;;
  *) echo "usage: $0 [--record]" >&2; exit 2 ;;
esac

cmake --preset release >/dev/null
cmake --build --preset release --target e2e_bench
# Few requests: the timings are not the point here, and callgrind's counts
# come from runs of 1 and 11 requests whatever --requests says.
build/release/bench/e2e_bench --requests 3 --callgrind "${mode[@]}"
