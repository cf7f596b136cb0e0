#!/usr/bin/env bash
# Builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
cd build
ctest -j2 --output-on-failure --timeout 120
