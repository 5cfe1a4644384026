"""Leaving the program from every screen, by a signal, and a window resize."""

import os
import signal
import subprocess
import sys
import time
import unittest
from pathlib import Path

from harness import HELP, SCAN_TIMEOUT, KestrelTestCase, whole_frame
from test_start import config_text

CONFIG = config_text("/dev/ttyACM0", 115200, 240, 960, 101, 1)

# Runs the program given as arguments in a session of its own (no
# controlling terminal) with SIGHUP ignored and standard input at its end
# ("null") or on a pipe that stays open ("pipe"); writes its exit status to
# .detached-status.
DETACHED = """
import os, signal, subprocess, sys
signal.signal(signal.SIGHUP, signal.SIG_IGN)
r, w = os.pipe()
source = open(os.devnull) if sys.argv[1] == "null" else r
status = subprocess.call(sys.argv[2:], stdin=source, start_new_session=True)
open(".detached-status", "w").write(str(status))
"""


class Exit(KestrelTestCase):
    def on_selection(self):
        s = self.session(ports=["ttyACM0"], config=CONFIG)
        s.wait_for("COM Ports")
        return s

    def on_parameters(self):
        s = self.on_selection()
        s.reach_parameters()
        return s

    def on_scanning(self):
        # A silent instrument keeps the scan waiting on its time-outs.
        s = self.session(ports=["ttyACM0"], config=CONFIG, simulator_args=["--silent"])
        s.reach_parameters()
        s.send("Enter")
        s.wait_for("TinySA Info")
        return s

    def on_results(self):
        s = self.on_parameters()
        s.send("Enter")
        s.wait_for("Scan finished, press ↲ or q to exit", timeout=SCAN_TIMEOUT)
        return s

    def on_failure(self):
        s = self.session()
        s.reach_parameters()
        s.reach_failure()
        return s

    def test_q_and_esc_leave_every_screen_with_status_0(self):
        screens = {
            "Selection": self.on_selection,
            "Parameters": self.on_parameters,
            "Scanning": self.on_scanning,
            "Results": self.on_results,
            "Failure": self.on_failure,
        }
        for key in ("q", "Escape"):
            for name, reach in screens.items():
                with self.subTest(screen=name, key=key):
                    s = reach()
                    s.send(key)
                    self.assert_normal_exit(s)
                    s.close()

    def test_enter_does_nothing_while_scanning(self):
        s = self.on_scanning()
        s.send("Enter", "Enter")
        time.sleep(0.3)
        screen = s.screen()
        self.assertIn("TinySA Info", screen)
        self.assertNotIn("Press ↲ or q to exit", screen)
        self.assertEqual(s.display("#{pane_dead}"), "0")
        s.send("q")
        self.assert_normal_exit(s)

    def test_upper_case_q_does_not_quit(self):
        s = self.on_selection()
        s.send("Q")
        time.sleep(0.3)
        self.assertIn("COM Ports", s.screen())
        self.assertEqual(s.display("#{pane_dead}"), "0")
        s.send("q")
        self.assert_normal_exit(s)

    def test_keys_come_from_the_terminal_when_standard_input_is_redirected(self):
        s = self.session(ports=["ttyACM0"], config=CONFIG, stdin_redirected=True)
        s.reach_parameters()
        s.send("q")
        self.assert_normal_exit(s)

    def test_a_termination_signal_gives_the_terminal_back(self):
        for number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
            with self.subTest(signal=number.name):
                s = self.on_selection()
                # Within the first second: the log is written out on the way.
                os.kill(s.program_pid(), number)
                # The shell reports a process ended by signal N as 128 + N.
                self.assert_normal_exit(s, status=128 + number)
                (log,) = s.workdir.glob("kestrel_*.log")
                self.assertEqual(log.read_text(), "INFO [kestrel] Logging started\n")
                s.close()

    def test_two_termination_signals_at_once_shut_down_the_normal_way(self):
        s = self.on_selection()
        pid = s.program_pid()
        os.kill(pid, signal.SIGTERM)
        # A millisecond later, so that the two are not merged into one: as a
        # closing window may repeat its SIGHUP.
        time.sleep(0.001)
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass  # the shut-down was quicker
        self.assert_normal_exit(s, status=128 + signal.SIGTERM)
        (log,) = s.workdir.glob("kestrel_*.log")
        self.assertEqual(log.read_text(), "INFO [kestrel] Logging started\n")

    def test_an_ignored_hangup_stays_ignored(self):
        s = self.session(ports=["ttyACM0"], config=CONFIG,
                         wrapper=["sh", "-c", 'trap "" HUP; exec "$@"', "sh"])
        s.wait_selection()
        os.kill(s.program_pid(), signal.SIGHUP)
        s.send("Enter")
        s.wait_parameters()
        s.send("q")
        self.assert_normal_exit(s)

    def detached(self, source):
        return self.session(ports=["ttyACM0"], config=CONFIG,
                            wrapper=[sys.executable, "-c", DETACHED, source])

    def wait_detached_status(self, s, timeout=10.0):
        status = s.workdir / ".detached-status"
        deadline = time.monotonic() + timeout
        while not (status.exists() and status.read_text()):
            if time.monotonic() > deadline:
                raise AssertionError("kestrel did not end")
            time.sleep(0.05)
        return int(status.read_text())

    def test_without_any_input_the_program_ends_with_an_error(self):
        s = self.detached("null")
        self.assertEqual(self.wait_detached_status(s), 1)
        self.assert_normal_exit(s)  # the wrapper's status
        self.assertRegex(s.final_screen(), r"(?m)^Error: TUIRuntimeError\(")

    def test_a_closed_window_ends_the_program(self):
        # Keys from a pipe, so only the output notices the closed window.
        s = self.detached("pipe")
        s.wait_selection()
        pid = s.program_pid()
        s.close_window()
        self.assertEqual(self.wait_detached_status(s), 1)
        self.assertFalse(Path(f"/proc/{pid}").exists())

    def test_quitting_mid_scan_leaves_the_port_to_other_users(self):
        s = self.session(ports=["ttyACM0"], config=CONFIG,
                         simulator_args=["--silent", "--print-commands"])
        os.chmod(s.simulator.port, 0o666)  # as a network serial bridge may offer it
        s.reach_parameters()
        s.send("Enter")
        s.simulator.wait_command("version")  # the scan holds the port
        s.send("q")
        self.assert_normal_exit(s)
        opened = subprocess.run(
            ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", sys.executable,
             "-c", "import os, sys; os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)",
             s.simulator.port],
            capture_output=True, text=True, timeout=10)
        self.assertEqual(opened.returncode, 0, opened.stderr)

    def test_a_window_resize_redraws_the_screen(self):
        s = self.on_selection()
        for width, height in ((100, 30), (78, 20)):
            s.resize(width, height)
            # The new frame is drawn from the top down: its last row, the help
            # line, comes last.
            frame = whole_frame(width, height, "COM Ports")
            screen = s.wait_for(lambda screen: frame(screen) and HELP in screen.splitlines()[-1],
                                what=f"a frame of {width}x{height} down to its help line")
            self.assertIn("/dev/ttyACM0", screen)
        s.send("q")
        self.assert_normal_exit(s)


if __name__ == "__main__":
    unittest.main()
