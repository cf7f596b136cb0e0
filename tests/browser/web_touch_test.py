#!/usr/bin/python3
"""The browser panel as a phone shows it: headless Chromium emulating a 390 x 844 screen at ratio 3 opens
skyvane-web's page against the demo flight, and a finger (Selenium's touch pointer) uses it: columns on "auto"
by default, every control at least 44 px each way, a tap shows one gauge alone at the screen's size and another
brings the panel back unchanged, the lock switch hides the tiles' buttons and the night switch dims the panel
(both kept for the next visit), ?cols=N alone is honoured, a hidden page watches nothing, and a browser without
createImageBitmap draws through an image element.

Usage: web_touch_test.py SKYVANE_SIM SKYVANE_WEB
Exits 0 on success, 77 (skipped) without chromium, chromedriver or selenium, 1 on a failure.
"""
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_page_test import (NO_WEBGL, SKIP, Page, close_all, fail, missing_browser, private_home,  # noqa: E402
                           start)


class Phone(Page):
    """The page in a browser emulating a phone's screen: 390 x 844 px at ratio 3, touch."""

    def __init__(self, url):
        from selenium import webdriver
        from selenium.webdriver.chrome.options import Options
        from selenium.webdriver.chrome.service import Service
        options = Options()
        # Pictures from the server: the image element fallback is one of the phone's checks.
        for argument in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"] + NO_WEBGL:
            options.add_argument(argument)
        options.add_experimental_option("mobileEmulation", {
            "deviceMetrics": {"width": 390, "height": 844, "pixelRatio": 3.0, "touch": True}})
        options.binary_location = shutil.which("chromium")
        self.driver = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
        self.url = url
        self.driver.get(url)

    def js(self, script):
        return self.driver.execute_script(script)

    def tiles(self):
        return self.js("return Array.from(document.querySelectorAll('.tile')).map((t) => t.dataset.gauge)")

    def tap(self, selector):
        """A finger's tap on the middle of the first element `selector` finds."""
        from selenium.webdriver.common.actions import interaction
        from selenium.webdriver.common.actions.action_builder import ActionBuilder
        from selenium.webdriver.common.actions.pointer_input import PointerInput
        from selenium.webdriver.common.by import By
        element = self.driver.find_element(By.CSS_SELECTOR, selector)
        actions = ActionBuilder(self.driver, mouse=PointerInput(interaction.POINTER_TOUCH, "finger"),
                                duration=20)  # the finger reaches the element in 20 ms, not Selenium's 250
        actions.pointer_action.move_to(element).pointer_down().pause(0.05).pointer_up()
        actions.perform()

    def drawn(self, gauge):
        return self.state().get("framesByGauge", {}).get(gauge, 0)


def check_controls(phone):
    """Columns on auto by default; every control a finger may touch at least 44 px each way."""
    if phone.js("return document.getElementById('cols').value") != "0":
        fail("the columns are not on auto by default")
    small = phone.js(
        "return Array.from(document.querySelectorAll('#bar button, #bar select, #bar input, .tile .tools button'))"
        ".filter((e) => e.getClientRects().length > 0)"  # shown at all (the knobs' code only where allowed)
        ".map((e) => [e.id || e.className, e.getBoundingClientRect()])"
        ".filter(([, r]) => r.width < 44 || r.height < 44).map(([n, r]) => `${n} ${r.width}x${r.height}`)")
    if small:
        fail(f"controls smaller than 44 px: {small}")


def check_zoom(phone):
    """A tap shows one gauge alone at the screen's size; another brings the panel back, the arrangement kept."""
    saved = phone.js("return localStorage.getItem('skyvane.arrangement')")
    before = phone.js("return document.querySelector('.tile[data-gauge=TForm2] canvas').width")
    drawn = phone.drawn("TForm2")  # before the tap: the first picture at the new size may come at once
    phone.tap(".tile[data-gauge=TForm2] canvas")
    zoomed = lambda: phone.js("return document.querySelector('.tile[data-gauge=TForm2]').classList.contains('zoomed')")
    if not phone.wait(zoomed, 2):
        fail("a tap on a tile did not show it alone")
    size = phone.js("return document.querySelector('.tile[data-gauge=TForm2] canvas').width")
    if size != 1024 or size <= before:
        fail(f"the tile alone is drawn at {size} device px, {before} before (1024 expected: 390 px at ratio 3)")
    if not phone.wait(lambda: phone.drawn("TForm2") > drawn, 5):
        fail("no picture came at the zoomed size")
    phone.tap(".tile[data-gauge=TForm2] canvas")
    if not phone.wait(lambda: not zoomed(), 2):
        fail("a second tap did not bring the panel back")
    if phone.js("return localStorage.getItem('skyvane.arrangement')") != saved:
        fail("zooming changed the saved arrangement")


