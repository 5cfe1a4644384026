"""Scans against the simulated TinySA: a whole one, and two that fail."""

import re
import unittest

from harness import SCAN_TIMEOUT, KestrelTestCase
from test_start import config_text

POINTS = 101
# Level codes the simulator sends: level = code / 32 - 128 dBm.
LEVEL_CODES = [1024 + 37 * i for i in range(POINTS)]
# The start of the Results summary (the rest may be cut at the box's border).
SUMMARY = "The scan of 101 points in the range (240Mhz - 960Mhz)"


def number(value):
    """A float as the CSV file writes it: shortest round-trip digits, no
    exponent, no decimal point when it has no fraction."""
    text = repr(value)
    return text[:-2] if text.endswith(".0") else text


def expected_csv(start_mhz, stop_mhz):
    start, stop = start_mhz * 1_000_000, stop_mhz * 1_000_000
    step = float(stop - start) / float(POINTS - 1)
    lines = []
    for i, code in enumerate(LEVEL_CODES):
        frequency = (float(start) + float(i) * step) / 1_000_000.0
        level = code * 0.03125 + -128.0
        lines.append(f"{number(frequency)},{number(level)}\n")
    return "".join(lines).encode()


class Scan(KestrelTestCase):
    def test_a_whole_scan_from_selection_to_chart(self):
        s = self.session(
            ports=["ttyACM0"],
            config=config_text("/dev/ttyACM0", 115200, 240, 960, POINTS, 1),
            simulator_args=["--levels", ",".join(map(str, LEVEL_CODES))],
        )
        s.reach_parameters()
        s.send("Right", "Right", "Right", "Up")  # repeat 1 -> 2
        s.wait_for(lambda screen: re.search(r"Repeat─*┐\s*\n.*│2\s*│", screen),
                   what="repeat 2")
        s.send("Enter")
        scanning = s.wait_for(lambda screen: "tinySA ULTRA (simulated)" in screen
                              or SUMMARY in screen, timeout=SCAN_TIMEOUT,
                              what="the Scanning screen with the instrument's text")
        if SUMMARY not in scanning:
            self.assertIn("Operation", scanning)
            self.assertIn("TinySA Info", scanning)
            self.assertIn("tinySA4_v1.4-177-gsim0042", scanning)
        # The summary tops the Results frame, drawn from the top down, and the
        # closing line ends it.
        results = s.wait_for(
            lambda screen: SUMMARY in screen and "Scan finished, press ↲ or q to exit" in screen,
            timeout=SCAN_TIMEOUT, what="the whole Results screen")
        for label in ("240MHz", "600MHz", "960MHz", "-128dbm", "-64dbm", "0dbm"):
            self.assertIn(label, results)
        self.assertIn("•", results)  # the chart's dots
        s.send("Enter")
        self.assert_normal_exit(s)

        csv_files = s.files("scan_*.csv")
        self.assertEqual(len(csv_files), 1)
        self.assertRegex(csv_files[0], r"^scan_\d{8} \d{2}_\d{2}_\d{2}\.csv$")
        self.assertEqual(s.file(csv_files[0]), expected_csv(240, 960))

        self.assertEqual(
            s.file("config.toml"),
            b'port = "/dev/ttyACM0"\nbaudrate = 115200\nstart_frequency = 240\n'
            b"stop_frequency = 960\npoints = 101\nrepeat = 2\n",
        )

        logs = s.files("kestrel_*.log")
        self.assertEqual(len(logs), 1)
        self.assertRegex(logs[0], r"^kestrel_\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}\.log$")
        lines = s.file(logs[0]).decode().splitlines()
        self.assertEqual(lines[0], "INFO [kestrel] Logging started")
        self.assertIn("INFO [kestrel::ui] An error was raised ConnectionInfo {", lines)
        csv_lines = expected_csv(240, 960).decode().splitlines()
        for i in range(POINTS):
            self.assertIn(f"INFO [kestrel::scan] {i},7200000,240000000 : {csv_lines[i]}", lines)
        records = [line for line in lines if re.match(r"[A-Z]+ \[", line)]
        for line in records:
            self.assertRegex(line, r"^(ERROR|WARN|INFO) \[kestrel(::scan|::ui)?\] ")

    def failed_scan(self, config, simulator_args=()):
        s = self.session(ports=["ttyACM0"], config=config, simulator_args=list(simulator_args))
        s.reach_parameters()
        screen = s.reach_failure(timeout=SCAN_TIMEOUT)
        self.assertIn("Last status: ConnectionFailure", screen)
        return s, screen

    def test_a_silent_instrument_ends_with_no_version_found(self):
        s, screen = self.failed_scan(config_text("/dev/ttyACM0", 115200, 240, 960, POINTS, 1),
                                     ["--silent"])
        self.assertIn("An error forbid the gathering of the version", screen)
        self.assertIn("Error: ScanError(NoVersionFound)", screen)
        self.assertIn("=> An error occured while trying to scan", screen)
        self.assertEqual(s.files("scan_*.csv"), [])
        s.send("Enter")
        self.assert_normal_exit(s)

    def test_a_range_the_scan_refuses(self):
        s, screen = self.failed_scan(config_text("/dev/ttyACM0", 115200, 200, 400, POINTS, 1))
        self.assertIn("An error occured because the scan frequencies", screen)
        self.assertIn('Error: ScanError(BadScanFrequencies("Scan', screen)
        self.assertEqual(s.files("scan_*.csv"), [])
        s.send("q")
        self.assert_normal_exit(s)


if __name__ == "__main__":
    unittest.main()
