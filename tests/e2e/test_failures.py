"""Validation errors that end on the Failure screen, and the program goes on."""

import time
import unittest

from harness import KestrelTestCase
from test_start import config_text


class FailureScreen(KestrelTestCase):
    def test_enter_with_no_port_ends_on_failure_with_no_port_selected(self):
        s = self.session()  # the listing finds no serial port at all
        self.assertNotIn("/dev/", s.wait_selection())
        s.reach_parameters()
        screen = s.reach_failure()
        self.assertIn("No connection port was selected", screen)
        self.assertIn("Last status: Uninitialised", screen)
        self.assertIn("Error: NoPortSelected", screen)
        self.assertIn("=> No port was selected", screen)
        self.assertFalse((s.workdir / "config.toml").exists())
        # The arrows change nothing here; Enter ends the program normally.
        s.send("Up", "Left")
        s.send("Enter")
        self.assert_normal_exit(s)

    def test_a_read_only_config_ends_on_failure_with_key_press(self):
        config = config_text("/dev/ttyACM0", 115200, 240, 960, 101, 1)
        s = self.session(ports=["ttyACM0"], config=config, read_only_config=True,
                         simulator_args=["--print-commands"])
        s.reach_parameters()
        s.send("Up")  # start 250: a change the failed save must not keep
        screen = s.reach_failure()
        self.assertIn("An error occured while processing key events", screen)
        self.assertIn("Last status: Uninitialised", screen)
        self.assertIn("Error: KeyPress(", screen)
        self.assertIn("=> An error occured while proccesing the key events", screen)
        s.send("q")
        self.assert_normal_exit(s)
        self.assertEqual(s.file("config.toml").decode(), config)
        self.assertEqual(s.files("scan_*.csv"), [])

    def test_a_file_size_limit_of_zero_ends_on_failure_with_key_press(self):
        # Writes past the limit fail (EFBIG) instead of ending the program:
        # the log's is dropped, the save's is shown.
        config = config_text("/dev/ttyACM0", 115200, 240, 960, 101, 1)
        s = self.session(ports=["ttyACM0"], config=config,
                         wrapper=["prlimit", "--fsize=0", "--"])
        s.reach_parameters()
        time.sleep(1.5)  # the log's first write, a second after the start
        screen = s.reach_failure()
        self.assertIn("Error: KeyPress(", screen)
        self.assertIn("kind: FileTooLarge", screen)
        s.send("q")
        self.assert_normal_exit(s)
        self.assertEqual(s.file("config.toml").decode(), config)
        (log,) = s.workdir.glob("kestrel_*.log")
        self.assertEqual(log.read_text(), "")


if __name__ == "__main__":
    unittest.main()
