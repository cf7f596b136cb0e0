#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks that a desktop user gets what they need there.
#   tools/check-install.sh BUILD_DIR
set -euo pipefail
build="$1"
prefix=$(mktemp -d /tmp/skyvane-install-XXXXXX)
home=$(mktemp -d /tmp/skyvane-install-home-XXXXXX)
trap 'rm -rf "$prefix" "$home"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null
for f in bin/skyvane bin/skyvane-gauges bin/skyvane-sim bin/skyvane-render bin/skyvane-web \
         share/applications/skyvane-gauges.desktop share/metainfo/io.github.skyvane.Skyvane.metainfo.xml \
         share/icons/hicolor/256x256/apps/skyvane-gauges.png share/skyvane/demo/single.ini \
         share/doc/skyvane/copyright; do
  [ -e "$prefix/$f" ] || { echo "check-install: $f is missing" >&2; exit 1; }
done
if command -v help2man > /dev/null && [ ! -e "$prefix/share/man/man1/skyvane-sim.1.gz" ]; then
  echo "check-install: share/man/man1/skyvane-sim.1.gz is missing" >&2
  exit 1
fi
for program in skyvane skyvane-gauges skyvane-sim skyvane-render skyvane-web; do
  help=$("$prefix/bin/$program" --help)
  [[ "$help" == *--version* ]] || { echo "check-install: $program --help does not list its options" >&2; exit 1; }
done
grep -q '^Exec=skyvane-gauges --log$' "$prefix/share/applications/skyvane-gauges.desktop"
grep -q '^Icon=skyvane-gauges$' "$prefix/share/applications/skyvane-gauges.desktop"
# The installed panel reads its settings from its data directory (for a user who cannot write the install
# prefix: ~/.config/skyvane, which the data directory rule's own tests cover).
printf '[IAS]\nunit=KPH\n' > "$home/config.ini"
out=$(SKYVANE_HOME="$home" "$prefix/bin/skyvane-gauges" --check-config 2>&1)
[[ "$out" == "[IAS] unit = KPH"* ]] || { echo "check-install: --check-config said: ${out%%$'\n'*}" >&2; exit 1; }
echo "check-install: everything in place under a fresh prefix"
