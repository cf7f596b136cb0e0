#!/usr/bin/python3
"""Knobs from a browser: skyvane-web started with --allow-control prints a code; headless Chromium opens the page
for the altimeter, gives the code in the bar, and a pointer dragged a quarter turn clockwise around the tile's
middle raises the simulator's altimeter setting by nine notches (1 hPa each, one each 10 degrees), as
skyvane-gauges --check-link reads it back. The wheel over the tile turns it one notch a click. A page that
never gave the code sends nothing: its drag leaves the setting as it is.

Usage: web_knob_test.py SKYVANE_SIM SKYVANE_WEB SKYVANE_GAUGES
Exits 0 on success, 77 (skipped) without chromium, chromedriver or selenium, 1 on a failure.
"""
import math
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_page_test import (SKIP, Page, close_all, fail, knob_code, missing_browser, private_home, start,  # noqa: E402
                           wait_until)


def setting(gauges_path, env):
    """The altimeter setting the simulator holds, in hPa."""
    run = subprocess.run([gauges_path, "--check-link"], capture_output=True, text=True, env=env, check=True)
    for line in run.stdout.splitlines():
        parts = line.split()
        if len(parts) >= 3 and parts[1] == "altimeterSetting":
            return float(parts[2])
    fail(f"no altimeter setting in {run.stdout!r}")


def drag_quarter_turn(page, gauge):
    """A pointer pressed right of the tile's middle and moved a quarter turn clockwise, to below it."""
    from selenium.webdriver.common.actions.action_builder import ActionBuilder
    from selenium.webdriver.common.by import By
    canvas = page.driver.find_element(By.CSS_SELECTOR, f".tile[data-gauge={gauge}] canvas")
    r = min(canvas.size["width"], canvas.size["height"]) * 0.3
    # 20 ms a move: at Selenium's default of 250 ms the 19 moves took 5 s, and the page reads angles, not pace.
    actions = ActionBuilder(page.driver, duration=20)
    pointer = actions.pointer_action
    pointer.move_to(canvas, int(r), 0).pointer_down()
    for step in range(1, 19):
        a = math.radians(5 * step)
        pointer.move_to(canvas, int(r * math.cos(a)), int(r * math.sin(a)))
    pointer.pointer_up()
    actions.perform()


def main():
    sim_path, web_path, gauges_path = sys.argv[1:4]
    if missing := missing_browser():
        print(missing)
        return SKIP
    work, env = private_home("skyvane-knob-")
    sim, _ = start([sim_path, "--feed", "none", "--set", "altimeterSetting=1013"], "listening on", env)
    web, line = start([web_path, "--listen", "127.0.0.1:0", "--allow-control"], "open http://", env)
    url = line.split("open ", 1)[1].strip()
    code = knob_code(web)
    pages = []
    try:
        # A page that never gives the code: its drag is a tap-and-move on a picture, nothing is sent.
        watcher = Page(url + "?gauges=TForm3&cols=1")
        pages.append(watcher)
        if not watcher.wait(lambda: watcher.state().get("frames", 0) > 0, 15):
            fail(f"the page drew nothing: {watcher.state()}")
        drag_quarter_turn(watcher, "TForm3")
        time.sleep(1)
        if setting(gauges_path, env) != 1013 or watcher.state().get("turnsSent"):
            fail(f"a page without the code turned the knob: {watcher.state()}")

        pilot = Page(url + "?gauges=TForm3&cols=1")
        pages.append(pilot)
        if not pilot.wait(lambda: pilot.state().get("frames", 0) > 0, 15):
            fail(f"the page drew nothing: {pilot.state()}")
        from selenium.webdriver.common.by import By
        pilot.driver.find_element(By.ID, "code").send_keys(code)
        pilot.driver.find_element(By.CSS_SELECTOR, "#control button").click()
        if not pilot.wait(lambda: pilot.state().get("control") == "granted", 5):
            fail(f"the code was not taken: {pilot.state()}")
        drag_quarter_turn(pilot, "TForm3")
        if not wait_until(lambda: setting(gauges_path, env) == 1022, 5):
            fail(f"a quarter turn clockwise did not set 1022 hPa: {setting(gauges_path, env)}, {pilot.state()}")
        print(f"a quarter turn dragged on the tile: 1013 -> 1022 hPa in {pilot.state().get('turnsSent')} messages")
        pilot.driver.execute_script(
            "const c = document.querySelector('.tile[data-gauge=TForm3] canvas');"
            "for (let i = 0; i < 3; i++) c.dispatchEvent(new WheelEvent('wheel', {deltaY: 100, cancelable: true}));")
        if not wait_until(lambda: setting(gauges_path, env) == 1019, 5):
            fail(f"three wheel notches down did not set 1019 hPa: {setting(gauges_path, env)}")
        print("three wheel notches down: 1019 hPa")
        return 0
    finally:
        close_all(pages, [web, sim], work)


if __name__ == "__main__":
    sys.exit(main())
