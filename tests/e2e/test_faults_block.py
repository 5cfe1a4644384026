"""The scan block cut short or spoiled: a hang-up, a bad record, a block whose
prompt never comes."""

import time
import unittest

from faults import (BLOCK, RECEIVING_INTERRUPTED, RESULTS, SUMMARY, WHOLE_CSV,
                    FaultTestCase)
from harness import SCAN_TIMEOUT


class Block(FaultTestCase):
    def test_a_hang_up_in_the_middle_of_the_block(self):
        # 150 bytes after the "{": whole records only, no end marker.
        s = self.start_scan("--hang-up-after", "151")
        self.failure_screen(
            s, RECEIVING_INTERRUPTED,
            "ParseEnd(\"The data received doesn't have a end char (empty)\"))",
            "Starting scan...")
        # The block was read to the hang-up, so the file was made, then refused.
        self.assertEqual(self.csv_files(s), [b""])
        self.assert_quits_at_once(s)

    def test_a_bad_record_marker_leaves_the_lines_before_it(self):
        s = self.start_scan("--framing", "bad-marker", "--bad-record", "10")
        self.failure_screen(s, RECEIVING_INTERRUPTED,
                            'ParseEnd("Wrong alignement char"))', "Starting scan...")
        first_ten = b"".join(WHOLE_CSV.splitlines(keepends=True)[:10])
        self.assertEqual(self.csv_files(s), [first_ten])
        self.assert_quits_at_once(s)

    def test_a_whole_block_without_its_prompt_is_still_decoded(self):
        # A read time-out (3 s) ends the block, which decodes; "resume" then
        # goes unanswered for another, and the scan succeeds.
        s = self.start_scan("--stall-after", str(BLOCK))
        s.simulator.wait_command("scanraw")
        started = time.monotonic()
        screen = s.wait_for(RESULTS, timeout=SCAN_TIMEOUT)
        self.assertGreater(time.monotonic() - started, 6.0)
        self.assertIn(SUMMARY, screen)
        self.assertEqual(self.csv_files(s), [WHOLE_CSV])
        self.assert_quits_at_once(s, "Enter")


if __name__ == "__main__":
    unittest.main()
