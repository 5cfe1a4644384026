"""The largest scan the interface allows, end to end at the fastest rate: the
chart, a CSV line and a log line per point, and the program's peak memory."""

import re
import time
import unittest

from harness import KestrelTestCase, sanitized
from test_start import config_text, input_values

POINTS = 1_000_001  # the points input's maximum
START, STOP = 240, 960
SUMMARY = f"The scan of {POINTS} points in the range ({START}Mhz - {STOP}Mhz)"
RESULTS = "Scan finished, press ↲ or q to exit"
# Set-up pauses (about 5 s), the block, one log line per point, and a margin
# for a sanitizer build and a busy machine.
LARGE_SCAN_TIMEOUT = 240.0
PEAK_MEMORY_LIMIT_KIB = 128 * 1024


def shape_code(index):
    """The level code the simulator sends for record `index` (its built-in
    shape: a floor near -90 dBm with ripple and a peak every 100 records)."""
    ripple = index * 37 % 23
    from_peak = abs(index % 100 - 50)
    peak = (5 - from_peak) * 8 * 32 if from_peak < 5 else 0
    return (128 - 90) * 32 + ripple + peak


def number(value):
    """A float as the CSV file and the log write it: shortest round-trip
    digits, no exponent (none is needed here), no ".0"."""
    text = repr(value)
    return text[:-2] if text.endswith(".0") else text


def expected_lines():
    start, stop = START * 1_000_000, STOP * 1_000_000
    step = float(stop - start) / float(POINTS - 1)
    return [
        f"{number((float(start) + float(i) * step) / 1_000_000.0)},"
        f"{number(shape_code(i) * 0.03125 + -128.0)}"
        for i in range(POINTS)
    ]


class LargestScan(KestrelTestCase):
    def test_a_million_points_at_3_mbaud(self):
        s = self.session(ports=["ttyACM0"],
                         config=config_text("/dev/ttyACM0", 3000000, START, STOP, POINTS, 1),
                         simulator_args=[])
        s.wait_selection()
        self.assertCountEqual(s.highlighted(), ["/dev/ttyACM0", "3000000"])
        self.assertEqual(input_values(s.reach_parameters()), ["240", "960", "1000001", "1"])
        s.send("Enter")
        results = s.wait_for(RESULTS, timeout=LARGE_SCAN_TIMEOUT)
        self.assertIn(SUMMARY, results)
        for label in ("240MHz", "600MHz", "960MHz", "-128dbm", "-64dbm", "0dbm"):
            self.assertIn(label, results)
        self.assertIn("•", results)

        peak_kib = s.peak_memory_kib()
        print(f"\npeak memory of kestrel after {POINTS} points: {peak_kib / 1024:.1f} MiB")
        if not sanitized():  # a sanitizer's shadow memory and quarantine count too
            self.assertLess(peak_kib, PEAK_MEMORY_LIMIT_KIB)

        s.send("Enter")
        self.assert_normal_exit(s)

        lines = expected_lines()
        csv_files = s.files("scan_*.csv")
        self.assertEqual(len(csv_files), 1)
        csv = s.file(csv_files[0]).decode()
        self.assertEqual(csv.count("\n"), POINTS)
        self.assertEqual(csv, "".join(line + "\n" for line in lines))

        (log,) = s.files("kestrel_*.log")
        decoded = re.findall(r"^INFO \[kestrel::scan\] (\d+),720,240000000 : (.*)$",
                             s.file(log).decode(), re.M)
        self.assertEqual(len(decoded), POINTS)
        self.assertEqual([int(i) for i, _ in decoded], list(range(POINTS)))
        self.assertEqual([values for _, values in decoded], lines)

    def test_q_quits_at_once_while_a_million_points_are_decoded(self):
        s = self.session(ports=["ttyACM0"],
                         config=config_text("/dev/ttyACM0", 3000000, START, STOP, POINTS, 1),
                         simulator_args=[])
        s.reach_parameters()
        s.send("Enter")
        # The gauge nearly full: the block is in, and the scan thread decodes
        # it and logs a line per point (unless it was quicker than this poll).
        s.wait_for(lambda screen: RESULTS in screen or nearly_full(s.gauge()),
                   timeout=LARGE_SCAN_TIMEOUT, what="the block read")
        started = time.monotonic()
        s.send("q")
        self.assert_normal_exit(s)
        self.assertLess(time.monotonic() - started, 1.5)


def nearly_full(gauge):
    return gauge is not None and gauge[0] >= 0.9 * gauge[1]


if __name__ == "__main__":
    unittest.main()
