#!/usr/bin/env bash
# The exec prefix of the valgrind run (DCU_TEST_EXEC_PREFIX): a program the
# tests start runs under memcheck when it is one of ours, built under
# DCU_VALGRIND_BUILD_DIR; anything else the tests start (nm, the shell
# tools behind imgseal, ...) runs as it is. redis-server and socat are
# started by the test fixtures themselves, never through this prefix.
#   scripts/valgrind-exec.sh PROGRAM ARGS...
set -euo pipefail
program=$(command -v "$1" || true)
case "$(readlink -f "${program:-$1}")" in
  "${DCU_VALGRIND_BUILD_DIR:?}"/*)
    # shellcheck disable=SC2086  # the options are words
    exec valgrind $DCU_VALGRIND_OPTIONS "$@" ;;
  *)
    exec "$@" ;;
esac
