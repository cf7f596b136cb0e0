#!/usr/bin/python3
"""On demand, not a test: what the browser panel costs the device that draws it. Headless Chromium with
SwiftShader WebGL opens skyvane-web's page of all 36 gauges against skyvane-sim's demo climb and measures
- the way from a value's change in the simulator to its picture drawn in the page: a second WebSocket of the
  same page turns the altimeter's knob (the altitude itself held still, so that the knob's setting is all that
  moves on that tile) and the time from the turn to the tile's next picture is taken, in the page's own clock.
  A turn is written in the panel's next tick and read back in the same batch, the way any simulator change is
  read, so the figure includes the wait for the tick (0 to 30 ms);
- how often the moving tiles are drawn against the tick rate (33 a second);
- the page's own cost per display frame with every tile it drew, at 212 and at 400 px a tile;
each in five ways in one run: every changed tile drawn whole, a call a batch, the WebGL canvas drawn into the
tile's canvas; whole, the batches of one state that follow one another drawn by one call, the picture read back
from the WebGL canvas; drawn only where its gauge changed, skipping the nodes whose pixels lie outside the part
drawn again, a call a batch, the canvas drawn into the tile; that with one call for such batches; and that with
the part read back (the page's way). The ways take turns, BENCH_ROUNDS times (default 3), so that a load which
comes and goes meets each of them.

Usage: web_page_bench.py SKYVANE_SIM SKYVANE_WEB [TURNS]   (from the build: bin/skyvane-sim bin/skyvane-web)
BENCH_FEED, when set, replaces skyvane-sim's options (default: the demo climb with the altitude held), e.g.
BENCH_FEED="--feed none --set altimeterSetting=1013 --set altitude=4350" for a panel where nothing else moves.
"""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "browser"))
from web_page_test import Page, close_all, knob_code, missing_browser, private_home, start  # noqa: E402

ALL = [f"TForm{n}" for n in range(2, 38)]
# What skyvane-sim serves: the demo climb, its altitude held so that only the knob moves the altimeter's tile.
FEED = os.environ.get("BENCH_FEED", "--feed demo --start-at 300 --set altitude=4350").split()

# Runs in the page: opens a second WebSocket, gives the knobs' code, then turns the altimeter's knob `turns`
# times at 150 to 250 ms (under the 20 a second a browser may turn) and takes, for each turn, the time until
# the altimeter's tile shows its next picture. Answers the latencies in ms, or a reason.
TURN_AND_TIME = """
const [code, turns, done] = arguments;
const socket = new WebSocket(`ws://${location.host}/ws`);
const said = [];
socket.onmessage = (e) => { if (typeof e.data === 'string') said.push(e.data); };
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const now = () => performance.timeOrigin + performance.now();
(async () => {
  await new Promise((r) => { socket.onopen = r; });
  // A WebSocket that watches nothing is closed after 10 s: this one watches the altimeter too.
  socket.send(JSON.stringify({ subscribe: [{ gauge: 'TForm3', size: 64 }], draw: 'scene' }));
  socket.send(JSON.stringify({ control: code }));
  for (let i = 0; i < 50 && !said.some((s) => s.includes('granted')); i++) await sleep(100);
  if (!said.some((s) => s.includes('granted'))) return done('no control granted: ' + said.join(' '));
  // When the altimeter's changes came into the page (the tile's gauge index is 1; a change is kind 3).
  const came = [];
  const take = window.takeScene;
  window.takeScene = (data) => {
    const head = new DataView(data);
    if (data.byteLength > 1 && head.getUint8(0) === 3 && head.getUint8(1) === 1) came.push(now());
    take(data);
  };
  const latencies = [];
  for (let i = 0; i < turns; i++) {
    await sleep(150 + Math.random() * 100);
    const drawn = window.skyvane.drawnAt.TForm3 || [];
    const last = drawn.length ? drawn[drawn.length - 1] : 0;
    const sent = now();
    socket.send(JSON.stringify({ knob: 'TForm3', notches: i % 2 ? -1 : 1 }));
    for (;;) {
      await sleep(1);
      const times = window.skyvane.drawnAt.TForm3 || [];
      const next = times.find((t) => t > sent && t > last);
      if (next) {
        const arrived = came.find((t) => t > sent);
        latencies.push([next - sent, arrived ? arrived - sent : next - sent]);
        break;
      }
      if (now() - sent > 2000) return done(`turn ${i} was never drawn: ${said.slice(-3)}`);
    }
  }
  socket.close();
  window.takeScene = take;
  done(latencies);
})();
"""


