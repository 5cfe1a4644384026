"""Faults of the command dialogue: garbage, answers given twice, a line that
hangs up before the block."""

import unittest

from faults import RESULTS, SENDING_FAILED, SUMMARY, WHOLE_CSV, FaultTestCase
from harness import SCAN_TIMEOUT, whole_frame

# The write on a line whose other end has gone: EIO.
LINE_GONE = 'SendError(Os { code: 5, kind: Uncategorized, message: "Input/output error" }))'


class Dialogue(FaultTestCase):
    def test_garbage_before_every_echo_is_skipped(self):
        # Bytes that are no text, a terminal escape and a bell before every
        # answer; the identification shows them harmlessly (the invalid byte
        # replaced, the control characters left out, the screen not cleared),
        # the block's preamble skips them.
        s = self.start_scan("--garbage", r"\x00\xff\x1b[2J\x07#noise\r\n")
        # The identification is drawn from the top down: its last line comes last.
        scanning = s.wait_for("Frequency range 100 kHz - 960 MHz", timeout=SCAN_TIMEOUT)
        self.assertTrue(whole_frame(80, 24, "Operation")(scanning), scanning)
        self.assertEqual(scanning.count("│\ufffd[2J#noise "), 2, scanning)
        screen = s.wait_for(RESULTS, timeout=SCAN_TIMEOUT)
        self.assertIn(SUMMARY, screen)
        self.assertIn("•", screen)
        self.assertEqual(self.csv_files(s), [WHOLE_CSV])
        self.assert_quits_at_once(s, "Enter")

    def test_answers_sent_twice_at_once(self):
        # The copy arrives with the first: it is dropped with the rest of the
        # chunk that holds the prompt, or read and discarded with "resume".
        s = self.start_scan("--twice")
        self.assertIn(SUMMARY, s.wait_for(RESULTS, timeout=SCAN_TIMEOUT))
        self.assertEqual(self.csv_files(s), [WHOLE_CSV])
        self.assert_quits_at_once(s)

    def test_answers_sent_twice_late_are_read_one_command_late(self):
        # Each copy comes 120 ms late and waits in the port, so the program
        # reads the previous command's answer: "info" gets "version" again.
        # The 2 s wait after "scan" lets both copies arrive together, and the
        # second is dropped with the chunk that holds the first prompt, so the
        # block request gets its own answer and the scan succeeds.
        s = self.start_scan("--twice", "--twice-pause-ms", "120")
        # Both copies, down to the second one's last line.
        scanning = s.wait_for(lambda screen: screen.count("HW Version") == 2,
                              timeout=SCAN_TIMEOUT, what="the version shown twice")
        self.assertEqual(scanning.count("tinySA4_v1.4-177-gsim0042"), 2, scanning)
        self.assertNotIn("tinySA ULTRA", scanning)
        self.assertIn(SUMMARY, s.wait_for(RESULTS, timeout=SCAN_TIMEOUT))
        self.assertEqual(self.csv_files(s), [WHOLE_CSV])
        self.assert_quits_at_once(s)

    def test_a_hang_up_during_set_up_fails_the_next_write(self):
        # "version" and "info" are answered, then the line is gone.
        s = self.start_scan("--hang-up-after-commands", "2")
        self.failure_screen(s, SENDING_FAILED, LINE_GONE, "Setting up repeat")
        self.assertEqual(self.csv_files(s), [])
        self.assert_quits_at_once(s)

    def test_a_hang_up_before_the_block_request(self):
        # All eleven set-up commands are answered; the request is not sent.
        s = self.start_scan("--hang-up-after-commands", "11")
        self.failure_screen(s, SENDING_FAILED, LINE_GONE, "Starting scan...")
        self.assertEqual(self.csv_files(s), [])
        self.assert_quits_at_once(s, "Enter")


if __name__ == "__main__":
    unittest.main()
