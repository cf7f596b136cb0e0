#!/usr/bin/env bash
# The window tests under load: two busy processes keep both cores of a two-core machine occupied while the
# gui-labelled tests run RUNS times in a row (default 20); prints each run's failures and a count per test.
# Usage: tools/gui-stress.sh [RUNS] [BUILD_DIR]   (after tools/build.sh)
set -u
runs=${1:-20}
build=$(cd "${2:-build}" && pwd)
busy=()
cleanup() { for p in "${busy[@]}"; do kill "$p" 2> /dev/null; done; }
trap cleanup EXIT
for _ in 1 2; do
  sh -c 'while :; do :; done' &
  busy+=($!)
done
log=$(mktemp -d)
failed=0
for i in $(seq 1 "$runs"); do
  (cd "$build" && xvfb-run -a -s "-screen 0 1920x1080x24" ctest -L gui -j2 --timeout 180 --output-on-failure > "$log/run$i.txt" 2>&1)
  bad=$(grep -E "\*\*\*Failed|\*\*\*Timeout|\(Failed\)|\(Timeout\)" "$log/run$i.txt" | sed 's/^ *[0-9]* - //; s/ (.*//' | sort -u)
  if [ -n "$bad" ]; then
    failed=$((failed + 1))
    echo "run $i of $runs: FAILED: $(echo "$bad" | tr '\n' ' ')"
  else
    echo "run $i of $runs: passed ($(grep -o 'Total Test time (real) = *[0-9.]* sec' "$log/run$i.txt" | grep -o '[0-9.]* sec'))"
  fi
done
echo "gui-stress: $((runs - failed)) of $runs runs passed under two busy processes (logs in $log)"
grep -h -E "^ *[0-9]+ - .*\((Failed|Timeout)\)" "$log"/run*.txt | sed 's/^ *[0-9]* - //' | sort | uniq -c | sort -rn
[ "$failed" -eq 0 ]
