"""Every screen shrunk to one cell and grown again, and 10,000 random keys
typed as fast as the terminal takes them: no crash, the screen intact, and
the terminal restored at the end."""

import os
import random
import time
import unittest

from harness import SCAN_TIMEOUT, KestrelTestCase, whole_frame
from test_start import config_text, input_values

CONFIG = config_text("/dev/ttyACM0", 115200, 240, 960, 101, 1)
WIDTH, HEIGHT = 80, 24
# Down to one column and one row, through thin and flat shapes, and back.
SIZES = [(40, 12), (8, 3), (1, 1), (1, HEIGHT), (WIDTH, 1), (2, 2), (1, 1), (WIDTH, HEIGHT)]

# Modifiers are not looked at: an arrow with Shift, Alt or Ctrl is the arrow,
# Ctrl with a letter the letter.
ACTING = ["Up", "Down", "Left", "Right", "h", "j", "k", "l",
          "S-Up", "M-Down", "C-Left", "C-Right", "C-h", "C-j", "C-k", "C-l"]
# Keys that do nothing: other letters (upper-case twins included), digits,
# editing and function keys, control characters that a cooked terminal would
# act on (interrupt, suspend, quit, flow control, end of file; as letters they
# do nothing), a wide one. Alt with a letter is left out: it arrives as Esc and
# the letter, and Esc alone quits.
INERT = ["a", "z", "Q", "H", "J", "K", "L", "0", "9", "Space", "Tab", "BTab", "BSpace",
         "Home", "End", "PPage", "NPage", "IC", "DC", "F1", "F5", "F12",
         "C-c", "C-z", "C-\\", "C-s", "C-d", "é"]
# Per screen; 10,000 in all.
KEYS_PER_SCREEN = 2000
BATCH = 250  # well within the terminal's input queue
SEED = int(os.environ.get("KESTREL_KEYS_SEED", "20240601"))

SELECTION, PARAMETERS, SCANNING = "COM Ports", "Start Frequency", "TinySA Info"
RESULTS, FAILURE = "Scan finished, press ↲ or q to exit", "Press ↲ or q to exit"


class Stress(KestrelTestCase):
    def shrink_and_grow(self, s, title):
        """Takes the window through SIZES; the program draws each and then a
        whole frame at the full size again."""
        for width, height in SIZES:
            s.resize(width, height)
            self.assertEqual(s.display("#{pane_width}x#{pane_height}"), f"{width}x{height}")
            time.sleep(0.05)  # a few frames at that size
            self.assertEqual(s.display("#{pane_dead}"), "0", f"ended at {width}x{height}")
        s.wait_for(whole_frame(WIDTH, HEIGHT, title), what=f"a whole frame with {title!r}")

    def type_randomly(self, s, title, extra=()):
        """Types KEYS_PER_SCREEN random keys, half of them keys that act, in
        batches as fast as the program reads them; the screen stays `title`."""
        rng = random.Random(f"{SEED}-{title}")
        keys = [rng.choice(ACTING + list(extra)) if rng.random() < 0.5 else rng.choice(INERT)
                for _ in range(KEYS_PER_SCREEN)]
        for at in range(0, len(keys), BATCH):
            s.send_batch(keys[at:at + BATCH])
            self.assertEqual(s.display("#{pane_dead}"), "0",
                             f"ended after {at + BATCH} keys (KESTREL_KEYS_SEED={SEED})")
        s.wait_for(whole_frame(WIDTH, HEIGHT, title), what=f"{title!r} after the keys")

    def each(self, s, title, extra=()):
        self.shrink_and_grow(s, title)
        self.type_randomly(s, title, extra)
        self.shrink_and_grow(s, title)

    def test_selection_and_parameters(self):
        s = self.session(ports=["ttyACM0", "ttyUSB0", "ttyS4"], config=CONFIG)
        s.wait_for(SELECTION)
        self.each(s, SELECTION)
        s.send("Enter")
        self.assertEqual(input_values(s.wait_parameters()), ["240", "960", "101", "1"])
        self.each(s, PARAMETERS)
        # The keys reached the program: the inputs were stepped.
        self.assertNotEqual(input_values(s.wait_parameters()), ["240", "960", "101", "1"])
        s.send("q")
        self.assert_normal_exit(s)
        self.assertEqual(s.file("config.toml").decode(), CONFIG)  # no scan was started

    def test_scanning(self):
        # One byte of the block a second: the scan never ends by itself.
        s = self.session(ports=["ttyACM0"], config=CONFIG,
                         simulator_args=["--chunk", "1", "--pause-ms", "1000"])
        s.reach_parameters()
        s.send("Enter")
        s.wait_for(SCANNING)
        self.each(s, SCANNING, extra=["Enter"])  # Enter does nothing here
        s.send("q")
        self.assert_normal_exit(s)

    def test_results(self):
        s = self.session(ports=["ttyACM0"], config=CONFIG)
        s.reach_parameters()
        s.send("Enter")
        s.wait_for(RESULTS, timeout=SCAN_TIMEOUT)
        self.each(s, RESULTS)
        s.send("Enter")
        self.assert_normal_exit(s)

    def test_failure(self):
        s = self.session()  # no port: Enter on Parameters fails
        s.reach_parameters()
        s.reach_failure()
        self.each(s, FAILURE)
        s.send("Enter")
        self.assert_normal_exit(s)


if __name__ == "__main__":
    unittest.main()
