#!/usr/bin/env bash
# The live check with a real FlightGear (opt-in, not part of CI: it installs FlightGear, about 1.8 GB): flies a
# C172P under Xvfb with the shipped protocol file, bridges it with skyvane-sim and compares what the panel reads
# through the link (skyvane-gauges --check-link) with FlightGear's own property values (its telnet property
# server): airspeed, altitude, heading and RPM, each within the instrument's resolution. Then the knobs: five
# turns from a browser's connection to skyvane-web --allow-control reach FlightGear's five properties through
# the protocol's input half, and a setting changed inside FlightGear afterwards is not overwritten.
#
#   tools/flightgear-check.sh                 the check (build/ must be configured; the programs are built)
#   tools/flightgear-check.sh --record FILE   also records 10 s of FlightGear's packets into FILE (the format of
#                                             tests/data/flightgear-c172p.rec: 32-bit little-endian length, packet)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
record=""
if [ "${1:-}" = "--record" ]; then
  record=$(realpath -m "$2")
fi

if ! command -v /usr/games/fgfs > /dev/null; then
  sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q flightgear
fi
cmake --build build -j2 --target skyvane-sim skyvane-gauges skyvane-web skyvane_flightgear_protocol > /dev/null

fg_root=${FG_ROOT:-/usr/share/games/flightgear}
sudo=()
[ -w "$fg_root/Protocol" ] || sudo=(sudo)
"${sudo[@]}" cp build/share/flightgear/Protocol/skyvane.xml "$fg_root/Protocol/skyvane.xml"

work=$(mktemp -d /tmp/skyvane-fgcheck-XXXXXX)
export SKYVANE_RUNTIME_DIR=$work/run SKYVANE_HOME=$work/home
mkdir -p "$SKYVANE_HOME"
pids=()
# FlightGear runs in a session of its own (xvfb-run, Xvfb, dbus and fgfs): the whole group is ended.
fg_group=""
cleanup() {
  [ -n "$fg_group" ] && kill -- "-$fg_group" 2> /dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  wait 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

port=5500
telnet=5401
if python3 -c "import socket; socket.create_connection(('127.0.0.1', $telnet), timeout=2)" 2> /dev/null; then
  echo "flightgear-check: something already answers on port $telnet (another FlightGear?): stop it first"
  exit 1
fi
build/bin/skyvane-sim --feed "flightgear:$port" > "$work/sim.out" 2> "$work/sim.err" &
pids+=($!)

# Out to skyvane-sim on PORT; in from it (the knobs) on PORT+1.
generic=(--generic=socket,out,30,127.0.0.1,$port,udp,skyvane --generic=socket,in,30,127.0.0.1,$((port + 1)),udp,skyvane)
if [ -n "$record" ]; then
  generic+=(--generic=socket,out,30,127.0.0.1,$((port + 2)),udp,skyvane)
  python3 - "$((port + 2))" "$record" > "$work/record.out" 2>&1 << 'EOF' &
# Waits until the aircraft flies (airspeed above 50 kt in the record's first value) and 20 s more, records 10 s,
# then keeps the port open: FlightGear stops its output channel when the port goes away.
import socket, struct, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", int(sys.argv[1])))
while struct.unpack(">f", s.recvfrom(70000)[0][:4])[0] < 50:
    pass
start = time.time()
while time.time() - start < 20:
    s.recvfrom(70000)
packets, start = [], time.time()
while time.time() - start < 10:
    packets.append(s.recvfrom(70000)[0])
with open(sys.argv[2], "wb") as f:
    for p in packets:
        f.write(struct.pack("<I", len(p)) + p)
print("recorded %d packets" % len(packets), flush=True)
while True:
    s.recvfrom(70000)
EOF
  pids+=($!)
fi

# Mesa's llvmpipe on this FlightGear crashes in its shader compiler with wide vectors and the full shader set;
# narrow vectors and the plain renderer keep it flying.
LP_NATIVE_VECTOR_WIDTH=128 setsid xvfb-run -a -s "-screen 0 1024x768x24" dbus-run-session -- /usr/games/fgfs \
  --aircraft=c172p --in-air --altitude=3000 --vc=100 --disable-sound --disable-terrasync --disable-ai-traffic \
  --disable-real-weather-fetch --geometry=320x240 --disable-clouds \
  --prop:/sim/rendering/shaders/custom-settings=true --prop:/sim/rendering/shaders/quality-level=0 \
  --prop:/sim/rendering/multithreading-mode=SingleThreaded \
  --telnet=$telnet "${generic[@]}" > "$work/fgfs.log" 2>&1 &
fg_group=$!

# FlightGear's property values through its telnet server, one per line. Its main loop can stall for seconds
# under Xvfb: a slow answer is waited for.
fg_get() {
  python3 - "$telnet" "$@" << 'EOF'
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=60)
f = s.makefile("rw", newline="")
f.write("data\r\n")
for path in sys.argv[2:]:
    f.write("get %s\r\n" % path)
    f.flush()
    print(f.readline().strip())
f.write("quit\r\n")
f.flush()
EOF
}

