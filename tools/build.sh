#!/usr/bin/env bash
# Installs what is missing, then configures and builds everything into build/ (Ninja, two jobs). With
# SKYVANE_WERROR=1 (as CI runs it) any warning of our code fails the build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
  -DSKYVANE_WERROR="$([ "${SKYVANE_WERROR:-0}" = 1 ] && echo ON || echo OFF)" > /dev/null
cmake --build build -j2
