#!/usr/bin/env bash
# The whole system on the bundled sample unit, inside a scratch directory:
# a private store, the unit's files under a temporary DCU_ROOT, and each
# program run as the unit would run it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

scripts/install-deps.sh
echo "== building"
dcu_build default
bin=build/default

work=$(mktemp -d /tmp/dcu-demo-XXXXXX)
trap 'dcu_stop_store; rm -rf "$work"' EXIT
mkdir -p "$work/store" "$work/unit"
dcu_start_store "$work/store"
export DCU_ROOT="$work/unit" DCU_REDIS_PORT="$DCU_STORE_PORT"
echo "== private store on 127.0.0.1:$DCU_STORE_PORT, unit files under $DCU_ROOT"

# Later stages append below.
