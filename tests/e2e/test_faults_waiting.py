"""An instrument that keeps the scan waiting, stalled or slow: the screen keeps
drawing, and q ends the program at once."""

import time
import unittest

from faults import RECEIVING_INTERRUPTED, RESULTS, SUMMARY, WHOLE_CSV, FaultTestCase
from harness import SCAN_TIMEOUT, whole_frame

# The progress in percent once the set-up commands are answered.
SET_UP_PROGRESS = 22


class Waiting(FaultTestCase):
    def test_a_block_that_stalls_without_its_prompt(self):
        # 199 bytes after the "{", in pieces, then silence on a live line: the
        # scan waits one read time-out (3 s) and the screen keeps drawing.
        s = self.start_scan("--chunk", "16", "--pause-ms", "20", "--stall-after", "200")
        s.simulator.wait_command("scanraw")
        time.sleep(0.5)  # the 200 bytes are in, the time-out runs
        s.resize(100, 30)
        # Drawn from the top down, the new frame is whole once the bottom of
        # its last box, the instrument's, is there.
        scanning = whole_frame(100, 30, "Starting scan...")
        waiting = s.wait_for(lambda screen: scanning(screen) and screen.count("└") == 2,
                             what="the Scanning screen redrawn whole at 100x30")
        self.assertIn("Progress:", waiting)
        self.assertGreater(s.gauge()[0], 0)
        self.failure_screen(
            s, RECEIVING_INTERRUPTED,
            "ParseEnd(\"The returned data doesn't have the right end char\"))",
            "Starting scan...")
        self.assertEqual(self.csv_files(s), [b""])
        self.assert_quits_at_once(s, "Enter")

    def test_q_quits_at_once_while_the_block_stalls(self):
        s = self.start_scan("--stall-after", "200")
        s.simulator.wait_command("scanraw")
        time.sleep(0.3)
        self.assertIn("Starting scan...", s.screen())
        self.assert_quits_at_once(s)
        # The block was never finished reading: no file.
        self.assertEqual(self.csv_files(s), [])

    def test_a_slow_block_moves_the_gauge_and_redraws_on_a_resize(self):
        # 16-byte pieces 100 ms apart: about 2 s for the block.
        s = self.start_scan("--chunk", "16", "--pause-ms", "100")
        s.simulator.wait_command("scanraw")
        filled = []
        resized = False
        deadline = time.monotonic() + SCAN_TIMEOUT
        while time.monotonic() < deadline:
            screen = s.screen()
            if RESULTS in screen:
                break
            gauge = s.gauge()
            # The set-up leaves the gauge at 22 %, and the block's first read
            # takes it back to 20 %: only the block's own rise is followed.
            if (gauge is not None and "Starting scan..." in screen
                    and gauge[0] > gauge[1] * SET_UP_PROGRESS // 100):
                filled.append(gauge[0])
            if len(filled) == 5 and not resized:
                # Halfway through the block: a new size is drawn at once, and
                # the gauge goes on from there.
                s.resize(100, 30)
                s.wait_for(whole_frame(100, 30, "Starting scan..."),
                           what="the Scanning screen redrawn at 100x30")
                resized, filled = True, []
            time.sleep(0.05)
        self.assertTrue(resized, "the block ended before the resize")
        self.assertEqual(filled, sorted(filled), "the gauge went back")
        self.assertGreaterEqual(len(set(filled)), 3, f"the gauge hardly moved: {filled}")
        s.resize(80, 24)
        # The whole Results frame at the size given back, its summary on top.
        s.wait_for(lambda screen: RESULTS in screen and SUMMARY in screen,
                   what="the Results screen with its summary")
        self.assertEqual(self.csv_files(s), [WHOLE_CSV])
        self.assert_quits_at_once(s)

    def test_q_quits_at_once_while_the_block_is_slow(self):
        s = self.start_scan("--chunk", "16", "--pause-ms", "200")
        s.simulator.wait_command("scanraw")
        time.sleep(0.5)
        self.assertIn("Starting scan...", s.screen())
        self.assert_quits_at_once(s)
        self.assertEqual(self.csv_files(s), [])


if __name__ == "__main__":
    unittest.main()
