#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer (in build-fuzz/)
# and runs every target for SECONDS each (default 60), starting from its committed seeds. The corpus a run grows
# stays in build-fuzz/corpus/; a finding is written to build-fuzz/findings/ and fails the run.
# Usage: tools/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
bash tools/install-deps.sh
out=build-fuzz
cmake -S . -B "$out" -G Ninja -DSKYVANE_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  > /dev/null
cmake --build "$out" -j2
mkdir -p "$out/corpus" "$out/findings" "$out/logs"

failed=()
summary=()
for source in tests/fuzz/*_fuzz.cpp; do
  name="$(basename "$source" .cpp)"
  corpus="$out/corpus/$name"
  mkdir -p "$corpus"
  options=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1 -artifact_prefix="$out/findings/$name-")
  if [ -f "tests/fuzz/$name.dict" ]; then
    options+=(-dict="tests/fuzz/$name.dict")
  fi
  echo "fuzz: $name for ${seconds}s"
  status=0
  "$out/bin/$name" "${options[@]}" "$corpus" "tests/fuzz/corpus/$name" > "$out/logs/$name.log" 2>&1 || status=$?
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/logs/$name.log")"
  verdict="$([ "$status" -eq 0 ] && echo ok || echo FINDING)"
  summary+=("$(printf '%-26s %12s execs  %s' "$name" "${execs:-?}" "$verdict")")
  if [ "$status" -ne 0 ]; then
    failed+=("$name")
    tail -n 40 "$out/logs/$name.log"
  fi
done

printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: findings in ${failed[*]} (inputs in $out/findings/, logs in $out/logs/)" >&2
  exit 1
fi
