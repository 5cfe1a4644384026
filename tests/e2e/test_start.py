"""The first screen: the ports offered, and what is selected when it opens."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from harness import KESTREL, SANDBOX, KestrelTestCase


def config_text(port, baudrate, start, stop, points, repeat):
    return (
        f'port = "{port}"\nbaudrate = {baudrate}\nstart_frequency = {start}\n'
        f"stop_frequency = {stop}\npoints = {points}\nrepeat = {repeat}\n"
    )


def input_values(screen):
    """The four numbers under the titles of the Parameters screen."""
    lines = screen.splitlines()
    row = next(i for i, line in enumerate(lines) if "Start Frequency" in line)
    return re.findall(r"│\s*(\d+)\s*│", lines[row + 1].replace("││", "│ │"))


class FirstScreen(KestrelTestCase):
    def selection_screen(self, **kwargs):
        session = self.session(**kwargs)
        screen = session.wait_selection()
        self.assertIn("Baudrate", screen)
        return session, screen

    def test_lists_the_ports_in_listing_order_and_prefers_ttyACM0(self):
        session, screen = self.selection_screen(ports=["ttyUSB0", "ttyS16", "ttyACM0"])
        rows = {name: i for i, line in enumerate(screen.splitlines()) for name in
                ("/dev/ttyACM0", "/dev/ttyS16", "/dev/ttyUSB0") if name in line}
        self.assertLess(rows["/dev/ttyACM0"], rows["/dev/ttyS16"])
        self.assertLess(rows["/dev/ttyS16"], rows["/dev/ttyUSB0"])
        for rate in ("19200", "115200", "3000000"):
            self.assertIn(rate, screen)
        self.assertCountEqual(session.highlighted(), ["/dev/ttyACM0", "115200"])

    def test_a_later_candidate_wins_over_the_first_port(self):
        session, _ = self.selection_screen(ports=["ttyACM1", "ttyS16"])
        self.assertCountEqual(session.highlighted(), ["/dev/ttyS16", "115200"])

    def test_without_any_candidate_the_first_port_is_selected(self):
        session, _ = self.selection_screen(ports=["ttyUSB1", "ttyUSB0"])
        self.assertCountEqual(session.highlighted(), ["/dev/ttyUSB0", "115200"])

    def test_saved_settings_select_their_port_and_rate_and_fill_the_inputs(self):
        config = config_text("/dev/ttyUSB0", 921600, 300, 340, 1001, 5)
        session, _ = self.selection_screen(ports=["ttyACM0", "ttyUSB0"], config=config)
        self.assertCountEqual(session.highlighted(), ["/dev/ttyUSB0", "921600"])
        screen = session.reach_parameters()
        self.assertEqual(input_values(screen), ["300", "340", "1001", "5"])
        for title in ("Stop Frequency", "Points", "Repeat"):
            self.assertIn(title, screen)

    def test_an_invalid_config_is_ignored_whole(self):
        # No "repeat" key: neither its port nor its numbers are used.
        config = config_text("/dev/ttyUSB0", 921600, 300, 340, 1001, 5).replace("repeat = 5\n", "")
        session, _ = self.selection_screen(ports=["ttyACM0", "ttyUSB0"], config=config)
        self.assertCountEqual(session.highlighted(), ["/dev/ttyACM0", "115200"])
        screen = session.reach_parameters()
        self.assertEqual(input_values(screen), ["240", "960", "10001", "1"])
        self.assertEqual(session.file("config.toml").decode(), config)

    def test_the_keys_move_the_selections(self):
        session, _ = self.selection_screen(ports=["ttyACM0", "ttyUSB0"])
        session.send("j", "Right", "Down", "Down", "k", "l")
        session.wait_for(lambda _: sorted(session.highlighted()) == ["/dev/ttyUSB0", "230400"],
                         what="ttyUSB0 and 230400 selected")
        # Upper-case twins are no keys.
        session.send("J", "K", "Q")
        session.send("Left", "Up")
        session.wait_for(lambda _: sorted(session.highlighted()) == ["/dev/ttyACM0", "230400"],
                         what="ttyACM0 and 230400 selected")

    def test_modifiers_are_not_looked_at(self):
        # Under tmux's own type and under "screen", whose description lists no
        # modified arrows: tmux sends the xterm forms whatever the type says.
        for term in ("tmux-256color", "screen"):
            with self.subTest(term=term):
                session, _ = self.selection_screen(ports=["ttyACM0", "ttyUSB0"],
                                                   wrapper=["env", f"TERM={term}"])
                # Shift, Alt or Ctrl with an arrow is the arrow; Ctrl with a
                # letter the letter.
                session.send("S-Down", "C-l", "M-Down", "C-Down", "C-k", "M-Left", "C-Up",
                             "C-j", "S-Up", "C-Right", "S-Left")
                session.wait_for(
                    lambda _: sorted(session.highlighted()) == ["/dev/ttyACM0", "230400"],
                    what="ttyACM0 and 230400 selected")
                # A mouse report from a click at column 81 carries the byte
                # "q": it does nothing, nor does a report in the SGR form.
                session.send_bytes(b"\x1b[M q*")
                session.send_bytes(b"\x1b[<0;81;10M")
                session.send("C-h", "C-j")
                session.wait_for(
                    lambda _: sorted(session.highlighted()) == ["/dev/ttyUSB0", "230400"],
                    what="ttyUSB0 and 230400 selected")
                session.send("C-q")
                self.assert_normal_exit(session)
                session.close()


class StartUpFailures(KestrelTestCase):
    def assert_log_holds_only_the_start(self, directory):
        logs = list(Path(directory).glob("kestrel_*.log"))
        self.assertEqual(len(logs), 1)
        self.assertEqual(logs[0].read_text(), "INFO [kestrel] Logging started\n")

    def test_ports_that_cannot_be_listed_end_with_port_connection(self):
        s = self.session(broken_port_listing=True)
        self.assert_normal_exit(s, status=1)
        # Written after the terminal came back, so it stays on the normal screen.
        self.assertRegex(s.final_screen(), r"(?m)^Error: PortConnection\(")
        self.assert_log_holds_only_the_start(s.workdir)

    def test_a_log_file_that_cannot_be_made_ends_with_logger_error(self):
        with tempfile.TemporaryDirectory(prefix="kestrel-e2e-") as directory:
            run = subprocess.run([SANDBOX, "--read-only", directory, "--", KESTREL],
                                 cwd=directory, stdin=subprocess.DEVNULL, start_new_session=True,
                                 capture_output=True, text=True, timeout=20)
            self.assertEqual(run.returncode, 1)
            self.assertRegex(run.stderr, r"^Error: LoggerError\(.*\)\n$")
            self.assertEqual(run.stdout, "")
            self.assertEqual(list(Path(directory).iterdir()), [])

    def run_without_a_terminal(self, directory, command, **kwargs):
        return subprocess.run(command, cwd=directory, stdin=subprocess.DEVNULL,
                              start_new_session=True, capture_output=True, text=True,
                              timeout=20, **kwargs)

    def test_without_a_terminal_the_program_stops(self):
        with tempfile.TemporaryDirectory(prefix="kestrel-e2e-") as directory:
            run = self.run_without_a_terminal(directory, [KESTREL])
            self.assertEqual(run.returncode, 101)
            self.assertIn("The application crashed.\nMessage:  failed to initialize terminal: ",
                          run.stderr)
            self.assertIn("Stack trace", run.stderr)
            self.assertEqual(run.stdout, "")
            self.assert_log_holds_only_the_start(directory)

    def test_without_room_for_the_report_process_the_message_is_still_written(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to run as a user of its own")
        with tempfile.TemporaryDirectory(prefix="kestrel-e2e-") as directory:
            # A user that nothing else runs as, limited to the program's own
            # two threads; a copy of the program that this user can run.
            os.chmod(directory, 0o777)
            program = shutil.copy(KESTREL, directory)
            run = self.run_without_a_terminal(
                directory, ["setpriv", "--reuid=48879", "--regid=48879", "--clear-groups",
                            "prlimit", "--nproc=2", program])
            self.assertEqual(run.returncode, 101, run.stderr)
            self.assertIn("The application crashed.\nMessage:  failed to initialize terminal: ",
                          run.stderr)
            self.assert_log_holds_only_the_start(directory)

    def test_a_closed_standard_error_is_taken_by_no_file(self):
        with tempfile.TemporaryDirectory(prefix="kestrel-e2e-") as directory:
            run = self.run_without_a_terminal(directory, [KESTREL],
                                              preexec_fn=lambda: os.close(2))
            self.assertEqual(run.returncode, 101)
            self.assert_log_holds_only_the_start(directory)


if __name__ == "__main__":
    unittest.main()