echo "flightgear-check: waiting for FlightGear to fly (a minute or two)..."
deadline=$((SECONDS + 420))
until fg_get /instrumentation/airspeed-indicator/indicated-speed-kt 2> /dev/null |
      awk '{ exit !($1 > 50) }'; do
  if [ $SECONDS -gt $deadline ] || ! kill -0 "$fg_group" 2> /dev/null; then
    echo "flightgear-check: FlightGear did not come up; the end of its log:"
    grep -v "PNG lib\|mipmapping" "$work/fgfs.log" | tail -15
    exit 1
  fi
  sleep 3
done
sleep 20
if [ -n "$record" ]; then
  until grep -q recorded "$work/record.out"; do sleep 1; done
  cat "$work/record.out"
fi

# Each quantity: FlightGear's property, the panel's row, and the instrument's resolution. FlightGear is read
# before and after the panel; the record the panel shows left FlightGear at most one such interval before (it
# sends a few records a second under Xvfb), so the panel's value must lie within the two reads, widened by the
# resolution and by the change between the reads.
checks=(
  "airspeed /instrumentation/airspeed-indicator/indicated-speed-kt airspeed 1"
  "altitude /instrumentation/altimeter/indicated-altitude-ft altitude 10"
  "heading /instrumentation/heading-indicator/indicated-heading-deg gyroHeading 1"
  "rpm /engines/engine[0]/rpm rpm 10"
)
status=0
for round in 1 2 3; do
  paths=()
  for c in "${checks[@]}"; do read -r _ path _ _ <<< "$c"; paths+=("$path"); done
  before=($(fg_get "${paths[@]}"))
  link=$(build/bin/skyvane-gauges --check-link)
  after=($(fg_get "${paths[@]}"))
  i=0
  for c in "${checks[@]}"; do
    read -r label path row tolerance <<< "$c"
    if [ "$row" = rpm ]; then
      panel=$(awk '$2 == "eng1.rpmFraction" { f = $3 } $2 == "eng1.rpmScaler" { s = $3 }
                   END { printf "%.3f", f * s }' <<< "$link")
    else
      panel=$(awk -v r="$row" '$2 == r { print $3 }' <<< "$link")
    fi
    verdict=$(awk -v p="$panel" -v a="${before[$i]}" -v b="${after[$i]}" -v t="$tolerance" -v h="$row" 'BEGIN {
      d = a > b ? a - b : b - a
      if (h == "gyroHeading" && d > 180) d = 360 - d
      lo = (a < b ? a : b) - t - d; hi = (a > b ? a : b) + t + d
      ok = p >= lo && p <= hi
      if (!ok && h == "gyroHeading") { ok = (p + 360 >= lo && p + 360 <= hi) || (p - 360 >= lo && p - 360 <= hi) }
      print ok ? "ok" : "MISMATCH" }')
    printf "round %d  %-9s FlightGear %10.3f .. %10.3f   panel %10.3f   (resolution %s)  %s\n" \
      "$round" "$label" "${before[$i]}" "${after[$i]}" "$panel" "$tolerance" "$verdict"
    [ "$verdict" = ok ] || status=1
    i=$((i + 1))
  done
  sleep 2
done
# FlightGear's property set through its telnet server.
fg_set() {
  python3 - "$telnet" "$1" "$2" << 'EOF'
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=60)
f = s.makefile("rw", newline="")
f.write("data\r\nset %s %s\r\nquit\r\n" % (sys.argv[2], sys.argv[3]))
f.flush()
f.read()
EOF
}

