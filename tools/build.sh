#!/usr/bin/env bash
# Installs what is missing, then configures and builds everything into build/ (Ninja, two jobs).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" > /dev/null
cmake --build build -j2
