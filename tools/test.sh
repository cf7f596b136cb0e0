#!/usr/bin/env bash
# Builds everything and runs every test. The window tests need an X server: without a display they run on a
# virtual one (Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
cd build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1920x1080x24" ctest -j2 --output-on-failure --timeout 120
fi
exec ctest -j2 --output-on-failure --timeout 120
