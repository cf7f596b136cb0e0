#!/usr/bin/env bash
# The demo, from a fresh checkout: installs what is missing, builds, then runs tools/run-demo.sh.
#   tools/demo.sh [--web [ADDR:]PORT] [single|twin|turboprop]
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
exec bash tools/run-demo.sh "$@"
