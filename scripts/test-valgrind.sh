#!/usr/bin/env bash
# Runs the test suites under valgrind memcheck: every test binary of the
# default (g++) build, and every program of ours that the tests start
# (through DCU_TEST_EXEC_PREFIX, see scripts/valgrind-exec.sh). A leak
# (definite or indirect) or an invalid access fails the suite.
#   scripts/test-valgrind.sh [CTEST_REGEX]     (default: every suite)
# The suites run DCU_VALGRIND_JOBS at a time (default: one per core), the
# longest first by the times CTest kept of the default build's last run, so
# that no long suite is left to run alone at the end. Each suite starts its
# own servers on free ports, as under `ctest -j`.
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
' | grep -E "^[^	]*(${filter})" >"$logs/unordered"
cost_data=$build_dir/Testing/Temporary/CTestCostData.txt
[ -f "$cost_data" ] || cost_data=/dev/null
awk -F'\t' -v costs="$cost_data" '
  BEGIN { while ((getline line < costs) > 0) { if (line == "---") break; split(line, f, " "); cost[f[1]] = f[3] } }
  { printf "%s\t%s\n", ($1 in cost ? cost[$1] : 0), $0 }' "$logs/unordered" |
  sort -t$'\t' -k1,1 -g -r | cut -f2- >"$logs/suites"

# One suite under valgrind; its outcome in $logs/<name>.status.
run_suite() {
  local name=$1 dir=$2 command=$3 suite_start=$SECONDS outcome=passed
  # shellcheck disable=SC2086  # the options are words
  (cd "$dir" && valgrind $DCU_VALGRIND_OPTIONS "$command") >"$logs/$name.log" 2>&1 || outcome=FAILED
  echo "$outcome" >"$logs/$name.status"
  if [ "$outcome" = passed ]; then
    printf '%-32s passed %5ss\n' "$name" $((SECONDS - suite_start))
  else
    printf '%-32s FAILED %5ss (see %s)\n' "$name" $((SECONDS - suite_start)) "$logs/$name.log"
  fi
}

jobs=${DCU_VALGRIND_JOBS:-$(nproc)}
running=0
start=$SECONDS
while IFS=$'\t' read -r name dir command; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
  run_suite "$name" "$dir" "$command" </dev/null &
  running=$((running + 1))
done <"$logs/suites"
wait
failed=()
while IFS=$'\t' read -r name _; do
  [ "$(cat "$logs/$name.status")" = passed ] || failed+=("$name")
done <"$logs/suites"
echo "== valgrind: $((SECONDS - start)) s"
if [ ${#failed[@]} -ne 0 ]; then
  echo "== failed under valgrind: ${failed[*]}"
  for name in "${failed[@]}"; do grep -E '==[0-9]+==|FAILED|Failure' "$logs/$name.log" | head -n 40; done
  exit 1
fi
echo "== all suites clean under valgrind"
