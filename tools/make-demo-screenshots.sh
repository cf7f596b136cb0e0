#!/usr/bin/env bash
# Redraws the README's pictures of the demo panel (docs/demo/) from what is built: the demo run on a virtual
# screen, one picture per aircraft, trimmed to the windows and scaled to 1200 pixels wide.
set -euo pipefail
cd "$(dirname "$0")/.."
out=docs/demo
mkdir -p "$out"
work=$(mktemp -d /tmp/skyvane-shots-XXXXXX)
trap 'rm -rf "$work"' EXIT
for aircraft in single twin turboprop; do
  env -u DISPLAY -u WAYLAND_DISPLAY SKYVANE_DEMO_HOME="$work/home-$aircraft" SKYVANE_DEMO_SHOTS="$work/$aircraft" \
    bash tools/run-demo.sh "$aircraft" > /dev/null 2>&1
  convert "$work/$aircraft/panel-2.png" -trim +repage -resize 1200x "$out/$aircraft.png"
  echo "make-demo-screenshots: $out/$aircraft.png"
done