# The ways of drawing compared: (drawn in parts skipping the nodes outside them, one call for consecutive
# batches of one state, what it is called). The last is the page's own.
WAYS = ((False, False, False, "whole, a call a batch, the canvas drawn into the tile"),
        (False, True, True, "whole, one call for batches of one state, read back"),
        (True, False, False, "in parts, nodes outside skipped, a call a batch, the canvas drawn into the tile"),
        (True, True, False, "in parts, nodes outside skipped, one call for batches of one state, the canvas drawn "
                            "into the tile"),
        (True, True, True, "in parts, nodes outside skipped, one call for batches of one state, read back (the "
                           "page's way)"))
ROUNDS = int(os.environ.get("BENCH_ROUNDS", "3"))  # the ways take turns this often: a load that comes and goes
SECONDS = 4                                         # meets each of them


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(p / 100 * len(ordered)))]


def counters(page):
    """The page's running totals the figures are made of, by name."""
    state = page.state()
    out = {f"frame {k}": state["frameCost"][k] for k in ("frames", "tiles", "ms")}
    out.update({f"picture {k}": state["pageCost"][k] for k in ("frames", "pixels", "tilePixels", "calls")})
    out.update({f"drawn {g}": state["framesByGauge"].get(g, 0) for g in ALL})
    out.update({f"changed {g}": state["changesByGauge"].get(g, 0) for g in ALL})
    return out


def watch(page, totals):
    """Adds what the page did in SECONDS of the flight to `totals`."""
    before = counters(page)
    time.sleep(SECONDS)
    after = counters(page)
    for k, v in after.items():
        totals[k] = totals.get(k, 0) + v - before[k]
    totals["seconds"] = totals.get("seconds", 0) + SECONDS


def report_moving(size, how, t):
    seconds = t["seconds"]
    rates = sorted(r for r in (t[f"drawn {g}"] / seconds for g in ALL) if r >= 1)
    changes = sum(t[f"changed {g}"] for g in ALL)
    drawn = sum(t[f"drawn {g}"] for g in ALL)
    frames = max(t["frame frames"], 1)
    if not rates:
        print(f"tiles of {size} px drawn {how}: none moving")
        return
    print(f"tiles of {size} px drawn {how}, {seconds} s: {len(rates)} of 36 moving, drawn {rates[0]:.1f} to "
          f"{rates[-1]:.1f} a second (median {percentile(rates, 50):.1f}; the tick gives 33.3), "
          f"{100 * drawn / max(changes, 1):.0f} % of the changes that came (a display frame draws a tile once, "
          f"whatever number of its changes came since); the page's cost {t['frame ms'] / frames:.1f} ms a display "
          f"frame ({t['frame tiles'] / frames:.1f} tiles), {t['frame ms'] / max(t['frame tiles'], 1):.2f} ms a tile; "
          f"{t['picture calls'] / max(t['picture frames'], 1):.1f} draw calls a picture; "
          f"{100 * t['picture pixels'] / max(t['picture tilePixels'], 1):.0f} % of the pictures' pixels drawn")


