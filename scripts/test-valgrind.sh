#!/usr/bin/env bash
# Runs the test suites under valgrind memcheck: every test binary of the
# default (g++) build, and every program of ours that the tests start
# (through DCU_TEST_EXEC_PREFIX, see scripts/valgrind-exec.sh). A leak
# (definite or indirect) or an invalid access fails the suite.
#   scripts/test-valgrind.sh [CTEST_REGEX]     (default: every suite)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

echo "== default: configure and build"
cmake --preset default -DDCU_WERROR=ON >/dev/null
cmake --build --preset default >/dev/null

build_dir=$(readlink -f build/default)
export DCU_VALGRIND_BUILD_DIR=$build_dir
export DCU_VALGRIND_OPTIONS="--tool=memcheck --leak-check=full --errors-for-leak-kinds=definite,indirect \
--show-leak-kinds=definite,indirect --error-exitcode=99 --num-callers=30 --quiet \
--suppressions=$PWD/scripts/valgrind.supp"
export DCU_TEST_EXEC_PREFIX=$PWD/scripts/valgrind-exec.sh

filter=${1:-.}
logs=$build_dir/valgrind
rm -rf "$logs" && mkdir -p "$logs"
# The suites as CTest knows them: name, command, working directory.
ctest --preset default --show-only=json-v1 | python3 -c '
import json, sys
for test in json.load(sys.stdin)["tests"]:
    props = {p["name"]: p["value"] for p in test.get("properties", [])}
    print(test["name"], props.get("WORKING_DIRECTORY", "."), *test["command"], sep="\t")
' | grep -E "^[^	]*(${filter})" >"$logs/suites"

failed=()
start=$SECONDS
while IFS=$'\t' read -r name dir command; do
  suite_start=$SECONDS
  # shellcheck disable=SC2086  # the options are words
  if (cd "$dir" && valgrind $DCU_VALGRIND_OPTIONS "$command") >"$logs/$name.log" 2>&1; then
    printf '%-32s passed %5ss\n' "$name" $((SECONDS - suite_start))
  else
    printf '%-32s FAILED %5ss (see %s)\n' "$name" $((SECONDS - suite_start)) "$logs/$name.log"
    failed+=("$name")
  fi
done <"$logs/suites"
echo "== valgrind: $((SECONDS - start)) s"
if [ ${#failed[@]} -ne 0 ]; then
  echo "== failed under valgrind: ${failed[*]}"
  for name in "${failed[@]}"; do grep -E '==[0-9]+==|FAILED|Failure' "$logs/$name.log" | head -n 40; done
  exit 1
fi
echo "== all suites clean under valgrind"
