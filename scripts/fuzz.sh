#!/usr/bin/env bash
# Runs each libFuzzer target for SECONDS (default 60) on a scratch copy of
# its committed seeds and prints what it did. A crash stops the script; the
# input that caused it is left in build/fuzz/findings/<target>/.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

seconds=${1:-60}
shift || true
scripts/install-deps.sh
cmake --preset fuzz -DDCU_WERROR=ON >/dev/null
cmake --build --preset fuzz >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=()
  for dir in tests/fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

# seeds: the committed inputs (each is run first, so every crash input kept
# as a seed is a regression test); new: the inputs it found that reach
# further, left in build/fuzz/findings/<target>/corpus.
printf '%-16s %8s %10s %8s %6s %6s\n' target seconds runs "runs/s" seeds new
for target in "${targets[@]}"; do
  binary=build/fuzz/tests/fuzz/${target}_fuzz
  work=build/fuzz/findings/$target
  rm -rf "$work" && mkdir -p "$work/corpus"
  # New inputs go to the scratch corpus (first directory); the seeds stay as committed.
  if ! "$binary" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/" \
      -timeout=10 -rss_limit_mb=2048 "$work/corpus" "tests/fuzz/corpus/$target" >"$work/log" 2>&1; then
    echo "$target: FAILED, see $work/log" >&2
    tail -n 30 "$work/log" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
  elapsed=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$work/log")
  elapsed=${elapsed:-$seconds}
  seeds=$(ls "tests/fuzz/corpus/$target" | wc -l)
  units=$(ls "$work/corpus" | wc -l)
  printf '%-16s %8s %10s %8s %6s %6s\n' "$target" "$elapsed" "$runs" "$(( runs / (elapsed > 0 ? elapsed : 1) ))" \
    "$seeds" "$units"
done
