#!/usr/bin/env bash
# Sanitizer runs, each in a build of its own:
#   address  every program and test built with AddressSanitizer and UndefinedBehaviorSanitizer (build-address/),
#            and every test run (the window tests on Xvfb);
#   thread   the web server, its streamer and the simulator built with ThreadSanitizer (build-thread/), and the
#            web tests run: the web server draws on a worker thread beside the thread that serves the browsers.
# A report fails the run. Usage: tools/sanitize.sh address|thread
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:?usage: tools/sanitize.sh address|thread}"
here="$(pwd)"
out="build-$kind"
bash tools/install-deps.sh
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSKYVANE_SANITIZE="$kind" -DSKYVANE_WERROR=ON \
  > /dev/null
ctest_args=(-j2 --output-on-failure --timeout 300)
case "$kind" in
  address)
    # Leaks are not looked for: the graphics driver and Qt's plugins are unloaded at exit and leave blocks
    # LeakSanitizer cannot name, in every program that draws. The build runs programs too (the icon is drawn
    # by skyvane-render). The race of eight servers runs 20 rounds: each start is slower here.
    export ASAN_OPTIONS="detect_leaks=0:halt_on_error=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export SKYVANE_RACE_ROUNDS=20
    cmake --build "$out" -j2
    # The package and a live FlightGear are tested from the ordinary build.
    ctest_args+=(-LE "package|flightgear")
    ;;
  thread)
    cmake --build "$out" -j2 --target web_streamer_test web_stream_test web_protocol_test skyvane-web skyvane-sim
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$here/tools/sanitizers/tsan.supp"
    ctest_args+=(-R "^(WebStream|WebStreamer|WebProtocol|WebAddresses|LogRation|ChangeRation)\.")
    ;;
  *)
    echo "tools/sanitize.sh: the kind is address or thread, not $kind" >&2
    exit 2
    ;;
esac
cd "$out"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1920x1080x24" ctest "${ctest_args[@]}"
fi
exec ctest "${ctest_args[@]}"
