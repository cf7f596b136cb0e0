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
each in four ways in one run: every changed tile drawn whole, a call a batch; whole, the batches of one state
that follow one another drawn by one call; drawn only where its gauge changed, skipping the nodes whose pixels
lie outside the part drawn again, a call a batch; and that with one call for such batches (the page's way).

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


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(p / 100 * len(ordered)))]


def frame_costs(page, seconds):
    before = page.state()
    time.sleep(seconds)
    after = page.state()
    frames = after["frameCost"]["frames"] - before["frameCost"]["frames"]
    tiles = after["frameCost"]["tiles"] - before["frameCost"]["tiles"]
    ms = after["frameCost"]["ms"] - before["frameCost"]["ms"]
    moving = {g: (after["framesByGauge"].get(g, 0) - before["framesByGauge"].get(g, 0)) / seconds for g in ALL}
    changes = sum(after["changesByGauge"].get(g, 0) - before["changesByGauge"].get(g, 0) for g in ALL)
    drawn_after = sum(after["framesByGauge"].get(g, 0) - before["framesByGauge"].get(g, 0) for g in ALL)
    rates = sorted(r for r in ((after["changesByGauge"].get(g, 0) - before["changesByGauge"].get(g, 0)) / seconds
                               for g in ALL) if r >= 1)
    print(f"  changes came for {len(rates)} tiles, median {percentile(rates, 50) if rates else 0:.1f} a second; "
          f"{changes / seconds:.0f} changes a second in all, {drawn_after / seconds:.0f} pictures a "
          f"second drawn ({100 * drawn_after / max(changes, 1):.0f} %; a display frame draws a tile once, whatever "
          "number of its changes came since)")
    drawn = {k: after["pageCost"][k] - before["pageCost"][k] for k in ("pixels", "tilePixels", "calls", "frames")}
    print(f"  {drawn['calls'] / max(drawn['frames'], 1):.1f} draw calls a picture")
    return frames, tiles, ms, moving, drawn["pixels"] / max(drawn["tilePixels"], 1)


def measure_moving(page, size, how):
    frames, tiles, ms, moving, share = frame_costs(page, 5)
    rates = sorted(r for r in moving.values() if r >= 1)
    if rates:
        print(f"tiles of {size} px drawn {how}: {len(rates)} of 36 moving, drawn {rates[0]:.1f} to {rates[-1]:.1f} "
              f"a second (median {percentile(rates, 50):.1f}; the tick gives 33.3); the page's cost "
              f"{ms / max(frames, 1):.1f} ms a display frame ({tiles / max(frames, 1):.1f} tiles), "
              f"{ms / max(tiles, 1):.2f} ms a tile; drafts so far {page.state().get('drafts', 0)}; {100 * share:.0f} % "
              "of the pictures' pixels drawn")


def measure_latency(page, code, turns, how):
    page.driver.set_script_timeout(turns * 3 + 30)
    latencies = page.driver.execute_async_script(TURN_AND_TIME, code, turns)
    if isinstance(latencies, str):
        print(f"latency not measured: {latencies}")
        return False
    drawn = [t[0] for t in latencies]
    came = [t[1] for t in latencies]
    print(f"drawn {how}: a change in the simulator to its picture drawn in the page ({len(latencies)} knob turns, "
          f"{' '.join(FEED)}, 36 tiles): p50 {percentile(drawn, 50):.1f} ms, "
          f"p99 {percentile(drawn, 99):.1f} ms, max {max(drawn):.1f} ms; of which the change's way into the page: "
          f"p50 {percentile(came, 50):.1f} ms, p99 {percentile(came, 99):.1f} ms")
    return True


def draw_all(page):
    return page.wait(lambda: all(page.state().get("framesByGauge", {}).get(g) for g in ALL), 60)


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
            # Whole pictures, then parts skipping the nodes outside them; each a call a batch, then merged.
            for partial, merge in ((False, False), (False, True), (True, False), (True, True)):
                page.driver.execute_script("drawing.partial = drawing.skipOutside = arguments[0];"
                                           "drawing.merge = arguments[1];", partial, merge)
                how = ("in parts, nodes outside skipped" if partial else "whole") + \
                    (", one call for batches of one state" if merge else ", a call a batch")
                time.sleep(2)
                measure_moving(page, size, how)
                if side == 212 and not measure_latency(page, code, turns, how):
                    return 1
            # A display frame in which every tile changed: all 36 drawn whole at once, five times, a call a batch
            # and merged, twice over.
            for merge in (False, True, False, True):
                whole = page.driver.execute_script(
                    "drawing.partial = false; drawing.merge = arguments[0];"
                    "for (const t of arrangement.tiles) dirty.add(t.gauge); drawDirty();"  # the calls made
                    "const started = performance.now();"
                    "for (let i = 0; i < 5; i++) { for (const t of arrangement.tiles) dirty.add(t.gauge); drawDirty(); }"
                    "return (performance.now() - started) / 5;", merge)
                print(f"tiles of {size} px: a display frame with all 36 tiles changed costs the page {whole:.0f} ms "
                      + ("(merged)" if merge else "(a call a batch)"))
            page.quit()
            pages.remove(page)
        return 0
    finally:
        close_all(pages, [web, sim], work)


if __name__ == "__main__":
    sys.exit(main())
