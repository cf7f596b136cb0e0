#!/usr/bin/env bash
# Redraws docs/gauges/: the 36 gauges at rest, 400 x 400, with the default settings (an empty data directory).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
home=$(mktemp -d /tmp/skyvane-pictures-XXXXXX)
trap 'rm -rf "$home"' EXIT
SKYVANE_HOME="$home" build/bin/skyvane-render --gauge all -o docs/gauges --size 400 --aa 4xhq
