#!/usr/bin/python3
"""The browser panel in a real browser: headless Chromium opens skyvane-web's page for the airspeed indicator and
the altimeter against skyvane-sim with known values. The pictures the page draws must be skyvane-render's
pictures of those values (JPEG aside); after the server is restarted with a new airspeed the page must show it
within 2 s, and say "no simulator" while there is none; a panel server gone silent must be said within its
silence limit (its tiles dimmed within 3 s); an address naming no usable gauge shows the default panel and says
why, and keeps the saved arrangement for the next visit.

Usage: web_page_test.py SKYVANE_SIM SKYVANE_WEB SKYVANE_RENDER [SCREENSHOT.png]
Exits 0 on success, 77 (skipped) without chromium, chromedriver or selenium, 1 on a failure.
"""
import base64
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
GAUGES = ["TForm2", "TForm3"]
FIRST = ["airspeed=120", "altitude=4350"]
SECOND = ["airspeed=150", "altitude=4350"]


STARTED = time.time()


def fail(message):
    """Ends the test; says how far into it, so that a failure under load can be set beside what else ran."""
    print(f"FAIL ({time.time() - STARTED:.1f} s in): " + message, file=sys.stderr)
    sys.exit(1)


def start(argv, ready, env):
    """A program whose first line of output contains `ready`; returns the process and that line."""
    process = subprocess.Popen(argv, stdout=subprocess.PIPE, env=env, text=True)
    line = process.stdout.readline()
    if ready not in line:
        process.kill()
        fail(f"{argv[0]} did not start: {line!r}")
    return process, line


def knob_code(web):
    """The knobs' code skyvane-web --allow-control prints after its first line."""
    while True:
        said = web.stdout.readline()
        if not said:
            fail("skyvane-web printed no knobs' code")
        if "knobs' code: " in said:
            return said.split("knobs' code: ", 1)[1][:6]


def stop(process):
    process.send_signal(signal.SIGTERM)
    process.wait(timeout=10)


def wait_until(condition, seconds):
    """Whether `condition()` came true within `seconds`, asked every 50 ms."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


def close_all(pages, processes, work):
    """The end of a test, however it ends: the browsers closed, the programs stopped, the test's folder gone."""
    for page in pages:
        if page:
            page.quit()
    for process in processes:
        if process.poll() is None:
            stop(process)
    shutil.rmtree(work, ignore_errors=True)


def missing_browser():
    """Why the browser tests cannot run here (a message for the skip), or None."""
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "skipped: python3-selenium is not installed"
    if not shutil.which("chromium") or not shutil.which("chromedriver"):
        return "skipped: chromium or chromium-driver is not installed"
    return None


def private_home(prefix):
    """A folder of the test's own, and the environment giving the programs a runtime and a data directory in it."""
    work = tempfile.mkdtemp(prefix=prefix)
    runtime = os.path.join(work, "run")
    os.mkdir(runtime, 0o700)
    env = dict(os.environ, SKYVANE_RUNTIME_DIR=runtime, SKYVANE_HOME=os.path.join(work, "home"))
    os.mkdir(env["SKYVANE_HOME"])
    return work, env


def mean_difference(a, b):
    """ImageMagick's mean absolute error of two PNG files, in levels of 255."""
    run = subprocess.run(["compare", "-metric", "MAE", a, b, "null:"], capture_output=True, text=True)
    return float(run.stderr.split("(")[1].split(")")[0]) * 255


# WebGL through SwiftShader, which newer Chromium versions give only when asked: without these the page would
# silently fall back to pictures, and a test of the drawing on the device would test the fallback.
WEBGL = ["--use-angle=swiftshader", "--enable-unsafe-swiftshader"]
# No WebGL at all: the page must ask the server for pictures.
NO_WEBGL = ["--disable-3d-apis"]


class Page:
    def __init__(self, url, graphics=WEBGL, ratio=1, window="1000,560", script=None):
        """`script`, when given, runs in every document the page loads before the page's own scripts."""
        from selenium import webdriver
        from selenium.webdriver.chrome.options import Options
        from selenium.webdriver.chrome.service import Service
        options = Options()
        for argument in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                         f"--window-size={window}", f"--force-device-scale-factor={ratio}"] + graphics:
            options.add_argument(argument)
        options.binary_location = shutil.which("chromium")
        self.driver = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
        if script:
            self.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": script})
        self.driver.get(url)

    def state(self):
        return self.driver.execute_script("return window.skyvane") or {}

    def wait(self, condition, seconds):
        return wait_until(condition, seconds)

    def canvas_png(self, gauge, path, final=True):
        """What the page drew for `gauge`, as a PNG file; returns its size in pixels. With `final`, once the
        tile shows no draft (a picture drawn without multisampling while the page was behind)."""
        if final and not self.wait(lambda: not self.driver.execute_script(
                f"return document.querySelector('.tile[data-gauge={gauge}]').dataset.draft"), 5):
            fail(f"{gauge}'s draft was never drawn whole")
        data = self.driver.execute_script(
            f"const c = document.querySelector('.tile[data-gauge={gauge}] canvas');"
            "return [c.width, c.toDataURL('image/png')];")
        with open(path, "wb") as f:
            f.write(base64.b64decode(data[1].split(",", 1)[1]))
        return data[0]

    def quit(self):
        self.driver.quit()


