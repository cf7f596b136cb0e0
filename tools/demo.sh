#!/usr/bin/env bash
# Builds what is missing, starts skyvane-sim with its demo feed and the panel on a demo data directory of its
# own (build/demo-home: a config.ini and a window layout sized to the screen; the user's own data directory is
# never touched), and stops the server when the panel closes.
# Without a display the panel runs on a virtual screen (Xvfb) for a few seconds and screenshots are written.
#   tools/demo.sh [single|twin]
set -euo pipefail
cd "$(dirname "$0")/.."
aircraft="${1:-single}"
bash tools/build.sh
root=$(pwd)

home="$root/build/demo-home"
mkdir -p "$home"
engines=1
[ "$aircraft" = twin ] && engines=2
printf '[General]\nNbOfEngines=%s\n' "$engines" > "$home/config.ini"

runtime=$(mktemp -d /tmp/skyvane-demo-XXXXXX)
export SKYVANE_RUNTIME_DIR="$runtime"
export SKYVANE_HOME="$home"
build/bin/skyvane-sim --feed demo > /dev/null &
sim=$!
cleanup() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  rm -rf "$runtime"
}
trap cleanup EXIT
for _ in $(seq 50); do
  [ -S "$runtime/UIPCMAIN" ] && break
  sleep 0.1
done

screen_size() {
  # Width and height of the screen the panel will open on; a common size when nothing can tell.
  local dims
  dims=$(xdpyinfo 2>/dev/null | awk '/dimensions:/ {print $2; exit}') || true
  if [ -z "$dims" ]; then dims=1920x1080; fi
  echo "${dims%x*} ${dims#*x}"
}

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  read -r width height < <(screen_size)
  python3 tools/make-demo-layout.py "$home/ConfigWindows.cfg" "$width" "$height" "$aircraft"
  echo "demo: the panel is starting; close the \"Skyvane Gauges\" window to end the demo"
  build/bin/skyvane-gauges
  exit 0
fi

# No display: a few seconds on a virtual screen, then pictures of it.
shots="$root/build/demo-shots"
mkdir -p "$shots"
python3 tools/make-demo-layout.py "$home/ConfigWindows.cfg" 1920 1080 "$aircraft"
echo "demo: no display; running the panel on a virtual 1920x1080 screen for a few seconds"
xvfb-run -a -s "-screen 0 1920x1080x24" bash -c '
  build/bin/skyvane-gauges &
  panel=$!
  sleep 4
  import -window root "$1/panel-1.png"
  sleep 2
  import -window root "$1/panel-2.png"
  kill -TERM "$panel"
  wait "$panel"
' _ "$shots"
echo "demo: screenshots of the panel: $shots/panel-1.png and $shots/panel-2.png"
