#!/usr/bin/env bash
# The Debian package as a user gets it: built from the build directory, installed with apt-get, used from /usr
# (a gauge drawn, user files kept out of /usr/bin, the front command's help, the desktop entry and metainfo
# valid, a man page found), then removed, leaving nothing of it under /usr. Installing needs root: skipped (77) otherwise, and where apt-get
# or cpack is missing. Skipped too when a skyvane package is installed already (it is not ours to remove).
#   install_test.sh BUILD_DIR
set -euo pipefail
build="$1"
skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "installing a package needs root"
command -v apt-get > /dev/null && command -v cpack > /dev/null || skip "no apt-get or cpack"
! dpkg -s skyvane > /dev/null 2>&1 || skip "a skyvane package is installed already"

work=$(mktemp -d /tmp/skyvane-package-XXXXXX)
cleanup() {
  dpkg -s skyvane > /dev/null 2>&1 && apt-get remove -y -q skyvane > /dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" > cpack.log) || fail "cpack: $(tail -5 "$work/cpack.log")"
deb=$(ls "$work"/skyvane_*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | grep -v '/$' > "$work/files"
apt-get install -y -q "$deb" > "$work/apt.log" 2>&1 || fail "apt-get install: $(tail -5 "$work/apt.log")"

export SKYVANE_HOME="$work/home" SKYVANE_RUNTIME_DIR="$work/run"
mkdir -p "$SKYVANE_HOME"
/usr/bin/skyvane-render --gauge TForm2 -o "$work/x.png" > /dev/null || fail "skyvane-render did not draw"
if command -v identify > /dev/null; then
  width=$(identify -format '%w' "$work/x.png") || fail "the gauge's picture is not a PNG"
  [ "$width" = 400 ] || fail "the gauge is $width px wide, not 400"
fi
# Without $SKYVANE_HOME, root's files go to its configuration folder, never into /usr/bin, which it can write.
mkdir -p "$work/root-home"
(unset SKYVANE_HOME XDG_CONFIG_HOME; HOME="$work/root-home" /usr/bin/skyvane-render --gauge TForm2 -o "$work/y.png" \
  > /dev/null) || fail "skyvane-render did not draw from the default data directory"
[ -e "$work/root-home/.config/skyvane/Quartz.ttf" ] || fail "the default data directory is not ~/.config/skyvane"
help=$(/usr/bin/skyvane --help)
for feed in demo flightgear xplane replay web; do
  [[ "$help" == *"$feed"* ]] || fail "skyvane --help does not list $feed"
done
desktop-file-validate /usr/share/applications/skyvane-gauges.desktop || fail "the desktop entry is not valid"
appstreamcli validate --no-net /usr/share/metainfo/io.github.skyvane.Skyvane.metainfo.xml > "$work/as.log" ||
  fail "the metainfo is not valid: $(cat "$work/as.log")"
man -w skyvane-sim > /dev/null 2>&1 || fail "man skyvane-sim finds no page"
for doc in README.md simulators.md SECURITY.md; do
  [ -s "/usr/share/doc/skyvane/$doc" ] || fail "/usr/share/doc/skyvane/$doc is missing"
done
page=$(zcat /usr/share/man/man1/skyvane.1.gz)
for section in '.SH FILES' '.SH "SEE ALSO"' '.SH FLIGHTGEAR' 'generic=socket,out,30,127.0.0.1,5500,udp,skyvane'; do
  [[ "$page" == *"$section"* ]] || fail "skyvane(1) lacks $section"
done
if zcat /usr/share/man/man1/skyvane-sim.1.gz | grep -A1 '^\.TP' | grep -q '^('; then
  fail "skyvane-sim(1) takes a line of its feed list for an option"
fi
zcat /usr/share/man/man1/skyvane-sim.1.gz | grep -q '^\.SH FEEDS' || fail "skyvane-sim(1) has no FEEDS section"
# Built with Debian's hardening flags: read-only relocations bound at start, fortified C library calls.
for p in skyvane skyvane-gauges skyvane-sim skyvane-web; do
  # Read whole first: grep -q would stop reading early, and pipefail would take readelf's broken pipe for a miss.
  segments=$(readelf -lW "/usr/bin/$p")
  dynamic=$(readelf -dW "/usr/bin/$p")
  symbols=$(readelf --dyn-syms -W "/usr/bin/$p")
  [[ "$segments" == *GNU_RELRO* ]] || fail "$p has no read-only relocations (relro)"
  [[ "$dynamic" == *BIND_NOW* || "$dynamic" == *"Flags: NOW"* ]] || fail "$p is not bound at start (bindnow)"
  [[ "$symbols" =~ __[a-z]+_chk@ ]] || fail "$p calls no fortified function"
done
# The protocol file shipped is the one --install-protocol writes for the built-in mapping, byte for byte.
(cd "$work" && unset SKYVANE_HOME && HOME="$work/root-home" /usr/bin/skyvane-fgprotocol) > "$work/skyvane.xml" ||
  fail "skyvane-fgprotocol failed"
cmp -s "$work/skyvane.xml" /usr/share/skyvane/flightgear/Protocol/skyvane.xml ||
  fail "the shipped protocol file differs from what --install-protocol writes"
versions=$(for p in skyvane skyvane-gauges skyvane-sim skyvane-render skyvane-web skyvane-fgprotocol; do
  QT_QPA_PLATFORM=offscreen "/usr/bin/$p" --version | sed 's/^[^ ]* //'; done | sort -u)
[ "$(echo "$versions" | wc -l)" = 1 ] || fail "the programs give different versions: $versions"

apt-get remove -y -q skyvane > "$work/apt.log" 2>&1 || fail "apt-get remove: $(tail -5 "$work/apt.log")"
left=$(while read -r f; do [ -e "$f" ] && echo "$f"; done < "$work/files" || true)
[ -z "$left" ] || fail "left under /usr after removal: $left"
echo "package: installed, used and removed cleanly ($(basename "$deb"), version $versions)"
