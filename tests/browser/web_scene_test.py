#!/usr/bin/python3
"""Gauges drawn by the browser: headless Chromium with WebGL (SwiftShader) opens skyvane-web's page against
skyvane-sim with known values, and every one of the 36 gauges it draws from the scenes the server sends must be
skyvane-render's picture of those values at the same device size (mean difference in the dial at most 3
levels); so must three gauges at device pixel ratios 2 and 3 and a turned tile, and a tile drawn as a draft
while the page was behind, once it is drawn whole again. The demo flight keeps tiles moving with changes alone,
a few hundred bytes a tick, and a tile redrawn only where it changed equals its whole picture; a reload costs
a few KB, the scenes being kept in the browser. (The fallback to the server's pictures, without WebGL and
without createImageBitmap, is the phone's: web_touch_test.py.)

Usage: web_scene_test.py SKYVANE_SIM SKYVANE_WEB SKYVANE_RENDER
Exits 0 on success, 77 (skipped) without chromium, chromedriver or selenium, 1 on a failure.
"""
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_page_test import (SKIP, Page, close_all, fail, missing_browser, private_home,  # noqa: E402
                           start, stop)

VALUES = ["airspeed=120", "altitude=4350", "pitch=5", "bank=12", "ball=0.3", "ammeter=10"]
ALL = [f"TForm{n}" for n in range(2, 38)]
LIMIT = 3.0
# What a browser with WebGL 1 alone offers: no WebGL 2 context, and no 32-bit indices; and few uniform vectors
# (40, where WebGL 1 promises 128), so that the page's runs of batches of one state split at eight nodes a call.
WEBGL1_ONLY = """
const getContext = HTMLCanvasElement.prototype.getContext;
HTMLCanvasElement.prototype.getContext = function (type, ...rest) {
  if (type === 'webgl2') return null;
  const gl = getContext.call(this, type, ...rest);
  if (gl && type !== '2d') {
    const getExtension = gl.getExtension.bind(gl);
    gl.getExtension = (name) => (name === 'OES_element_index_uint' ? null : getExtension(name));
    const getParameter = gl.getParameter.bind(gl);
    gl.getParameter = (name) => (name === gl.MAX_VERTEX_UNIFORM_VECTORS ? 40 : getParameter(name));
  }
  return gl;
};
"""


def sets(values):
    return [a for v in values for a in ("--set", v)]


def dial_difference(shown, expected, size):
    """Mean absolute difference per channel, in levels of 255, inside the dial (the circle of 0.42 of the side
    around the middle: the corners show only the backdrop), and over the whole picture; both pictures `size`
    pixels square. One ImageMagick run: the difference, and a copy of it masked to the dial."""
    r = size * 0.42
    circle = f"circle {size / 2},{size / 2} {size / 2 + r},{size / 2}"
    run = subprocess.run(["convert", shown, expected, "-compose", "difference", "-composite",
                          "(", "+clone", "(", "-size", f"{size}x{size}", "xc:black", "-fill", "white", "-draw",
                          circle, ")", "-compose", "multiply", "-composite", ")",
                          "-format", "%[fx:mean.r] %[fx:mean.g] %[fx:mean.b]\n", "info:"],
                         capture_output=True, text=True, check=True)
    whole, masked = ([float(v) for v in line.split()] for line in run.stdout.split("\n")[:2])
    inside = sum(masked) / 3 * 255 * size * size / (3.14159265 * r * r)
    return inside, sum(whole) / 3 * 255


class Checker:
    def __init__(self, render, env, work):
        self.render, self.env, self.work = render, env, work
        self.worst = (0, "")

    def reference(self, gauge, size, turns=0):
        path = os.path.join(self.work, f"ref-{gauge}-{size}-{turns}.png")
        if not os.path.exists(path):
            subprocess.run([self.render, "--gauge", gauge, "-o", path, "--size", str(size), "--aa", "4x",
                            "--turn", str(turns)] + sets(VALUES), check=True, env=self.env)
        return path

    def reference_all(self, size):
        """Every gauge's reference at `size`, unturned, from one skyvane-render run."""
        folder = os.path.join(self.work, f"all-{size}")
        os.makedirs(folder, exist_ok=True)
        subprocess.run([self.render, "--gauge", "all", "-o", folder, "--size", str(size), "--aa", "4x"]
                       + sets(VALUES), check=True, env=self.env, stdout=subprocess.DEVNULL)
        for gauge in ALL:
            os.replace(os.path.join(folder, f"{gauge}.png"), os.path.join(self.work, f"ref-{gauge}-{size}-0.png"))

    def check(self, page, gauge, turns=0, label=""):
        shown = os.path.join(self.work, f"shown-{gauge}-{turns}{label}.png")
        size = page.canvas_png(gauge, shown)
        inside, whole = dial_difference(shown, self.reference(gauge, size, turns), size)
        if inside > self.worst[0]:
            self.worst = (inside, f"{gauge}{label} at {size} px")
        if inside > LIMIT:
            keep = os.environ.get("SKYVANE_KEEP_PICTURES")
            if keep:
                shutil.copy(shown, keep)
            fail(f"{gauge}{label} at {size} px, turned {turns}: {inside:.2f} levels from skyvane-render's picture "
                 f"in the dial ({whole:.2f} over the whole tile)")
        return inside


