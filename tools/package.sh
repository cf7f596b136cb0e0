#!/usr/bin/env bash
# Builds the Debian package build/skyvane_<version>_<arch>.deb (installing to /usr) from what tools/build.sh
# builds, and runs lintian on it.
#   tools/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
rm -f build/skyvane_*.deb  # an earlier version's package would be taken for this one
(cd build && cpack -G DEB > /dev/null)
deb=$(ls build/skyvane_*.deb)
echo "package: $deb"
if command -v lintian > /dev/null; then
  # An error fails the package; warnings are printed (there are none today).
  lintian --fail-on error "$deb" || { echo "package: lintian reports errors" >&2; exit 1; }
fi
