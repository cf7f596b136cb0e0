#!/usr/bin/env bash
# Runs the demo with what is built: `skyvane demo`, that is skyvane-sim flying its demo flight (already
# airborne) and the panel on a demo data directory of its own (the aircraft's config.ini and a window layout
# sized to the screen; the user's own data directory is never touched), on a runtime directory of its own (a
# server the user runs is not disturbed). The server stops when the panel closes.
# Without a display the panel runs on a virtual screen (Xvfb) for a few seconds and two screenshots are written.
# With --web, skyvane-web streams the panel to browsers too, listening where it is told (e.g. 0.0.0.0:8787).
#   tools/run-demo.sh [--web [ADDR:]PORT] [single|twin|turboprop]
# Environment: SKYVANE_BIN (the programs, default build/bin), SKYVANE_DEMO_HOME (the data directory the demo
# keeps its aircraft in, under demo/profiles/, default build/demo-home), SKYVANE_DEMO_SHOTS (where screenshots
# go, default build/demo-shots).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
args=(demo)
if [ "${1:-}" = "--web" ]; then
  args+=(--web "${2:?run-demo: --web needs [ADDR:]PORT, e.g. 0.0.0.0:8787}")
  shift 2
fi
aircraft="${1:-single}"
case "$aircraft" in
  single | twin | turboprop) args+=("$aircraft") ;;
  *) echo "run-demo: the aircraft is single, twin or turboprop, not \"$aircraft\"" >&2; exit 2 ;;
esac
bin="${SKYVANE_BIN:-$root/build/bin}"
shots="${SKYVANE_DEMO_SHOTS:-$root/build/demo-shots}"
export SKYVANE_HOME="${SKYVANE_DEMO_HOME:-$root/build/demo-home}"
mkdir -p "$SKYVANE_HOME"
runtime=$(mktemp -d /tmp/skyvane-demo-XXXXXX)
export SKYVANE_RUNTIME_DIR="$runtime"
trap 'rm -rf "$runtime"' EXIT

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "run-demo: the panel is starting; close the \"Skyvane Gauges\" window to end the demo"
  "$bin/skyvane" "${args[@]}"
  exit 0
fi

mkdir -p "$shots"
echo "run-demo: no display; running the panel on a virtual 1920x1080 screen for a few seconds"
xvfb-run -a -s "-screen 0 1920x1080x24" bash -c '
  bin="$1" shots="$2"
  shift 2
  "$bin/skyvane" "$@" &
  skyvane=$!
  sleep 5
  import -window root "$shots/panel-1.png"
  sleep 2
  import -window root "$shots/panel-2.png"
  kill -TERM "$skyvane"
  wait "$skyvane"
' _ "$bin" "$shots" "${args[@]}"
echo "run-demo: screenshots of the panel, 2 s apart: $shots/panel-1.png and $shots/panel-2.png"
