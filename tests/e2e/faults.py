"""What the fault tests share: a scan against a simulated TinySA that
misbehaves as asked, and checks of the screen, the CSV files and the exit.

Every scan asks for 101 points from 240 to 960 MHz; the block the simulator
sends is "{", 101 records of 3 bytes, "}" (305 bytes), after the echo."""

import re

from harness import SCAN_TIMEOUT, KestrelTestCase, whole_frame
from test_scan import LEVEL_CODES, POINTS, SUMMARY, expected_csv
from test_start import config_text

CONFIG = config_text("/dev/ttyACM0", 115200, 240, 960, POINTS, 1)
BLOCK = 1 + 3 * POINTS + 1
WHOLE_CSV = expected_csv(240, 960)
RESULTS = "Scan finished, press ↲ or q to exit"
FAILURE = "Press ↲ or q to exit"
# Wide enough for the whole of every line of the Failure screen's details.
WIDE = (200, 30)

RECEIVING_INTERRUPTED = ("An error occured while receiving data, "
                         "scan was interupted before ending properly")
SENDING_FAILED = "Couldn't finish sending data to TinySA"


class FaultTestCase(KestrelTestCase):
    def start_scan(self, *simulator_args):
        """A session whose scan has started against a simulator that
        misbehaves as asked; returns it once Enter was given on Parameters."""
        s = self.session(
            ports=["ttyACM0"], config=CONFIG,
            simulator_args=["--print-commands", "--levels", ",".join(map(str, LEVEL_CODES)),
                            *simulator_args],
        )
        s.reach_parameters()
        s.send("Enter")
        return s

    def failure_screen(self, s, short, error, message):
        """Waits for the Failure screen, widened so its lines are whole, and
        checks its texts: the short one, the error's debug form and the last
        message of the scan."""
        s.resize(*WIDE)
        screen = s.wait_for(whole_frame(*WIDE, FAILURE), timeout=SCAN_TIMEOUT,
                            what="the Failure screen")
        self.assertIn(short, screen)
        self.assertIn("Last status: ConnectionFailure", screen)
        self.assertEqual(re.search(r"Last message: (.*?) *│", screen).group(1), message)
        self.assertIn(f"Error: ScanError({error}", screen)
        self.assertIn(" => An error occured while trying to scan: ", screen)
        return screen

    def csv_files(self, s):
        """The contents of the CSV files the scan left."""
        return [s.file(name) for name in s.files("scan_*.csv")]

    def assert_quits_at_once(self, s, key="q"):
        """`key` ends the program the normal way. It never waits for a scan
        that is still running: the tests that quit during one show that by
        the CSV file that the scan did not get to write."""
        s.send(key)
        self.assert_normal_exit(s)