def drawn_all(page, gauges, seconds=30):
    return page.wait(lambda: page.state().get("drawnBy", "").startswith("webgl")
                     and all(page.state().get("framesByGauge", {}).get(g) for g in gauges), seconds)


def check_draft(page, work):
    """A page that falls behind draws a moving tile as a draft (no multisampling) and, once the tile is still,
    draws it whole again: the final picture must be the one drawn before. Falling behind is played by the
    page's own figures (a costly display frame, the tile drawn a moment ago)."""
    if not page.driver.execute_script("return drawing.drafts"):
        fail("WebGL 2 draws no drafts")
    whole, draft, again = (os.path.join(work, f"draft-{n}.png") for n in ("whole", "draft", "again"))
    size = page.canvas_png("TForm2", whole)
    marked = page.driver.execute_script(
        "frameMs = 1000; window.skyvane.drawnAt.TForm2.push(performance.timeOrigin + performance.now());"
        "dirty.add('TForm2'); drawDirty();"
        "return document.querySelector('.tile[data-gauge=TForm2]').dataset.draft;")
    page.canvas_png("TForm2", draft, final=False)
    # Only the edges differ: a draft is the same picture, unsmoothed. The dial's many small figures put that
    # near 11 levels at 212 px; a black square is 64 levels away.
    apart = dial_difference(draft, whole, size)
    if marked != "1" or apart[1] == 0 or apart[0] > 25:
        fail(f"a moving tile of a page behind was not drawn as a draft (marked {marked}; {apart[0]:.2f} levels "
             "from the whole picture)")
    page.canvas_png("TForm2", again)
    overall = dial_difference(again, whole, size)[1]
    if overall > 0.01:
        fail(f"the draft, drawn whole again, differs from the picture before by {overall:.3f} levels")
    print(f"a draft ({apart[0]:.2f} levels from the whole picture in the dial) is drawn whole once its tile is "
          "still")


# Runs in the page: brings every tile up to date, then draws its gauge whole into a new canvas of its size (the
# same turn) and counts the bytes of the two pictures that differ; and the same whole picture, at that turn and
# a quarter more, drawn the old way (a call a batch, copied by drawing the WebGL canvas into the tile's) against
# the page's way (one call for consecutive batches of one state, the picture read back). Then the same after a
# move far larger than a tick's: one of the gauge's shapes is turned a quarter about its own origin and
# shifted, and put back, the tile drawn in parts after each step.
PARTIAL_AGAINST_WHOLE = """
const differing = {};
let moves = 0;
const calls = { merged: 0, single: 0 };
const pixels = (canvas) => canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
const drawnWhole = (index, size, turns) => {
  const whole = document.createElement('canvas');
  whole.width = whole.height = size;
  drawing.draw(index, size, turns, whole);
  return pixels(whole);
};
const count = (a, b) => {
  let n = 0;
  for (let i = 0; i < a.length; i++) n += a[i] !== b[i] ? 1 : 0;
  return n;
};
// The whole picture at `turns` the page's way against the old way; the draw calls of each counted.
const againstOldWay = (gauge, index, size, turns, label) => {
  let before = drawing.cost.calls;
  const whole = drawnWhole(index, size, turns);
  calls.merged += drawing.cost.calls - before;
  drawing.merge = drawing.readParts = false;
  before = drawing.cost.calls;
  const single = drawnWhole(index, size, turns);
  calls.single += drawing.cost.calls - before;
  drawing.merge = drawing.readParts = true;
  const m = count(single, whole);
  if (m) differing[`${gauge}${label} turned ${turns} (a call a batch, the canvas drawn into the tile)`] = m;
  return whole;
};
const compare = (gauge, index, canvas, turns, label) => {
  drawing.draw(index, canvas.width, turns, canvas);
  const n = count(pixels(canvas), againstOldWay(gauge, index, canvas.width, turns, label));
  if (n) differing[gauge + label] = n;
  againstOldWay(gauge, index, canvas.width, (turns + 1) % 4, label);
};
// p' = p . M with rows: turned a quarter about z and shifted 0.4 along x in the node's own frame first.
const moved = (m) => {
  const r = [0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0.4, 0, 0, 1];
  const out = new Float64Array(16);
  for (let i = 0; i < 4; i++) for (let j = 0; j < 4; j++) {
    for (let k = 0; k < 4; k++) out[i * 4 + j] += r[i * 4 + k] * m[k * 4 + j];
  }
  return out;
};
for (const tile of grid.querySelectorAll('.tile')) {
  const gauge = tile.dataset.gauge;
  const canvas = tile.querySelector('canvas');
  const turns = arrangement.tiles.find((t) => t.gauge === gauge).turns;
  const index = Number(gauge.slice(5)) - 2;
  compare(gauge, index, canvas, turns, '');
  const scene = drawing.scenes.get(index);
  const shapes = scene.nodes.filter((n) => n.batches.length > 0 && n.parent >= 0);
  const node = shapes[Math.floor(shapes.length / 2)];
  if (!node) continue;
  const local = node.local;
  node.local = moved(local);
  node.version = (node.version || 0) + 1;
  compare(gauge, index, canvas, turns, ' moved');
  node.local = local;
  node.version++;
  compare(gauge, index, canvas, turns, ' back');
  moves++;
}
return { differing, moves, calls, cost: drawing.cost, glError: drawing.gl.getError() };
"""