def main():
    sim_path, web_path, render_path = sys.argv[1:4]
    screenshot = sys.argv[4] if len(sys.argv) > 4 else None
    if missing := missing_browser():
        print(missing)
        return SKIP

    work, env = private_home("skyvane-browser-")
    with open(os.path.join(env["SKYVANE_HOME"], "config.ini"), "w") as f:
        f.write("[General]\nRPM=0\n")  # both RPM gauges switched off
    sets = lambda values: [a for v in values for a in ("--set", v)]
    sim, _ = start([sim_path, "--feed", "none"] + sets(FIRST), "listening on", env)
    # An idle limit of 5 s: the page gives a silent server up after the 7.5 s the server tells it.
    web, line = start([web_path, "--listen", "127.0.0.1:0", "--aa", "4x", "--idle-limit", "5"], "open http://", env)
    url = line.split("open ", 1)[1].strip()
    page = None
    try:
        page = Page(url + "?gauges=" + ",".join(GAUGES) + "&cols=2")
        if not page.wait(lambda: all(page.state().get("framesByGauge", {}).get(g) for g in GAUGES)
                         and page.state().get("link") == "up", 10):
            fail(f"the page drew no gauge: {page.state()}")
        if page.state().get("drawnBy") != "webgl2":
            fail(f"the gauges were not drawn by the browser's WebGL 2: {page.state()}")
        if screenshot:
            page.driver.save_screenshot(screenshot)

        def reference(gauge, values, size):
            path = os.path.join(work, f"{gauge}-{'-'.join(values)}.png")
            subprocess.run([render_path, "--gauge", gauge, "-o", path, "--size", str(size), "--aa", "4x"]
                           + sets(values), check=True, env=env)
            return path

        def difference(gauge, values):
            shown = os.path.join(work, f"shown-{gauge}.png")
            size = page.canvas_png(gauge, shown)
            return mean_difference(shown, reference(gauge, values, size))

        # Each gauge is skyvane-render's picture of the values, and unlike the picture of other values.
        for gauge in GAUGES:
            same = difference(gauge, FIRST)
            other = difference(gauge, SECOND if gauge == "TForm2" else ["airspeed=120", "altitude=4850"])
            print(f"{gauge}: mean difference {same:.2f} levels from its picture, {other:.2f} from another")
            if same > 3.0 or other < 2 * same:
                fail(f"{gauge} does not show the values: {same:.2f} / {other:.2f}")

        # The simulator goes away: the page says so; it comes back with a new airspeed: the page shows it.
        stop(sim)
        if not page.wait(lambda: page.state().get("link") == "down", 5):
            fail("the page did not say the simulator is gone")
        # The link tries each failed batch for about a second and closes after three; from then on it looks for
        # the simulator every second, which is when a restarted one is found.
        time.sleep(4)
        sim, _ = start([sim_path, "--feed", "none"] + sets(SECOND), "listening on", env)
        restarted = time.time()
        expected = reference("TForm2", SECOND, page.canvas_png("TForm2", os.path.join(work, "size.png")))
        shown = os.path.join(work, "shown-new.png")

        def new_airspeed_shown():
            page.canvas_png("TForm2", shown)
            return page.state().get("link") == "up" and mean_difference(shown, expected) < 3.0

        if not page.wait(new_airspeed_shown, 2.0 + (time.time() - restarted)):
            fail(f"the new airspeed did not show within 2 s: {page.state()}, "
                 f"{mean_difference(shown, expected):.2f} levels from its picture")
        print(f"new airspeed shown {time.time() - restarted:.2f} s after the server restarted")

        # The panel server stops answering without closing (as a phone's connection does when it sleeps): the
        # tiles are dimmed within 3 s of silence (the server says the link state every second), the page
        # reconnects after the 7.5 s of silence the server told it and is fed again once the server goes on.
        frames = page.state().get("frames", 0)
        web.send_signal(signal.SIGSTOP)
        stopped = time.time()
        try:
            quiet = page.wait(lambda: page.state().get("link") == "quiet", 5)
            quiet_after = time.time() - stopped
            said = page.wait(lambda: page.state().get("link") == "reconnecting", 10 - quiet_after)
        finally:
            web.send_signal(signal.SIGCONT)
        if not quiet:
            fail(f"the tiles were not dimmed within 5 s of a silent server: {page.state()}")
        print(f"a silent server dimmed the tiles after {quiet_after:.1f} s")
        if not said:
            fail(f"the page still looked live {time.time() - stopped:.1f} s into a silent server: {page.state()}")
        gave_up = time.time() - stopped
        print(f"a silent server said after {gave_up:.1f} s")
        if gave_up < 7.0:
            fail(f"the page gave the server up after {gave_up:.1f} s, before the 7.5 s it was told")
        if not page.wait(lambda: page.state().get("link") == "up" and page.state().get("frames", 0) > frames, 10):
            fail(f"the page did not come back after the server went on: {page.state()}")

        # An address that names no gauge the panel shows (unknown, or switched off in config.ini): the default
        # panel, and why; the arrangement saved in the browser is there again at the next plain visit.
        page.driver.get(url + "?gauges=Bogus,TForm12")
        tiles = lambda: page.driver.execute_script(
            "return Array.from(document.querySelectorAll('.tile')).map((t) => t.dataset.gauge)")
        page.wait(lambda: tiles() != [], 5)  # the tiles come once the gauge list has arrived
        said = page.driver.execute_script("return document.getElementById('state').textContent")
        if tiles() == GAUGES or "none of the gauges in the address" not in said:
            fail(f"a mistyped address did not show the default panel and say why: {tiles()}, {said!r}")
        page.driver.get(url)
        page.wait(lambda: tiles() != [], 5)
        if tiles() != GAUGES:
            fail(f"a mistyped address replaced the saved arrangement: {tiles()}")
        return 0
    finally:
        if page:
            page.quit()
        stop(web)
        if sim.poll() is None:
            stop(sim)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
