#!/usr/bin/env bash
# Builds everything, starts the substitute simulator server with its demo cruise and shows what the panel
# reads from it. The gauge windows are not built yet: until they are, this runs the panel's link check.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
runtime=$(mktemp -d /tmp/skyvane-demo-XXXXXX)
export SKYVANE_RUNTIME_DIR="$runtime"
build/bin/skyvane-sim --feed demo &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; rm -rf "$runtime"' EXIT
for _ in $(seq 50); do
  [ -S "$runtime/UIPCMAIN" ] && break
  sleep 0.1
done
build/bin/skyvane-gauges --check-link
