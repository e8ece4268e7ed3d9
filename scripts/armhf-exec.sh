#!/bin/sh
# Runs a program as a board with qemu-user registered in binfmt_misc would:
# an ARM executable under qemu-arm, anything else (a build-host tool such as
# nm, sh or socat) as it is. The armhf test preset sets DCU_TEST_EXEC_PREFIX to
# this script, so a test can start the project's programs, cross-built for
# the board, and the build host's own tools through the same runner.
#
# Usage: armhf-exec.sh PROGRAM [ARGUMENT...]
program=${1:?usage: armhf-exec.sh PROGRAM [ARGUMENT...]}
case $program in
  */*) path=$program ;;
  *) path=$(command -v -- "$program") || exec "$@" ;;
esac

# ELF header: magic, class 1 (32-bit) at byte 4, e_machine 40 (ARM),
# little-endian, at bytes 18 and 19.
header=$(od -An -tx1 -N20 -- "$path" 2>/dev/null | tr -d ' \n')
case $header in
  7f454c4601??????????????????????????2800) exec qemu-arm "$@" ;;
  *) exec "$@" ;;
esac
