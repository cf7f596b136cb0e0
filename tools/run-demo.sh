#!/usr/bin/env bash
# Runs the demo with what is built: skyvane-sim flying its demo flight (already airborne), and the panel on a
# demo data directory of its own (a config.ini for the aircraft and a window layout sized to the screen; the
# user's own data directory is never touched). The server stops when the panel closes.
# Without a display the panel runs on a virtual screen (Xvfb) for a few seconds and two screenshots are written.
# With --web, skyvane-web streams the panel to browsers too, listening where it is told (e.g. 0.0.0.0:8787).
#   tools/run-demo.sh [--web [ADDR:]PORT] [single|twin|turboprop]
# Environment: SKYVANE_BIN (the programs, default build/bin), SKYVANE_DEMO_HOME (the demo data directory,
# default build/demo-home), SKYVANE_DEMO_SHOTS (where screenshots go, default build/demo-shots).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
web=""
if [ "${1:-}" = "--web" ]; then
  web="${2:?run-demo: --web needs [ADDR:]PORT, e.g. 0.0.0.0:8787}"
  shift 2
fi
aircraft="${1:-single}"
case "$aircraft" in
  single | twin | turboprop) ;;
  *) echo "run-demo: the aircraft is single, twin or turboprop, not \"$aircraft\"" >&2; exit 2 ;;
esac
bin="${SKYVANE_BIN:-$root/build/bin}"
home="${SKYVANE_DEMO_HOME:-$root/build/demo-home}"
shots="${SKYVANE_DEMO_SHOTS:-$root/build/demo-shots}"
mkdir -p "$home"
cp "$root/share/demo/$aircraft.ini" "$home/config.ini"

runtime=$(mktemp -d /tmp/skyvane-demo-XXXXXX)
export SKYVANE_RUNTIME_DIR="$runtime"
export SKYVANE_HOME="$home"
# Seventeen seconds into the take-off roll: lifting off and climbing away, so the needles move at once.
"$bin/skyvane-sim" --feed demo --aircraft "$aircraft" --start-at 167 > /dev/null &
sim=$!
web_pid=""
cleanup() {
  kill $web_pid "$sim" 2>/dev/null || true
  wait $web_pid "$sim" 2>/dev/null || true
  rm -rf "$runtime"
}
trap cleanup EXIT
for _ in $(seq 50); do
  [ -S "$runtime/UIPCMAIN" ] && break
  sleep 0.1
done

if [ -n "$web" ]; then
  "$bin/skyvane-web" --listen "$web" &
  web_pid=$!
fi

layout_for() {  # width height
  # The demo's own arrangement, made for this screen the first time; after that, what the user left at the
  # last close comes back (a new one only for another aircraft).
  if [ -f "$home/ConfigWindows.cfg" ] && [ "$(cat "$home/aircraft" 2>/dev/null)" = "$aircraft" ]; then
    return
  fi
  python3 "$root/tools/make-demo-layout.py" "$home/ConfigWindows.cfg" "$1" "$2" "$aircraft"
  echo "$aircraft" > "$home/aircraft"
}

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  dims=$(xdpyinfo 2>/dev/null | awk '/dimensions:/ {print $2; exit}') || true
  [ -n "$dims" ] || dims=1920x1080
  layout_for "${dims%x*}" "${dims#*x}"
  echo "run-demo: the panel is starting; close the \"Skyvane Gauges\" window to end the demo"
  "$bin/skyvane-gauges"
  exit 0
fi

mkdir -p "$shots"
layout_for 1920 1080
echo "run-demo: no display; running the panel on a virtual 1920x1080 screen for a few seconds"
xvfb-run -a -s "-screen 0 1920x1080x24" bash -c '
  "$1/skyvane-gauges" &
  panel=$!
  sleep 5
  import -window root "$2/panel-1.png"
  sleep 2
  import -window root "$2/panel-2.png"
  kill -TERM "$panel"
  wait "$panel"
' _ "$bin" "$shots"
echo "run-demo: screenshots of the panel, 2 s apart: $shots/panel-1.png and $shots/panel-2.png"