def check_partial(page, tiles=36):
    """A tile redrawn only where its gauge changed shows the very picture a whole drawing gives, and so does a
    whole picture drawn the old way, at the tile's turn and a quarter more: a call a batch, and copied by
    drawing the WebGL canvas into the tile's (the page draws consecutive batches of one state with one call, in
    well under two thirds of the calls, and reads its pictures back). Drafts are switched off first: a draft
    drawn over part of a final picture is meant to differ from a whole draft until its tile is drawn whole
    again."""
    page.driver.execute_script("asDraft = () => false;")
    if not page.wait(lambda: not page.driver.execute_script("return document.querySelector('.tile[data-draft]')"),
                     10):
        fail("drafts were never drawn whole once drafting was off")
    found = page.driver.execute_script(PARTIAL_AGAINST_WHOLE)
    cost = found["cost"]
    if found["differing"]:
        fail(f"tiles drawn in parts differ from their whole pictures: {found['differing']}")
    if found["glError"]:
        fail(f"drawing gave WebGL error {found['glError']:#x}")
    if cost["partial"] < tiles or found["moves"] < tiles:
        fail(f"the moving tiles were never drawn in parts: {found}")
    calls = found["calls"]
    if not 0 < calls["merged"] < 0.65 * calls["single"]:
        fail(f"merging batches of one state saved too few draw calls: {calls}")
    print(f"{cost['partial']} of {cost['frames']} pictures drawn in parts, "
          f"{100 * cost['pixels'] / cost['tilePixels']:.0f} % of the tiles' pixels; each tile equals its whole "
          f"picture, and that picture drawn the old way ({calls['merged']} draw calls against "
          f"{calls['single']}), also after {found['moves']} shapes were moved far and back")


def check_ratios_and_webgl1(url, checker, pages):
    """Three gauges, one of them turned a quarter, at device pixel ratios 2 and 3; then four at ratio 2 in a
    browser with WebGL 1 alone. One browser for all three: the ratio is changed through the DevTools protocol,
    and the WebGL 1 script is added for the documents loaded after it."""
    page = Page(url + "?gauges=TForm2,TForm3:1,TForm4&cols=3", ratio=2)
    pages.append(page)
    three = (("TForm2", 0), ("TForm3", 1), ("TForm4", 0))
    for ratio in (2, 3):
        if ratio != 2:
            page.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                "width": 0, "height": 0, "deviceScaleFactor": ratio, "mobile": False})
            page.driver.refresh()
        if page.driver.execute_script("return window.devicePixelRatio") != ratio:
            fail(f"the browser did not take the device pixel ratio {ratio}")
        if not drawn_all(page, [g for g, _ in three]):
            fail(f"the page at ratio {ratio} did not draw: {page.state()}")
        for gauge, turns in three:
            checker.check(page, gauge, turns, f" (ratio {ratio})")
    print(f"ratios 2 and 3 and a turned tile hold; the largest difference: {checker.worst[0]:.2f} levels")

    # A browser with WebGL 1 alone, and without 32-bit indices: the same pictures.
    page.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
    page.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": WEBGL1_ONLY})
    page.driver.get(url + "?gauges=TForm2,TForm3:1,TForm4,TForm6&cols=2")
    four = three + (("TForm6", 0),)
    if not drawn_all(page, [g for g, _ in four]) or page.state()["drawnBy"] != "webgl1":
        fail(f"the page with WebGL 1 alone did not draw with it: {page.state()}")
    for gauge, turns in four:
        checker.check(page, gauge, turns, " (WebGL 1)")
    print(f"WebGL 1 without 32-bit indices holds; the largest difference: {checker.worst[0]:.2f} levels")
    check_partial(page, len(four))
    page.quit()
    pages.remove(page)


