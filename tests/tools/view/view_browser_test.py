"""`vornctl view` in a real browser: Debian's chromium, headless, driven by
python3-selenium through chromedriver, against two simulated devices. The
page's last values must be the simulators' (scaled and back), stop, start and
record work from the page's buttons, a device that vanishes shows its failure,
and a screenshot is kept in the build (the README's picture: the view runs in
the build's folder and records to ".", so no path of this machine shows). A
view that needs a token shows its refusal without it, and with it keeps the
token out of the address bar."""
import os
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from view_harness import OUT, Sim, View, find_run  # noqa: E402

CHROMIUM = os.environ.get("VORN_CHROMIUM", "/usr/bin/chromium")
CHROMEDRIVER = os.environ.get("VORN_CHROMEDRIVER", "/usr/bin/chromedriver")
SKIP = 77  # ctest's SKIP_RETURN_CODE for this test

A_CHANNELS = [("Pressure", "mmHg", 0, 300, "sine", 1), ("Temp", "degC", 30, 42, "ramp", 0.5),
              ("Resp", "l/min", 0, 60, "square", 2), ("Flow", "ml/s", -500, 500, "sine", 0.7)]
B_CHANNELS = [("ECG", "mV", -5, 5, "sine", 3), ("Pleth", "%", 0, 100, "ramp", 1)]


def browser():
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    profile = tempfile.mkdtemp(prefix="vornctl-view-chromium-")
    # As root chromium needs --no-sandbox; the rest keeps it off every network but loopback.
    for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--disable-dev-shm-usage", "--window-size=1400,1000", f"--user-data-dir={profile}"):
        options.add_argument(arg)
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    return driver, profile


class BrowserTest(unittest.TestCase):
    def setUp(self):
        self.a = Sim("VSC0000401", A_CHANNELS)
        self.b = Sim("VSC0000402", B_CHANNELS)
        self.view = View([self.a, self.b], out_dir=".")
        self.driver, self.profile = browser()
        self.driver.set_script_timeout(30)

    def tearDown(self):
        self.driver.quit()
        shutil.rmtree(self.profile, ignore_errors=True)
        code, err = self.view.stop()
        self.a.stop()
        self.b.stop()
        self.assertEqual(code, 0, err)

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def wait(self, script, timeout, what, *args):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = self.js(script, *args)
            if value:
                return value
            time.sleep(0.1)
        self.fail(f"{what} not within {timeout} s; page: {self.js('return window.vornView && vornView.panels()')}")

    def panel(self, index, selector):
        return self.driver.find_element("css selector", f'section[data-device="{index}"] {selector}')

    def status(self, index):
        return self.panel(index, ".status").get_attribute("data-status")

    def check_last_values(self, index, sim):
        """The page's newest 40 points of every channel are consecutive lines the simulator sent."""
        got = self.js("return vornView.lastValues(arguments[0], 40)", index)
        sent = sim.sent_lines()
        self.assertEqual([g["name"] for g in got], [c[0] for c in sim.channels])
        rows = [list(r) for r in zip(*[g["values"] for g in got])]
        self.assertEqual(len(rows), 40)
        tolerance = [abs(hi - lo) / 32767 + 0.006 for _, _, lo, hi, _, _ in sim.channels]
        at = find_run(sent, rows, tolerance)
        self.assertGreaterEqual(at, 0, f"device {index}: page {rows[-3:]} not in the sent log")
        # Newest: within the last second of what the device had sent when we looked.
        self.assertGreater(at + len(rows), len(sent) - 500)

    def test_page_shows_controls_and_records_two_devices(self):
        d = self.driver
        d.get(self.view.url)
        self.wait("return window.vornView && vornView.panels().length === 2", 20, "two panels")
        for i in (0, 1):
            self.assertEqual(self.status(i), "stopped")
            self.panel(i, "button.start").click()
        self.wait("return vornView.panels().every(p => p.status === 'streaming' && p.points.length > 0 &&"
                  " p.points.every(n => n > 1000))", 30, "traces on both devices")
        # The page's own numbers: arrival-to-draw delays and the progress line.
        self.assertGreater(len(self.js("return vornView.delays()")), 10)
        self.assertRegex(self.panel(0, ".progress").text, r"^\s*[0-9.]+ s\s+[0-9.]+ lines/s\s+dropped 0\s+missing \d+$")
        self.assertIn("mmHg", self.panel(0, ".trace").text)
        # The serial text is each device's identity; the unique id the two share is pointed out.
        self.assertEqual(self.panel(0, ".serial").text, "serial 0000401")
        self.assertEqual(self.panel(1, ".serial").text, "serial 0000402")
        self.assertEqual(self.panel(0, ".shared-id").text, "same unique id as device 1")
        self.assertEqual(self.panel(1, ".shared-id").text, "same unique id as device 0")
        # A symmetric range shows its ends and middle, not a lone 0.
        self.assertEqual(self.js("return vornView.ticks(1)")[0], ["-5", "0", "5"])
        # The last channel's label keeps clear of the Apply button.
        for i in (0, 1):
            gap = self.js("const s = document.querySelector(`section[data-device='${arguments[0]}']`);"
                          "const labels = s.querySelectorAll('.channels label');"
                          "return s.querySelector('.apply-channels').getBoundingClientRect().left -"
                          " labels[labels.length - 1].getBoundingClientRect().right;", i)
            self.assertGreaterEqual(gap, 3, f"device {i}")
        for i, sim in ((0, self.a), (1, self.b)):
            self.check_last_values(i, sim)

        self.panel(1, "button.stop").click()
        self.wait("return document.querySelector('section[data-device=\"1\"] .status').dataset.status === 'stopped'",
                  15, "device 1 stopped")
        self.panel(1, "button.start").click()
        self.wait("return vornView.panels()[1].status === 'streaming' && vornView.panels()[1].stream === 2 &&"
                  " vornView.panels()[1].points[0] > 200", 15, "device 1 streaming again")

        self.panel(0, "button.record").click()
        self.wait("return document.querySelector('section[data-device=\"0\"] .recording').textContent"
                  ".startsWith('recording to')", 10, "recording shown")
        time.sleep(1.5)
        self.panel(0, "button.record-stop").click()
        path = self.wait("return document.querySelector('section[data-device=\"0\"] .recording').dataset.path",
                         10, "the recording's path")
        self.assertIn(f"wrote {path}", self.panel(0, ".recording").text)
        self.assertTrue(path.startswith("./vorn-0000401-"), path)
        with open(self.view.path(path)) as f:
            self.assertGreater(len(f.readlines()), 500)

        # A wrong request shows its error on the page and changes nothing.
        self.panel(1, "button.stop").click()
        self.wait("return vornView.panels()[1].status === 'stopped'", 15, "device 1 stopped")
        for box in self.driver.find_elements("css selector", 'section[data-device="1"] .channels input'):
            if box.is_selected():
                box.click()
        self.panel(1, "button.apply-channels").click()
        self.wait("return document.querySelector('section[data-device=\"1\"] .control-error').textContent"
                  ".includes('at least one channel')", 10, "the control's error on the page")
        self.panel(1, "button.start").click()  # still its old channels
        self.wait("return vornView.panels()[1].status === 'streaming'", 15, "device 1 streaming")

        self.js("vornView.setWindow(5)")
        time.sleep(1.5)
        shot = os.path.join(OUT, "vornctl-view.png")
        d.save_screenshot(shot)
        self.assertGreater(os.path.getsize(shot), 10000)

        # Unplugged: the page shows the driver's failure within a few seconds.
        self.b.kill()
        self.wait("return vornView.panels()[1].status === 'failed'", 8, "device 1's failure on the page")
        self.assertTrue(self.panel(1, ".message").text)
        self.assertEqual(self.status(0), "streaming")
        median = self.js("return vornView.medianDelay()")
        print(f"\nmedian arrival-to-draw delay at 2 devices: {median:.1f} ms; screenshot {shot}")


