#!/usr/bin/env bash
# Checks the integrator's contract in schemas/: the AsyncAPI document with
# the AsyncAPI CLI (asyncapi validate), the JSON Schemas and the document's
# examples with schemas/validate.py (Debian's python3-jsonschema), then
# renders the document as a page, build/asyncapi/contract.html, and checks
# in headless Chromium that it shows every channel (scripts/render-contract.py,
# with the CLI's own AsyncAPI React component; a screenshot beside it).
#
# The CLI is installed with `npm ci` from schemas/package-lock.json (its
# exact version pinned there) into build/asyncapi/, once per lock file.
# Nothing downloads a browser (PUPPETEER_SKIP_DOWNLOAD), no install script
# runs, and the CLI's usage reports are off.
set -euo pipefail
cd "$(dirname "$0")/.."

# Debian's npm only where the machine has none: a nodejs that brings its own
# npm conflicts with Debian's npm package.
extra="python3-jsonschema python3-yaml"
command -v node >/dev/null || extra+=" nodejs"
command -v npm >/dev/null || extra+=" npm"
DCU_EXTRA_PACKAGES=$extra scripts/install-deps.sh

tools=build/asyncapi
mkdir -p "$tools"
if ! cmp -s schemas/package-lock.json "$tools/package-lock.json" || [ ! -x "$tools/node_modules/.bin/asyncapi" ]; then
  echo "== npm ci: the AsyncAPI CLI of schemas/package-lock.json (node $(node --version))"
  rm -rf "$tools/node_modules" "$tools/package-lock.json"
  cp schemas/package.json "$tools/package.json"
  cp schemas/package-lock.json "$tools/package-lock.json"
  (cd "$tools" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --ignore-scripts --no-audit --no-fund --loglevel=error) ||
    { rm -f "$tools/package-lock.json"; exit 1; }
fi

# Usage reports stay off: a settings file of our own saying so, and CI.
metrics=$PWD/$tools/analytics.json
echo '{"analyticsEnabled":"false","infoMessageShown":"true","userID":"dcu-build"}' >"$metrics"
echo "== asyncapi validate schemas/asyncapi.yaml ($("$tools/node_modules/.bin/asyncapi" --version 2>/dev/null | head -n 1))"
CI=true ASYNCAPI_METRICS_CONFIG_PATH=$metrics SCARF_ANALYTICS=false \
  "$tools/node_modules/.bin/asyncapi" validate schemas/asyncapi.yaml --fail-severity=warn

echo "== schemas/validate.py schemas: draft-07 schemas, the document's examples against them"
/usr/bin/python3 schemas/validate.py schemas >/dev/null

echo "== scripts/render-contract.py: the document as a page, every channel on it in headless Chromium"
/usr/bin/python3 scripts/render-contract.py --tools "$tools" --screenshot "$tools/contract.png"
echo "== contract checked"
