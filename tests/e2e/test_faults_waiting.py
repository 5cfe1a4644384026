"""An instrument that keeps the scan waiting, stalled or slow: the screen keeps
drawing, and q ends the program at once, while the scan still waits. Each
step waits for what the screen shows, not for a time, so that a loaded
machine changes only how long the tests take."""

import time
import unittest

from faults import RECEIVING_INTERRUPTED, RESULTS, SUMMARY, WHOLE_CSV, FaultTestCase
from harness import SCAN_TIMEOUT, whole_frame

# The progress in percent once the set-up commands are answered.
SET_UP_PROGRESS = 22


def block_arriving(s, screen):
    """The filled cells of the gauge once it shows the block's own progress
    (above what the set-up left), else None."""
    gauge = s.gauge()
    if gauge is None or "Starting scan..." not in screen:
        return None
    return gauge[0] if gauge[0] > gauge[1] * SET_UP_PROGRESS // 100 else None


class Waiting(FaultTestCase):
    def follow_gauge(self, s, rises):
        """Follows the gauge while the block arrives until it has risen
        `rises` times; it must never go back, and the block must not end
        first."""
        seen = []
        deadline = time.monotonic() + SCAN_TIMEOUT
        while len(set(seen)) <= rises:
            self.assertLess(time.monotonic(), deadline, f"the gauge hardly moved: {seen}")
            screen = s.screen()
            self.assertNotIn(RESULTS, screen, f"the block ended first: {seen}")
            filled = block_arriving(s, screen)
            if filled is not None:
                self.assertGreaterEqual(filled, max(seen, default=0), f"the gauge went back: {seen}")
                seen.append(filled)
            time.sleep(0.05)

    def wait_block_arriving(self, s):
        s.simulator.wait_command("scanraw")
        s.wait_for(lambda screen: block_arriving(s, screen) is not None, timeout=SCAN_TIMEOUT,
                   what="the gauge moved by the block")

    def test_a_block_that_stalls_without_its_prompt(self):
        # 199 bytes after the "{", in pieces, then silence on a live line: the
        # scan waits one read time-out (3 s) and the screen keeps drawing.
        s = self.start_scan("--chunk", "16", "--pause-ms", "20", "--stall-after", "200")
        self.wait_block_arriving(s)
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
        self.wait_block_arriving(s)
        self.assert_quits_at_once(s)
        # The block was never finished reading (its time-out would have left
        # an empty file): the program did not wait for the scan.
        self.assertEqual(self.csv_files(s), [])

    def test_a_slow_block_moves_the_gauge_and_redraws_on_a_resize(self):
        # 16-byte pieces 200 ms apart: about 4 s for the block, each piece a
        # step of the gauge.
        s = self.start_scan("--chunk", "16", "--pause-ms", "200")
        s.simulator.wait_command("scanraw")
        self.follow_gauge(s, rises=2)
        # Part way through the block: a new size is drawn at once, and the
        # gauge goes on from there.
        s.resize(100, 30)
        s.wait_for(whole_frame(100, 30, "Starting scan..."),
                   what="the Scanning screen redrawn at 100x30")
        self.follow_gauge(s, rises=1)
        s.resize(80, 24)
        # The whole Results frame at the size given back, its summary on top.
        s.wait_for(lambda screen: RESULTS in screen and SUMMARY in screen,
                   what="the Results screen with its summary")
        self.assertEqual(self.csv_files(s), [WHOLE_CSV])
        self.assert_quits_at_once(s)

    def test_q_quits_at_once_while_the_block_is_slow(self):
        s = self.start_scan("--chunk", "16", "--pause-ms", "200")
        self.wait_block_arriving(s)
        self.assert_quits_at_once(s)
        # About 4 s of block were left: the program did not wait for the scan.
        self.assertEqual(self.csv_files(s), [])


if __name__ == "__main__":
    unittest.main()