# The knobs, turned as a browser turns them: skyvane-web with --allow-control, its code, five turns.
knobs=(
  "TForm3 3 /instrumentation/altimeter/setting-hpa altimeterSetting"
  "TForm5 10 /autopilot/settings/heading-bug-deg headingBug"
  "TForm8 15 /instrumentation/nav[0]/radials/selected-deg vor1Course"
  "TForm9 -20 /instrumentation/nav[1]/radials/selected-deg vor2Course"
  "TForm10 7 /instrumentation/adf/rotation-deg adfCard"
)
link=$(build/bin/skyvane-gauges --check-link)
build/bin/skyvane-web --listen 127.0.0.1:0 --allow-control > "$work/web.out" 2> "$work/web.err" &
pids+=($!)
until grep -q "knobs' code" "$work/web.out"; do sleep 0.2; done
web_port=$(sed -n 's|.*open http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/web.out" | head -1)
code=$(sed -n "s/.*knobs' code: \([0-9]\{6\}\).*/\1/p" "$work/web.out")
turns=()
for k in "${knobs[@]}"; do read -r gauge notches _ _ <<< "$k"; turns+=("$gauge" "$notches"); done
python3 - "$web_port" "$code" "${turns[@]}" << 'EOF'
# A WebSocket client of the fewest words: the upgrade, the code, the turns, each a masked text frame.
import base64, os, socket, sys, time
port, code, turns = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
s = socket.create_connection(("127.0.0.1", port), timeout=10)
key = base64.b64encode(os.urandom(16)).decode()
s.sendall(("GET /ws HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n\r\n" % (port, key)).encode())
head = b""
while b"\r\n\r\n" not in head:
    head += s.recv(4096)
assert b" 101 " in head.split(b"\r\n")[0], head
def send(text):
    data, mask = text.encode(), os.urandom(4)
    s.sendall(bytes([0x81, 0x80 | len(data)]) + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data)))
send('{"control":"%s"}' % code)
said, deadline = b"", time.time() + 5
while b"granted" not in said and time.time() < deadline:
    said += s.recv(4096)
assert b"granted" in said, said
for gauge, notches in zip(turns[::2], turns[1::2]):
    send('{"knob":"%s","notches":%s}' % (gauge, notches))
    time.sleep(0.1)
time.sleep(1)
EOF
sleep 3
for k in "${knobs[@]}"; do
  read -r gauge notches path row <<< "$k"
  was=$(awk -v r="$row" '$2 == r { print $3 }' <<< "$link")
  now=$(fg_get "$path")
  verdict=$(awk -v w="$was" -v n="$notches" -v f="$now" -v r="$row" 'BEGIN {
    want = w + n; if (r != "altimeterSetting") { want = want % 360; if (want < 0) want += 360 }
    d = f - want; if (d < 0) d = -d; if (r != "altimeterSetting" && d > 180) d = 360 - d
    print d <= 0.6 ? "ok" : "MISMATCH" }')
  printf "knob %-17s %+4d notches: panel read %8.2f, FlightGear now %8.2f  %s\n" "$row" "$notches" "$was" "$now" "$verdict"
  [ "$verdict" = ok ] || status=1
done
# A setting changed inside FlightGear stays: the bridge sends only what the panel's pilot changed.
fg_set /autopilot/settings/heading-bug-deg 123
sleep 3
kept=$(fg_get /autopilot/settings/heading-bug-deg)
seen=$(build/bin/skyvane-gauges --check-link | awk '$2 == "headingBug" { print $3 }')
verdict=$(awk -v k="$kept" -v p="$seen" 'BEGIN { print (k > 122.5 && k < 123.5 && p > 122 && p < 124) ? "ok" : "MISMATCH" }')
printf "heading bug set inside FlightGear to 123: FlightGear keeps %s, the panel reads %s  %s\n" "$kept" "$seen" "$verdict"
[ "$verdict" = ok ] || status=1

echo "skyvane-sim said:"
sed 's/^/  /' "$work/sim.out" "$work/sim.err"
if [ $status -eq 0 ]; then
  echo "flightgear-check: PASS"
else
  echo "flightgear-check: FAIL"
fi
exit $status
