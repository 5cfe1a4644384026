"""One whole scan of 100,001 points under Valgrind's memcheck: no memory error
and no leak. The program leaves with Enter on Results, after the scan thread
has ended."""

import re
import shutil
import unittest

from harness import KestrelTestCase, sanitized
from test_start import config_text

POINTS = 100_001
RESULTS = f"The scan of {POINTS} points in the range (240Mhz - 960Mhz)"
# Memcheck runs the program some twenty times slower; the scan's fixed
# pauses do not grow.
VALGRIND_TIMEOUT = 240.0
LOG = ".valgrind.log"  # in the working directory, out of its listings
ERROR_STATUS = 99


@unittest.skipIf(shutil.which("valgrind") is None, "valgrind is not installed")
class Memcheck(KestrelTestCase):
    def setUp(self):
        super().setUp()
        if sanitized():
            self.skipTest("a sanitizer build cannot run under Valgrind")

    def test_a_whole_scan_has_no_error_and_no_leak(self):
        s = self.session(
            ports=["ttyACM0"],
            config=config_text("/dev/ttyACM0", 3000000, 240, 960, POINTS, 1),
            simulator_args=[],
            wrapper=[
                # Blocks that libraries keep to the end (still reachable)
                # are theirs; no suppression is needed.
                "valgrind", "--tool=memcheck", f"--log-file={LOG}",
                f"--error-exitcode={ERROR_STATUS}", "--leak-check=full",
                "--show-leak-kinds=definite,indirect,possible",
                "--errors-for-leak-kinds=definite,indirect", "--num-callers=40",
            ],
        )
        s.reach_parameters()
        s.send("Enter")
        s.wait_for("Scan finished, press ↲ or q to exit", timeout=VALGRIND_TIMEOUT)
        self.assertIn(RESULTS, s.screen())
        s.send("Enter")
        status = s.wait_exit(timeout=VALGRIND_TIMEOUT)
        report = s.file(LOG).decode(errors="replace")
        self.assertIn("Memcheck, a memory error detector", report)
        self.assertEqual(status, 0, report)
        self.assertIn("ERROR SUMMARY: 0 errors", report)
        for kind in ("definitely", "indirectly"):
            lost = re.search(rf"{kind} lost: ([\d,]+) bytes", report)
            self.assertTrue(lost is None or lost.group(1) == "0", report)
        self.assert_normal_exit(s)
        (csv,) = s.files("scan_*.csv")
        self.assertEqual(s.file(csv).count(b"\n"), POINTS)


if __name__ == "__main__":
    unittest.main()