def turn_and_time(page, code, turns):
    """[time to the picture, time to the change's arrival] in ms for each of `turns` knob turns, or a reason."""
    page.driver.set_script_timeout(turns * 3 + 30)
    return page.driver.execute_async_script(TURN_AND_TIME, code, turns)


def report_latency(how, latencies):
    drawn = [t[0] for t in latencies]
    came = [t[1] for t in latencies]
    print(f"drawn {how}: a change in the simulator to its picture drawn in the page ({len(latencies)} knob turns, "
          f"{' '.join(FEED)}, 36 tiles): p50 {percentile(drawn, 50):.1f} ms, "
          f"p99 {percentile(drawn, 99):.1f} ms, max {max(drawn):.1f} ms; of which the change's way into the page: "
          f"p50 {percentile(came, 50):.1f} ms, p99 {percentile(came, 99):.1f} ms")


def draw_all(page):
    return page.wait(lambda: all(page.state().get("framesByGauge", {}).get(g) for g in ALL), 60)


def compare_ways(page, size, code, turns):
    """Each way in turn, ROUNDS times over; then the figures of each. False when a knob turn failed."""
    moving = {how: {} for *_, how in WAYS}
    latencies = {how: [] for *_, how in WAYS}
    for _ in range(ROUNDS):
        for partial, merge, read, how in WAYS:
            page.driver.execute_script("drawing.partial = drawing.skipOutside = arguments[0];"
                                       "drawing.merge = arguments[1]; drawing.readParts = arguments[2];",
                                       partial, merge, read)
            time.sleep(1)
            watch(page, moving[how])
            if code:
                found = turn_and_time(page, code, max(1, turns // ROUNDS))
                if isinstance(found, str):
                    print(f"latency not measured: {found}")
                    return False
                latencies[how] += found
    for *_, how in WAYS:
        report_moving(size, how, moving[how])
        if code:
            report_latency(how, latencies[how])
    return True


def whole_frames(page, size):
    """A display frame in which every tile changed: all 36 drawn whole at once, five times, the old way (a call a
    batch, the canvas drawn into the tile) and the page's, taking turns twice."""
    for merge in (False, True, False, True):
        whole = page.driver.execute_script(
            "drawing.partial = false; drawing.merge = drawing.readParts = arguments[0];"
            "for (const t of arrangement.tiles) dirty.add(t.gauge); drawDirty();"  # the calls made
            "const started = performance.now();"
            "for (let i = 0; i < 5; i++) { for (const t of arrangement.tiles) dirty.add(t.gauge); drawDirty(); }"
            "return (performance.now() - started) / 5;", merge)
        print(f"tiles of {size} px: a display frame with all 36 tiles changed costs the page {whole:.0f} ms "
              + ("(the page's way)" if merge else "(a call a batch, the canvas drawn into the tile)"))


def main():
    sim_path, web_path = sys.argv[1:3]
    turns = int(sys.argv[3]) if len(sys.argv) > 3 else 60
    if missing := missing_browser():
        print(missing)
        return 1
    work, env = private_home("skyvane-page-bench-")
    sim, _ = start([sim_path, *FEED], "listening on", env)
    web, line = start([web_path, "--listen", "127.0.0.1:0", "--allow-control"], "open http://", env)
    url = line.split("open ", 1)[1].strip()
    code = knob_code(web)
    pages = []
    try:
        for side, window in ((212, "1400,1500"), (400, "2560,2700")):
            page = Page(url + "?gauges=" + ",".join(ALL) + "&cols=6", window=window)
            pages.append(page)
            if not draw_all(page):
                print(f"the page did not draw every gauge: {page.state()}")
                return 1
            size = page.driver.execute_script("return document.querySelector('.tile canvas').width")
            if not compare_ways(page, size, code if side == 212 else None, turns):
                return 1
            whole_frames(page, size)
            page.quit()
            pages.remove(page)
        return 0
    finally:
        close_all(pages, [web, sim], work)


if __name__ == "__main__":
    sys.exit(main())