class TokenPageTest(unittest.TestCase):
    def setUp(self):
        self.sim = Sim("VSC0000403", B_CHANNELS)
        self.view = View([self.sim], ["--token"])
        self.driver, self.profile = browser()

    def tearDown(self):
        self.driver.quit()
        shutil.rmtree(self.profile, ignore_errors=True)
        code, err = self.view.stop()
        self.sim.stop()
        self.assertEqual(code, 0, err)

    def wait(self, script, timeout, what):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = self.driver.execute_script(script)
            if value:
                return value
            time.sleep(0.1)
        self.fail(f"{what} not within {timeout} s")

    def test_without_the_token_the_page_says_why_and_with_it_the_url_is_clean(self):
        d = self.driver
        base = f"http://127.0.0.1:{self.view.port}/"
        d.get(base)
        text = self.wait("return window.vornView && vornView.refusal()", 15, "the refusal on the page")
        self.assertIn("needs the token it printed", text)
        self.assertNotIn("retrying", d.find_element("id", "connection").text)
        d.get(self.view.url)
        self.wait("return window.vornView && vornView.panels().length === 1", 15, "the device's panel")
        self.assertEqual(d.current_url, base)  # the token left the address bar
        self.assertEqual(self.driver.execute_script("return vornView.refusal()"), "")
        self.assertEqual(self.driver.execute_script("return document.cookie"), "")  # out of scripts' reach
        d.find_element("css selector", 'section[data-device="0"] button.start').click()
        self.wait("return vornView.panels()[0].status === 'streaming' && vornView.panels()[0].points[0] > 100", 20,
                  "streaming through the cookie")


if __name__ == "__main__":
    if not (os.access(CHROMIUM, os.X_OK) and os.access(CHROMEDRIVER, os.X_OK)):
        print(f"skipped: needs {CHROMIUM} and {CHROMEDRIVER} (apt-get install chromium chromium-driver)")
        sys.exit(SKIP)
    try:
        import selenium  # noqa: F401
    except ImportError:
        print("skipped: needs python3-selenium under /usr/bin/python3")
        sys.exit(SKIP)
    unittest.main(verbosity=2)