def check_lock_and_night(phone):
    """The lock hides the tiles' buttons, the night switch dims the panel; both are there at the next visit."""
    phone.tap("#lock")
    phone.tap("#night")
    phone.driver.get(phone.url)
    phone.wait(lambda: phone.tiles() != [], 5)
    shown = phone.js("return getComputedStyle(document.querySelector('.tile .tools')).display")
    state = phone.state()
    if shown != "none" or state.get("locked") is not True:
        fail(f"the lock did not hide the tiles' buttons for the next visit: {shown}, {state}")
    if state.get("brightness") != 0.6 or "brightness(0.6)" not in phone.js("return document.getElementById('grid').style.filter"):
        fail(f"the night switch was not kept: {state}")
    phone.tap("#lock")
    if phone.js("return getComputedStyle(document.querySelector('.tile .tools')).display") == "none":
        fail("unlocking did not bring the tiles' buttons back")


def check_address_and_visibility(phone):
    """?cols=N alone keeps the saved gauges; a hidden page watches nothing and a shown one watches again."""
    tiles = phone.tiles()
    phone.driver.get(phone.url + "?cols=2")
    phone.wait(lambda: phone.tiles() != [], 5)
    if phone.js("return document.getElementById('cols').value") != "2" or phone.tiles() != tiles:
        fail(f"?cols=2 alone was not honoured: {phone.tiles()} against {tiles}")
    phone.wait(lambda: phone.state().get("frames", 0) > 0, 10)
    phone.js("Object.defineProperty(document, 'visibilityState', {configurable: true, get: () => 'hidden'});"
             "document.dispatchEvent(new Event('visibilitychange'));")
    time.sleep(0.5)  # what was on its way
    frames = phone.state().get("frames", 0)
    time.sleep(1.5)
    if phone.state().get("watching") != 0 or phone.state().get("frames", 0) != frames:
        fail(f"a hidden page still watched: {phone.state()}")
    phone.js("Object.defineProperty(document, 'visibilityState', {configurable: true, get: () => 'visible'});"
             "document.dispatchEvent(new Event('visibilitychange'));")
    if not phone.wait(lambda: phone.state().get("frames", 0) > frames, 5):
        fail("a page shown again got no pictures")


def check_image_fallback(phone):
    """Without createImageBitmap (iPads before iOS 15), the pictures are decoded by an image element."""
    phone.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                 {"source": "window.createImageBitmap = undefined;"})
    phone.driver.get(phone.url)
    if not phone.wait(lambda: phone.state().get("drawnBy") == "img" and phone.state().get("frames", 0) > 3, 10):
        fail(f"no picture drawn without createImageBitmap: {phone.state()}")


def main():
    sim_path, web_path = sys.argv[1:3]
    if missing := missing_browser():
        print(missing)
        return SKIP
    work, env = private_home("skyvane-touch-")
    sim, _ = start([sim_path, "--feed", "demo", "--start-at", "300"], "listening on", env)
    web, line = start([web_path, "--listen", "127.0.0.1:0", "--aa", "none"], "open http://", env)
    url = line.split("open ", 1)[1].strip()
    phone = None
    try:
        phone = Phone(url)
        if not phone.wait(lambda: phone.tiles() != [] and phone.state().get("frames", 0) > 0, 10):
            fail(f"the page drew nothing: {phone.state()}")
        check_controls(phone)
        check_zoom(phone)
        check_lock_and_night(phone)
        check_address_and_visibility(phone)
        check_image_fallback(phone)
        print("the phone's touch features hold")
        return 0
    finally:
        close_all([phone], [web, sim], work)


if __name__ == "__main__":
    sys.exit(main())