def main():
    sim_path, web_path, render_path = sys.argv[1:4]
    if missing := missing_browser():
        print(missing)
        return SKIP
    work, env = private_home("skyvane-scene-")
    sim, _ = start([sim_path, "--feed", "none"] + sets(VALUES), "listening on", env)
    web, line = start([web_path, "--listen", "127.0.0.1:0", "--aa", "4x"], "open http://", env)
    url = line.split("open ", 1)[1].strip()
    checker = Checker(render_path, env, work)
    pages = []
    try:
        # All 36 gauges, six columns: every tile drawn by WebGL from its scene.
        page = Page(url + "?gauges=" + ",".join(ALL) + "&cols=6", window="1400,1500")
        pages.append(page)
        if not drawn_all(page, ALL):
            fail(f"the page did not draw every gauge with WebGL: {page.state()}")
        first_load = page.state()  # the values stand still: the scenes, their fonts and how each gauge stands
        checker.reference_all(page.driver.execute_script("return document.querySelector('.tile canvas').width"))
        for gauge in ALL:
            checker.check(page, gauge)
        print(f"36 gauges drawn by the browser; the largest difference: {checker.worst[0]:.2f} levels "
              f"({checker.worst[1]})")
        check_draft(page, work)
        check_ratios_and_webgl1(url, checker, pages)

        # The demo flight climbing, in the first browser again: every tile keeps moving on changes alone.
        stop(sim)
        sim, _ = start([sim_path, "--feed", "demo", "--start-at", "300"], "listening on", env)
        page.driver.get(url + "?gauges=" + ",".join(ALL) + "&cols=6")
        if not drawn_all(page, ALL) or not page.wait(lambda: page.state().get("link") == "up", 10):
            fail(f"the page did not draw the demo flight: {page.state()}")
        before = page.state()
        time.sleep(3)
        after = page.state()
        # In the climb the altimeter, the horizon and the engine gauges move; each of those tiles must be drawn
        # at least 10 times in 3 s.
        moving = [g for g in ALL if after["framesByGauge"].get(g, 0) - before["framesByGauge"].get(g, 0) >= 10]
        if "TForm3" not in moving or "TForm4" not in moving or len(moving) < 8:
            fail(f"tiles did not keep moving during the demo climb: only {moving}: {after}")
        check_partial(page)
        rate = (after["bytes"] - before["bytes"]) / 3
        print(f"36 gauges: first load {first_load['bytes'] / 1e6:.2f} MB ({first_load.get('fonts', 0)} fonts of "
              f"{first_load.get('fontBytes', 0) / 1000:.0f} KB among them); demo climb {rate / 1000:.1f} KB/s in "
              f"changes; page cost {after['pageCost']['ms'] / max(1, after['pageCost']['frames']):.1f} ms a tile")

        # A reload: the scenes kept in the browser are named, and only how each gauge stands now comes.
        page.driver.refresh()
        if not drawn_all(page, ALL):
            fail(f"the reloaded page did not draw every gauge: {page.state()}")
        reloaded = page.state()
        if reloaded.get("scenes", 0) != 0 or reloaded.get("fonts", 0) != 0 or reloaded["bytes"] > 200_000:
            fail(f"a reload loaded the scenes or their fonts again: {reloaded}")
        # The page's files are named by their bytes: the browser keeps them, and the reload costs 304s.
        http = page.driver.execute_script(
            "return performance.getEntriesByType('navigation').concat(performance.getEntriesByType('resource'))"
            ".filter((e) => !e.name.includes('/api/')).reduce((sum, e) => sum + e.transferSize, 0)")
        if http > 10_000:
            fail(f"a reload fetched the page's files again: {http} bytes")
        print(f"a reload cost {reloaded['catchUpBytes'] / 1000:.1f} KB of catch-ups and {http / 1000:.1f} KB of "
              f"page files; with the changes until every tile was drawn {reloaded['bytes'] / 1000:.1f} KB")
        return 0
    finally:
        close_all(pages, [web, sim], work)


if __name__ == "__main__":
    sys.exit(main())
