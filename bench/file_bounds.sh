#!/usr/bin/env bash
# Memory and time of dcuhost answering for data files of any size: the peak
# resident size (VmHWM) and the wall time of one content request and one
# billing profile request, for the sample unit's billing file (the baseline)
# and for a 300 MB billing-like file, 100 MB of empty lines, a 10 MB line as
# header and as record, and a 2 GB sparse file, each in place of that file.
#
#   bench/file_bounds.sh [PRESET]     (default: release)
#
# A private redis-server on a free loopback port, the sample unit written by
# metersim under a scratch DCU_ROOT in $TMPDIR; everything is stopped and
# removed at the end. The peak comes from dcu_peak_rss (tests/support), which
# runs dcuhost as its own child and reads wait4's ru_maxrss.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

preset=${1:-release}
dcu_build "$preset"
bin=build/$preset
peak_rss=$bin/tests/support/dcu_peak_rss

work=$(mktemp -d "${TMPDIR:-/tmp}/dcu-file-bounds-XXXXXX")
trap 'dcu_stop_store; rm -rf "$work"' EXIT
mkdir -p "$work/store" "$work/unit"
dcu_start_store "$work/store"
export DCU_ROOT="$work/unit" DCU_REDIS_PORT="$DCU_STORE_PORT"

# The sample unit, as the demo writes it.
"$bin/sim/metersim" --meters 7 --seed 2024 >/dev/null 2>"$work/metersim.err" ||
  { cat "$work/metersim.err" >&2; exit 1; }
serial=$(redis-cli -p "$DCU_STORE_PORT" hget Port0Met0SerNum SER_NUM)
billing=$DCU_ROOT/usr/tev/data/DlmsData/meter_id_0/billing
sample=$work/sample_billing
cp "$billing" "$sample"

# ask REQUEST...: one dcuhost request; sets peak_kb, wall_ms, status, entries.
ask() {
  local start end
  start=$(date +%s%N)
  "$peak_rss" "$work/peak" "$bin/host/dcuhost" --store "127.0.0.1:$DCU_STORE_PORT" "$@" >"$work/answer" 2>/dev/null
  end=$(date +%s%N)
  peak_kb=$(cat "$work/peak")
  wall_ms=$(( (end - start) / 1000000 ))
  status=$(sed -n 's/^"CMD_STATUS":"\(.*\)",$/\1/p' "$work/answer")
  entries=$(sed -n 's/^"NUM_ENTRIES":"\(.*\)",$/\1/p' "$work/answer")
}

# The files, each written in place of the billing file.
make_sample() { cp "$sample" "$billing"; }
make_billing_300mb() {
  # The sample's header, then its records again and again.
  head -n 1 "$sample" >"$billing"
  tail -n +2 "$sample" >"$work/block"
  while [ "$(stat -c %s "$work/block")" -lt $((1 << 20)) ]; do
    cat "$work/block" "$work/block" >"$work/block2"
    mv "$work/block2" "$work/block"
  done
  local size
  size=$(stat -c %s "$work/block")
  for _ in $(seq $(( (300 << 20) / size ))); do cat "$work/block"; done >>"$billing"
}
make_empty_lines() { head -c 100M /dev/zero | tr '\0' '\n' >"$billing"; }
make_long_header() {
  { head -c 10M /dev/zero | tr '\0' 'h'; printf '\t'; head -n 1 "$sample"
    tail -n +2 "$sample" | sed 's/^/x\t/'; } >"$billing"
}
make_long_record() {
  { head -n 1 "$sample"; head -c 10M /dev/zero | tr '\0' 'v'; printf '\n'; tail -n +2 "$sample"; } >"$billing"
}
make_sparse() { rm -f "$billing"; truncate -s 2G "$billing"; }

cases=(
  "sample unit's billing file|make_sample"
  "300 MB billing-like file|make_billing_300mb"
  "100 MB of empty lines|make_empty_lines"
  "one 10 MB line as header|make_long_header"
  "one 10 MB line as a record|make_long_record"
  "2 GB sparse file|make_sparse"
)
requests=(
  "content|content bill 1 $serial meter_id_0 billing V1"
  "profile|billing 1 $serial"
)

# The baseline: the higher peak of the two requests on the sample unit.
baseline=0
make_sample
for request in "${requests[@]}"; do
  # shellcheck disable=SC2086  # the request's words
  ask ${request#*|}
  if [ "$peak_kb" -gt "$baseline" ]; then baseline=$peak_kb; fi
done

printf '%-28s %-8s %9s %9s %9s %8s %-8s %8s %11s\n' \
  "file" "request" "peak kB" "baseline" "+kB" "wall ms" "status" "entries" "file bytes"
for entry in "${cases[@]}"; do
  name=${entry%%|*}
  "${entry##*|}"
  bytes=$(stat -c %s "$billing")
  for request in "${requests[@]}"; do
    # shellcheck disable=SC2086  # the request's words
    ask ${request#*|}
    printf '%-28s %-8s %9s %9s %9s %8s %-8s %8s %11s\n' "$name" "${request%%|*}" "$peak_kb" "$baseline" \
      "$((peak_kb - baseline))" "$wall_ms" "$status" "$entries" "$bytes"
  done
done
echo "(peak: dcuhost's VmHWM, one request a process; baseline: the higher peak of the two on the sample unit;"
echo " wall: the whole process, start, store connection and answer included)"
