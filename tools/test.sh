#!/usr/bin/env bash
# Builds everything and runs every test. The window tests need an X server: without a display they run on a
# virtual one (Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
cd build
# Four tests a core: most of a test's time is waiting (for servers, timers, an X server, a browser), and at two a
# core the cores idled half the run. Tests that must not share a resource hold a RESOURCE_LOCK.
jobs=$(($(nproc) * 4))
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1920x1080x24" ctest -j"$jobs" --output-on-failure --timeout 120
fi
exec ctest -j"$jobs" --output-on-failure --timeout 120
